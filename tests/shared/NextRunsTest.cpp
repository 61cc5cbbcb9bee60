#include "shared/NextRuns.h"

#include "tests/shared/RandomSchedules.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarvok {
namespace {

using Lines = std::vector<std::string>;

double At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, mi, s);
}

TScheDef Daily(int every, TDateTime start, int h, int mi) {
    TScheDef s;
    s.DailyEvery = every;
    s.OnceAt = EncodeTime(h, mi);
    s.NoEnd = true;
    s.StartDate = start;
    return s;
}

TScheDef Frequency(TScheDef s, TFrequency frequency) {
    s.Frequency = frequency;
    return s;
}

// The edge cases people meet, read as the dialogs and tarvokctl show them. 8 December 2026 is a
// Tuesday.
TEST(NextRuns, EdgeCasesAsShown) {
    const TDateTime now = At(2026, 12, 8, 10, 15, 30);
    const TScheDef at0900 = Daily(1, EncodeDate(2026, 1, 1), 9, 0);

    TScheDef noWeekDay = Frequency(at0900, TFrequency::Weekly);
    noWeekDay.WeeklyEvery = 1;
    TScheDef ended = at0900;
    ended.NoEnd = false;
    ended.EndDate = EncodeDate(2026, 12, 7);
    TScheDef threeDays = ended;
    threeDays.EndDate = EncodeDate(2026, 12, 11);
    TScheDef lastFriday = Frequency(at0900, TFrequency::Monthly);
    lastFriday.ByWeekDay = true;
    lastFriday.Occurrence = OccurrenceLast;
    lastFriday.OccWeekDay = 4;
    lastFriday.OccMonthlyEvery = 1;
    TScheDef day31 = Frequency(at0900, TFrequency::Monthly);
    day31.MonthDay = 31;
    day31.MonthlyEvery = 1;
    TScheDef leapDay = day31;
    leapDay.MonthDay = 29;
    leapDay.MonthlyEvery = 12;
    leapDay.StartDate = EncodeDate(2024, 2, 1);
    TScheDef evening = at0900;
    evening.Trigger = TTrigger::Periodic;
    evening.EveryCount = 2;
    evening.BetweenStart = EncodeTime(20, 0);
    evening.BetweenEnd = EncodeTime(23, 59);
    TScheDef overMidnight = evening;
    overMidnight.BetweenStart = EncodeTime(22, 0);
    overMidnight.BetweenEnd = EncodeTime(2, 0);
    TScheDef atNow = Daily(1, EncodeDate(2026, 1, 1), 10, 15);

    const struct {
        const char* what;
        TScheDef schedule;
        TDateTime after;
        Lines shown;
    } rows[] = {
        {"a weekly schedule without a week day", noWeekDay, now, {"No start within 10 years."}},
        {"an end date in the past", ended, now, {"No start before the schedule ends."}},
        {"three days left, today's start gone",
         threeDays,
         now,
         {"Wed 09-Dec-2026 09:00:00", "Thu 10-Dec-2026 09:00:00", "Fri 11-Dec-2026 09:00:00",
          "No further start before the schedule ends."}},
        {"the minute itself is not after it",
         atNow,
         At(2026, 12, 8, 10, 15),
         {"Wed 09-Dec-2026 10:15:00", "Thu 10-Dec-2026 10:15:00", "Fri 11-Dec-2026 10:15:00",
          "Sat 12-Dec-2026 10:15:00", "Sun 13-Dec-2026 10:15:00"}},
        {"every third day counts from a start still to come",
         Daily(3, EncodeDate(2027, 1, 1), 9, 0),
         now,
         {"Fri 01-Jan-2027 09:00:00", "Mon 04-Jan-2027 09:00:00", "Thu 07-Jan-2027 09:00:00",
          "Sun 10-Jan-2027 09:00:00", "Wed 13-Jan-2027 09:00:00"}},
        {"the last Friday of each month",
         lastFriday,
         now,
         {"Fri 25-Dec-2026 09:00:00", "Fri 29-Jan-2027 09:00:00", "Fri 26-Feb-2027 09:00:00",
          "Fri 26-Mar-2027 09:00:00", "Fri 30-Apr-2027 09:00:00"}},
        {"day 31 skips the shorter months",
         day31,
         At(2027, 3, 31, 12, 0),
         {"Mon 31-May-2027 09:00:00", "Sat 31-Jul-2027 09:00:00", "Tue 31-Aug-2027 09:00:00",
          "Sun 31-Oct-2027 09:00:00", "Fri 31-Dec-2027 09:00:00"}},
        {"29 February every 12 months, three within the horizon",
         leapDay,
         now,
         {"Tue 29-Feb-2028 09:00:00", "Sun 29-Feb-2032 09:00:00", "Fri 29-Feb-2036 09:00:00",
          "No further start within 10 years."}},
        {"every two hours in the evening goes on the next evening",
         evening,
         At(2026, 12, 8, 21, 30),
         {"Tue 08-Dec-2026 22:00:00", "Wed 09-Dec-2026 20:00:00", "Wed 09-Dec-2026 22:00:00",
          "Thu 10-Dec-2026 20:00:00", "Thu 10-Dec-2026 22:00:00"}},
        {"a window from 22:00 to 02:00 never opens",
         overMidnight,
         now,
         {"No start within 10 years."}},
        {"no schedule", TScheDef{}, now, {"No schedule defined."}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(NextRunLines(NextRuns(row.schedule, row.after, 5), "%H:%M:%S"), row.shown)
            << row.what;
    }
    TTaskDef disabled;
    disabled.Schedule = at0900;
    EXPECT_EQ(NextRunLines(NextRunsOfTask(disabled, now, 5), "%H:%M:%S"),
              Lines{"None: the task is disabled."});
}

std::int64_t MinuteNumber(TDateTime moment) {
    return std::llround(moment * MinutesPerDay);
}

// Every due minute in (after, until], in batches of five as the dialogs ask, each batch after
// the last start of the one before.
std::vector<std::int64_t> ChainedRuns(const TScheDef& s, TDateTime after, TDateTime until) {
    std::vector<std::int64_t> minutes;
    for (;;) {
        const TNextRuns runs = NextRuns(s, after, 5);
        for (const TDateTime moment : runs.Moments) {
            if (moment > until) {
                return minutes;
            }
            minutes.push_back(MinuteNumber(moment));
        }
        if (runs.End != TNextRunsEnd::Complete) {
            EXPECT_LT(runs.Moments.size(), 5u);
            return minutes;
        }
        after = runs.Moments.back();
    }
}

std::vector<std::int64_t> DueMinutes(const TScheDef& s, TDateTime after, TDateTime until) {
    std::vector<std::int64_t> minutes;
    std::vector<TDateTime> timesOfDay;
    for (int minute = 0; minute < 1440; ++minute) {
        timesOfDay.push_back(EncodeTime(minute / 60, minute % 60));
    }
    for (double day = std::floor(after); day <= until; ++day) {
        for (const TDateTime time : timesOfDay) {
            const TDateTime moment = day + time;
            if (moment > after && moment <= until && IsDue(s, moment)) {
                minutes.push_back(MinuteNumber(moment));
            }
        }
    }
    return minutes;
}

// Each schedule is followed for a week, every fiftieth for a whole year (the sparse forms need
// it): some forty million IsDue calls, a few seconds, and a tenth of that under the sanitizers.
#ifdef TARVOK_SANITIZE
constexpr int ScheduleCount = 200;
#else
constexpr int ScheduleCount = 2000;
#endif

// IsDue asked about every minute agrees with NextRuns for random schedules. The seed changes
// from run to run; TARVOK_SEED=<seed> repeats one.
TEST(NextRuns, AgreesWithIsDueMinuteByMinute) {
    const char* given = std::getenv("TARVOK_SEED");
    const std::uint64_t seed = given ? std::strtoull(given, nullptr, 10) : std::random_device{}();
    std::mt19937_64 random(seed);
    const TDateTime today = EncodeDate(2026, 12, 8);
    for (int i = 0; i < ScheduleCount; ++i) {
        const TScheDef s = testing_support::RandomSchedule(random, today);
        const TDateTime after = today + std::uniform_real_distribution<double>(0, 1)(random);
        const TDateTime until = after + (i % 50 == 0 ? 365 : 7);
        std::vector<std::string> description;
        DescribeSchedule(s, description);
        ASSERT_EQ(ChainedRuns(s, after, until), DueMinutes(s, after, until))
            << "seed " << seed << " (TARVOK_SEED=" << seed << "), schedule " << i << ": "
            << description[0] << ' ' << description[1] << ' ' << description[2] << " start "
            << s.StartDate << " end " << s.EndDate << " no end " << s.NoEnd;
    }
}

} // namespace
} // namespace tarvok
