// Random schedules around a moment, for the proof of NextRuns against IsDue and its benchmark.
// Mostly what the editors write (whole days and minutes, counts from 1), with now and then what
// only a hand-made task file holds: counts of 0 or below, unknown codes, times with seconds, a
// start date with a time of day, dates that do not decode.
//
//   std::mt19937_64 random(seed);
//   const TScheDef schedule = RandomSchedule(random, EncodeDate(2026, 12, 8));
#pragma once

#include "shared/ScheDef.h"

#include <cstdint>
#include <limits>
#include <random>

namespace tarvok::testing_support {

class TScheduleDice {
public:
    explicit TScheduleDice(std::mt19937_64& random) : random_(random) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    bool OneIn(int n) { return Between(1, n) == 1; }
    // A count as the spinners give it, rarely a large or a meaningless one.
    std::int32_t Count() {
        if (OneIn(40)) {
            return Between(-2, 0);
        }
        return OneIn(10) ? Between(5, 999) : Between(1, 4);
    }
    TDateTime Minute() { return EncodeTime(Between(0, 23), Between(0, 59)); }
    // A time of day, sometimes with seconds and milliseconds.
    TDateTime TimeOfDay() {
        return OneIn(15) ? Minute() + EncodeTime(0, 0, Between(0, 59), Between(0, 999)) : Minute();
    }

private:
    std::mt19937_64& random_;
};

// A schedule whose start lies within about two years before or one after `around`.
inline TScheDef RandomSchedule(std::mt19937_64& random, TDateTime around) {
    TScheduleDice dice(random);
    TScheDef s;
    s.Frequency = static_cast<TFrequency>(dice.OneIn(50) ? 3 : dice.Between(0, 2));
    s.DailyEvery = dice.Count();
    s.WeeklyEvery = dice.Count();
    s.WeekDays =
        static_cast<std::uint8_t>(dice.OneIn(20) ? dice.Between(0, 255) : dice.Between(1, 127));
    s.ByWeekDay = dice.OneIn(2);
    s.MonthDay = dice.OneIn(20) ? dice.Between(-1, 40) : dice.Between(1, 31);
    s.MonthlyEvery = dice.Count();
    s.Occurrence = static_cast<std::uint8_t>(dice.OneIn(30) ? 5 : dice.Between(0, 4));
    s.OccWeekDay = static_cast<std::uint8_t>(dice.OneIn(30) ? 7 : dice.Between(0, 6));
    s.OccMonthlyEvery = dice.Count();

    s.Trigger = static_cast<TTrigger>(dice.OneIn(50) ? 2 : dice.Between(0, 1));
    s.OnceAt = dice.TimeOfDay();
    s.EveryCount = dice.OneIn(3) ? dice.Between(1, 90) : dice.Count();
    s.EveryUnit = static_cast<TEveryUnit>(dice.OneIn(30) ? 2 : dice.Between(0, 1));
    s.BetweenStart = dice.TimeOfDay();
    s.BetweenEnd = dice.TimeOfDay();
    if (s.BetweenEnd < s.BetweenStart && !dice.OneIn(10)) {
        std::swap(s.BetweenStart, s.BetweenEnd);
    }
    if (dice.OneIn(3)) {
        s.BetweenStart = 0;
        s.BetweenEnd = EncodeTime(23, 59);
    }

    s.StartDate = around + dice.Between(-730, 365);
    if (dice.OneIn(10)) {
        s.StartDate += dice.TimeOfDay();
    }
    s.NoEnd = dice.OneIn(2);
    s.EndDate = s.StartDate + dice.Between(-30, 1500);
    if (dice.OneIn(100)) {
        s.StartDate = std::numeric_limits<double>::quiet_NaN();
    } else if (dice.OneIn(100)) {
        s.EndDate = std::numeric_limits<double>::quiet_NaN();
    }
    return s;
}

} // namespace tarvok::testing_support
