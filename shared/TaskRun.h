// Running one task: the process table of blocking runs and the decision routine both schedulers
// share.
//
// RunTask checks a task, refuses a blocking task whose previous run is still alive, validates
// the command and working directory (a path on a network share where the share is mounted now;
// an unmounted share is a missing file), starts the process and records a blocking run's
// process id. How each outcome is told (a log line, a message to the peer, a box on screen) is the
// caller's: it passes a TRunTaskHost.
//
//   TLoggingRunHost host(logger, sendTsOrTf);    // logs lines, tells the peer
//   RunTask(task, table, host, SystemProcesses(), {&watch, TRunOrigin::Minute});
#pragma once

#include "platform/Process.h"
#include "shared/RunLedger.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "shared/WinSh.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

struct TTaskRunEntry {
    std::string TaskName; // copied when the entry was made; used in "finished" lines
    std::int32_t TaskId = 0;
    std::uint32_t ProcessId = 0; // the running blocking run, 0 = none known

    friend bool operator==(const TTaskRunEntry&, const TTaskRunEntry&) = default;
};

// The run state of a scheduler's tasks, one entry per task in task-list order.
class TProcessTable {
public:
    // Forgets every process id: one entry per task, ProcessId 0.
    void Rebuild(const TTaskList& tasks);
    // One entry per task in task-list order, as Rebuild makes them, except that a task still in
    // the list keeps its entry, with the run it follows and the name it was made with: for a
    // task list that was changed elsewhere and read again.
    void Follow(const TTaskList& tasks);
    void Append(const TTaskDef& task);
    // The first entry with the id, or nullptr; valid until the table changes.
    TTaskRunEntry* Find(std::int32_t taskId);
    // Removes the first entry with the id, if any.
    void Remove(std::int32_t taskId);

    bool Empty() const { return entries_.empty(); }
    std::size_t Count() const { return entries_.size(); }
    // True while some entry follows a run (ProcessId not 0).
    bool FollowsAnyRun() const;
    std::vector<TTaskRunEntry>& Entries() { return entries_; }
    const std::vector<TTaskRunEntry>& Entries() const { return entries_; }

private:
    std::vector<TTaskRunEntry> entries_;
};

// Starting and following processes; the real one is SystemProcesses(), tests pass their own.
class TProcessControl {
public:
    virtual ~TProcessControl() = default;
    // The new process id, 0 when it could not be started. Its output goes to the journal under
    // the task's RunOutputTag, and its end is kept for TakeEnd.
    virtual std::uint32_t Launch(const TTaskDef& task) = 0;
    // Nothing while a launched process runs; once it has ended, how and when, handed out once.
    virtual std::optional<platform::TProcessEnd> TakeEnd(std::uint32_t processId) = 0;
    // Called, from any thread, whenever a launched process ends; nullptr removes it.
    virtual void SetEndHook(std::function<void()> /*hook*/) {}
    // StillActive while the process runs; otherwise its exit code when known, else 0.
    virtual std::uint32_t ExitCode(std::uint32_t processId) = 0;
    // Follows from now on a process another program started and handed over, by what it is and
    // not by its id (platform::FollowProcess). False when it has ended already or is neither
    // the sender's nor ours: it then counts as ended.
    virtual bool Follow(std::uint32_t processId, std::uint32_t senderUid) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool DirectoryExists(const std::string& path) = 0;
    // Where a path is reached now: a network-form path ("//fs1/sales/run.sh") through the
    // current mount of its share, any other path as it is; nothing while the share is not
    // mounted. The live mount table unless a test says otherwise.
    virtual std::optional<std::string> LocalPath(const std::string& path);
};

TProcessControl& SystemProcesses();

// What happened to a run; each has one fixed text (RunEventText).
enum class TRunEvent {
    PreviousStillActive,
    Finished,
    InvalidCommand,
    InvalidWorkDir,
    BlockingStarted,
    Started,
    BlockingFailed,
    Failed,
};

// The event's line for a task, e.g. Task "Backup" [3] started.
std::string RunEventText(TRunEvent event, const std::string& taskName, std::int32_t taskId);

// What differs between the schedulers. The service logs every event and sends "TS"/"TF"; the
// manager shows boxes when the user asked for the run, marks its tree, and hands the run to
// the service when one is connected.
class TRunTaskHost {
public:
    virtual ~TRunTaskHost() = default;
    // Every event of a run, in order; processId is the run's (started, finished) or 0.
    virtual void Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                        std::uint32_t processId) = 0;
    // Asked once the blocking check has passed; false stops the run.
    virtual bool ConfirmRun(const TTaskDef&) { return true; }
    // Asked once the task has passed its checks; true when someone else starts it.
    virtual bool HandOver(const TTaskDef&) { return false; }
};

// The background flavour: every event becomes a log line, and a blocking run's start and end
// are passed on (the service sends "TS"/"TF", the manager marks its tree).
class TLoggingRunHost : public TRunTaskHost {
public:
    using TBlockingChange =
        std::function<void(bool running, std::int32_t taskId, std::uint32_t processId)>;

    TLoggingRunHost(TSysLogger& log, TBlockingChange onBlockingChange);
    void Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                std::uint32_t processId) override;

private:
    TSysLogger& log_;
    TBlockingChange onBlockingChange_;
};

class TRunWatch;

// Where a run is followed to its end (shared/RunWatch.h), and what started it. A run that
// starts is noted there; so is one whose start failed or whose command or working directory was
// refused, as not started. None is noted where no watch is given.
struct TRunFollow {
    TRunWatch* Watch = nullptr;
    TRunOrigin Origin = TRunOrigin::Minute;
};

// Runs the task once, as the minute tick or a request asks. A blocking task missing from the
// table gets an entry at its end, so a run started now is still followed.
void RunTask(const TTaskDef& task, TProcessTable& table, TRunTaskHost& host,
             TProcessControl& processes, TRunFollow follow);

// A blocking run another program started and handed over ("TS"): the task's entry follows that
// process from now on, so no process that later gets its id can stand in for it. A process
// already gone, or of another account than the sender's (or ours), counts as ended: the next
// sweep reports the run finished. A task without an entry takes nothing over.
void TakeOverRun(TProcessTable& table, std::int32_t taskId, std::uint32_t processId,
                 std::uint32_t senderUid, TProcessControl& processes);

// Reports and clears every blocking run of the table whose process has ended. The host may
// change the table while it reports (add, remove, run tasks): each entry is looked at afresh.
void SweepFinished(TProcessTable& table, TRunTaskHost& host, TProcessControl& processes);

} // namespace tarvok
