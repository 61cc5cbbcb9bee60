// The rules a task must keep to be saved, as the task and schedule editors hold the user to them
// and tarvokctl holds its options and imported records to them: a name and a command, a command
// that can be started and a working directory that exists, counts within the editors' ranges,
// at least one day for a weekly schedule, and times and dates in order.
//
// A rule that is broken is told by the field it concerns, so each caller names it in its own
// words (a box, "--every", "schedule.repeat.every"), with the text of what the field must be.
//
//   if (const auto breach = TaskBreach(task, SystemPathView()))
//       std::cerr << OptionOf(breach->Field) << " " << breach->Text << "\n";
#pragma once

#include "shared/PathView.h"
#include "shared/TaskDef.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok {

// The range of every count the schedule editor takes ("every N days", "of every N months",
// "every N hours") and of the day of the month.
inline constexpr std::int32_t CountLowest = 1;
inline constexpr std::int32_t CountHighest = 999;
inline constexpr std::int32_t MonthDayHighest = 31;

// The editor's text when a weekly schedule has no day.
inline constexpr const char* NoWeekDayText = "You must specify at least one week day!";

// True when the UTF-8 text holds more than blanks (white space of any script) and control
// characters: what the task editor asks of a name and a command before it lets the user confirm.
bool HasText(std::string_view text);

// A weekly schedule's days (bit 0 Monday .. bit 6 Sunday) name at least one day.
bool HasWeekDay(std::uint8_t weekDays);

enum class TTaskField {
    Name,
    Command,
    Parameters,
    WorkDir,
    Priority,
    Frequency,
    DailyEvery,
    WeeklyEvery,
    WeekDays,
    MonthDay,
    MonthlyEvery,
    Occurrence,
    OccWeekDay,
    OccMonthlyEvery,
    Trigger,
    OnceAt,
    EveryCount,
    EveryUnit,
    BetweenStart,
    BetweenEnd,
    StartDate,
    EndDate,
};

struct TRuleBreach {
    TTaskField Field;
    std::string Text; // what the field must be, e.g. "must be a whole number from 1 to 999"

    friend bool operator==(const TRuleBreach&, const TRuleBreach&) = default;
};

// The first rule the schedule breaks, looking only at the fields its form uses; a schedule that
// is not defined at all breaks none (the task then never runs).
std::optional<TRuleBreach> ScheduleBreach(const TScheDef& schedule);

// The first rule the task breaks: its texts (filled in where they must be, and whole: at most
// TaskTextMax bytes, since a longer one would be cut), its command and working directory, its
// priority and its schedule.
// The command and the working directory are looked at through the paths' view, network forms
// where their shares are mounted.
std::optional<TRuleBreach> TaskBreach(const TTaskDef& task, const TPathView& paths);

} // namespace tarvok
