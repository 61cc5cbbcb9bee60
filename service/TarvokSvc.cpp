#include "service/TarvokSvc.h"

#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "service/SvcDlg.h"
#include "service/SvcLog.h"

namespace tarvok {

namespace {

std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

struct TCommandWord {
    const char* Word;
    TCommand Command;
};

constexpr TCommandWord CommandWords[] = {
    {"INSTALL", TCommand::Install},
    {"I", TCommand::Install},
    {"UNINSTALL", TCommand::Uninstall},
    {"U", TCommand::Uninstall},
};

void RegisterEventSource(const TInstallParts& parts, TDlgSvc& dialog) {
    if (parts.Registration.Open() != 0) {
        dialog.Add("Failed to open key " + parts.Registration.Location(ServiceName));
        return;
    }
    parts.Registration.Write(ServiceName, MessageTable());
    dialog.Add("The registry has been updated for event logging.");
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

void InstallService(const TInstallParts& parts) {
    TDlgSvc dialog;
    dialog.Add("Installing service...");
    dialog.Add("Path to service module is " + parts.ProgramPath);
    if (int error = parts.Manager.Open(); error != 0) {
        dialog.Add("Failed to open Service Control Manager. Error was '" +
                   platform::ErrorText(error) + "'");
    } else if (int created = parts.Manager.CreateService(
                   {ServiceName, ServiceDisplayName, parts.ProgramPath});
               created != 0) {
        dialog.Add("Failed to create the service. Error was '" + platform::ErrorText(created) +
                   "'");
    } else {
        dialog.Add("The service was installed successfully.");
        dialog.Add("");
        dialog.Add("Please finish the configuration with:");
        dialog.Add("Start | Settings | Control Panel | Services");
        dialog.Add(std::string("The service to configure is: \"") + ServiceDisplayName + "\"");
        dialog.Add("");
        RegisterEventSource(parts, dialog);
    }
    dialog.ShowModal(parts.Out);
}

void UninstallService(const TInstallParts& parts) {
    TDlgSvc dialog;
    if (int error = parts.Manager.Open(); error != 0) {
        dialog.Add("Failed to open Service control Manager. Error was '" +
                   platform::ErrorText(error) + "'");
    } else if (int opened = parts.Manager.OpenService(ServiceName); opened != 0) {
        dialog.Add(std::string("Failed to open service \"") + ServiceName + "\": Error was '" +
                   platform::ErrorText(opened) + "'");
    } else if (int deleted = parts.Manager.DeleteService(ServiceName); deleted != 0) {
        dialog.Add("Failed to delete service. Error was '" + platform::ErrorText(deleted) + "'");
    } else {
        dialog.Add("The service was uninstalled successfully.");
        try {
            parts.Registration.Remove(ServiceName);
        } catch (const platform::TIoError&) {
            // The messages only explain events; a left-over table harms nothing.
        }
        dialog.Add("The registry details for event logging has been removed.");
    }
    dialog.ShowModal(parts.Out);
}

void ShowUsage(std::ostream& out) {
    TDlgSvc dialog;
    for (const char* line : {"Command line options:", "", "TarvokSvc INSTALL", "TarvokSvc I",
                             "TarvokSvc UNINSTALL", "TarvokSvc U"}) {
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

} // namespace tarvok
