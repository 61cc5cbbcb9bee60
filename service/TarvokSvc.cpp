#include "service/TarvokSvc.h"

#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "service/SvcDlg.h"
#include "service/SvcLog.h"
#include "shared/Letters.h"

namespace tarvok {

namespace {

struct TCommandWord {
    const char* Word;
    TCommand Command;
};

constexpr TCommandWord CommandWords[] = {
    {"INSTALL", TCommand::Install},     {"I", TCommand::Install},
    {"UNINSTALL", TCommand::Uninstall}, {"U", TCommand::Uninstall},
    {"RUN", TCommand::RunInForeground},
};

// What is left to do, said where the service manager is not there to be told.
constexpr const char* NoServiceManagerHint =
    "systemd is not running on this machine: run the service in the foreground with "
    "\"TarvokSvc run\" instead.";

bool RegisterEventSource(const TInstallParts& parts, TDlgSvc& dialog) {
    const std::string catalog = parts.Registration.Location(ServiceName);
    if (parts.Registration.Open() != 0) {
        dialog.Add("Failed to open key " + catalog);
        return false;
    }
    parts.Registration.Write(ServiceName, MessageTable());
    dialog.Add("The journal catalog has been written for event logging: " + catalog);
    return true;
}

void SayIfNoServiceManager(const TInstallParts& parts, TDlgSvc& dialog) {
    if (!parts.Manager.Runs()) {
        dialog.Add(NoServiceManagerHint);
    }
}

} // namespace

TCommand ParseCommandLine(std::span<const std::string> args) {
    if (args.empty()) {
        return TCommand::RunService;
    }
    const std::string word = UpperCase(args.front());
    for (const TCommandWord& entry : CommandWords) {
        if (word == entry.Word) {
            return entry.Command;
        }
    }
    return TCommand::ShowUsage;
}

bool InstallService(const TInstallParts& parts) {
    TDlgSvc dialog;
    bool installed = false;
    dialog.Add("Installing service...");
    dialog.Add("Path to service module is " + parts.ProgramPath);
    if (int error = parts.Manager.Open(); error != 0) {
        dialog.Add("Failed to open Service Control Manager. Error was '" +
                   platform::ErrorText(error) + "'");
        SayIfNoServiceManager(parts, dialog);
    } else if (int created = parts.Manager.CreateService(
                   {ServiceName, ServiceDisplayName, parts.ProgramPath});
               created != 0) {
        dialog.Add("Failed to create the service. Error was '" + platform::ErrorText(created) +
                   "'");
    } else {
        dialog.Add("The service was installed successfully.");
        dialog.Add("The unit file is " + parts.Manager.DefinitionFile(ServiceName));
        dialog.Add("");
        dialog.Add("Please finish the configuration with:");
        dialog.Add(std::string("systemctl enable --now ") + ServiceName);
        dialog.Add(std::string("The service to configure is: \"") + ServiceDisplayName + "\"");
        dialog.Add("");
        installed = RegisterEventSource(parts, dialog);
    }
    dialog.ShowModal(parts.Out);
    return installed;
}

bool UninstallService(const TInstallParts& parts) {
    TDlgSvc dialog;
    bool removed = false;
    if (int error = parts.Manager.Open(); error != 0) {
        dialog.Add("Failed to open Service control Manager. Error was '" +
                   platform::ErrorText(error) + "'");
        SayIfNoServiceManager(parts, dialog);
    } else if (int opened = parts.Manager.OpenService(ServiceName); opened != 0) {
        dialog.Add(std::string("Failed to open service \"") + ServiceName + "\": Error was '" +
                   platform::ErrorText(opened) + "'");
    } else if (int deleted = parts.Manager.DeleteService(ServiceName); deleted != 0) {
        dialog.Add("Failed to delete service. Error was '" + platform::ErrorText(deleted) + "'");
    } else {
        dialog.Add("The service was uninstalled successfully.");
        dialog.Add("The unit file " + parts.Manager.DefinitionFile(ServiceName) +
                   " has been removed.");
        const std::string catalog = parts.Registration.Location(ServiceName);
        try {
            parts.Registration.Remove(ServiceName);
            dialog.Add("The journal catalog for event logging has been removed: " + catalog);
            removed = true;
        } catch (const platform::TIoError& failure) {
            dialog.Add("Failed to remove the journal catalog. Error was '" + failure.Reason() +
                       "'");
        }
    }
    dialog.ShowModal(parts.Out);
    return removed;
}

void ShowUsage(std::ostream& out) {
    TDlgSvc dialog;
    for (const char* line : {"Command line options:", "", "TarvokSvc INSTALL", "TarvokSvc I",
                             "TarvokSvc UNINSTALL", "TarvokSvc U", "TarvokSvc RUN"}) {
        dialog.Add(line);
    }
    dialog.ShowModal(out);
}

int RunService(platform::TServiceDispatcher& dispatcher, TServiceHost& host) {
    if (int error = dispatcher.Run(ServiceName, [&host] { host.ServiceMain(); }); error != 0) {
        host.ReportServiceEvent(TEventId::DispatcherFailed, {std::to_string(error)});
    }
    return host.Status().ExitCode != 0 ? 1 : 0;
}

int RunServiceInForeground(platform::TServiceDispatcher& dispatcher, TServiceHost& host) {
    if (int error = dispatcher.RunInForeground(ServiceName, [&host] { host.ServiceMain(); });
        error != 0) {
        host.ReportServiceEvent(TEventId::DispatcherFailed, {std::to_string(error)});
        return 1;
    }
    return host.Status().ExitCode != 0 ? 1 : 0;
}

} // namespace tarvok
