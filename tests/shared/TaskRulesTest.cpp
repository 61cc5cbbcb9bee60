#include "shared/TaskRules.h"

#include <gtest/gtest.h>

namespace tarvok {
namespace {

TScheDef EveryDayAtTen() {
    TScheDef s;
    s.DailyEvery = 1;
    s.OnceAt = EncodeTime(10, 0);
    s.NoEnd = true;
    s.StartDate = EncodeDate(2026, 12, 1);
    return s;
}

// Rows a terminal's options cannot make but a damaged or hand-written record can.
TEST(TaskRules, ScheduleBreachesNameTheirField) {
    struct TRow {
        const char* Name;
        void (*Change)(TScheDef&);
        std::optional<TTaskField> Field;
    };
    const TRow rows[] = {
        {"as the editor makes it", [](TScheDef&) {}, std::nullopt},
        {"no schedule at all", [](TScheDef& s) { s = {}; }, std::nullopt},
        {"every 999 days", [](TScheDef& s) { s.DailyEvery = 999; }, std::nullopt},
        {"every 0 days", [](TScheDef& s) { s.DailyEvery = 0; }, TTaskField::DailyEvery},
        {"a frequency code 3", [](TScheDef& s) { s.Frequency = TFrequency{3}; },
         TTaskField::Frequency},
        {"a day bit beyond Sunday",
         [](TScheDef& s) {
             s.Frequency = TFrequency::Weekly;
             s.WeeklyEvery = 1;
             s.WeekDays = 0x81;
         },
         TTaskField::WeekDays},
        {"a sixth occurrence",
         [](TScheDef& s) {
             s.Frequency = TFrequency::Monthly;
             s.ByWeekDay = true;
             s.Occurrence = OccurrenceLast + 1;
             s.OccMonthlyEvery = 1;
         },
         TTaskField::Occurrence},
        {"a time with seconds", [](TScheDef& s) { s.OnceAt = EncodeTime(10, 0, 30); },
         TTaskField::OnceAt},
        {"a time past midnight", [](TScheDef& s) { s.OnceAt = 1.25; }, TTaskField::OnceAt},
        {"a window of one minute",
         [](TScheDef& s) {
             s.Trigger = TTrigger::Periodic;
             s.EveryCount = 1;
             s.BetweenStart = s.BetweenEnd = EncodeTime(8, 0);
         },
         std::nullopt},
        {"a start date with a time", [](TScheDef& s) { s.StartDate += 0.5; },
         TTaskField::StartDate},
        {"ends the day it starts",
         [](TScheDef& s) {
             s.NoEnd = false;
             s.EndDate = s.StartDate;
         },
         std::nullopt},
        {"an end date ignored while there is no end", [](TScheDef& s) { s.EndDate = 1e300; },
         std::nullopt},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TScheDef s = EveryDayAtTen();
        row.Change(s);
        const auto breach = ScheduleBreach(s);
        EXPECT_EQ(breach ? std::optional(breach->Field) : std::nullopt, row.Field)
            << (breach ? breach->Text : "");
    }
}

// As the task editor's toolkit counts blanks: white space of any script and control characters;
// a zero-width space or a byte that is no UTF-8 is text.
TEST(TaskRules, ANameOfBlanksIsNoName) {
    for (const char* blank : {"", " \t\r\n\x7f", "\xc2\x85\xc2\xa0", "\xe3\x80\x80\xe2\x80\xa8",
                              "\xe1\x9a\x80\xe2\x80\x8a\xe2\x80\xaf"}) {
        EXPECT_FALSE(HasText(blank)) << blank;
    }
    for (const char* text : {" x\t", "\xe2\x80\x8b", "\xc3\xa9", "\xff", "\xe3\x80"}) {
        EXPECT_TRUE(HasText(text)) << text;
    }
}

} // namespace
} // namespace tarvok
