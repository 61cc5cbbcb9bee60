// Which minutes a scheduler tests: the one rule the service and the manager both follow.
//
// A scheduler remembers the minute it waits for, NextDue, always a whole minute. The first pass
// at or after NextDue tests every enabled task against that pass's own reading, seconds
// included; IsDue holds only in a minute's first second, so the minute's tasks start only if
// the pass still falls in it. NextDue then becomes the minute after the pass. Nothing ever
// catches up on a minute that was missed. So:
//   - the minute a scheduler starts (or takes over) in is never tested;
//   - set forward, the minutes the clock jumps over are skipped, and the minute it lands in runs
//     only if the first pass after the jump is in that minute's first second;
//   - set back, nothing is tested until the clock reaches NextDue again: the minutes that come
//     round a second time are skipped that time, and none runs twice;
//   - daylight saving moves local time in the same two ways.
//
//   TMinuteRule rule(clock.Now());
//   // every pass:
//   rule.Pass(clock.Now(), tasks, table, log, [&](const TTaskDef& task) { RunTask(task); });
#pragma once

#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"
#include "shared/Time.h"

#include <cstdint>
#include <functional>

namespace tarvok {

class TMinuteRule {
public:
    // Waits for the whole minute after `start`.
    explicit TMinuteRule(TDateTime start) { Restart(start); }

    TDateTime NextDue() const { return nextDue_; }
    // Waits anew as if started at `now`.
    void Restart(TDateTime now) { nextDue_ = StartOfNextMinute(now); }

    // The minute test of the pass at `now`, once NextDue is reached: "No task to run." when the
    // table has no entry, otherwise each enabled task of the list, in list order, that is due at
    // `now` goes to runTask. NextDue moves on before the first task runs. False, with nothing
    // done, for a pass before NextDue.
    bool Pass(TDateTime now, const TTaskList& tasks, const TProcessTable& table, TSysLogger& log,
              const std::function<void(const TTaskDef&)>& runTask);

private:
    TDateTime nextDue_ = 0;
};

// Milliseconds from `now` to the next point of a grid of gridMs laid over the wall clock's time
// of day from midnight; a whole gridMs when `now` is on a point. A loop that waits this long
// after reading the clock passes on the grid, however long its passes take and however its
// timer drifts against the wall clock.
//   MsToNextGridPoint(10:16:59.999, 1000) == 1
//   MsToNextGridPoint(10:17:00.000, 1000) == 1000
std::int64_t MsToNextGridPoint(TDateTime now, std::int64_t gridMs);

} // namespace tarvok
