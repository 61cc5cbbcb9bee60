// TarvokSvc: the scheduler service program.
#include "platform/EventLog.h"
#include "platform/Files.h"
#include "platform/ServiceControl.h"
#include "service/ServiceHost.h"
#include "service/SvcThd.h"
#include "service/TarvokSvc.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace tarvok;

bool SendToManager(const std::string& message) {
    return SendSlotMessage(ClientSlotName, message);
}

std::unique_ptr<TSchedulerThread> CreateSchedulerThread() {
    static const TSystemClock clock;
    const TProgramPaths& paths = ProgramPaths();
    return std::make_unique<TTarvokThread>(TTarvokThread::TSetup{
        paths, clock, SystemProcesses(), OpenMailSlotChannel(paths.ProgramDir)});
}

int RunAsService() {
    platform::TServiceDispatcher dispatcher;
    platform::TSystemEventLog events;
    TIntervalPacer pacer(std::chrono::milliseconds(500));
    TServiceHost host({dispatcher, events, SendToManager, CreateSchedulerThread, pacer});
    return RunService(dispatcher, host);
}

int InstallOrUninstall(TCommand command) {
    const platform::TServiceManager manager;
    const platform::TEventRegistration registration;
    try {
        const TInstallParts parts{manager, registration, platform::ProgramFile(), std::cout};
        if (command == TCommand::Install) {
            InstallService(parts);
        } else {
            UninstallService(parts);
        }
    } catch (const platform::TIoError& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const TCommand command = ParseCommandLine(args);
    switch (command) {
    case TCommand::RunService:
        return RunAsService();
    case TCommand::Install:
    case TCommand::Uninstall:
        return InstallOrUninstall(command);
    case TCommand::ShowUsage:
        ShowUsage(std::cout);
        return 0;
    }
    return 0;
}
