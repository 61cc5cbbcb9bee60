// The schedule of a task and the due test.
//
// A TScheDef says on which days a task runs (the frequency), at which minutes of such a day (the
// trigger) and between which dates (the duration). Its 84-byte stored form is part of the task
// file and is produced only by EncodeScheDef / DecodeScheDef. All operations are pure.
//
//   TScheDef daily;                      // every day at 08:30 from 5 March 2001 on
//   daily.DailyEvery = 1;
//   daily.OnceAt = EncodeTime(8, 30);
//   daily.NoEnd = true;
//   daily.StartDate = EncodeDate(2001, 3, 5);
//   IsDue(daily, EncodeDate(2001, 3, 6) + EncodeTime(8, 30));   // true
#pragma once

#include "shared/Time.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// Stored codes. Unknown values read from a file are kept as they are.
enum class TFrequency : std::uint8_t { Daily = 0, Weekly = 1, Monthly = 2 };
enum class TTrigger : std::uint8_t { Once = 0, Periodic = 1 };
enum class TEveryUnit : std::uint8_t { Hours = 0, Minutes = 1 };
inline constexpr std::uint8_t OccurrenceLast = 4;

struct TScheDef {
    TFrequency Frequency = TFrequency::Daily;
    TTrigger Trigger = TTrigger::Once;
    std::int32_t DailyEvery = 0;
    std::int32_t WeeklyEvery = 0;
    std::uint8_t WeekDays = 0; // bit 0 Monday .. bit 6 Sunday
    bool ByWeekDay = false;
    std::int32_t MonthDay = 0;
    std::int32_t MonthlyEvery = 0;
    std::uint8_t Occurrence = 0; // 0 first .. 3 fourth, 4 last
    std::uint8_t OccWeekDay = 0; // 0 Monday .. 6 Sunday
    std::int32_t OccMonthlyEvery = 0;
    TDateTime OnceAt = 0;
    std::int32_t EveryCount = 0;
    TEveryUnit EveryUnit = TEveryUnit::Hours;
    TDateTime BetweenStart = 0;
    TDateTime BetweenEnd = 0;
    bool NoEnd = false;
    TDateTime StartDate = 0;
    TDateTime EndDate = 0;

    friend bool operator==(const TScheDef&, const TScheDef&) = default;
};

inline constexpr std::size_t ScheDefSize = 84;
using TScheDefBytes = std::array<std::uint8_t, ScheDefSize>;

// The stored form: little-endian, doubles at offsets 32, 48, 56, 68, 76, padding zero, true
// written as 1.
void EncodeScheDef(const TScheDef& schedule, std::span<std::uint8_t, ScheDefSize> out);
// Reads the stored form; any non-zero boolean byte is true, padding is ignored.
TScheDef DecodeScheDef(std::span<const std::uint8_t, ScheDefSize> in);

// True when the task is due in the minute of the moment. Only the first second of a minute can
// be due (10:00:00.400 may be, 10:00:01 never is). Day, week and month cycles count from
// StartDate; a count below 1 for the chosen form never matches; a moment or date that does not
// decode is never due.
bool IsDue(const TScheDef& schedule, TDateTime moment);

// True when any byte of the stored form is non-zero, i.e. a schedule has been defined.
bool IsDefined(const TScheDef& schedule);

// Three lines of plain English (frequency, trigger, duration). Times of day are written in the
// given strftime-style long time format.
void DescribeSchedule(const TScheDef& schedule, std::vector<std::string>& lines,
                      std::string_view longTimeFormat = "%H:%M:%S");

} // namespace tarvok
