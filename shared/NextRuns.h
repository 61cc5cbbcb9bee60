// When a schedule is next due: the whole minutes after a moment at which IsDue answers true, as a
// preview for people (the schedule editor, the task properties, tarvokctl show).
//
// The search decides the day first (date range, the frequency's cycle, the day within it) and only
// then the minutes the trigger allows, so a year of daily runs costs a few hundred day tests, not
// half a million minute tests. It looks no further than NextRunsHorizonYears ahead and says so
// when fewer starts than asked come before then.
//
//   const TNextRuns runs = NextRuns(task.Schedule, clock.Now(), 5);
//   for (const std::string& line : NextRunLines(runs, "%H:%M:%S")) ...
//       // "Mon 07-Dec-2026 08:30:00" ... or "No further start within 10 years."
#pragma once

#include "shared/TaskDef.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// Far enough for the sparse schedules people keep (every 999 days, a 29 February every 12
// months), short enough that a schedule that never comes is answered in well under a millisecond.
inline constexpr int NextRunsHorizonYears = 10;

// Why fewer starts than asked came.
enum class TNextRunsEnd : std::uint8_t {
    Complete,    // as many as asked
    Horizon,     // no (further) start within the horizon
    ScheduleEnd, // the schedule's end date comes first
    NoSchedule,  // no schedule defined
    Disabled,    // the task is disabled (NextRunsOfTask only)
};

struct TNextRuns {
    std::vector<TDateTime> Moments; // ascending whole minutes, second 0
    TNextRunsEnd End = TNextRunsEnd::Complete;
};

// The first `count` whole minutes strictly after `after` at which IsDue(schedule, minute) holds,
// within NextRunsHorizonYears of after's day (the same date that many years on, inclusive). The
// search begins on 30 December 1899 at the earliest: the calendar before it is not searched.
TNextRuns NextRuns(const TScheDef& schedule, TDateTime after, int count);

// As NextRuns, but a disabled task never starts.
TNextRuns NextRunsOfTask(const TTaskDef& task, TDateTime after, int count);

// One line per start, "Mon 07-Dec-2026 08:30:00" (the time in the given strftime-style long
// time format), then one line saying why there are not more when fewer than asked came.
std::vector<std::string> NextRunLines(const TNextRuns& runs, std::string_view longTimeFormat);

// A start as "2026-12-07T08:30", for JSON.
std::string NextRunIsoText(TDateTime moment);

// The end's name in JSON: "horizon", "schedule_end", "no_schedule", "disabled"; empty for
// Complete.
std::string NextRunsEndName(TNextRunsEnd end);

} // namespace tarvok
