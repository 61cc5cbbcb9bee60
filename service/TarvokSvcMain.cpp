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

// By hand in the foreground, the events go to standard error where no journal takes them.
int RunAsService(bool foreground) {
    platform::TServiceDispatcher dispatcher;
    platform::TSystemEventLog events(foreground ? &std::cerr : nullptr);
    TIntervalPacer pacer(std::chrono::milliseconds(500));
    TServiceHost host({dispatcher, events, SendToManager, CreateSchedulerThread, pacer});
    return foreground ? RunServiceInForeground(dispatcher, host) : RunService(dispatcher, host);
}

int InstallOrUninstall(TCommand command) {
    const platform::TServiceManager manager;
    const platform::TEventRegistration registration;
    try {
        const TInstallParts parts{manager, registration, platform::ProgramFile(), std::cout};
        const bool done =
            command == TCommand::Install ? InstallService(parts) : UninstallService(parts);
        return done ? 0 : 1;
    } catch (const platform::TIoError& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const TCommand command = ParseCommandLine(args);
    switch (command) {
    case TCommand::RunService:
        return RunAsService(false);
    case TCommand::RunInForeground:
        return RunAsService(true);
    case TCommand::Install:
    case TCommand::Uninstall:
        return InstallOrUninstall(command);
    case TCommand::ShowUsage:
        ShowUsage(std::cout);
        return 0;
    }
    return 0;
}
