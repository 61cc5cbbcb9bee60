#include "shared/TaskRun.h"

#include "platform/Files.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tarvok {

void TProcessTable::Rebuild(const TTaskList& tasks) {
    entries_.clear();
    entries_.reserve(tasks.Count());
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        Append(tasks.GetTask(i));
    }
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
                             task.Visible ? SwShow : SwHide);
    }
    std::uint32_t ExitCode(std::uint32_t processId) override {
        return GetProcessExitCode(processId);
    }
    bool FileExists(const std::string& path) override { return platform::FileExists(path); }
    bool DirectoryExists(const std::string& path) override {
        return platform::DirectoryExists(path);
    }
};

struct TEventFormat {
    TRunEvent Event;
    const char* Format;
};

constexpr std::array<TEventFormat, 8> EventFormats = {{
    {TRunEvent::PreviousStillActive, "Blocking task \"%s\" [%d] is still active."},
    {TRunEvent::Finished, "Blocking task \"%s\" [%d] finished."},
    {TRunEvent::InvalidCommand, "Invalid command in task \"%s\" [%d]."},
    {TRunEvent::InvalidWorkDir, "Invalid working directory in task \"%s\" [%d]."},
    {TRunEvent::BlockingStarted, "Blocking task \"%s\" [%d] started."},
    {TRunEvent::Started, "Task \"%s\" [%d] started."},
    {TRunEvent::BlockingFailed, "Blocking task \"%s\" [%d] failed to start."},
    {TRunEvent::Failed, "Task \"%s\" [%d] failed to start."},
}};

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

std::optional<TRunEvent> Refusal(const TTaskDef& task, TProcessControl& processes) {
    if (task.Command.empty() || !processes.FileExists(task.Command)) {
        return TRunEvent::InvalidCommand;
    }
    if (!task.WorkDir.empty() && !processes.DirectoryExists(task.WorkDir)) {
        return TRunEvent::InvalidWorkDir;
    }
    return std::nullopt;
}

TRunEvent Outcome(bool blocking, bool started) {
    if (blocking) {
        return started ? TRunEvent::BlockingStarted : TRunEvent::BlockingFailed;
    }
    return started ? TRunEvent::Started : TRunEvent::Failed;
}

} // namespace

TProcessControl& SystemProcesses() {
    static TSystemProcesses processes;
    return processes;
}

std::string RunEventText(TRunEvent event, const std::string& taskName, std::int32_t taskId) {
    const auto* format = std::find_if(EventFormats.begin(), EventFormats.end(),
                                      [event](const TEventFormat& f) { return f.Event == event; });
    return FormatLogText(format->Format, {taskName, taskId});
}

void RunTask(const TTaskDef& task, TProcessTable& table, TRunTaskHost& host,
             TProcessControl& processes) {
    if (task.Blocking) {
        TTaskRunEntry* entry = EntryFor(task, table);
        if (entry != nullptr && !PreviousRunEnded(task, *entry, host, processes)) {
            return;
        }
    }
    if (!host.ConfirmRun(task)) {
        return;
    }
    if (const auto refusal = Refusal(task, processes)) {
        host.Report(*refusal, task.Name, task.Id, 0);
        return;
    }
    if (host.HandOver(task)) {
        return;
    }
    const std::uint32_t processId = processes.Launch(task);
    if (task.Blocking) {
        // The host may have changed the table (a handed-over "TS"); look the entry up again.
        if (TTaskRunEntry* entry = EntryFor(task, table)) {
            entry->ProcessId = processId;
        }
    }
    host.Report(Outcome(task.Blocking, processId != 0), task.Name, task.Id, processId);
}

void SweepFinished(TProcessTable& table, TRunTaskHost& host, TProcessControl& processes) {
    for (TTaskRunEntry& entry : table.Entries()) {
        if (entry.ProcessId != 0 && processes.ExitCode(entry.ProcessId) != StillActive) {
            const std::uint32_t ended = entry.ProcessId;
            entry.ProcessId = 0;
            host.Report(TRunEvent::Finished, entry.TaskName, entry.TaskId, ended);
        }
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
