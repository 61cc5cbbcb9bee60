#include "shared/NextRuns.h"

#include "shared/DueRules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>

namespace tarvok {

namespace {

constexpr int MinutesInDay = 1440;
constexpr int LastYear = 9999; // the calendar's, as DecodeDateTime knows it

// A whole minute: a day number (0 is 30 December 1899) and a minute of that day.
struct TMinute {
    std::int64_t Day;
    int Minute;
};

TDateTime MomentOf(std::int64_t day, int minute) {
    return static_cast<double>(day) + EncodeTime(minute / 60, minute % 60);
}

TDateTimeParts DayParts(std::int64_t day) {
    return DecodeDateTime(static_cast<double>(day)).value_or(TDateTimeParts{});
}

// The first whole minute strictly after the moment, not before day 0.
std::optional<TMinute> FirstMinuteAfter(TDateTime after) {
    const auto parts = DecodeDateTime(after);
    if (!parts) {
        return std::nullopt;
    }
    const auto day = static_cast<std::int64_t>(EncodeDate(parts->Year, parts->Month, parts->Day));
    if (day < 0) {
        return TMinute{0, 0};
    }
    const int minute = parts->Hour * 60 + parts->Minute + 1;
    return minute == MinutesInDay ? TMinute{day + 1, 0} : TMinute{day, minute};
}

// The same date NextRunsHorizonYears on (28 February for a 29th), or the calendar's last day.
std::int64_t HorizonDay(std::int64_t fromDay) {
    const auto parts = DecodeDateTime(static_cast<double>(fromDay));
    if (!parts) {
        return fromDay - 1; // past the calendar: nothing to search
    }
    const int year = parts->Year + NextRunsHorizonYears;
    if (year > LastYear) {
        return static_cast<std::int64_t>(EncodeDate(LastYear, 12, 31));
    }
    const int day = std::min(parts->Day, DaysInMonth(year, parts->Month));
    return static_cast<std::int64_t>(EncodeDate(year, parts->Month, day));
}

// The minutes of a day at which the trigger fires; the same for every day.
std::vector<int> TriggerMinutes(const TScheDef& s) {
    std::vector<int> minutes;
    TDateTimeParts at{};
    for (int minute = 0; minute < MinutesInDay; ++minute) {
        at.Hour = minute / 60;
        at.Minute = minute % 60;
        if (TriggerMatches(s, at)) {
            minutes.push_back(minute);
        }
    }
    return minutes;
}

class TSearch {
public:
    TSearch(const TScheDef& s, TMinute from, std::size_t count)
        : s_(s), from_(from), lastDay_(HorizonDay(from.Day)), count_(count) {}

    TNextRuns Run() {
        TNextRuns runs;
        runs.End = Search();
        runs.Moments = std::move(found_);
        return runs;
    }

private:
    TNextRunsEnd Search() {
        const auto start = DecodeDateTime(s_.StartDate);
        minutes_ = TriggerMinutes(s_);
        if (!start || minutes_.empty()) {
            return Exhausted(); // never due
        }
        start_ = *start;
        const std::int64_t day =
            std::max(from_.Day, static_cast<std::int64_t>(std::ceil(s_.StartDate)));
        // Whole start dates (all the editors write) keep the day and week counts fixed within a
        // day, so whole cycles can be skipped; any other start date is searched day by day.
        return std::floor(s_.StartDate) == s_.StartDate ? ByCycle(day) : DayByDay(day);
    }

    // From a day at or after the start date: the cycles that do not count are skipped, the days
    // of a cycle that does are tested one by one.
    TNextRunsEnd ByCycle(std::int64_t day) {
        const auto cycle = FrequencyCycle(s_);
        if (cycle && cycle->Every < 1) {
            return Exhausted();
        }
        while (day <= lastDay_) { // each turn moves the day on, to a later cycle or past one
            std::int64_t cycleEnd = day + 1;
            if (cycle) {
                const auto facts = DayFactsAt(s_, static_cast<double>(day), DayParts(day));
                if (!facts) {
                    return Exhausted();
                }
                const std::int64_t number = CycleNumber(*facts, cycle->Unit);
                if (const std::int64_t past = number % cycle->Every; past != 0) {
                    day = CycleStart(cycle->Unit, number + cycle->Every - past);
                    continue;
                }
                cycleEnd = CycleStart(cycle->Unit, number + 1);
            }
            for (; day < cycleEnd && day <= lastDay_; ++day) {
                if (PastEnd(day)) {
                    return TNextRunsEnd::ScheduleEnd;
                }
                if (DayOfCycleMatches(s_, DayParts(day)) && TakeDay(day)) {
                    return TNextRunsEnd::Complete;
                }
            }
        }
        return Exhausted();
    }

    // A day may be due when the frequency matches at its first or its last minute: the counts
    // grow with the moment and by at most one within a day.
    TNextRunsEnd DayByDay(std::int64_t day) {
        for (; day <= lastDay_; ++day) {
            if (PastEnd(day)) {
                return TNextRunsEnd::ScheduleEnd;
            }
            const TDateTimeParts parts = DayParts(day);
            const auto matches = [&](int minute) {
                const auto facts = DayFactsAt(s_, MomentOf(day, minute), parts);
                return facts && FrequencyMatches(s_, *facts);
            };
            if ((matches(0) || matches(MinutesInDay - 1)) && TakeDay(day)) {
                return TNextRunsEnd::Complete;
            }
        }
        return Exhausted();
    }

    // Adds the day's due minutes, each confirmed by IsDue itself; true once there are enough.
    bool TakeDay(std::int64_t day) {
        const int first = day == from_.Day ? from_.Minute : 0;
        for (auto minute = std::lower_bound(minutes_.begin(), minutes_.end(), first);
             minute != minutes_.end(); ++minute) {
            const TDateTime moment = MomentOf(day, *minute);
            if (IsDue(s_, moment)) {
                found_.push_back(moment);
                if (found_.size() == count_) {
                    return true;
                }
            }
        }
        return false;
    }

    // The first day of a cycle counted from the start date; past the horizon when that lies
    // beyond the calendar.
    std::int64_t CycleStart(TDateUnit unit, std::int64_t number) const {
        const auto startDay = static_cast<std::int64_t>(s_.StartDate);
        switch (unit) {
        case TDateUnit::Days:
            return startDay + number;
        case TDateUnit::Weeks:
            return startDay + 7 * number;
        default: {
            const std::int64_t month = start_.Year * 12LL + start_.Month - 1 + number;
            if (month / 12 > LastYear) {
                return lastDay_ + 1;
            }
            return static_cast<std::int64_t>(
                EncodeDate(static_cast<int>(month / 12), static_cast<int>(month % 12) + 1, 1));
        }
        }
    }

    bool PastEnd(std::int64_t day) const {
        return !s_.NoEnd && !(static_cast<double>(day) <= s_.EndDate);
    }

    // Nothing more within the horizon; when the schedule ends before it, that is the reason.
    TNextRunsEnd Exhausted() const {
        return PastEnd(lastDay_) ? TNextRunsEnd::ScheduleEnd : TNextRunsEnd::Horizon;
    }

    const TScheDef& s_;
    const TMinute from_;
    const std::int64_t lastDay_;
    const std::size_t count_;
    std::vector<int> minutes_;
    TDateTimeParts start_;
    std::vector<TDateTime> found_;
};

struct TEndText {
    TNextRunsEnd End;
    const char* Name;
    const char* NoStart;
    const char* NoMore;
};

constexpr std::array<TEndText, 5> EndTexts = {{
    {TNextRunsEnd::Complete, "", "", ""},
    {TNextRunsEnd::Horizon, "horizon", "No start within %d years.",
     "No further start within %d years."},
    {TNextRunsEnd::ScheduleEnd, "schedule_end", "No start before the schedule ends.",
     "No further start before the schedule ends."},
    {TNextRunsEnd::NoSchedule, "no_schedule", "No schedule defined.", "No schedule defined."},
    {TNextRunsEnd::Disabled, "disabled", "None: the task is disabled.",
     "None: the task is disabled."},
}};

const TEndText& EndText(TNextRunsEnd end) {
    return *std::find_if(EndTexts.begin(), EndTexts.end(),
                         [end](const TEndText& text) { return text.End == end; });
}

constexpr std::array<const char*, 7> WeekDayAbbreviations = {"Sun", "Mon", "Tue", "Wed",
                                                             "Thu", "Fri", "Sat"};

} // namespace

TNextRuns NextRuns(const TScheDef& schedule, TDateTime after, int count) {
    if (!IsDefined(schedule)) {
        return {{}, TNextRunsEnd::NoSchedule};
    }
    const auto from = FirstMinuteAfter(after);
    if (count <= 0 || !from) {
        return {{}, count <= 0 ? TNextRunsEnd::Complete : TNextRunsEnd::Horizon};
    }
    return TSearch(schedule, *from, static_cast<std::size_t>(count)).Run();
}

TNextRuns NextRunsOfTask(const TTaskDef& task, TDateTime after, int count) {
    if (!task.Enabled) {
        return {{}, TNextRunsEnd::Disabled};
    }
    return NextRuns(task.Schedule, after, count);
}

std::vector<std::string> NextRunLines(const TNextRuns& runs, std::string_view longTimeFormat) {
    std::vector<std::string> lines;
    for (const TDateTime moment : runs.Moments) {
        const auto parts = DecodeDateTime(moment);
        if (!parts) {
            continue;
        }
        lines.push_back(std::string(WeekDayAbbreviations.at(parts->DayOfWeek - 1)) + " " +
                        DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, "", false) +
                        " " + FormatTimeOfDay(longTimeFormat, moment));
    }
    if (runs.End != TNextRunsEnd::Complete) {
        const TEndText& text = EndText(runs.End);
        char line[128];
        std::snprintf(line, sizeof line, lines.empty() ? text.NoStart : text.NoMore,
                      NextRunsHorizonYears);
        lines.emplace_back(line);
    }
    return lines;
}

std::string NextRunIsoText(TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    if (!parts) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", parts->Year, parts->Month,
                  parts->Day, parts->Hour, parts->Minute);
    return text;
}

std::string NextRunsEndName(TNextRunsEnd end) {
    return EndText(end).Name;
}

} // namespace tarvok
