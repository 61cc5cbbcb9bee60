// How the manager shows recorded runs, and where it finds a run's output.
//
//   RunResultText(run);    // "ok", "exit code 2", "signal SIGKILL", "not started"
//   RunDurationText(run);  // "4.1 s", "2 min 05 s", "1 h 02 min"; "" for a run that never started
//   LastRunsOf(ReadRunHistory(path), 3, 5);   // task 3's five newest runs, newest first
#pragma once

#include "platform/Journal.h"
#include "shared/RunLedger.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvok {

std::string RunResultText(const TRunRecord& run);
std::string RunDurationText(const TRunRecord& run);
// "schedule", "user", "user, through the service".
std::string RunOriginText(TRunOrigin origin);
// "Backup [3]", by the name the run was recorded with.
std::string RunTaskText(const TRunRecord& run);

// The task's newest runs, newest first, of runs kept oldest first; all tasks' for taskId 0.
std::vector<TRunRecord> LastRunsOf(std::span<const TRunRecord> runs, std::int32_t taskId,
                                   std::size_t count);

// The journal lines the run's output left: its task's tag from the run's start (to its whole
// second) to two seconds past its end's whole second, since the journal stamps a line when it
// receives it, a little after the task wrote it. Local date-times, as the run was recorded and
// as journalctl reads them, so no conversion to another zone can go wrong. Runs of the same
// task that overlap show each other's lines too: the tag is per task, not per run.
platform::TJournalQuery RunOutputQuery(const TRunRecord& run);

// The run's output as the journal gives it to this user; the reason when it cannot.
platform::TJournalText ReadRunOutput(const TRunRecord& run);

// What a task's properties show of its runs.
struct TRecentRuns {
    std::vector<TRunRecord> Runs{}; // newest first
    std::string Problem{};          // why the history could not be read; empty when it was
};
TRecentRuns RecentRunsOf(const std::string& runsPath, std::int32_t taskId);

inline constexpr std::size_t RecentRunsShown = 5;

} // namespace tarvok
