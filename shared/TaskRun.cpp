#include "shared/TaskRun.h"

#include "platform/Files.h"
#include "platform/Mounts.h"
#include "platform/Process.h"
#include "shared/RunWatch.h"

#include <algorithm>
#include <optional>
#include <variant>

namespace tarvok {

void TProcessTable::Rebuild(const TTaskList& tasks) {
    entries_.clear();
    entries_.reserve(tasks.Count());
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        Append(tasks.GetTask(i));
    }
}

void TProcessTable::Follow(const TTaskList& tasks) {
    std::vector<TTaskRunEntry> kept;
    kept.reserve(tasks.Count());
    // Each old entry is taken once, so of two tasks with one id (a damaged file) only the first
    // keeps the run, as only the first ever had it.
    std::vector<bool> taken(entries_.size(), false);
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        const TTaskDef task = tasks.GetTask(i);
        std::size_t old = 0;
        while (old < entries_.size() && (taken[old] || entries_[old].TaskId != task.Id)) {
            ++old;
        }
        if (old < entries_.size()) {
            taken[old] = true;
            kept.push_back(entries_[old]);
        } else {
            kept.push_back(TTaskRunEntry{task.Name, task.Id, 0});
        }
    }
    entries_ = std::move(kept);
}

void TProcessTable::Append(const TTaskDef& task) {
    entries_.push_back(TTaskRunEntry{task.Name, task.Id, 0});
}

TTaskRunEntry* TProcessTable::Find(std::int32_t taskId) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [taskId](const TTaskRunEntry& e) { return e.TaskId == taskId; });
    return it == entries_.end() ? nullptr : &*it;
}

void TProcessTable::Remove(std::int32_t taskId) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [taskId](const TTaskRunEntry& e) { return e.TaskId == taskId; });
    if (it != entries_.end()) {
        entries_.erase(it);
    }
}

bool TProcessTable::FollowsAnyRun() const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const TTaskRunEntry& e) { return e.ProcessId != 0; });
}

namespace {

class TSystemProcesses final : public TProcessControl {
public:
    std::uint32_t Launch(const TTaskDef& task) override {
        return LaunchProcess(task.Command, task.Parameters, task.WorkDir, task.Priority,
                             task.Visible ? SwShow : SwHide,
                             {.OutputTag = RunOutputTag(task.Id), .KeepEnd = true});
    }
    std::optional<platform::TProcessEnd> TakeEnd(std::uint32_t processId) override {
        return platform::TakeProcessEnd(processId);
    }
    void SetEndHook(std::function<void()> hook) override {
        platform::SetProcessEndHook(std::move(hook));
    }
    std::uint32_t ExitCode(std::uint32_t processId) override {
        return GetProcessExitCode(processId);
    }
    bool Follow(std::uint32_t processId, std::uint32_t senderUid) override {
        return platform::FollowProcess(processId, senderUid);
    }
    bool FileExists(const std::string& path) override { return platform::FileExists(path); }
    bool DirectoryExists(const std::string& path) override {
        return platform::DirectoryExists(path);
    }
};

// Every event has its case: the build (-Wswitch, -Werror) refuses a switch that misses one.
const char* EventFormat(TRunEvent event) {
    switch (event) {
    case TRunEvent::PreviousStillActive:
        return "Blocking task \"%s\" [%d] is still active.";
    case TRunEvent::Finished:
        return "Blocking task \"%s\" [%d] finished.";
    case TRunEvent::InvalidCommand:
        return "Invalid command in task \"%s\" [%d].";
    case TRunEvent::InvalidWorkDir:
        return "Invalid working directory in task \"%s\" [%d].";
    case TRunEvent::BlockingStarted:
        return "Blocking task \"%s\" [%d] started.";
    case TRunEvent::Started:
        return "Task \"%s\" [%d] started.";
    case TRunEvent::BlockingFailed:
        return "Blocking task \"%s\" [%d] failed to start.";
    case TRunEvent::Failed:
        return "Task \"%s\" [%d] failed to start.";
    }
    return ""; // a value cast from outside the enumeration names no event
}

// The entry that follows a blocking task's runs, made when the table lacks one. A record that
// names no task (id 0 or less) gets none: there is nothing to follow it by.
TTaskRunEntry* EntryFor(const TTaskDef& task, TProcessTable& table) {
    if (TTaskRunEntry* entry = table.Find(task.Id)) {
        return entry;
    }
    if (task.Id <= 0) {
        return nullptr;
    }
    table.Append(task);
    return &table.Entries().back();
}

// The blocking check: false when the previous run still runs. A run that has ended since it was
// last seen is reported before anything else happens.
bool PreviousRunEnded(const TTaskDef& task, TTaskRunEntry& entry, TRunTaskHost& host,
                      TProcessControl& processes) {
    const std::uint32_t previous = entry.ProcessId;
    if (processes.ExitCode(previous) == StillActive) {
        host.Report(TRunEvent::PreviousStillActive, task.Name, task.Id, previous);
        return false;
    }
    // Cleared before reporting: a host may show a box, during which the table can change.
    entry.ProcessId = 0;
    if (previous != 0) {
        host.Report(TRunEvent::Finished, task.Name, task.Id, previous);
    }
    return true;
}

// The task with its command and working directory where they are reached now, or why it cannot
// start. Checked and started with the same paths, so a share mounted elsewhere meanwhile cannot
// make the start differ from the check.
std::variant<TTaskDef, TRunEvent> Startable(const TTaskDef& task, TProcessControl& processes) {
    TTaskDef local = task;
    const auto command = task.Command.empty() ? std::nullopt : processes.LocalPath(task.Command);
    if (!command || !processes.FileExists(*command)) {
        return TRunEvent::InvalidCommand;
    }
    local.Command = *command;
    if (!task.WorkDir.empty()) {
        const auto workDir = processes.LocalPath(task.WorkDir);
        if (!workDir || !processes.DirectoryExists(*workDir)) {
            return TRunEvent::InvalidWorkDir;
        }
        local.WorkDir = *workDir;
    }
    return local;
}

TRunEvent Outcome(bool blocking, bool started) {
    if (blocking) {
        return started ? TRunEvent::BlockingStarted : TRunEvent::BlockingFailed;
    }
    return started ? TRunEvent::Started : TRunEvent::Failed;
}

} // namespace

std::optional<std::string> TProcessControl::LocalPath(const std::string& path) {
    return platform::LocalPath(path);
}

TProcessControl& SystemProcesses() {
    static TSystemProcesses processes;
    return processes;
}

std::string RunEventText(TRunEvent event, const std::string& taskName, std::int32_t taskId) {
    return FormatLogText(EventFormat(event), {taskName, taskId});
}

void RunTask(const TTaskDef& task, TProcessTable& table, TRunTaskHost& host,
             TProcessControl& processes, TRunFollow follow) {
    const auto note = [&](std::uint32_t processId) {
        if (follow.Watch != nullptr) {
            follow.Watch->Note(task, processId, follow.Origin);
        }
    };
    if (task.Blocking) {
        TTaskRunEntry* entry = EntryFor(task, table);
        if (entry != nullptr && !PreviousRunEnded(task, *entry, host, processes)) {
            return;
        }
    }
    if (!host.ConfirmRun(task)) {
        return;
    }
    const auto startable = Startable(task, processes);
    if (const auto* refusal = std::get_if<TRunEvent>(&startable)) {
        note(0);
        host.Report(*refusal, task.Name, task.Id, 0);
        return;
    }
    if (host.HandOver(task)) {
        return;
    }
    const std::uint32_t processId = processes.Launch(std::get<TTaskDef>(startable));
    note(processId);
    if (task.Blocking) {
        // The host may have changed the table (a handed-over "TS"); look the entry up again.
        if (TTaskRunEntry* entry = EntryFor(task, table)) {
            entry->ProcessId = processId;
        }
    }
    host.Report(Outcome(task.Blocking, processId != 0), task.Name, task.Id, processId);
}

void TakeOverRun(TProcessTable& table, std::int32_t taskId, std::uint32_t processId,
                 std::uint32_t senderUid, TProcessControl& processes) {
    TTaskRunEntry* entry = table.Find(taskId);
    if (entry == nullptr) {
        return;
    }
    if (processId != 0) {
        processes.Follow(processId, senderUid);
    }
    entry->ProcessId = processId;
}

void SweepFinished(TProcessTable& table, TRunTaskHost& host, TProcessControl& processes) {
    // A host may show a box while it reports, during which the table can change: the walk goes
    // by task id, each entry is looked up afresh, and the report gets copies. Only the first
    // entry of an id ever follows a run (RunTask and the messages find that one).
    std::vector<std::int32_t> following;
    for (const TTaskRunEntry& entry : table.Entries()) {
        if (entry.ProcessId != 0) {
            following.push_back(entry.TaskId);
        }
    }
    for (std::int32_t taskId : following) {
        TTaskRunEntry* entry = table.Find(taskId);
        if (entry == nullptr || entry->ProcessId == 0 ||
            processes.ExitCode(entry->ProcessId) == StillActive) {
            continue;
        }
        const TTaskRunEntry ended = *entry;
        entry->ProcessId = 0;
        host.Report(TRunEvent::Finished, ended.TaskName, ended.TaskId, ended.ProcessId);
    }
}

TLoggingRunHost::TLoggingRunHost(TSysLogger& log, TBlockingChange onBlockingChange)
    : log_(log), onBlockingChange_(std::move(onBlockingChange)) {}

void TLoggingRunHost::Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                             std::uint32_t processId) {
    log_.Add(RunEventText(event, taskName, taskId));
    if (!onBlockingChange_) {
        return;
    }
    if (event == TRunEvent::BlockingStarted) {
        onBlockingChange_(true, taskId, processId);
    } else if (event == TRunEvent::Finished) {
        onBlockingChange_(false, taskId, processId);
    }
}

} // namespace tarvok
