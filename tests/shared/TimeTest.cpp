#include "shared/Time.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace tarvok {
namespace {

TEST(Time, EncodeAndDecodeAgreeAcrossTheCalendar) {
    struct Row {
        int y, m, d;
        double serial;
        int dayOfWeek; // 1 Sunday .. 7 Saturday
    };
    const Row rows[] = {
        {1899, 12, 30, 0, 7},    {1899, 12, 31, 1, 1},       {1900, 3, 1, 61, 5},
        {2000, 2, 29, 36585, 3}, {2001, 3, 7, 36957, 4},     {2026, 12, 6, 46362, 1},
        {1, 1, 1, -693593, 2},   {9999, 12, 31, 2958465, 6}, {2024, 2, 29, 45351, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.y << "-" << r.m << "-" << r.d);
        EXPECT_EQ(EncodeDate(r.y, r.m, r.d), r.serial);
        const auto parts = DecodeDateTime(r.serial);
        ASSERT_TRUE(parts);
        EXPECT_EQ(parts->Year, r.y);
        EXPECT_EQ(parts->Month, r.m);
        EXPECT_EQ(parts->Day, r.d);
        EXPECT_EQ(parts->DayOfWeek, r.dayOfWeek);
    }
}

TEST(Time, DecodeRoundsTimeOfDayToTheMillisecond) {
    const double moment = EncodeDate(2026, 12, 6) + EncodeTime(16, 0) - 1e-10;
    auto parts = DecodeDateTime(moment);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Hour, 16);
    EXPECT_EQ(parts->Minute, 0);
    EXPECT_EQ(parts->Second, 0);
    EXPECT_EQ(parts->Millisecond, 0);

    // A fraction that rounds up to midnight belongs to the next day.
    parts = DecodeDateTime(EncodeDate(2026, 12, 31) + 0.9999999999);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Year, 2027);
    EXPECT_EQ(parts->Month, 1);
    EXPECT_EQ(parts->Day, 1);
    EXPECT_EQ(parts->Hour, 0);

    // Negative moments keep the time of day in the magnitude of the fraction.
    parts = DecodeDateTime(-1.25);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Day, 29);
    EXPECT_EQ(parts->Hour, 6);
}

TEST(Time, MomentsOutsideTheCalendarDoNotDecode) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          1e300,
                          -1e300,
                          -693594.0,
                          2958466.0,
                          2958465.9999999999};
    for (double moment : bad) {
        SCOPED_TRACE(moment);
        EXPECT_FALSE(DecodeDateTime(moment));
        EXPECT_EQ(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " ", true), "");
    }
}

TEST(Time, DateDiffByUnit) {
    const double jan31 = EncodeDate(2001, 1, 31);
    const double feb1 = EncodeDate(2001, 2, 1);
    const double mar7 = EncodeDate(2001, 3, 7);
    struct Row {
        TDateUnit unit;
        double a, b;
        std::int32_t expected;
    };
    const Row rows[] = {
        {TDateUnit::Months, jan31, feb1, 1},
        {TDateUnit::Years, jan31, EncodeDate(2002, 1, 1), 1},
        {TDateUnit::Months, jan31, EncodeDate(2002, 1, 1), 12},
        {TDateUnit::Months, EncodeDate(2001, 12, 31), EncodeDate(2002, 1, 1), 1},
        {TDateUnit::Days, mar7, mar7 + 1 + EncodeTime(23, 59), 1},
        {TDateUnit::Weeks, mar7, mar7 + 13.99, 1},
        {TDateUnit::Weeks, mar7, mar7 + 14, 2},
        {TDateUnit::Hours, mar7, mar7 + EncodeTime(5, 59, 59), 5},
        {TDateUnit::Minutes, mar7, mar7 + EncodeTime(1, 30), 90},
        {TDateUnit::Seconds, mar7, mar7 + EncodeTime(0, 1, 1), 61},
        {TDateUnit::Days, feb1, jan31, -1},
        {TDateUnit::Days, mar7, mar7, 0},
        {TDateUnit::Seconds, mar7 + EncodeTime(10, 15), mar7 + EncodeTime(10, 15), 0},
        {static_cast<TDateUnit>(7), jan31, feb1, -1},
        {static_cast<TDateUnit>(255), jan31, feb1, -1},
        {TDateUnit::Days, -1e300, mar7, -1},
        {TDateUnit::Days, mar7, std::numeric_limits<double>::infinity(), -1},
        {TDateUnit::Days, mar7, mar7 + 0.99999999999, 1},
        {TDateUnit::Seconds, EncodeDate(1, 1, 1), EncodeDate(9999, 1, 1), -1},
        {TDateUnit::Days, std::numeric_limits<double>::quiet_NaN(), mar7, -1},
        {TDateUnit::Months, -1e300, mar7, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "unit " << int(r.unit) << " " << r.a << " " << r.b);
        EXPECT_EQ(DateDiff(r.unit, r.a, r.b), r.expected);
    }
}

TEST(Time, StartOfNextMinuteEqualsTheClockReadingOfThatMinute) {
    struct Row {
        double now;
        double expected;
    };
    const Row rows[] = {
        {EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 40),
         EncodeDate(2026, 12, 8) + EncodeTime(10, 16)},
        {EncodeDate(2026, 12, 8) + EncodeTime(10, 15),
         EncodeDate(2026, 12, 8) + EncodeTime(10, 16)},
        {EncodeDate(2026, 12, 8) + EncodeTime(10, 59, 59, 999),
         EncodeDate(2026, 12, 8) + EncodeTime(11, 0)},
        {EncodeDate(2026, 12, 31) + EncodeTime(23, 59, 30),
         EncodeDate(2027, 1, 1) + EncodeTime(0, 0)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', r.now, " ", true));
        EXPECT_EQ(StartOfNextMinute(r.now), r.expected); // exact: a pass at :00.000 must count
    }
}

TEST(Time, DateTimeTextForEachCallerAndOrder) {
    const double moment = EncodeDate(2001, 3, 5) + EncodeTime(14, 5, 0);
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " ", false),
              "05-Mar-2001");
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " ", true),
              "05-Mar-2001 14:05:00");
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " - ", true),
              "05-Mar-2001 - 14:05:00");
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthYear, '/', ':', moment, " - ", true),
              "05/03/2001 - 14:05:00");
    EXPECT_EQ(DateTimeText(TDateOrder::YearMonthNameDay, '-', ':', moment, " ", false),
              "2001-Mar-05");
    EXPECT_EQ(DateTimeText(static_cast<TDateOrder>(3), '-', ':', moment, " ", false), "");
    EXPECT_EQ(DateTimeText(static_cast<TDateOrder>(3), '-', '.', moment, "|", true), "|14.05.00");
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':',
                           EncodeDate(2027, 3, 1) + EncodeTime(7, 5, 9), " - ", true),
              "01-Mar-2027 - 07:05:09");
    EXPECT_EQ(DateTimeText(TDateOrder::DayMonthYear, '-', ':', EncodeDate(12, 12, 1), "", false),
              "01-12-0012");
}

TEST(Time, FormatTimeOfDayInLongTimeFormats) {
    const double morning = EncodeTime(8, 30, 5);
    const double evening = EncodeTime(20, 7);
    EXPECT_EQ(FormatTimeOfDay("%H:%M:%S", morning), "08:30:05");
    EXPECT_EQ(FormatTimeOfDay("%r", evening), "08:07:00 PM");
    EXPECT_EQ(FormatTimeOfDay("%I:%M:%S %p", EncodeTime(0, 15)), "12:15:00 AM");
    EXPECT_EQ(FormatTimeOfDay("%I:%M:%S %p", EncodeTime(12, 30)), "12:30:00 PM");
    EXPECT_EQ(FormatTimeOfDay("%T", evening), "20:07:00");
    EXPECT_EQ(FormatTimeOfDay("%l.%M %% %Q", morning), " 8.30 % %Q");
    EXPECT_EQ(FormatTimeOfDay("%H%", morning), "08%");
}

} // namespace
} // namespace tarvok
