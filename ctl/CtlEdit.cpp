// The commands that make and change tasks: add and edit from options, import from JSON. Every
// record is held to the editors' rules (shared/TaskRules.h) before anything is saved.
#include "ctl/CtlCommands.h"
#include "ctl/TaskJson.h"
#include "platform/Files.h"
#include "shared/Protocol.h"
#include "shared/SysLog.h"
#include "shared/TaskEdits.h"
#include "shared/TaskRules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <set>
#include <sstream>

namespace tarvok::ctl {

namespace {

struct TFieldOption {
    TTaskField Field;
    const char* Option;
};

constexpr TFieldOption FieldOptions[] = {
    {TTaskField::Name, "--name"},
    {TTaskField::Command, "--command"},
    {TTaskField::Parameters, "--arguments"},
    {TTaskField::WorkDir, "--workdir"},
    {TTaskField::Priority, "--priority"},
    {TTaskField::Frequency, "--daily"},
    {TTaskField::DailyEvery, "--daily"},
    {TTaskField::WeeklyEvery, "--weekly"},
    {TTaskField::WeekDays, "--days"},
    {TTaskField::MonthDay, "--day"},
    {TTaskField::MonthlyEvery, "--monthly"},
    {TTaskField::Occurrence, "--week"},
    {TTaskField::OccWeekDay, "--weekday"},
    {TTaskField::OccMonthlyEvery, "--monthly"},
    {TTaskField::Trigger, "--at"},
    {TTaskField::OnceAt, "--at"},
    {TTaskField::EveryCount, "--every"},
    {TTaskField::EveryUnit, "--unit"},
    {TTaskField::BetweenStart, "--from"},
    {TTaskField::BetweenEnd, "--to"},
    {TTaskField::StartDate, "--start"},
    {TTaskField::EndDate, "--end"},
};

const char* OptionOf(TTaskField field) {
    for (const TFieldOption& entry : FieldOptions) {
        if (entry.Field == field) {
            return entry.Option;
        }
    }
    return "--daily";
}

// Options of which one at most may be given.
constexpr std::array<std::array<const char*, 3>, 7> Exclusive = {{
    {"--daily", "--weekly", "--monthly"},
    {"--at", "--every", nullptr},
    {"--end", "--no-end", nullptr},
    {"--day", "--week", nullptr},
    {"--enabled", "--disabled", nullptr},
    {"--blocking", "--not-blocking", nullptr},
    {"--visible", "--hidden", nullptr},
}};

// An option that fits only one form, and the options that give that form.
struct TFormOption {
    const char* Option;
    const char* Form;
};

constexpr TFormOption FormOptions[] = {
    {"--days", "--weekly"},     {"--day", "--monthly"}, {"--week", "--monthly"},
    {"--weekday", "--monthly"}, {"--unit", "--every"},  {"--from", "--every"},
    {"--to", "--every"},
};

// Why the options cannot be taken, or nothing.
class TOptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& option, const std::string& why) {
    throw TOptionError(option + " " + why);
}

std::int32_t Number(const TCall& call, const char* option) {
    const std::string& text = call.Value(option);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        Refuse(option, "takes a whole number, not '" + PrintableText(text) + "'");
    }
    return value;
}

TDateTime TimeOption(const TCall& call, const char* option) {
    const auto time = TimeOfDayFromText(call.Value(option));
    if (!time) {
        Refuse(option,
               "takes a time of day, HH:MM, not '" + PrintableText(call.Value(option)) + "'");
    }
    return *time;
}

TDateTime DateOption(const TCall& call, const char* option) {
    const auto date = DateFromText(call.Value(option));
    if (!date) {
        Refuse(option, "takes a date, YYYY-MM-DD, not '" + PrintableText(call.Value(option)) + "'");
    }
    return *date;
}

std::uint8_t WeekDaysOption(const TCall& call) {
    std::uint8_t days = 0;
    std::istringstream list(call.Value("--days"));
    for (std::string day; std::getline(list, day, ',');) {
        const auto found = WeekDayFromName(day);
        if (!found) {
            Refuse("--days", "takes week days such as Mon,Fri, not '" + PrintableText(day) + "'");
        }
        days = static_cast<std::uint8_t>(days | (1u << *found));
    }
    return days;
}

// What the schedule editor's OK stores: the fields the form uses, every other one zero.
TScheDef OnlyItsForm(const TScheDef& s) {
    TScheDef kept;
    kept.Frequency = s.Frequency;
    kept.Trigger = s.Trigger;
    kept.NoEnd = s.NoEnd;
    kept.StartDate = s.StartDate;
    kept.EndDate = s.NoEnd ? 0 : s.EndDate;
    if (s.Trigger == TTrigger::Once) {
        kept.OnceAt = s.OnceAt;
    } else {
        kept.EveryCount = s.EveryCount;
        kept.EveryUnit = s.EveryUnit;
        kept.BetweenStart = s.BetweenStart;
        kept.BetweenEnd = s.BetweenEnd;
    }
    switch (s.Frequency) {
    case TFrequency::Daily:
        kept.DailyEvery = s.DailyEvery;
        break;
    case TFrequency::Weekly:
        kept.WeeklyEvery = s.WeeklyEvery;
        kept.WeekDays = s.WeekDays;
        break;
    case TFrequency::Monthly:
        kept.ByWeekDay = s.ByWeekDay;
        if (s.ByWeekDay) {
            kept.Occurrence = s.Occurrence;
            kept.OccWeekDay = s.OccWeekDay;
            kept.OccMonthlyEvery = s.OccMonthlyEvery;
        } else {
            kept.MonthDay = s.MonthDay;
            kept.MonthlyEvery = s.MonthlyEvery;
        }
        break;
    }
    return kept;
}

void CheckCombinations(const TCall& call) {
    for (const auto& group : Exclusive) {
        const char* given = nullptr;
        for (const char* option : group) {
            if (option != nullptr && call.Has(option)) {
                if (given != nullptr) {
                    Refuse(given, std::string("cannot go with ") + option);
                }
                given = option;
            }
        }
    }
}

// The option that gives a frequency its form.
const char* FormOptionOf(TFrequency frequency) {
    switch (frequency) {
    case TFrequency::Daily:
        return "--daily";
    case TFrequency::Weekly:
        return "--weekly";
    case TFrequency::Monthly:
        return "--monthly";
    }
    return "";
}

void ApplyFrequency(const TCall& call, TScheDef& s) {
    if (call.Has("--daily")) {
        s.Frequency = TFrequency::Daily;
        s.DailyEvery = Number(call, "--daily");
    } else if (call.Has("--weekly")) {
        s.Frequency = TFrequency::Weekly;
        s.WeeklyEvery = Number(call, "--weekly");
    } else if (call.Has("--monthly")) {
        const bool wasMonthly = s.Frequency == TFrequency::Monthly;
        s.Frequency = TFrequency::Monthly;
        s.MonthlyEvery = s.OccMonthlyEvery = Number(call, "--monthly");
        if (!wasMonthly && !call.Has("--day") && !call.Has("--week")) {
            Refuse("--monthly", "needs --day D, or --week and --weekday");
        }
    }
    for (const TFormOption& entry : FormOptions) {
        if (call.Has(entry.Option) && std::string_view(entry.Form) != "--every" &&
            std::string_view(FormOptionOf(s.Frequency)) != entry.Form) {
            Refuse(entry.Option, std::string("goes with ") + entry.Form);
        }
    }
    if (call.Has("--days")) {
        s.WeekDays = WeekDaysOption(call);
    }
    if (call.Has("--day")) {
        s.ByWeekDay = false;
        s.MonthDay = Number(call, "--day");
    }
    if (call.Has("--week") || call.Has("--weekday")) {
        if (!s.ByWeekDay && !(call.Has("--week") && call.Has("--weekday"))) {
            Refuse(call.Has("--week") ? "--week" : "--weekday",
                   call.Has("--week") ? "needs --weekday" : "needs --week");
        }
        s.ByWeekDay = true;
    }
    if (call.Has("--week")) {
        const auto occurrence = OccurrenceFromName(call.Value("--week"));
        if (!occurrence) {
            Refuse("--week", "takes first, second, third, fourth or last, not '" +
                                 PrintableText(call.Value("--week")) + "'");
        }
        s.Occurrence = *occurrence;
    }
    if (call.Has("--weekday")) {
        const auto day = WeekDayFromName(call.Value("--weekday"));
        if (!day) {
            Refuse("--weekday", "takes a day of the week such as Friday, not '" +
                                    PrintableText(call.Value("--weekday")) + "'");
        }
        s.OccWeekDay = *day;
    }
}

void ApplyTrigger(const TCall& call, TScheDef& s) {
    if (call.Has("--at")) {
        s.Trigger = TTrigger::Once;
        s.OnceAt = TimeOption(call, "--at");
    } else if (call.Has("--every")) {
        if (s.Trigger != TTrigger::Periodic) {
            // A new periodic trigger starts as the schedule editor's controls do.
            s.EveryUnit = TEveryUnit::Hours;
            s.BetweenStart = EncodeTime(0, 0);
            s.BetweenEnd = EncodeTime(23, 59);
        }
        s.Trigger = TTrigger::Periodic;
        s.EveryCount = Number(call, "--every");
    }
    for (const char* option : {"--unit", "--from", "--to"}) {
        if (call.Has(option) && s.Trigger != TTrigger::Periodic) {
            Refuse(option, "goes with --every");
        }
    }
    if (call.Has("--unit")) {
        const auto unit = UnitFromName(call.Value("--unit"));
        if (!unit) {
            Refuse("--unit",
                   "takes hours or minutes, not '" + PrintableText(call.Value("--unit")) + "'");
        }
        s.EveryUnit = *unit;
    }
    if (call.Has("--from")) {
        s.BetweenStart = TimeOption(call, "--from");
    }
    if (call.Has("--to")) {
        s.BetweenEnd = TimeOption(call, "--to");
    }
}

bool AnyOf(const TCall& call, std::initializer_list<const char*> options) {
    return std::any_of(options.begin(), options.end(),
                       [&](const char* option) { return call.Has(option); });
}

// The schedule as the options change it. A task without a schedule, like a new one, starts from
// every day from today on, and then needs its trigger.
TScheDef ApplySchedule(const TCall& call, TScheDef s, TDateTime today) {
    const bool scheduleOptions = AnyOf(call, {"--daily", "--weekly", "--monthly", "--days", "--day",
                                              "--week", "--weekday", "--at", "--every", "--unit",
                                              "--from", "--to", "--start", "--end", "--no-end"});
    if (!scheduleOptions) {
        return s;
    }
    if (!IsDefined(s)) {
        if (!call.Has("--at") && !call.Has("--every")) {
            Refuse("the schedule", "needs --at TIME or --every N");
        }
        s = TScheDef{};
        s.DailyEvery = 1;
        s.NoEnd = true;
        s.StartDate = today;
    }
    ApplyFrequency(call, s);
    ApplyTrigger(call, s);
    if (call.Has("--start")) {
        s.StartDate = DateOption(call, "--start");
    }
    if (call.Has("--end")) {
        s.NoEnd = false;
        s.EndDate = DateOption(call, "--end");
    }
    if (call.Has("--no-end")) {
        s.NoEnd = true;
    }
    return OnlyItsForm(s);
}

// A path as the editors store it: absolute, since the service starts from elsewhere, and in its
// network form on a network share, which holds wherever the share is mounted.
std::string StoredPath(const TCtlParts& parts, const std::string& path) {
    return path.empty() ? path : parts.Files.NetworkForm(path);
}

void ApplyOptions(const TCall& call, TTaskDef& task) {
    CheckCombinations(call);
    if (call.Has("--name")) {
        task.Name = call.Value("--name");
    }
    if (call.Has("--command")) {
        task.Command = StoredPath(call.Parts, call.Value("--command"));
    }
    if (call.Has("--arguments")) {
        task.Parameters = call.Value("--arguments");
    }
    if (call.Has("--workdir")) {
        task.WorkDir = StoredPath(call.Parts, call.Value("--workdir"));
    }
    task.Enabled = call.Has("--enabled") || (task.Enabled && !call.Has("--disabled"));
    task.Blocking = call.Has("--blocking") || (task.Blocking && !call.Has("--not-blocking"));
    task.Visible = call.Has("--visible") || (task.Visible && !call.Has("--hidden"));
    if (call.Has("--priority")) {
        const auto priority = PriorityFromName(call.Value("--priority"));
        if (!priority) {
            Refuse("--priority", "takes High, Realtime, Normal or Low, not '" +
                                     PrintableText(call.Value("--priority")) + "'");
        }
        task.Priority = *priority;
    }
    task.Schedule = ApplySchedule(call, task.Schedule, std::floor(call.Parts.Clock.Now()));
}

std::string Breach(const TCtlParts& parts, const TTaskDef& task) {
    if (const auto breach = TaskBreach(task, parts.Files)) {
        return std::string(OptionOf(breach->Field)) + " " + breach->Text;
    }
    return {};
}

// What the options make of the task, or nothing after saying why.
std::optional<TTaskDef> Edited(const TCall& call, TTaskDef task, const char* command) {
    try {
        ApplyOptions(call, task);
    } catch (const TOptionError& error) {
        Fail(call.Parts, CtlUsageError, std::string(command) + ": " + error.what());
        return std::nullopt;
    }
    if (const std::string why = Breach(call.Parts, task); !why.empty()) {
        Fail(call.Parts, CtlUsageError, std::string(command) + ": " + PrintableText(why));
        return std::nullopt;
    }
    return task;
}

std::optional<std::string> ReadImport(const TCall& call) {
    const std::string& from = call.Operands.front();
    if (from == "-") {
        std::ostringstream text;
        text << call.Parts.In.rdbuf();
        return text.str();
    }
    try {
        return platform::ReadFile(from);
    } catch (const platform::TIoError& error) {
        Fail(call.Parts, CtlFailed, std::string("import: cannot read ") + error.what());
        return std::nullopt;
    }
}

// Every record of the text, held to the rules; nothing, after saying which one is bad.
std::optional<std::vector<TTaskDef>> ImportedTasks(const TCall& call, const std::string& text) {
    const std::string from =
        call.Operands.front() == "-" ? "standard input" : call.Operands.front();
    std::vector<TTaskDef> tasks;
    try {
        tasks = TasksFromJsonText(text);
    } catch (const TTaskJsonError& error) {
        Fail(call.Parts, CtlFailed, "import: " + from + ": " + PrintableText(error.what()));
        return std::nullopt;
    }
    std::set<std::int32_t> ids;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        std::string why;
        if (const auto breach = TaskBreach(tasks[i], call.Parts.Files)) {
            why = JsonFieldName(breach->Field) + " " + breach->Text;
        } else if (!call.Has("--add") && tasks[i].Id < 0) {
            why = "id must be 0 (a new id) or above";
        } else if (!call.Has("--add") && tasks[i].Id > 0 && !ids.insert(tasks[i].Id).second) {
            why = "id " + std::to_string(tasks[i].Id) + " is taken by an earlier record";
        }
        if (!why.empty()) {
            Fail(call.Parts, CtlFailed,
                 "import: " + from + ": task " + std::to_string(i + 1) + " (" +
                     PrintableText(tasks[i].Name) + "): " + PrintableText(why) +
                     "; nothing was imported");
            return std::nullopt;
        }
    }
    return tasks;
}

} // namespace

int Add(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    TTaskList tasks;
    if (!LoadTasks(parts, tasks)) {
        return CtlFailed;
    }
    TTaskDef fresh = TTaskDef::New();
    fresh.Enabled = true;
    if (!call.Has("--at") && !call.Has("--every")) {
        return Fail(parts, CtlUsageError, "add: a task needs --at TIME or --every N");
    }
    std::optional<TTaskDef> task = Edited(call, fresh, "add");
    if (!task) {
        return CtlUsageError;
    }
    TTaskList changed = tasks;
    const std::int32_t id = AddNewTask(changed, *task);
    if (!Commit(parts, tasks, changed)) {
        return CtlFailed;
    }
    Tell(parts, TMessageCode::TaskAdded, id);
    parts.Out << "Task " << Shown(*task) << " added.\n";
    return 0;
}

int Edit(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    int status = 0;
    std::optional<TTaskOfCall> found = TaskOfCall(call, status);
    if (!found) {
        return status;
    }
    const std::optional<TTaskDef> task = Edited(call, found->Task, "edit");
    if (!task) {
        return CtlUsageError;
    }
    if (*task == found->Task) {
        parts.Out << "Task " << Shown(*task) << " is unchanged.\n";
        return 0;
    }
    TTaskList changed = found->Tasks;
    ReplaceTask(changed, *task);
    if (!Commit(parts, found->Tasks, changed)) {
        return CtlFailed;
    }
    Tell(parts, TMessageCode::TaskChanged, task->Id);
    parts.Out << "Task " << Shown(*task) << " changed.\n";
    return 0;
}

int Import(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    TTaskList tasks;
    if (!LoadTasks(parts, tasks)) {
        return CtlFailed;
    }
    const std::optional<std::string> text = ReadImport(call);
    if (!text) {
        return CtlFailed;
    }
    std::optional<std::vector<TTaskDef>> imported = ImportedTasks(call, *text);
    if (!imported) {
        return CtlFailed;
    }
    const bool adding = call.Has("--add");
    TTaskList changed = adding ? tasks : TTaskList();
    // Records that name their id keep it; the others get the smallest free ones, after them.
    for (TTaskDef& task : *imported) {
        if (!adding && task.Id > 0) {
            changed.AddTask(task, false);
        }
    }
    for (TTaskDef& task : *imported) {
        if (adding || task.Id == 0) {
            AddNewTask(changed, task);
        }
    }
    if (!adding) {
        // A blocking run the service follows must keep its task, as a delete would.
        const TRunsView view = AskRuns(parts);
        if (view.ServiceRuns && !view.Runs) {
            return Fail(parts, CtlFailed,
                        "import: the service did not answer (is it paused? see tarvokctl "
                        "status); nothing was imported");
        }
        for (const auto& [id, process] : view.Runs.value_or(TServiceRuns{})) {
            const TTaskDef running = tasks.FindTask(id);
            if (running.Id == id && changed.FindTask(id).Id != id &&
                parts.Processes.ExitCode(process) == StillActive) {
                return Fail(parts, CtlFailed,
                            "import: " +
                                PrintableText(FormatLogText("Blocking Task \"%s\" [%d] is running.",
                                                            {running.Name, running.Id})) +
                                " The import would remove it; nothing was imported");
            }
        }
    }
    const TTaskList before = tasks;
    if (!Commit(parts, tasks, changed)) {
        return CtlFailed;
    }
    // The service reads the file again for each message: a task with a new id gets its run
    // entry ("TN"), and one "TM" covers every task that was there before and changed or went.
    for (const TTaskDef& task : *imported) {
        if (before.FindTask(task.Id).Id != task.Id) {
            Tell(parts, TMessageCode::TaskAdded, task.Id);
        }
    }
    if (!adding) {
        Tell(parts, TMessageCode::TaskChanged, 0);
    }
    parts.Out << (adding ? "Added " : "Imported ") << imported->size()
              << (imported->size() == 1 ? " task.\n" : " tasks.\n");
    return 0;
}

} // namespace tarvok::ctl
