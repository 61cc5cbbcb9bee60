#include "shared/TaskRules.h"

#include "shared/ProcPrio.h"

namespace tarvok {

namespace {

using TBreach = std::optional<TRuleBreach>;

bool Blank(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

TBreach Count(TTaskField field, std::int32_t value, std::int32_t highest = CountHighest) {
    if (value >= CountLowest && value <= highest) {
        return std::nullopt;
    }
    return TRuleBreach{field, "must be a whole number from " + std::to_string(CountLowest) +
                                  " to " + std::to_string(highest)};
}

// The editors set times to whole minutes of one day.
bool WholeMinuteOfADay(TDateTime time) {
    const std::optional<std::int64_t> ms = TimeOfDayMs(time);
    return time >= 0 && time < 1 && ms && *ms % 60'000 == 0;
}

TBreach Time(TTaskField field, TDateTime time) {
    if (WholeMinuteOfADay(time)) {
        return std::nullopt;
    }
    return TRuleBreach{field, "must be a time of day in whole minutes, 00:00 to 23:59"};
}

// A whole day the calendar knows.
bool Day(TDateTime date) {
    const auto parts = DecodeDateTime(date);
    return parts && parts->Hour == 0 && parts->Minute == 0 && parts->Second == 0 &&
           parts->Millisecond == 0;
}

TBreach FrequencyBreach(const TScheDef& s) {
    switch (s.Frequency) {
    case TFrequency::Daily:
        return Count(TTaskField::DailyEvery, s.DailyEvery);
    case TFrequency::Weekly:
        if (auto breach = Count(TTaskField::WeeklyEvery, s.WeeklyEvery)) {
            return breach;
        }
        if ((s.WeekDays & 0x7F) == 0 || (s.WeekDays & 0x80) != 0) {
            return TRuleBreach{TTaskField::WeekDays, "must name at least one week day"};
        }
        return std::nullopt;
    case TFrequency::Monthly:
        if (!s.ByWeekDay) {
            if (auto breach = Count(TTaskField::MonthDay, s.MonthDay, MonthDayHighest)) {
                return breach;
            }
            return Count(TTaskField::MonthlyEvery, s.MonthlyEvery);
        }
        if (s.Occurrence > OccurrenceLast) {
            return TRuleBreach{TTaskField::Occurrence,
                               "must be the first, second, third, fourth or last"};
        }
        if (s.OccWeekDay > 6) {
            return TRuleBreach{TTaskField::OccWeekDay, "must be a day of the week"};
        }
        return Count(TTaskField::OccMonthlyEvery, s.OccMonthlyEvery);
    }
    return TRuleBreach{TTaskField::Frequency, "must be daily, weekly or monthly"};
}

TBreach TriggerBreach(const TScheDef& s) {
    switch (s.Trigger) {
    case TTrigger::Once:
        return Time(TTaskField::OnceAt, s.OnceAt);
    case TTrigger::Periodic:
        if (auto breach = Count(TTaskField::EveryCount, s.EveryCount)) {
            return breach;
        }
        if (s.EveryUnit != TEveryUnit::Hours && s.EveryUnit != TEveryUnit::Minutes) {
            return TRuleBreach{TTaskField::EveryUnit, "must be hours or minutes"};
        }
        if (auto breach = Time(TTaskField::BetweenStart, s.BetweenStart)) {
            return breach;
        }
        if (auto breach = Time(TTaskField::BetweenEnd, s.BetweenEnd)) {
            return breach;
        }
        if (s.BetweenStart > s.BetweenEnd) {
            return TRuleBreach{TTaskField::BetweenEnd, "cannot be before the starting time"};
        }
        return std::nullopt;
    }
    return TRuleBreach{TTaskField::Trigger, "must be once or periodic"};
}

TBreach DurationBreach(const TScheDef& s) {
    if (!Day(s.StartDate)) {
        return TRuleBreach{TTaskField::StartDate, "must be a date"};
    }
    if (s.NoEnd) {
        return std::nullopt;
    }
    if (!Day(s.EndDate)) {
        return TRuleBreach{TTaskField::EndDate, "must be a date"};
    }
    if (s.EndDate < s.StartDate) {
        return TRuleBreach{TTaskField::EndDate, "cannot be before the starting date"};
    }
    return std::nullopt;
}

TBreach TextBreach(TTaskField field, const std::string& text, bool needed) {
    if (needed && !HasText(text)) {
        return TRuleBreach{field, "must be filled in"};
    }
    if (text.size() > TaskTextMax) {
        return TRuleBreach{field, "holds at most " + std::to_string(TaskTextMax) +
                                      " bytes; this one has " + std::to_string(text.size())};
    }
    return std::nullopt;
}

} // namespace

bool HasText(std::string_view text) {
    for (char c : text) {
        if (!Blank(c)) {
            return true;
        }
    }
    return false;
}

std::optional<TRuleBreach> ScheduleBreach(const TScheDef& schedule) {
    if (!IsDefined(schedule)) {
        return std::nullopt;
    }
    if (auto breach = FrequencyBreach(schedule)) {
        return breach;
    }
    if (auto breach = TriggerBreach(schedule)) {
        return breach;
    }
    return DurationBreach(schedule);
}

std::optional<TRuleBreach> TaskBreach(const TTaskDef& task, const TPathChecks& paths) {
    if (auto breach = TextBreach(TTaskField::Name, task.Name, true)) {
        return breach;
    }
    if (auto breach = TextBreach(TTaskField::Command, task.Command, true)) {
        return breach;
    }
    if (!paths.IsExecutableFile(task.Command)) {
        return TRuleBreach{TTaskField::Command, "must be a program file you may run"};
    }
    if (auto breach = TextBreach(TTaskField::Parameters, task.Parameters, false)) {
        return breach;
    }
    if (auto breach = TextBreach(TTaskField::WorkDir, task.WorkDir, false)) {
        return breach;
    }
    if (!task.WorkDir.empty() && !paths.IsDirectory(task.WorkDir)) {
        return TRuleBreach{TTaskField::WorkDir, "must be an existing directory"};
    }
    if (PriorityName(task.Priority).empty()) {
        return TRuleBreach{TTaskField::Priority, "must be High, Realtime, Normal or Low"};
    }
    return ScheduleBreach(task.Schedule);
}

} // namespace tarvok
