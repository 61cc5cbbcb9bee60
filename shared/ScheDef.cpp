#include "shared/ScheDef.h"

#include "shared/DueRules.h"
#include "shared/RecordBytes.h"

#include <algorithm>
#include <cstdio>

namespace tarvok {

namespace {

// Offsets of the stored form.
enum : std::size_t {
    OffFrequency = 0,
    OffTrigger = 1,
    OffDailyEvery = 4,
    OffWeeklyEvery = 8,
    OffWeekDays = 12,
    OffByWeekDay = 13,
    OffMonthDay = 16,
    OffMonthlyEvery = 20,
    OffOccurrence = 24,
    OffOccWeekDay = 25,
    OffOccMonthlyEvery = 28,
    OffOnceAt = 32,
    OffEveryCount = 40,
    OffEveryUnit = 44,
    OffBetweenStart = 48,
    OffBetweenEnd = 56,
    OffNoEnd = 64,
    OffStartDate = 68,
    OffEndDate = 76,
};

} // namespace

void EncodeScheDef(const TScheDef& s, std::span<std::uint8_t, ScheDefSize> out) {
    using namespace record;
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    Put(out, OffFrequency, static_cast<std::uint8_t>(s.Frequency));
    Put(out, OffTrigger, static_cast<std::uint8_t>(s.Trigger));
    Put(out, OffDailyEvery, s.DailyEvery);
    Put(out, OffWeeklyEvery, s.WeeklyEvery);
    Put(out, OffWeekDays, s.WeekDays);
    PutBool(out, OffByWeekDay, s.ByWeekDay);
    Put(out, OffMonthDay, s.MonthDay);
    Put(out, OffMonthlyEvery, s.MonthlyEvery);
    Put(out, OffOccurrence, s.Occurrence);
    Put(out, OffOccWeekDay, s.OccWeekDay);
    Put(out, OffOccMonthlyEvery, s.OccMonthlyEvery);
    Put(out, OffOnceAt, s.OnceAt);
    Put(out, OffEveryCount, s.EveryCount);
    Put(out, OffEveryUnit, static_cast<std::uint8_t>(s.EveryUnit));
    Put(out, OffBetweenStart, s.BetweenStart);
    Put(out, OffBetweenEnd, s.BetweenEnd);
    PutBool(out, OffNoEnd, s.NoEnd);
    Put(out, OffStartDate, s.StartDate);
    Put(out, OffEndDate, s.EndDate);
}

TScheDef DecodeScheDef(std::span<const std::uint8_t, ScheDefSize> in) {
    using namespace record;
    TScheDef s;
    s.Frequency = static_cast<TFrequency>(Get<std::uint8_t>(in, OffFrequency));
    s.Trigger = static_cast<TTrigger>(Get<std::uint8_t>(in, OffTrigger));
    s.DailyEvery = Get<std::int32_t>(in, OffDailyEvery);
    s.WeeklyEvery = Get<std::int32_t>(in, OffWeeklyEvery);
    s.WeekDays = Get<std::uint8_t>(in, OffWeekDays);
    s.ByWeekDay = GetBool(in, OffByWeekDay);
    s.MonthDay = Get<std::int32_t>(in, OffMonthDay);
    s.MonthlyEvery = Get<std::int32_t>(in, OffMonthlyEvery);
    s.Occurrence = Get<std::uint8_t>(in, OffOccurrence);
    s.OccWeekDay = Get<std::uint8_t>(in, OffOccWeekDay);
    s.OccMonthlyEvery = Get<std::int32_t>(in, OffOccMonthlyEvery);
    s.OnceAt = Get<double>(in, OffOnceAt);
    s.EveryCount = Get<std::int32_t>(in, OffEveryCount);
    s.EveryUnit = static_cast<TEveryUnit>(Get<std::uint8_t>(in, OffEveryUnit));
    s.BetweenStart = Get<double>(in, OffBetweenStart);
    s.BetweenEnd = Get<double>(in, OffBetweenEnd);
    s.NoEnd = GetBool(in, OffNoEnd);
    s.StartDate = Get<double>(in, OffStartDate);
    s.EndDate = Get<double>(in, OffEndDate);
    return s;
}

bool IsDue(const TScheDef& s, TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    if (!parts || parts->Second != 0) {
        return false;
    }
    if (!InDateRange(s, EncodeDate(parts->Year, parts->Month, parts->Day))) {
        return false;
    }
    const auto facts = DayFactsAt(s, moment, *parts);
    return facts && FrequencyMatches(s, *facts) && TriggerMatches(s, *parts);
}

bool IsDefined(const TScheDef& s) {
    TScheDefBytes bytes{};
    EncodeScheDef(s, bytes);
    return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
}

namespace {

constexpr std::array<const char*, 7> WeekDayNames = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                     "Friday", "Saturday", "Sunday"};
constexpr std::array<const char*, 5> OrdinalNames = {"first", "second", "third", "fourth", "last"};

// A word from a fixed table; codes no editor writes read as "?" rather than out of bounds.
template <std::size_t N>
const char* Word(const std::array<const char*, N>& table, std::uint8_t index) {
    return index < N ? table[index] : "?";
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string WeekDayList(std::uint8_t weekDays) {
    std::string days;
    for (std::uint8_t day = 0; day < WeekDayNames.size(); ++day) {
        if (weekDays & (1u << day)) {
            days += std::string(WeekDayNames[day]) + ", ";
        }
    }
    if (days.empty()) {
        return "on no day. "; // never stored by the editor; say so rather than mangle the line
    }
    days[days.size() - 2] = '.'; // the last ", " becomes ". "
    return "on " + days;
}

std::string FrequencyLine(const TScheDef& s) {
    std::string line = "The task runs ";
    switch (s.Frequency) {
    case TFrequency::Daily:
        line += s.DailyEvery == 1 ? "every day." : Format("every %d day(s).", s.DailyEvery);
        break;
    case TFrequency::Weekly:
        line += s.WeeklyEvery == 1 ? "every week " : Format("every %d week(s) ", s.WeeklyEvery);
        line += WeekDayList(s.WeekDays);
        break;
    case TFrequency::Monthly:
        if (s.ByWeekDay) {
            line += Format("on the %s %s of every %d month(s).", Word(OrdinalNames, s.Occurrence),
                           Word(WeekDayNames, s.OccWeekDay), s.OccMonthlyEvery);
        } else if (s.MonthlyEvery == 1) {
            line += Format("day %d of every month.", s.MonthDay);
        } else {
            line += Format("day %d of every %d month(s).", s.MonthDay, s.MonthlyEvery);
        }
        break;
    }
    return line;
}

std::string TriggerLine(const TScheDef& s, std::string_view timeFormat) {
    switch (s.Trigger) {
    case TTrigger::Once:
        return Format("The event will be triggered once at %s.",
                      FormatTimeOfDay(timeFormat, s.OnceAt).c_str());
    case TTrigger::Periodic:
        // The due test treats every unit but hours as minutes; the text agrees with it.
        return Format("The event will be triggered every %d %s between %s and %s.", s.EveryCount,
                      s.EveryUnit == TEveryUnit::Hours ? "hour(s)" : "minute(s)",
                      FormatTimeOfDay(timeFormat, s.BetweenStart).c_str(),
                      FormatTimeOfDay(timeFormat, s.BetweenEnd).c_str());
    }
    return {};
}

std::string DateText(TDateTime day) {
    return DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', day, " ", false);
}

bool SameWholeDay(TDateTime a, TDateTime b) {
    const auto first = DecodeDateTime(a);
    const auto second = DecodeDateTime(b);
    return first && second && first->Year == second->Year && first->Month == second->Month &&
           first->Day == second->Day;
}

std::string DurationLine(const TScheDef& s) {
    std::string line = "This task starts on " + DateText(s.StartDate) + " and ";
    if (s.NoEnd) {
        line += "never ends.";
    } else if (SameWholeDay(s.StartDate, s.EndDate)) {
        line += " runs for this day only.";
    } else {
        line += "ends on " + DateText(s.EndDate) + ".";
    }
    return line;
}

} // namespace

void DescribeSchedule(const TScheDef& s, std::vector<std::string>& lines,
                      std::string_view longTimeFormat) {
    lines.clear();
    if (!IsDefined(s)) {
        lines = {"No frequency yet defined!", "No trigger yet defined!",
                 "No duration yet defined!"};
        return;
    }
    lines.push_back(FrequencyLine(s));
    lines.push_back(TriggerLine(s, longTimeFormat));
    lines.push_back(DurationLine(s));
}

} // namespace tarvok
