// The steps of the due test, for code that must decide exactly as IsDue does without asking it
// about every minute (NextRuns). IsDue is: a whole-minute moment, a day in the date range, a
// frequency that matches the day (its cycle, then the day within the cycle) and a trigger that
// matches the minute. Whatever a day or minute does not decode never matches.
//
//   const auto parts = DecodeDateTime(moment);
//   const auto facts = DayFactsAt(schedule, moment, *parts);
//   bool due = InDateRange(schedule, day) && facts && FrequencyMatches(schedule, *facts) &&
//              TriggerMatches(schedule, *parts);
#pragma once

#include "shared/ScheDef.h"

#include <cstdint>
#include <optional>

namespace tarvok {

// True for a count of at least 1 that divides the value.
bool Divides(std::int32_t count, std::int32_t value);

// The day (whole part) lies between the start date and, unless there is none, the end date.
bool InDateRange(const TScheDef& schedule, double day);

// Where a moment lies as the frequency forms count: its calendar fields and the months, weeks and
// days since the start date.
struct TDayFacts {
    TDateTimeParts Parts;
    std::int32_t Months; // calendar months since the start date's month
    std::int32_t Weeks;  // seven-day blocks since the start date
    std::int32_t Days;   // days since the start date
};

// The facts of a moment (with its decoded parts); empty when a count is negative, i.e. the moment
// lies before the start date or the start date does not decode. Weeks and days count from the
// start date's time of day, so with a start date that has one they change within a day.
std::optional<TDayFacts> DayFactsAt(const TScheDef& schedule, TDateTime moment,
                                    const TDateTimeParts& parts);

// The cycle a frequency form counts in: every Every days, weeks or months from the start date.
// A form that IsDue does not know has none.
struct TCycle {
    TDateUnit Unit; // Days, Weeks or Months
    std::int32_t Every;
};
std::optional<TCycle> FrequencyCycle(const TScheDef& schedule);

// The number of the cycle the facts lie in.
std::int32_t CycleNumber(const TDayFacts& facts, TDateUnit unit);

// The frequency's test within a cycle: the week day, the day of the month or the n-th week day;
// true for daily schedules and for forms IsDue does not know.
bool DayOfCycleMatches(const TScheDef& schedule, const TDateTimeParts& day);

// The cycle's count divides the cycle number and the day matches within it.
bool FrequencyMatches(const TScheDef& schedule, const TDayFacts& facts);

// The trigger's test of a time of day (seconds and milliseconds included).
bool TriggerMatches(const TScheDef& schedule, const TDateTimeParts& at);

} // namespace tarvok
