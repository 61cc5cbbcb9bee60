// The service program: its command line, installation, removal and the usage text.
//
//   TarvokSvc              run as the service (only when the service manager starts it)
//   TarvokSvc INSTALL | I  install the service and its event messages
//   TarvokSvc UNINSTALL | U
//   anything else          the usage lines
//
// The reports go to the given stream; the program ends with exit code 0 except when the event
// messages cannot be written after the service was installed, or the service failed to start.
#pragma once

#include "platform/EventLog.h"
#include "platform/ServiceControl.h"
#include "service/ServiceHost.h"

#include <ostream>
#include <span>
#include <string>

namespace tarvok {

enum class TCommand { RunService, Install, Uninstall, ShowUsage };

// Only the first argument counts, compared in upper case; args excludes the program name.
TCommand ParseCommandLine(std::span<const std::string> args);

struct TInstallParts {
    const platform::TServiceManager& Manager;
    const platform::TEventRegistration& Registration;
    std::string ProgramPath;
    std::ostream& Out;
};

// Raises TIoError when the event messages cannot be written; then nothing is shown.
void InstallService(const TInstallParts& parts);
void UninstallService(const TInstallParts& parts);
void ShowUsage(std::ostream& out);

// Hands the host to the dispatcher; when that fails (the program was not started by the
// service manager) writes the failure event. The exit code: 1 when the service stopped with an
// exit code of its own (it failed to start), else 0.
int RunService(platform::TServiceDispatcher& dispatcher, TServiceHost& host);

} // namespace tarvok
