#include "ctl/TarvokCtl.h"

#include "shared/Protocol.h"

#include <algorithm>
#include <array>

namespace tarvok {

namespace {

using TArgs = std::span<const std::string>;

struct TSubcommand {
    const char* Name;
    const char* Help;
    int (*Run)(TArgs args, const TCtlParts& parts);
};

int Fail(const TCtlParts& parts, int status, const std::string& why) {
    parts.Err << "tarvokctl: " << why << '\n';
    return status;
}

// Pausing and continuing signal the service's main process only: the tasks it started run in
// its control group and must never receive a signal meant for the service.
int SendControl(TArgs args, const TCtlParts& parts, std::uint32_t control, const char* verb) {
    if (!args.empty()) {
        return Fail(parts, CtlUsageError, std::string(verb) + " takes no arguments");
    }
    const std::string why = parts.Manager.ControlService(ServiceName, control);
    if (!why.empty()) {
        return Fail(parts, CtlFailed,
                    std::string("cannot ") + verb + " " + ServiceName + ": " + why);
    }
    return 0;
}

int Pause(TArgs args, const TCtlParts& parts) {
    return SendControl(args, parts, platform::ServiceControlCode::Pause, "pause");
}

int Continue(TArgs args, const TCtlParts& parts) {
    return SendControl(args, parts, platform::ServiceControlCode::Continue, "continue");
}

int Help(TArgs args, const TCtlParts& parts);

constexpr std::array<TSubcommand, 3> Subcommands = {{
    {"pause", "Pause the service; tasks that run go on.", Pause},
    {"continue", "Let a paused service start tasks again.", Continue},
    {"--help", "Show this help.", Help},
}};

int Help(TArgs, const TCtlParts& parts) {
    parts.Out << "Usage: tarvokctl COMMAND\n\n"
              << "Controls the Tarvok scheduler service " << ServiceName << " under systemd.\n\n"
              << "Commands:\n";
    for (const TSubcommand& subcommand : Subcommands) {
        std::string name = subcommand.Name;
        name.resize(std::max<std::size_t>(name.size() + 2, 12), ' ');
        parts.Out << "  " << name << subcommand.Help << '\n';
    }
    return 0;
}

} // namespace

int RunCtl(TArgs args, const TCtlParts& parts) {
    if (args.empty()) {
        return Fail(parts, CtlUsageError, "no command given (see tarvokctl --help)");
    }
    for (const TSubcommand& subcommand : Subcommands) {
        if (args.front() == subcommand.Name) {
            return subcommand.Run(args.subspan(1), parts);
        }
    }
    return Fail(parts, CtlUsageError,
                "unknown command '" + args.front() + "' (see tarvokctl --help)");
}

} // namespace tarvok
