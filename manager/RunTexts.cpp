#include "manager/RunTexts.h"

#include "platform/Files.h"
#include "shared/RunWatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvok {

namespace {

constexpr double SecondsPerDay = 86'400.0;
// Whole seconds of the journal's clock after a run's end within which its last lines still land.
constexpr int OutputLagSeconds = 2;

std::string LocalText(TDateTime moment, int addSeconds) {
    const TDateTime whole =
        std::floor(moment * SecondsPerDay + 1e-6) / SecondsPerDay + addSeconds / SecondsPerDay;
    const auto parts = DecodeDateTime(whole + 0.5e-3 / SecondsPerDay);
    if (!parts) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts->Year, parts->Month,
                  parts->Day, parts->Hour, parts->Minute, parts->Second);
    return text;
}

} // namespace

std::string RunResultText(const TRunRecord& run) {
    if (run.End == TRunEnd::NotStarted) {
        return "not started";
    }
    if (!RunFailed(run)) {
        return "ok";
    }
    return FailureText(FailureCode(run));
}

std::string RunDurationText(const TRunRecord& run) {
    if (run.End == TRunEnd::NotStarted) {
        return {};
    }
    // A clock set back while it ran makes no negative duration.
    const double seconds = std::max(0.0, (run.Ended - run.Started) * SecondsPerDay);
    char text[32];
    if (seconds < 59.95) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 3600) {
        const auto whole = static_cast<long>(std::lround(seconds));
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    } else {
        const auto minutes = static_cast<long>(std::lround(seconds / 60));
        std::snprintf(text, sizeof text, "%ld h %02ld min", minutes / 60, minutes % 60);
    }
    return text;
}

std::string RunOriginText(TRunOrigin origin) {
    switch (origin) {
    case TRunOrigin::User:
        return "user";
    case TRunOrigin::Request:
        return "user, through the service";
    case TRunOrigin::Minute:
        break;
    }
    return "schedule";
}

std::string RunTaskText(const TRunRecord& run) {
    return run.TaskName + " [" + std::to_string(run.TaskId) + "]";
}

std::vector<TRunRecord> LastRunsOf(std::span<const TRunRecord> runs, std::int32_t taskId,
                                   std::size_t count) {
    std::vector<TRunRecord> last;
    for (auto run = runs.rbegin(); run != runs.rend() && last.size() < count; ++run) {
        if (taskId == 0 || run->TaskId == taskId) {
            last.push_back(*run);
        }
    }
    return last;
}

platform::TJournalQuery RunOutputQuery(const TRunRecord& run) {
    return {.Tag = RunOutputTag(run.TaskId),
            .Since = LocalText(run.Started, 0),
            .Until = LocalText(run.Ended, OutputLagSeconds)};
}

platform::TJournalText ReadRunOutput(const TRunRecord& run) {
    if (run.End == TRunEnd::NotStarted) {
        return {.Reason = "the task did not start"};
    }
    return platform::ReadJournal(RunOutputQuery(run));
}

TRecentRuns RecentRunsOf(const std::string& runsPath, std::int32_t taskId) {
    try {
        return {.Runs = LastRunsOf(ReadRunHistory(runsPath), taskId, RecentRunsShown)};
    } catch (const platform::TIoError& error) {
        return {.Problem = error.what()};
    }
}

} // namespace tarvok
