#include "shared/ScheDef.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace tarvok {
namespace {

double At(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, mi, s, ms);
}

// A schedule that fires at every minute of every day from the start on.
TScheDef EveryMinuteFrom(double start) {
    TScheDef s;
    s.Frequency = TFrequency::Daily;
    s.DailyEvery = 1;
    s.Trigger = TTrigger::Periodic;
    s.EveryUnit = TEveryUnit::Minutes;
    s.EveryCount = 1;
    s.BetweenStart = 0;
    s.BetweenEnd = EncodeTime(23, 59);
    s.NoEnd = true;
    s.StartDate = start;
    return s;
}

TScheDef OnceAt(TScheDef s, int h, int mi) {
    s.Trigger = TTrigger::Once;
    s.OnceAt = EncodeTime(h, mi);
    return s;
}

struct Case {
    const char* what;
    double moment;
    bool due;
};

void ExpectCases(const TScheDef& s, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(IsDue(s, c.moment), c.due)
            << c.what << " ("
            << DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', c.moment, " ", true) << ")";
    }
}

TEST(IsDue, OnlyTheFirstSecondOfAMinute) {
    const TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 3, 1)), 10, 0);
    ExpectCases(s, {{"second 0", At(2001, 3, 5, 10, 0), true},
                    {"400 ms into it", At(2001, 3, 5, 10, 0, 0, 400), true},
                    {"second 1", At(2001, 3, 5, 10, 0, 1), false},
                    {"other minute", At(2001, 3, 5, 10, 1), false},
                    {"once at 23:59 only", At(2001, 3, 5, 23, 59), false}});
    ExpectCases(OnceAt(s, 23, 59), {{"23:59", At(2001, 3, 5, 23, 59), true},
                                    {"23:58", At(2001, 3, 5, 23, 58), false},
                                    {"00:00", At(2001, 3, 6, 0, 0), false}});
    TScheDef nearMidnight = s;
    nearMidnight.OnceAt = 1 - 0.4 / MsPerDay; // rounds to the next midnight
    ExpectCases(nearMidnight,
                {{"once at 0.4 ms before midnight is at 00:00", At(2001, 3, 6, 0, 0), true},
                 {"not at 23:59", At(2001, 3, 5, 23, 59), false}});
}

TEST(IsDue, DateRange) {
    TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 3, 10)), 12, 0);
    s.NoEnd = false;
    s.EndDate = EncodeDate(2001, 3, 12);
    ExpectCases(s, {{"before start", At(2001, 3, 9, 12, 0), false},
                    {"start day", At(2001, 3, 10, 12, 0), true},
                    {"end day", At(2001, 3, 12, 12, 0), true},
                    {"after end", At(2001, 3, 13, 12, 0), false}});

    s.NoEnd = true;
    s.EndDate = EncodeDate(2000, 1, 1);
    ExpectCases(s, {{"end ignored with NoEnd", At(2030, 1, 1, 12, 0), true}});

    s.NoEnd = false;
    s.EndDate = s.StartDate;
    ExpectCases(s, {{"single day", At(2001, 3, 10, 12, 0), true},
                    {"day after single day", At(2001, 3, 11, 12, 0), false}});
}

TEST(IsDue, DailyCycleCountsFromStartDate) {
    TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 3, 1)), 9, 0);
    s.DailyEvery = 3;
    ExpectCases(s, {{"1 Mar", At(2001, 3, 1, 9, 0), true},
                    {"2 Mar", At(2001, 3, 2, 9, 0), false},
                    {"3 Mar", At(2001, 3, 3, 9, 0), false},
                    {"4 Mar", At(2001, 3, 4, 9, 0), true},
                    {"7 Mar", At(2001, 3, 7, 9, 0), true},
                    {"across month end, 31 Mar", At(2001, 3, 31, 9, 0), true}});
}

TEST(IsDue, WeeklyBlocksAnchoredAtStartDate) {
    // 7 March 2001 is a Wednesday; blocks of seven days start on Wednesdays.
    TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 3, 7)), 9, 0);
    s.Frequency = TFrequency::Weekly;
    s.WeeklyEvery = 2;
    s.WeekDays = 1 << 0; // Monday
    ExpectCases(s, {{"Mon 12 Mar, block 0", At(2001, 3, 12, 9, 0), true},
                    {"Mon 19 Mar, block 1", At(2001, 3, 19, 9, 0), false},
                    {"Mon 26 Mar, block 2", At(2001, 3, 26, 9, 0), true},
                    {"Tue 13 Mar, wrong day", At(2001, 3, 13, 9, 0), false}});
    s.WeekDays = 1 << 6; // Sunday
    ExpectCases(s, {{"Sun 11 Mar", At(2001, 3, 11, 9, 0), true},
                    {"Sun 18 Mar", At(2001, 3, 18, 9, 0), false}});
}

TEST(IsDue, MonthlyByDayNumber) {
    TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 1, 1)), 9, 0);
    s.Frequency = TFrequency::Monthly;
    s.MonthlyEvery = 1;
    s.MonthDay = 31;
    ExpectCases(s, {{"31 Jan", At(2001, 1, 31, 9, 0), true},
                    {"30 Apr, no clamping", At(2001, 4, 30, 9, 0), false},
                    {"30 Jun", At(2001, 6, 30, 9, 0), false},
                    {"30 Sep", At(2001, 9, 30, 9, 0), false},
                    {"30 Nov", At(2001, 11, 30, 9, 0), false},
                    {"31 Dec", At(2001, 12, 31, 9, 0), true}});

    s.StartDate = EncodeDate(2001, 1, 31);
    s.MonthDay = 15;
    s.MonthlyEvery = 2;
    ExpectCases(s, {{"15 Jan before start", At(2001, 1, 15, 9, 0), false},
                    {"15 Mar", At(2001, 3, 15, 9, 0), true},
                    {"15 Apr", At(2001, 4, 15, 9, 0), false},
                    {"15 May", At(2001, 5, 15, 9, 0), true},
                    {"15 Jan next year (12 months)", At(2002, 1, 15, 9, 0), true}});

    s.MonthDay = 29;
    s.MonthlyEvery = 12;
    s.StartDate = EncodeDate(2000, 2, 1);
    ExpectCases(s, {{"29 Feb 2000, leap", At(2000, 2, 29, 9, 0), true},
                    {"29 Feb 2004, leap", At(2004, 2, 29, 9, 0), true},
                    {"1 Mar 2001, no Feb 29", At(2001, 3, 1, 9, 0), false}});
}

TEST(IsDue, MonthlyByNthWeekDay) {
    TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 1, 1)), 9, 0);
    s.Frequency = TFrequency::Monthly;
    s.ByWeekDay = true;
    s.OccMonthlyEvery = 1;
    // January 2001: the week of the month changes between the Sundays and the Mondays.
    struct TWeekDayRow {
        std::uint8_t weekDay;
        std::vector<int> days; // in January 2001
    };
    const TWeekDayRow weekDays[] = {{0, {1, 8, 15, 22, 29}}, {6, {7, 14, 21, 28}}};
    for (const TWeekDayRow& row : weekDays) {
        s.OccWeekDay = row.weekDay;
        for (std::uint8_t occurrence = 0; occurrence <= OccurrenceLast; ++occurrence) {
            s.Occurrence = occurrence;
            const int dueDay =
                occurrence == OccurrenceLast ? row.days.back() : row.days[occurrence];
            for (int day : row.days) {
                EXPECT_EQ(IsDue(s, At(2001, 1, day, 9, 0)), day == dueDay)
                    << "occurrence " << int(occurrence) << ", week day " << int(row.weekDay)
                    << " on the " << day;
            }
        }
    }

    // Last Friday of December: 25 to 31 December, whatever the year.
    s.Occurrence = OccurrenceLast;
    s.OccWeekDay = 4;
    ExpectCases(s, {{"Fri 28 Dec 2001", At(2001, 12, 28, 9, 0), true},
                    {"Fri 21 Dec 2001", At(2001, 12, 21, 9, 0), false},
                    {"Fri 31 Dec 2004", At(2004, 12, 31, 9, 0), true},
                    {"Fri 24 Dec 2004", At(2004, 12, 24, 9, 0), false},
                    {"Fri 25 Dec 2009", At(2009, 12, 25, 9, 0), true}});

    // Last week of February in leap and common years.
    s.OccWeekDay = 3; // Thursday
    ExpectCases(s, {{"Thu 29 Feb 2024", At(2024, 2, 29, 9, 0), true},
                    {"Thu 22 Feb 2024", At(2024, 2, 22, 9, 0), false},
                    {"Thu 23 Feb 2023", At(2023, 2, 23, 9, 0), true}});
    // Centuries are common years unless divisible by 400.
    TScheDef century = s;
    century.StartDate = EncodeDate(1900, 1, 1);
    century.OccWeekDay = 3; // Thursday
    ExpectCases(century, {{"Thu 22 Feb 1900, 1900 no leap year", At(1900, 2, 22, 9, 0), true}});
    century.OccWeekDay = 0; // Monday
    ExpectCases(century, {{"Mon 22 Feb 2100, 2100 no leap year", At(2100, 2, 22, 9, 0), true}});
    century.OccWeekDay = 1; // Tuesday
    ExpectCases(century, {{"Tue 22 Feb 2000, 2000 a leap year", At(2000, 2, 22, 9, 0), false},
                          {"Tue 29 Feb 2000", At(2000, 2, 29, 9, 0), true}});

    // The count is honoured: every 3 months from January.
    s.Occurrence = 0;
    s.OccWeekDay = 0;
    s.OccMonthlyEvery = 3;
    ExpectCases(s, {{"first Monday Jan", At(2001, 1, 1, 9, 0), true},
                    {"first Monday Feb", At(2001, 2, 5, 9, 0), false},
                    {"first Monday Apr", At(2001, 4, 2, 9, 0), true}});
}

TEST(IsDue, PeriodicTriggerAlignedToTheClock) {
    TScheDef s = EveryMinuteFrom(EncodeDate(2001, 1, 1));
    s.EveryUnit = TEveryUnit::Hours;
    s.EveryCount = 2;
    s.BetweenStart = EncodeTime(9, 0);
    s.BetweenEnd = EncodeTime(17, 0);
    ExpectCases(s, {{"09:00 odd hour", At(2001, 3, 5, 9, 0), false},
                    {"10:00", At(2001, 3, 5, 10, 0), true},
                    {"10:30, half past a due hour", At(2001, 3, 5, 10, 30), false},
                    {"11:30", At(2001, 3, 5, 11, 30), false},
                    {"12:00", At(2001, 3, 5, 12, 0), true},
                    {"16:00", At(2001, 3, 5, 16, 0), true},
                    {"18:00 after window", At(2001, 3, 5, 18, 0), false}});

    s.BetweenEnd = EncodeTime(16, 0);
    ExpectCases(s, {{"16:00:00.000 on the end", At(2001, 3, 5, 16, 0, 0, 0), true},
                    {"16:00:00.500 past the end", At(2001, 3, 5, 16, 0, 0, 500), false}});

    s.EveryCount = 3;
    s.BetweenStart = EncodeTime(8, 0);
    s.BetweenEnd = EncodeTime(20, 0);
    ExpectCases(s, {{"09:00", At(2001, 3, 5, 9, 0), true},
                    {"18:00", At(2001, 3, 5, 18, 0), true},
                    {"08:00 not divisible", At(2001, 3, 5, 8, 0), false},
                    {"21:00 after window", At(2001, 3, 5, 21, 0), false}});

    s.EveryUnit = TEveryUnit::Minutes;
    s.EveryCount = 45;
    ExpectCases(s, {{"10:00", At(2001, 3, 5, 10, 0), true},
                    {"10:45", At(2001, 3, 5, 10, 45), true},
                    {"11:30", At(2001, 3, 5, 11, 30), false}});

    s.EveryUnit = static_cast<TEveryUnit>(7); // any unit but hours counts minutes
    ExpectCases(s, {{"unknown unit as minutes", At(2001, 3, 5, 10, 45), true}});
}

TEST(IsDue, CountsBelowOneNeverMatch) {
    for (std::int32_t count : {0, -1, -3, std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(count);
        TScheDef daily = OnceAt(EveryMinuteFrom(EncodeDate(2001, 1, 1)), 9, 0);
        daily.DailyEvery = count;
        EXPECT_FALSE(IsDue(daily, At(2001, 1, 1, 9, 0)));

        TScheDef weekly = daily;
        weekly.Frequency = TFrequency::Weekly;
        weekly.WeekDays = 0x7f;
        weekly.WeeklyEvery = count;
        EXPECT_FALSE(IsDue(weekly, At(2001, 1, 1, 9, 0)));

        TScheDef monthly = daily;
        monthly.Frequency = TFrequency::Monthly;
        monthly.MonthDay = 1;
        monthly.MonthlyEvery = count;
        EXPECT_FALSE(IsDue(monthly, At(2001, 1, 1, 9, 0)));

        monthly.ByWeekDay = true;
        monthly.OccWeekDay = 0;
        monthly.OccMonthlyEvery = count;
        EXPECT_FALSE(IsDue(monthly, At(2001, 1, 1, 9, 0)));

        TScheDef periodic = EveryMinuteFrom(EncodeDate(2001, 1, 1));
        periodic.EveryCount = count;
        EXPECT_FALSE(IsDue(periodic, At(2001, 1, 1, 9, 0)));
    }
}

TEST(IsDue, UnknownCodesAndBrokenValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double monday = At(2001, 1, 1, 9, 0);

    TScheDef unknownForms = EveryMinuteFrom(EncodeDate(2001, 1, 1));
    unknownForms.Frequency = static_cast<TFrequency>(9);
    unknownForms.Trigger = static_cast<TTrigger>(9);
    EXPECT_TRUE(IsDue(unknownForms, monday)) << "unknown forms set no condition";

    EXPECT_FALSE(IsDue(TScheDef{}, monday)) << "all-zero record ends in 1899";

    const double badValues[] = {nan, inf, -inf, 1e300, -1e300};
    for (double bad : badValues) {
        SCOPED_TRACE(bad);
        TScheDef s = OnceAt(EveryMinuteFrom(EncodeDate(2001, 1, 1)), 9, 0);
        EXPECT_FALSE(IsDue(s, bad));
        TScheDef start = s;
        start.StartDate = bad;
        EXPECT_FALSE(IsDue(start, monday));
        TScheDef once = s;
        once.OnceAt = bad;
        EXPECT_FALSE(IsDue(once, monday));
        TScheDef periodic = EveryMinuteFrom(EncodeDate(2001, 1, 1));
        periodic.BetweenEnd = bad;
        EXPECT_FALSE(IsDue(periodic, monday));
        TScheDef end = s;
        end.NoEnd = false;
        end.EndDate = bad;
        EXPECT_EQ(IsDue(end, monday), bad == inf || bad == 1e300);
    }

    TScheDef odd = OnceAt(EveryMinuteFrom(EncodeDate(2001, 1, 1)), 9, 0);
    odd.Frequency = TFrequency::Monthly;
    odd.ByWeekDay = true;
    odd.OccMonthlyEvery = 1;
    odd.OccWeekDay = 200;
    odd.Occurrence = 200;
    EXPECT_FALSE(IsDue(odd, monday));
}

} // namespace
} // namespace tarvok
