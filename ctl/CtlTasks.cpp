// The task commands: list, show, enable, disable, delete, run, export.
#include "ctl/CtlCommands.h"
#include "ctl/TaskJson.h"
#include "platform/Files.h"
#include "shared/NextRuns.h"
#include "shared/Protocol.h"
#include "shared/RunWatch.h"
#include "shared/ScheDef.h"
#include "shared/SysLog.h"
#include "shared/TaskEdits.h"
#include "shared/WinSh.h"

#include <algorithm>
#include <charconv>

namespace tarvok::ctl {

namespace {

// The line the manager shows in a box when the user runs or deletes such a task.
std::string StillRunningText(const TTaskDef& task) {
    return FormatLogText("Blocking Task \"%s\" [%d] is running.", {task.Name, task.Id});
}

std::string YesNo(bool value) {
    return value ? "Yes" : "No";
}

std::vector<std::string> Description(const TCtlParts& parts, const TScheDef& schedule) {
    std::vector<std::string> lines;
    DescribeSchedule(schedule, lines, parts.LongTimeFormat);
    lines.resize(3);
    return lines;
}

// As many as the manager's dialogs show.
constexpr int NextRunsShown = 5;

// Whether a task's blocking run is going, as far as anyone here can know.
struct TRunState {
    bool Known = false;
    std::uint32_t ProcessId = 0; // the run that is going; 0 when none

    TJson Running() const { return Known ? TJson(ProcessId != 0) : TJson(nullptr); }
    TJson Process() const { return ProcessId != 0 ? TJson(ProcessId) : TJson(nullptr); }
};

// Without a service nobody here knows of the runs a manager may have started itself.
TRunState RunStateOf(const TCtlParts& parts, const TRunsView& view, const TTaskDef& task) {
    if (!view.ServiceRuns || !view.Runs) {
        return {};
    }
    const auto run = view.Runs->find(task.Id);
    if (run == view.Runs->end() || parts.Processes.ExitCode(run->second) != StillActive) {
        return {true, 0};
    }
    return {true, run->second};
}

void NoteUnanswered(const TCtlParts& parts, const TRunsView& view) {
    if (view.ServiceRuns && !view.Runs && parts.Administrator) {
        parts.Err << "tarvokctl: the service did not answer (is it paused?), so whether "
                     "blocking runs are going is not known\n";
    }
}

int SetEnabled(const TCall& call, bool enabled) {
    int status = 0;
    std::optional<TTaskOfCall> found = TaskOfCall(call, status);
    if (!found) {
        return status;
    }
    TTaskDef& task = found->Task;
    const char* word = enabled ? "enabled" : "disabled";
    if (task.Enabled == enabled) {
        call.Parts.Out << "Task " << Shown(task) << " is already " << word << ".\n";
        return 0;
    }
    task.Enabled = enabled;
    TTaskList changed = found->Tasks;
    ReplaceTask(changed, task);
    if (!Commit(call.Parts, found->Tasks, changed)) {
        return CtlFailed;
    }
    Tell(call.Parts, TMessageCode::TaskChanged, task.Id);
    call.Parts.Out << "Task " << Shown(task) << " " << word << ".\n";
    return 0;
}

// How a run went, as RunTask reports it; nothing is shown until the run is over.
class TCtlRunHost final : public TRunTaskHost {
public:
    TCtlRunHost(const TCtlParts& parts, bool handOver) : parts_(parts), handOver_(handOver) {}

    void Report(TRunEvent event, const std::string&, std::int32_t,
                std::uint32_t processId) override {
        Last = event;
        ProcessId = processId;
    }
    bool HandOver(const TTaskDef& task) override {
        if (handOver_) {
            HandedOver = parts_.Link.Send(FormatMessage(TMessageCode::RunTask, task.Id));
        }
        return handOver_;
    }

    std::optional<TRunEvent> Last;
    std::uint32_t ProcessId = 0;
    std::optional<bool> HandedOver;

private:
    const TCtlParts& parts_;
    bool handOver_;
};

// A run started here is logged as the manager logs its own, unless someone else writes the log
// now: a manager keeps the log in memory and would write over the line.
void LogOwnRun(const TCtlParts& parts, const std::string& line) {
    if (parts.Link.ManagerRuns()) {
        return;
    }
    TSysLogger log(parts.Paths.LogPath, parts.Clock);
    log.NamedMonth = true;
    log.LimitLines = true;
    log.MaxLines = 3000;
    log.Add(line);
}

// A run this program could not start is recorded as not started. One it started is not: this
// program ends at once and cannot see how the run ends (a service that runs it, through "TR",
// records it).
void RecordOwnRun(const TCtlParts& parts, TRunWatch& watch) {
    if (watch.Following() != 0) {
        return;
    }
    const std::vector<TRunRecord> ended = watch.TakeEnded(parts.Processes);
    try {
        TRunLedger(parts.Paths.RunsPath, TRunLedger::TRead::Plain).Append(ended);
    } catch (const platform::TIoError& error) {
        parts.Err << "tarvokctl: the run history could not be written: " << error.what() << '\n';
    }
}

} // namespace

int Fail(const TCtlParts& parts, int status, const std::string& why) {
    parts.Err << "tarvokctl: " << why << '\n';
    return status;
}

bool LoadTasks(const TCtlParts& parts, TTaskList& tasks) {
    try {
        tasks = LoadTaskList(parts.Paths.TaskPath);
    } catch (const platform::TIoError& error) {
        Fail(parts, CtlFailed, std::string("cannot read the task file: ") + error.what());
        return false;
    }
    return true;
}

std::optional<TTaskOfCall> TaskOfCall(const TCall& call, int& status) {
    TTaskOfCall found;
    if (!LoadTasks(call.Parts, found.Tasks)) {
        status = CtlFailed;
        return std::nullopt;
    }
    const std::string& operand = call.Operands.front();
    std::int32_t id = 0;
    const auto [end, error] = std::from_chars(operand.data(), operand.data() + operand.size(), id);
    if (error != std::errc() || end != operand.data() + operand.size() || id <= 0) {
        status = Fail(call.Parts, CtlUsageError,
                      "ID must be a task id, a whole number above 0, not '" +
                          PrintableText(operand) + "'");
        return std::nullopt;
    }
    found.Task = found.Tasks.FindTask(id);
    if (found.Task.Id <= 0) {
        status = Fail(call.Parts, CtlFailed,
                      "no task has the id " + std::to_string(id) + " (see tarvokctl list)");
        return std::nullopt;
    }
    return found;
}

std::string Shown(const TTaskDef& task) {
    return PrintableText(FormatLogText("\"%s\" [%d]", {task.Name, task.Id}));
}

bool Commit(const TCtlParts& parts, TTaskList& tasks, const TTaskList& changed) {
    try {
        CommitTaskList(tasks, changed, parts.Paths.TaskPath);
    } catch (const platform::TIoError& error) {
        Fail(parts, CtlFailed,
             std::string("cannot save the task file; nothing was changed: ") + error.what());
        return false;
    }
    return true;
}

void Tell(const TCtlParts& parts, TMessageCode code, std::int32_t taskId) {
    if (parts.Link.ServiceRuns()) {
        parts.Link.Send(FormatMessage(code, taskId));
    }
}

TRunsView AskRuns(const TCtlParts& parts) {
    TRunsView view;
    view.ServiceRuns = parts.Link.ServiceRuns();
    if (!view.ServiceRuns) {
        view.Runs = TServiceRuns{};
    } else if (parts.Administrator) {
        view.Runs = parts.Link.QueryRuns();
    }
    return view;
}

int List(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    TTaskList tasks;
    if (!LoadTasks(parts, tasks)) {
        return CtlFailed;
    }
    const TRunsView view = AskRuns(parts);
    // Only blocking runs are followed; any other task counts as not running.
    const auto running = [&](const TTaskDef& task) {
        return task.Blocking ? RunStateOf(parts, view, task) : TRunState{true, 0};
    };
    if (call.Has("--json")) {
        TJson list = TJson::array();
        for (std::size_t i = 0; i < tasks.Count(); ++i) {
            const TTaskDef task = tasks.GetTask(i);
            const TRunState run = running(task);
            list.push_back({{"id", task.Id},
                            {"name", task.Name},
                            {"enabled", task.Enabled},
                            {"blocking", task.Blocking},
                            {"schedule", Description(parts, task.Schedule).front()},
                            {"running", run.Running()},
                            {"process_id", run.Process()}});
        }
        parts.Out << JsonText(TJson{{"tasks", list}}) << '\n';
        NoteUnanswered(parts, view);
        return 0;
    }
    if (tasks.Count() == 0) {
        parts.Out << "No tasks.\n";
        return 0;
    }
    std::vector<std::array<std::string, 6>> rows = {
        {"ID", "NAME", "ENABLED", "BLOCKING", "SCHEDULE", "RUNNING"}};
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        const TTaskDef task = tasks.GetTask(i);
        std::string run = "-";
        if (task.Blocking) {
            const TRunState state = running(task);
            run = !state.Known ? "?" : state.ProcessId != 0 ? "yes" : "no";
        }
        rows.push_back({std::to_string(task.Id), PrintableText(task.Name), YesNo(task.Enabled),
                        YesNo(task.Blocking), Description(parts, task.Schedule).front(), run});
    }
    std::array<std::size_t, 6> widths{};
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            std::string cell = row[column];
            if (column + 1 < row.size()) {
                cell.resize(widths[column] + 2, ' ');
            }
            line += cell;
        }
        parts.Out << line << '\n';
    }
    NoteUnanswered(parts, view);
    return 0;
}

int Show(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    int status = 0;
    const std::optional<TTaskOfCall> found = TaskOfCall(call, status);
    if (!found) {
        return status;
    }
    const TTaskDef& task = found->Task;
    const TRunsView view = AskRuns(parts);
    const TRunState run = task.Blocking ? RunStateOf(parts, view, task) : TRunState{true, 0};
    const std::vector<std::string> description = Description(parts, task.Schedule);
    const TNextRuns next = NextRunsOfTask(task, parts.Clock.Now(), NextRunsShown);
    if (call.Has("--json")) {
        TJson json = TaskToJson(task);
        json["running"] = run.Running();
        json["process_id"] = run.Process();
        json["description"] = description;
        TJson starts = TJson::array();
        for (const TDateTime moment : next.Moments) {
            starts.push_back(NextRunIsoText(moment));
        }
        json["next_runs"] = starts;
        const std::string end = NextRunsEndName(next.End);
        json["next_runs_end"] = end.empty() ? TJson(nullptr) : TJson(end);
        parts.Out << JsonText(json) << '\n';
        NoteUnanswered(parts, view);
        return 0;
    }
    const auto line = [&](const char* label, const std::string& value) {
        std::string text = *label != '\0' ? std::string(label) + ":" : std::string();
        if (!value.empty()) {
            text.resize(12, ' ');
            text += PrintableText(value);
        }
        parts.Out << text << '\n';
    };
    line("Task ID", std::to_string(task.Id));
    line("Task name", task.Name);
    line("Command", task.Command);
    line("Arguments", task.Parameters);
    line("Directory", task.WorkDir);
    line("Enabled", YesNo(task.Enabled));
    line("Visible", YesNo(task.Visible));
    line("Blocking", YesNo(task.Blocking));
    line("Priority", PriorityName(task.Priority));
    line("Running", !run.Known ? "Unknown" : YesNo(run.ProcessId != 0));
    line("Process ID", run.ProcessId != 0 ? std::to_string(run.ProcessId) : "");
    line("Schedule", description[0]);
    line("", description[1]);
    line("", description[2]);
    const char* label = "Next runs";
    for (const std::string& start : NextRunLines(next, parts.LongTimeFormat)) {
        line(label, start);
        label = "";
    }
    NoteUnanswered(parts, view);
    return 0;
}

int Enable(const TCall& call) {
    return SetEnabled(call, true);
}

int Disable(const TCall& call) {
    return SetEnabled(call, false);
}

int Delete(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    int status = 0;
    std::optional<TTaskOfCall> found = TaskOfCall(call, status);
    if (!found) {
        return status;
    }
    const TTaskDef& task = found->Task;
    const TRunsView view = AskRuns(parts);
    if (!view.ServiceRuns) {
        TTaskList changed = found->Tasks;
        changed.DeleteTask(task);
        if (!Commit(parts, found->Tasks, changed)) {
            return CtlFailed;
        }
    } else if (!view.Runs) {
        return Fail(parts, CtlFailed,
                    "the service did not answer (is it paused? see tarvokctl status); task " +
                        Shown(task) + " was not deleted");
    } else if (RunStateOf(parts, view, task).ProcessId != 0) {
        return Fail(parts, CtlFailed, PrintableText(StillRunningText(task)));
    } else {
        // The service deletes it and saves the task file, as it does for the manager.
        switch (parts.Link.DeleteTask(task.Id)) {
        case TDeleteAnswer::Deleted:
            break;
        case TDeleteAnswer::Handled: {
            TTaskList after;
            if (!LoadTasks(parts, after)) {
                return CtlFailed;
            }
            if (after.FindTask(task.Id).Id == task.Id) {
                return Fail(parts, CtlFailed,
                            "the service did not delete task " + Shown(task) +
                                " (see tarvokctl log)");
            }
            break;
        }
        case TDeleteAnswer::Declined:
            return Fail(parts, CtlFailed,
                        "the service did not delete task " + Shown(task) + " (see tarvokctl log)");
        case TDeleteAnswer::NoAnswer:
            return Fail(parts, CtlFailed,
                        "the service did not answer in time; see tarvokctl list for whether "
                        "task " +
                            Shown(task) + " was deleted");
        }
    }
    parts.Out << "Task " << Shown(task) << " deleted.\n";
    return 0;
}

// The manager's "&Run": a blocking task whose run is going is refused; the command and working
// directory are checked; a running service starts it, otherwise it starts here.
int Run(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    int status = 0;
    const std::optional<TTaskOfCall> found = TaskOfCall(call, status);
    if (!found) {
        return status;
    }
    const TTaskDef& task = found->Task;
    const TRunsView view = AskRuns(parts);
    if (!view.Runs) {
        return Fail(parts, CtlFailed,
                    "the service did not answer (is it paused? see tarvokctl status); task " +
                        Shown(task) + " was not run");
    }
    TProcessTable table;
    table.Append(task);
    if (const auto run = view.Runs->find(task.Id); run != view.Runs->end()) {
        table.Find(task.Id)->ProcessId = run->second;
    }
    TCtlRunHost host(parts, view.ServiceRuns);
    TRunWatch watch(parts.Clock);
    RunTask(task, table, host, parts.Processes, {&watch, TRunOrigin::User});
    RecordOwnRun(parts, watch);

    if (host.HandedOver) {
        if (!*host.HandedOver) {
            return Fail(parts, CtlFailed,
                        "the service did not take the request; task " + Shown(task) +
                            " was not run");
        }
        parts.Out << "Task " << Shown(task) << " handed to the service, which starts it now.\n";
        return 0;
    }
    switch (host.Last.value_or(TRunEvent::Failed)) {
    case TRunEvent::PreviousStillActive:
        return Fail(parts, CtlFailed, PrintableText(StillRunningText(task)));
    case TRunEvent::BlockingStarted:
    case TRunEvent::Started: {
        const std::string line = RunEventText(*host.Last, task.Name, task.Id);
        LogOwnRun(parts, line);
        parts.Out << PrintableText(line) << " Process " << host.ProcessId << ".\n";
        return 0;
    }
    case TRunEvent::BlockingFailed:
    case TRunEvent::Failed:
        LogOwnRun(parts, RunEventText(*host.Last, task.Name, task.Id));
        [[fallthrough]];
    default:
        return Fail(
            parts, CtlFailed,
            PrintableText(RunEventText(host.Last.value_or(TRunEvent::Failed), task.Name, task.Id)));
    }
}

int Export(const TCall& call) {
    TTaskList tasks;
    if (!LoadTasks(call.Parts, tasks)) {
        return CtlFailed;
    }
    call.Parts.Out << TasksToJsonText(tasks);
    return 0;
}

} // namespace tarvok::ctl
