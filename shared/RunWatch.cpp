#include "shared/RunWatch.h"

#include "platform/Files.h"
#include "platform/Process.h"

#include <algorithm>
#include <utility>

namespace tarvok {

namespace {

// The ended run: its end moment on our clock, never before its start (a clock set back).
TRunRecord EndedRun(TRunRecord run, const platform::TProcessEnd& end, TDateTime now) {
    run.Ended = std::max(run.Started, now - static_cast<double>(end.MsAgo) / MsPerDay);
    run.End = end.Signalled ? TRunEnd::Signalled : TRunEnd::Exited;
    run.Code = end.Code;
    return run;
}

} // namespace

void TRunWatch::Note(const TTaskDef& task, std::uint32_t processId, TRunOrigin origin) {
    TRunRecord run;
    run.Started = clock_.Now();
    run.TaskId = task.Id;
    run.TaskName = task.Name;
    run.ProcessId = processId;
    run.Origin = origin;
    if (processId == 0) {
        run.Ended = run.Started;
        run.End = TRunEnd::NotStarted;
        ended_.push_back(std::move(run));
    } else {
        following_.push_back(std::move(run));
    }
}

std::vector<TRunRecord> TRunWatch::TakeEnded(TProcessControl& processes) {
    std::vector<TRunRecord> ended = std::move(ended_);
    ended_.clear();
    if (following_.empty()) {
        return ended;
    }
    const TDateTime now = clock_.Now();
    // Oldest first: of two runs an id came round to, the older one takes the older end.
    std::erase_if(following_, [&](const TRunRecord& run) {
        const auto end = processes.TakeEnd(run.ProcessId);
        if (!end) {
            return false;
        }
        if (end->Known) {
            ended.push_back(EndedRun(run, *end, now));
        }
        return true;
    });
    return ended;
}

std::string SignalNameOf(std::int32_t failureCode) {
    return failureCode < 0 ? platform::SignalName(-failureCode) : std::string();
}

std::string FailureText(std::int32_t failureCode) {
    return FailureCodeText(failureCode, SignalNameOf(failureCode));
}

std::string FailureNoticeText(const std::string& taskName, std::int32_t failureCode) {
    return taskName + " failed (" + FailureText(failureCode) + ")";
}

bool EndedBadly(const TRunRecord& run) {
    return run.End != TRunEnd::NotStarted && RunFailed(run);
}

TRunRecorder::TRunRecorder(TRunLedger& ledger, TSysLogger& log, TFailed onFailed)
    : ledger_(ledger), log_(log), onFailed_(std::move(onFailed)) {}

void TRunRecorder::Record(std::span<const TRunRecord> runs) {
    if (runs.empty()) {
        return;
    }
    try {
        ledger_.Append(runs);
        writeFailed_ = false;
    } catch (const platform::TIoError& error) {
        if (!std::exchange(writeFailed_, true)) {
            log_.AddFmt("The run history could not be written: %s", error.what());
        }
    }
    for (const TRunRecord& run : runs) {
        if (!EndedBadly(run)) {
            continue;
        }
        log_.Add(RunFailureLogText(run, SignalNameOf(FailureCode(run))));
        if (onFailed_) {
            onFailed_(run);
        }
    }
}

} // namespace tarvok
