// Following every run a scheduler starts to its end, and recording each end once: a line in the
// run history, and for a run that failed (a non-zero exit code or a signal) a line in the system
// log and a word to whoever must hear of it (the service sends "TE", the manager shows a
// notification). The service and the manager differ only in that word and in how the history
// is read back when it is shortened.
//
//   TRunWatch watch(clock);
//   RunTask(task, table, host, processes, {&watch, TRunOrigin::Minute});
//   // every pass, after the minute's starts:
//   recorder.Record(watch.TakeEnded(processes));
#pragma once

#include "shared/Clock.h"
#include "shared/RunLedger.h"
#include "shared/SysLog.h"
#include "shared/TaskRun.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tarvok {

// The runs a scheduler has started and not yet seen end. Starts are timed on the scheduler's
// clock when they are noted; ends on the same clock, moved back by how long ago the platform saw
// the process end, so a run's duration does not grow by the time until the next sweep.
class TRunWatch {
public:
    explicit TRunWatch(const TClock& clock) : clock_(clock) {}

    // A run that started (processId not 0) is followed until it ends; one that did not start
    // ends now, as "not started".
    void Note(const TTaskDef& task, std::uint32_t processId, TRunOrigin origin);
    // The runs that have ended since the last call, in the order they were noted. A run whose
    // end the platform did not see (its process reaped by someone else) is dropped: nothing
    // true could be written of how it ended.
    std::vector<TRunRecord> TakeEnded(TProcessControl& processes);
    std::size_t Following() const { return following_.size(); }

private:
    const TClock& clock_;
    std::vector<TRunRecord> following_;
    std::vector<TRunRecord> ended_; // runs that did not start, until taken
};

// The name of the signal a failure code tells of ("SIGKILL" for -9); empty for an exit code.
std::string SignalNameOf(std::int32_t failureCode);
// "exit code 2", "signal SIGKILL": FailureCodeText with the signal's name.
std::string FailureText(std::int32_t failureCode);
// What a notification of a failed run says: "Backup failed (exit code 2)".
std::string FailureNoticeText(const std::string& taskName, std::int32_t failureCode);
// A run that ended with a non-zero exit code or a signal; a failed start is told by its own
// log line and is not one.
bool EndedBadly(const TRunRecord& run);

// Writes ended runs where they are kept and told of.
class TRunRecorder {
public:
    using TFailed = std::function<void(const TRunRecord& run)>;

    // onFailed hears of each run that ended badly, after its log line.
    TRunRecorder(TRunLedger& ledger, TSysLogger& log, TFailed onFailed);
    // The runs go to the history in one append; each that ended badly adds its line to the log
    // and is told of. A history that cannot be written is said in the log once until a write
    // succeeds again.
    void Record(std::span<const TRunRecord> runs);

private:
    TRunLedger& ledger_;
    TSysLogger& log_;
    TFailed onFailed_;
    bool writeFailed_ = false;
};

} // namespace tarvok
