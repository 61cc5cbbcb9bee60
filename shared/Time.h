// Date-time values and the calendar arithmetic the scheduler shares.
//
// A TDateTime counts days since 30 December 1899 in local time; its fraction is the time of
// day. As on the platform the format comes from, a negative value keeps its day in the whole
// part and its time of day in the magnitude of the fraction (-1.25 is 29 Dec 1899, 06:00).
// Every function here is pure and safe for any double: NaN, infinities and moments outside
// 0001-01-01 .. 9999-12-31 decode to nothing rather than to garbage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok {

using TDateTime = double;

inline constexpr double MinutesPerDay = 1440.0;
inline constexpr std::int64_t MsPerDay = 86'400'000;

// Calendar fields of a moment; DayOfWeek 1 Sunday .. 7 Saturday.
struct TDateTimeParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    int DayOfWeek = 0;
};

// Decodes a moment; the time of day is rounded to the nearest millisecond first, so
// 0.99999999999 is midnight of the next day, never 23:59:59.999999.
std::optional<TDateTimeParts> DecodeDateTime(TDateTime moment);

// The time of day of a moment in whole milliseconds, 0 .. MsPerDay (MsPerDay only when the
// fraction rounds up to the next midnight). Empty for NaN and infinities.
std::optional<std::int64_t> TimeOfDayMs(TDateTime moment);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The moment of a calendar date at midnight; the fields must form a valid date.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second = 0, int millisecond = 0);

// The whole minute after the moment's minute: 10:15:40 gives 10:16:00, 23:59:59 the next day's
// 00:00. Built exactly as a clock reading of that minute is, so the two compare equal. The
// moment must decode.
TDateTime StartOfNextMinute(TDateTime moment);

// Units of DateDiff, by their stored codes 0 to 6.
enum class TDateUnit : std::uint8_t { Years, Months, Weeks, Days, Hours, Minutes, Seconds };

// Whole units from a to b (the span rounded to the millisecond), or -1 when b < a, the unit is
// unknown, a moment does not decode, or the count does not fit 32 bits. Months ignore the day of
// the month: 31 Jan to 1 Feb is 1.
std::int32_t DateDiff(TDateUnit unit, TDateTime a, TDateTime b);

// Orders of the date part of DateTimeText, by their codes 0 to 2; with separator '-':
enum class TDateOrder : std::uint8_t {
    DayMonthYear,     // "05-03-2001"
    DayMonthNameYear, // "05-Mar-2001"
    YearMonthNameDay, // "2001-Mar-05"
};

// A moment as text: the date part in the order (an empty one for any other order); with time,
// between and "hh:mm:ss" follow. A moment that does not decode gives an empty text.
std::string DateTimeText(TDateOrder order, char dateSeparator, char timeSeparator, TDateTime moment,
                         std::string_view between, bool withTime);

// The time of day of a moment in a strftime-style time format (%H %I %M %S %p %T %R %r %k %l
// %%); other directives are kept as written. Empty when the moment does not decode.
std::string FormatTimeOfDay(std::string_view format, TDateTime moment);

} // namespace tarvok
