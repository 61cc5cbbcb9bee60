#include "shared/Time.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace tarvok {

namespace {

// Days from 1970-01-01 to 1899-12-30, the day numbered 0 here.
constexpr std::int64_t EpochShift = 25569;
constexpr std::int64_t MinDay = -693593; // 0001-01-01
constexpr std::int64_t MaxDay = 2958465; // 9999-12-31

constexpr std::array<const char*, 12> MonthAbbreviations = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Gregorian day count from 1970-01-01 (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivil {
    int Year;
    int Month;
    int Day;
};

TCivil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return TCivil{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

// The day number and rounded time of day of a moment, or nothing outside the calendar.
struct TSplit {
    std::int64_t Day;
    std::int64_t Ms;
};

std::optional<TSplit> Split(TDateTime moment) {
    if (!std::isfinite(moment) || moment <= static_cast<double>(MinDay - 1) ||
        moment >= static_cast<double>(MaxDay + 1)) {
        return std::nullopt;
    }
    double whole = 0;
    const double fraction = std::modf(moment, &whole);
    auto day = static_cast<std::int64_t>(whole);
    auto ms = std::llround(std::fabs(fraction) * static_cast<double>(MsPerDay));
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        ++day;
    }
    if (day < MinDay || day > MaxDay) {
        return std::nullopt;
    }
    return TSplit{day, ms};
}

// Whole units of a non-negative span counted in milliseconds; -1 when it does not fit 32 bits.
std::int32_t WholeUnits(std::int64_t spanMs, std::int64_t msPerUnit) {
    const std::int64_t units = spanMs / msPerUnit;
    return units > INT32_MAX ? -1 : static_cast<std::int32_t>(units);
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%2.2d", value);
    return text;
}

} // namespace

std::optional<TDateTimeParts> DecodeDateTime(TDateTime moment) {
    const auto split = Split(moment);
    if (!split) {
        return std::nullopt;
    }
    const TCivil civil = CivilFromDays(split->Day - EpochShift);
    const auto ms = static_cast<int>(split->Ms);
    // 1899-12-30 was a Saturday (7).
    const auto weekDay = static_cast<int>(((split->Day % 7) + 7 + 6) % 7) + 1;
    return TDateTimeParts{civil.Year,       civil.Month,    civil.Day, ms / 3'600'000,
                          ms / 60'000 % 60, ms / 1000 % 60, ms % 1000, weekDay};
}

std::optional<std::int64_t> TimeOfDayMs(TDateTime moment) {
    if (!std::isfinite(moment)) {
        return std::nullopt;
    }
    double whole = 0;
    return std::llround(std::fabs(std::modf(moment, &whole)) * static_cast<double>(MsPerDay));
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[static_cast<size_t>(month - 1)];
}

TDateTime EncodeDate(int year, int month, int day) {
    return static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + EpochShift);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
    return static_cast<double>(ms) / static_cast<double>(MsPerDay);
}

TDateTime StartOfNextMinute(TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    if (!parts) {
        return moment;
    }
    const int minuteOfDay = parts->Hour * 60 + parts->Minute + 1;
    const TDateTime day = EncodeDate(parts->Year, parts->Month, parts->Day);
    if (minuteOfDay == 24 * 60) {
        return day + 1 + EncodeTime(0, 0);
    }
    return day + EncodeTime(minuteOfDay / 60, minuteOfDay % 60);
}

std::int32_t DateDiff(TDateUnit unit, TDateTime a, TDateTime b) {
    if (std::isnan(a) || std::isnan(b) || b < a) {
        return -1;
    }
    // Rounding the span to the millisecond first keeps 61 s from reading as 60.99999 s.
    const double span = b - a;
    if (span >= static_cast<double>(MaxDay - MinDay + 2)) {
        return -1; // longer than the calendar: no unit count of it is meaningful
    }
    const std::int64_t spanMs = std::llround(span * static_cast<double>(MsPerDay));
    switch (unit) {
    case TDateUnit::Years:
    case TDateUnit::Months: {
        const auto from = DecodeDateTime(a);
        const auto to = DecodeDateTime(b);
        if (!from || !to) {
            return -1;
        }
        const int years = to->Year - from->Year;
        return unit == TDateUnit::Years ? years : years * 12 + to->Month - from->Month;
    }
    case TDateUnit::Weeks:
        return WholeUnits(spanMs, 7 * MsPerDay);
    case TDateUnit::Days:
        return WholeUnits(spanMs, MsPerDay);
    case TDateUnit::Hours:
        return WholeUnits(spanMs, 3'600'000);
    case TDateUnit::Minutes:
        return WholeUnits(spanMs, 60'000);
    case TDateUnit::Seconds:
        return WholeUnits(spanMs, 1000);
    }
    return -1;
}

std::string DateTimeText(TDateOrder order, char dateSeparator, char timeSeparator, TDateTime moment,
                         std::string_view between, bool withTime) {
    const auto parts = DecodeDateTime(moment);
    if (!parts) {
        return {};
    }
    const std::string sep(1, dateSeparator);
    const char* month = MonthAbbreviations[static_cast<size_t>(parts->Month - 1)];
    char year[16];
    std::snprintf(year, sizeof year, "%4.4d", parts->Year);

    std::string text;
    switch (order) {
    case TDateOrder::DayMonthYear:
        text = TwoDigits(parts->Day) + sep + TwoDigits(parts->Month) + sep + year;
        break;
    case TDateOrder::DayMonthNameYear:
        text = TwoDigits(parts->Day) + sep + month + sep + year;
        break;
    case TDateOrder::YearMonthNameDay:
        text = year + sep + month + sep + TwoDigits(parts->Day);
        break;
    }
    if (withTime) {
        const std::string tsep(1, timeSeparator);
        text.append(between);
        text += TwoDigits(parts->Hour) + tsep + TwoDigits(parts->Minute) + tsep +
                TwoDigits(parts->Second);
    }
    return text;
}

std::string FormatTimeOfDay(std::string_view format, TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    if (!parts) {
        return {};
    }
    const int hour12 = parts->Hour % 12 == 0 ? 12 : parts->Hour % 12;
    const std::string hh = TwoDigits(parts->Hour);
    const std::string mm = TwoDigits(parts->Minute);
    const std::string ss = TwoDigits(parts->Second);
    const std::string ampm = parts->Hour < 12 ? "AM" : "PM";
    auto spacePadded = [](int value) {
        char text[16];
        std::snprintf(text, sizeof text, "%2d", value);
        return std::string(text);
    };

    std::string text;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            text += format[i];
            continue;
        }
        const char directive = format[++i];
        switch (directive) {
        case 'H':
            text += hh;
            break;
        case 'I':
            text += TwoDigits(hour12);
            break;
        case 'k':
            text += spacePadded(parts->Hour);
            break;
        case 'l':
            text += spacePadded(hour12);
            break;
        case 'M':
            text += mm;
            break;
        case 'S':
            text += ss;
            break;
        case 'p':
            text += ampm;
            break;
        case 'T':
            text += hh + ":" + mm + ":" + ss;
            break;
        case 'R':
            text += hh + ":" + mm;
            break;
        case 'r':
            text += TwoDigits(hour12) + ":" + mm + ":" + ss + " " + ampm;
            break;
        case '%':
            text += '%';
            break;
        default:
            text += '%';
            text += directive;
            break;
        }
    }
    return text;
}

} // namespace tarvok
