#include "shared/MinuteRule.h"

#include "shared/ScheDef.h"

namespace tarvok {

bool TMinuteRule::Pass(TDateTime now, const TTaskList& tasks, const TProcessTable& table,
                       TSysLogger& log, const std::function<void(const TTaskDef&)>& runTask) {
    if (now < nextDue_) {
        return false;
    }
    // Moved first: whatever a run does meanwhile, this minute is never tested twice.
    Restart(now);
    if (table.Empty()) {
        log.Add("No task to run.");
        return true;
    }
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        const TTaskDef task = tasks.GetTask(i);
        if (task.Enabled && IsDue(task.Schedule, now)) {
            runTask(task);
        }
    }
    return true;
}

std::int64_t MsToNextGridPoint(TDateTime now, std::int64_t gridMs) {
    const std::int64_t intoGrid = TimeOfDayMs(now).value_or(0) % gridMs;
    return gridMs - intoGrid;
}

} // namespace tarvok
