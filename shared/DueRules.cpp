#include "shared/DueRules.h"

namespace tarvok {

namespace {

// Week day 0 Monday .. 6 Sunday from the platform's 1 Sunday .. 7 Saturday.
int MondayBasedWeekDay(int dayOfWeek) {
    return dayOfWeek == 1 ? 6 : dayOfWeek - 2;
}

} // namespace

bool Divides(std::int32_t count, std::int32_t value) {
    return count >= 1 && value % count == 0;
}

bool InDateRange(const TScheDef& s, double day) {
    return day >= s.StartDate && (s.NoEnd || day <= s.EndDate);
}

std::optional<TDayFacts> DayFactsAt(const TScheDef& s, TDateTime moment,
                                    const TDateTimeParts& parts) {
    const TDayFacts facts{parts, DateDiff(TDateUnit::Months, s.StartDate, moment),
                          DateDiff(TDateUnit::Weeks, s.StartDate, moment),
                          DateDiff(TDateUnit::Days, s.StartDate, moment)};
    if (facts.Months < 0 || facts.Weeks < 0 || facts.Days < 0) {
        return std::nullopt; // a start date outside the calendar
    }
    return facts;
}

std::optional<TCycle> FrequencyCycle(const TScheDef& s) {
    switch (s.Frequency) {
    case TFrequency::Daily:
        return TCycle{TDateUnit::Days, s.DailyEvery};
    case TFrequency::Weekly:
        return TCycle{TDateUnit::Weeks, s.WeeklyEvery};
    case TFrequency::Monthly:
        return TCycle{TDateUnit::Months, s.ByWeekDay ? s.OccMonthlyEvery : s.MonthlyEvery};
    }
    return std::nullopt; // an unknown form sets no condition on the day
}

std::int32_t CycleNumber(const TDayFacts& facts, TDateUnit unit) {
    switch (unit) {
    case TDateUnit::Months:
        return facts.Months;
    case TDateUnit::Weeks:
        return facts.Weeks;
    default:
        return facts.Days;
    }
}

bool DayOfCycleMatches(const TScheDef& s, const TDateTimeParts& day) {
    const int weekDay = MondayBasedWeekDay(day.DayOfWeek);
    switch (s.Frequency) {
    case TFrequency::Daily:
        return true;
    case TFrequency::Weekly:
        return (s.WeekDays & (1u << weekDay)) != 0;
    case TFrequency::Monthly:
        if (!s.ByWeekDay) {
            return day.Day == s.MonthDay;
        } else {
            const bool lastWeek = day.Day + 7 > DaysInMonth(day.Year, day.Month);
            const bool occurs =
                s.Occurrence == OccurrenceLast ? lastWeek : (day.Day - 1) / 7 == s.Occurrence;
            return weekDay == s.OccWeekDay && occurs;
        }
    }
    return true;
}

bool FrequencyMatches(const TScheDef& s, const TDayFacts& facts) {
    const auto cycle = FrequencyCycle(s);
    return (!cycle || Divides(cycle->Every, CycleNumber(facts, cycle->Unit))) &&
           DayOfCycleMatches(s, facts.Parts);
}

bool TriggerMatches(const TScheDef& s, const TDateTimeParts& at) {
    switch (s.Trigger) {
    case TTrigger::Once: {
        const auto once = TimeOfDayMs(s.OnceAt);
        if (!once) {
            return false;
        }
        const std::int64_t minuteOfDay = *once % MsPerDay / 60'000;
        return minuteOfDay == at.Hour * 60 + at.Minute;
    }
    case TTrigger::Periodic: {
        const auto from = TimeOfDayMs(s.BetweenStart);
        const auto to = TimeOfDayMs(s.BetweenEnd);
        const std::int64_t now =
            ((at.Hour * 60LL + at.Minute) * 60 + at.Second) * 1000 + at.Millisecond;
        if (!from || !to || now < *from || now > *to) {
            return false;
        }
        if (s.EveryUnit == TEveryUnit::Hours) {
            return at.Minute == 0 && Divides(s.EveryCount, at.Hour);
        }
        return Divides(s.EveryCount, at.Minute);
    }
    }
    return true; // an unknown trigger fires at every minute of a due day
}

} // namespace tarvok
