// The service program: its command line, installation, removal and the usage text.
//
//   TarvokSvc              run as the service (only when the service manager starts it)
//   TarvokSvc RUN          run as the service in the foreground, without a service manager
//   TarvokSvc INSTALL | I  install the service and its event messages
//   TarvokSvc UNINSTALL | U
//   anything else          the usage lines
//
// The reports go to the given stream. Installing and removing end with a non-zero exit code when
// any step failed, the report saying which; the service with 1 when it failed to start.
#pragma once

#include "platform/EventLog.h"
#include "platform/ServiceControl.h"
#include "service/ServiceHost.h"

#include <ostream>
#include <span>
#include <string>

namespace tarvok {

enum class TCommand { RunService, RunInForeground, Install, Uninstall, ShowUsage };

// Only the first argument counts, compared in upper case; args excludes the program name.
TCommand ParseCommandLine(std::span<const std::string> args);

struct TInstallParts {
    const platform::TServiceManager& Manager;
    const platform::TEventRegistration& Registration;
    std::string ProgramPath;
    std::ostream& Out;
};

// True when every step succeeded. Raises TIoError when the event messages cannot be written;
// then nothing is shown.
bool InstallService(const TInstallParts& parts);
bool UninstallService(const TInstallParts& parts);
void ShowUsage(std::ostream& out);

// Hands the host to the dispatcher; when that fails (the program was not started by the
// service manager) writes the failure event. The exit code: 1 when the service stopped with an
// exit code of its own (it failed to start), else 0.
int RunService(platform::TServiceDispatcher& dispatcher, TServiceHost& host);
// The same in the foreground, by hand: 0 once the service has stopped, 1 when it failed to start
// or could not be run at all (after the failure event).
int RunServiceInForeground(platform::TServiceDispatcher& dispatcher, TServiceHost& host);

} // namespace tarvok
