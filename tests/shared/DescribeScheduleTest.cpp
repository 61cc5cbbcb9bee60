#include "shared/ScheDef.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace tarvok {
namespace {

using testing::ElementsAre;

std::vector<std::string> Describe(const TScheDef& s, std::string_view timeFormat = "%H:%M:%S") {
    std::vector<std::string> lines = {"left over"};
    DescribeSchedule(s, lines, timeFormat);
    return lines;
}

TScheDef Daily() {
    TScheDef s;
    s.DailyEvery = 1;
    s.OnceAt = EncodeTime(8, 30);
    s.StartDate = EncodeDate(2001, 3, 5);
    s.NoEnd = true;
    return s;
}

TEST(DescribeSchedule, UndefinedSchedule) {
    EXPECT_THAT(Describe(TScheDef{}),
                ElementsAre("No frequency yet defined!", "No trigger yet defined!",
                            "No duration yet defined!"));
    TScheDef negativeZero;
    negativeZero.EndDate = -0.0; // a non-zero byte: defined
    EXPECT_TRUE(IsDefined(negativeZero));
    EXPECT_FALSE(IsDefined(TScheDef{}));
}

TEST(DescribeSchedule, DailyOnceNeverEnding) {
    EXPECT_THAT(Describe(Daily()), ElementsAre("The task runs every day.",
                                               "The event will be triggered once at 08:30:00.",
                                               "This task starts on 05-Mar-2001 and never ends."));
    EXPECT_EQ(Describe(Daily(), "%r")[1], "The event will be triggered once at 08:30:00 AM.");
}

TEST(DescribeSchedule, FrequencyLines) {
    struct Row {
        const char* what;
        TScheDef schedule;
        const char* line;
    };
    auto with = [](auto change) {
        TScheDef s = Daily();
        change(s);
        return s;
    };
    const Row rows[] = {
        {"every 3 days", with([](TScheDef& s) { s.DailyEvery = 3; }),
         "The task runs every 3 day(s)."},
        {"weekly on Wednesday", with([](TScheDef& s) {
             s.Frequency = TFrequency::Weekly;
             s.WeeklyEvery = 1;
             s.WeekDays = 1 << 2;
         }),
         "The task runs every week on Wednesday. "},
        {"every 2 weeks Monday and Friday", with([](TScheDef& s) {
             s.Frequency = TFrequency::Weekly;
             s.WeeklyEvery = 2;
             s.WeekDays = (1 << 0) | (1 << 4);
         }),
         "The task runs every 2 week(s) on Monday, Friday. "},
        {"weekly without a day", with([](TScheDef& s) {
             s.Frequency = TFrequency::Weekly;
             s.WeeklyEvery = 1;
             s.WeekDays = 0x80;
         }),
         "The task runs every week on no day. "},
        {"every day of the week", with([](TScheDef& s) {
             s.Frequency = TFrequency::Weekly;
             s.WeeklyEvery = 1;
             s.WeekDays = 0x7f;
         }),
         "The task runs every week on Monday, Tuesday, Wednesday, Thursday, Friday, Saturday, "
         "Sunday. "},
        {"last Friday", with([](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.ByWeekDay = true;
             s.Occurrence = 4;
             s.OccWeekDay = 4;
             s.OccMonthlyEvery = 1;
         }),
         "The task runs on the last Friday of every 1 month(s)."},
        {"second Wednesday", with([](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.ByWeekDay = true;
             s.Occurrence = 1;
             s.OccWeekDay = 2;
             s.OccMonthlyEvery = 1;
         }),
         "The task runs on the second Wednesday of every 1 month(s)."},
        {"unknown ordinal and day", with([](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.ByWeekDay = true;
             s.Occurrence = 9;
             s.OccWeekDay = 7;
             s.OccMonthlyEvery = 2;
         }),
         "The task runs on the ? ? of every 2 month(s)."},
        {"day 15 of every month", with([](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.MonthDay = 15;
             s.MonthlyEvery = 1;
         }),
         "The task runs day 15 of every month."},
        {"day 15 of every 3 months", with([](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.MonthDay = 15;
             s.MonthlyEvery = 3;
         }),
         "The task runs day 15 of every 3 month(s)."},
        {"unknown frequency", with([](TScheDef& s) { s.Frequency = TFrequency{7}; }),
         "The task runs "},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Describe(row.schedule)[0], row.line) << row.what;
    }
}

TEST(DescribeSchedule, TriggerAndDurationLines) {
    TScheDef s = Daily();
    s.Trigger = TTrigger::Periodic;
    s.EveryCount = 30;
    s.EveryUnit = TEveryUnit::Minutes;
    s.BetweenStart = EncodeTime(9, 0);
    s.BetweenEnd = EncodeTime(17, 0);
    s.NoEnd = false;
    s.EndDate = s.StartDate;
    EXPECT_THAT(Describe(s),
                ElementsAre("The task runs every day.",
                            "The event will be triggered every 30 minute(s) between 09:00:00 and "
                            "17:00:00.",
                            "This task starts on 05-Mar-2001 and  runs for this day only."));

    s.EveryUnit = TEveryUnit::Hours;
    s.EveryCount = 2;
    s.EndDate = EncodeDate(2001, 12, 24);
    EXPECT_THAT(Describe(s),
                ElementsAre("The task runs every day.",
                            "The event will be triggered every 2 hour(s) between 09:00:00 and "
                            "17:00:00.",
                            "This task starts on 05-Mar-2001 and ends on 24-Dec-2001."));

    s.Trigger = TTrigger{5};
    EXPECT_EQ(Describe(s)[1], "");

    // Only the very same day runs for that day only, not the same day of another month or year.
    s.EndDate = EncodeDate(2001, 4, 5);
    EXPECT_EQ(Describe(s)[2], "This task starts on 05-Mar-2001 and ends on 05-Apr-2001.");
    s.EndDate = EncodeDate(2002, 3, 5);
    EXPECT_EQ(Describe(s)[2], "This task starts on 05-Mar-2001 and ends on 05-Mar-2002.");
}

TEST(DescribeSchedule, BrokenValuesDescribeSafely) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TScheDef s = Daily();
    s.OnceAt = nan;
    s.StartDate = 1e300;
    s.NoEnd = false;
    s.EndDate = nan;
    s.DailyEvery = std::numeric_limits<std::int32_t>::min();
    EXPECT_THAT(Describe(s), ElementsAre("The task runs every -2147483648 day(s).",
                                         "The event will be triggered once at .",
                                         "This task starts on  and ends on ."));
}

} // namespace
} // namespace tarvok
