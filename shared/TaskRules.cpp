#include "shared/TaskRules.h"

#include "shared/ProcPrio.h"

#include <utility>

namespace tarvok {

namespace {

using TBreach = std::optional<TRuleBreach>;

// The code point that starts at text[at], and how many bytes it takes; a byte that starts no
// valid sequence stands for itself (and is no blank).
std::pair<char32_t, std::size_t> CodePoint(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char first = byte(0);
    const std::size_t length = first < 0x80           ? 1
                               : (first >> 5) == 0x6  ? 2
                               : (first >> 4) == 0xE  ? 3
                               : (first >> 3) == 0x1E ? 4
                                                      : 0;
    if (length == 0 || at + length > text.size()) {
        return {0xFFFD, 1};
    }
    char32_t point = length == 1 ? first : first & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return {0xFFFD, 1};
        }
        point = (point << 6) | (byte(i) & 0x3F);
    }
    return {point, length};
}

// Control characters and the white space of every script, as the task editor's toolkit counts
// them.
bool Blank(char32_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
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
        if (!HasWeekDay(s.WeekDays) || (s.WeekDays & 0x80) != 0) {
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
    for (std::size_t at = 0; at < text.size();) {
        const auto [point, length] = CodePoint(text, at);
        if (!Blank(point)) {
            return true;
        }
        at += length;
    }
    return false;
}

bool HasWeekDay(std::uint8_t weekDays) {
    return (weekDays & 0x7F) != 0;
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

std::optional<TRuleBreach> TaskBreach(const TTaskDef& task, const TPathView& paths) {
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
    if (!task.WorkDir.empty() && !paths.DirectoryExists(task.WorkDir)) {
        return TRuleBreach{TTaskField::WorkDir, "must be an existing directory"};
    }
    if (PriorityName(task.Priority).empty()) {
        return TRuleBreach{TTaskField::Priority, "must be High, Realtime, Normal or Low"};
    }
    return ScheduleBreach(task.Schedule);
}

} // namespace tarvok
