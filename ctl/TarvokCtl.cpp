#include "ctl/TarvokCtl.h"

#include "ctl/CtlCommands.h"
#include "shared/Protocol.h"

#include <algorithm>
#include <array>

namespace tarvok {

namespace {

using TArgs = std::span<const std::string>;

struct TOption {
    const char* Name;
    const char* Value; // what the option takes, e.g. "N"; nullptr for a flag
    const char* Help;
};

struct TSubcommand {
    const char* Name;
    const char* Operands; // e.g. "ID"; one word per operand
    const char* Help;
    std::span<const TOption> Options;
    // Only administrators may run it: it changes something, or asks the slots, which only they
    // can reach.
    bool AdministratorsOnly;
    int (*Run)(const ctl::TCall& call);
};

constexpr TOption JsonOption[] = {{"--json", nullptr, "Print JSON instead of text."}};
constexpr TOption LogOptions[] = {
    {"-f", nullptr, "Follow the log: print lines as they come, until interrupted."},
    {"-n", "N", "Print only the last N lines."},
};

constexpr TOption TaskOptions[] = {
    {"--name", "TEXT", "The task's name."},
    {"--command", "PATH", "The program to start: a file you may run."},
    {"--arguments", "TEXT", "Its arguments, split into words as a shell splits them."},
    {"--workdir", "DIR", "Its working directory; '' for none (the service's)."},
    {"--enabled", nullptr, "The scheduler tests it (a new task is enabled)."},
    {"--disabled", nullptr, "The scheduler leaves it alone."},
    {"--blocking", nullptr, "Never started again while its last run is alive."},
    {"--not-blocking", nullptr, "Started whenever it is due (a new task is)."},
    {"--visible", nullptr, "Its windows are shown (a new task's are)."},
    {"--hidden", nullptr, "It opens no windows."},
    {"--priority", "NAME", "High, Realtime, Normal (a new task's) or Low."},
    {"--daily", "N", "Every N days (a new task: every day)."},
    {"--weekly", "N", "Every N weeks, on the --days."},
    {"--days", "DAYS", "The week days of --weekly, e.g. Mon,Wed,Fri."},
    {"--monthly", "N", "Every N months, on the --day, or on the --week's --weekday."},
    {"--day", "D", "The day of the month, 1 to 31."},
    {"--week", "WHICH", "first, second, third, fourth or last."},
    {"--weekday", "DAY", "The day of the week of --week, e.g. Friday."},
    {"--at", "HH:MM", "Once on each such day, at this time."},
    {"--every", "N", "Every N --unit on each such day, from --from to --to."},
    {"--unit", "UNIT", "hours (unless given) or minutes."},
    {"--from", "HH:MM", "The first run of the day (00:00 unless given)."},
    {"--to", "HH:MM", "The latest a run starts (23:59 unless given)."},
    {"--start", "DATE", "The first day, YYYY-MM-DD (a new task: today)."},
    {"--end", "DATE", "The last day, YYYY-MM-DD."},
    {"--no-end", nullptr, "No last day (a new task has none)."},
};
constexpr TOption ImportOptions[] = {
    {"--add", nullptr,
     "Add the tasks, with new ids, to those there are; without it they "
     "replace them all."},
};

constexpr std::array<TSubcommand, 14> Subcommands = {{
    {"list", "", "List the tasks, and which blocking runs are going.", JsonOption, false,
     ctl::List},
    {"show", "ID", "Show every field of a task, as the manager's properties do.", JsonOption, false,
     ctl::Show},
    {"add", "", "Add a task; it needs --name, --command and --at or --every.", TaskOptions, true,
     ctl::Add},
    {"edit", "ID", "Change a task: what the options give changes, the rest stays.", TaskOptions,
     true, ctl::Edit},
    {"enable", "ID", "Enable a task: the scheduler tests it again.", {}, true, ctl::Enable},
    {"disable", "ID", "Disable a task: the scheduler leaves it alone.", {}, true, ctl::Disable},
    {"delete", "ID", "Delete a task (not while its blocking run is going).", {}, true, ctl::Delete},
    {"run", "ID", "Run a task now, through the service when it runs.", {}, true, ctl::Run},
    {"log", "", "Print the system log.", LogOptions, false, ctl::Log},
    {"status", "",
     "Say whether the service runs or is paused, and whether a manager is "
     "connected.",
     JsonOption, true, ctl::Status},
    {"export", "", "Print the whole task list as JSON.", {}, false, ctl::Export},
    {"import", "FILE",
     "Read tasks from JSON as export writes it ('-': standard input); every "
     "record is checked first, and one bad record imports nothing.",
     ImportOptions, true, ctl::Import},
    {"pause", "", "Pause the service; tasks that run go on.", {}, true, ctl::Pause},
    {"continue", "", "Let a paused service start tasks again.", {}, true, ctl::Continue},
}};

std::size_t OperandCount(const TSubcommand& subcommand) {
    const std::string_view operands = subcommand.Operands;
    return operands.empty() ? 0 : static_cast<std::size_t>(std::ranges::count(operands, ' ')) + 1;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 2, width), ' ');
    return text;
}

void HelpOf(const TSubcommand& subcommand, std::ostream& out) {
    out << "Usage: tarvokctl " << subcommand.Name;
    if (!subcommand.Options.empty()) {
        out << " [OPTIONS]";
    }
    if (*subcommand.Operands != '\0') {
        out << " " << subcommand.Operands;
    }
    out << "\n\n" << subcommand.Help << "\n";
    if (!subcommand.Options.empty()) {
        out << "\nOptions:\n";
        const auto nameOf = [](const TOption& option) {
            return std::string(option.Name) +
                   (option.Value != nullptr ? std::string(" ") + option.Value : "");
        };
        std::size_t width = 0;
        for (const TOption& option : subcommand.Options) {
            width = std::max(width, nameOf(option).size() + 2);
        }
        for (const TOption& option : subcommand.Options) {
            out << "  " << Padded(nameOf(option), width) << option.Help << "\n";
        }
    }
}

int Help(const TCtlParts& parts) {
    parts.Out << "Usage: tarvokctl COMMAND [OPTIONS] [ID]\n\n"
              << "Tarvok from a terminal: the tasks in " << parts.Paths.TaskPath
              << ", the system log and the scheduler service " << ServiceName << ".\n\n"
              << "Commands:\n";
    for (const TSubcommand& subcommand : Subcommands) {
        std::string name = subcommand.Name;
        if (*subcommand.Operands != '\0') {
            name += std::string(" ") + subcommand.Operands;
        }
        parts.Out << "  " << Padded(name, 12) << subcommand.Help << '\n';
    }
    parts.Out << "  " << Padded("--help", 12) << "Show this help; COMMAND --help shows a "
              << "command's options.\n";
    return 0;
}

const TOption* FindOption(const TSubcommand& subcommand, std::string_view name) {
    const auto found = std::ranges::find_if(
        subcommand.Options, [name](const TOption& option) { return option.Name == name; });
    return found == subcommand.Options.end() ? nullptr : &*found;
}

// Options and operands in any order; "--name=value" and "--name value" alike. Empty, or what
// was not understood.
std::string Parse(const TSubcommand& subcommand, TArgs args, ctl::TCall& call) {
    bool operandsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (operandsOnly || arg.size() < 2 || arg.front() != '-') {
            call.Operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const TOption* option = FindOption(subcommand, name);
        if (option == nullptr) {
            return "unknown option '" + name + "'";
        }
        if (option->Value == nullptr) {
            if (equals != std::string::npos) {
                return "option '" + name + "' takes no value";
            }
            call.Options[name] = "";
        } else if (equals != std::string::npos) {
            call.Options[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            call.Options[name] = args[++i];
        } else {
            return "option '" + name + "' needs a value (" + option->Value + ")";
        }
    }
    if (call.Operands.size() != OperandCount(subcommand)) {
        return OperandCount(subcommand) == 0
                   ? std::string("takes no operands")
                   : std::string("takes ") + subcommand.Operands + " and nothing else";
    }
    return {};
}

int RunSubcommand(const TSubcommand& subcommand, TArgs args, const TCtlParts& parts) {
    if (std::ranges::find(args, "--help") != args.end()) {
        HelpOf(subcommand, parts.Out);
        return 0;
    }
    ctl::TCall call{parts, {}, {}};
    if (const std::string why = Parse(subcommand, args, call); !why.empty()) {
        return ctl::Fail(parts, CtlUsageError,
                         std::string(subcommand.Name) + ": " + why + " (see tarvokctl " +
                             subcommand.Name + " --help)");
    }
    if (subcommand.AdministratorsOnly && !parts.Administrator) {
        return ctl::Fail(parts, CtlFailed,
                         std::string(subcommand.Name) +
                             ": you are not a Tarvok administrator; ask to be added to the group "
                             "\"" +
                             parts.GroupName + "\", then log in again");
    }
    return subcommand.Run(call);
}

} // namespace

int RunCtl(TArgs args, const TCtlParts& parts) {
    if (args.empty()) {
        return ctl::Fail(parts, CtlUsageError, "no command given (see tarvokctl --help)");
    }
    if (args.front() == "--help" || args.front() == "-h") {
        return Help(parts);
    }
    for (const TSubcommand& subcommand : Subcommands) {
        if (args.front() == subcommand.Name) {
            return RunSubcommand(subcommand, args.subspan(1), parts);
        }
    }
    return ctl::Fail(parts, CtlUsageError,
                     "unknown command '" + args.front() + "' (see tarvokctl --help)");
}

} // namespace tarvok
