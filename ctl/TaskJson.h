// Tasks as readable text (JSON), for keeping them in version control and moving them between
// machines, and back.
//
//   {"tasks": [{"id": 3, "name": "Backup", "command": "/usr/bin/backup", "arguments": "--full",
//               "working_directory": "", "enabled": true, "blocking": true, "visible": false,
//               "priority": "Normal",
//               "schedule": {"weekly": {"every": 1, "days": ["Mon", "Fri"]},
//                            "once": "02:30", "start": "2026-12-01", "end": null}}]}
//
// A schedule has one of "daily" {"every"}, "weekly" {"every", "days"} and "monthly" {"day",
// "every"} or {"week", "weekday", "every"}; one of "once" (a time) and "repeat" {"every",
// "unit", "from", "to"}; a "start" date and an "end" date or null for no end. A task without a
// schedule has "schedule": null. Times are "HH:MM" ("HH:MM:SS" when they have seconds), dates
// "YYYY-MM-DD", names as the editors list them (any letter case when read back).
//
// Only what the schedule's form uses is written, so reading a task back gives one that runs
// and reads exactly the same, with the fields its form does not use set to zero. A stored code
// that has no name (a damaged file) is written as its number, which reading refuses.
#pragma once

#include "shared/TaskDef.h"
#include "shared/TaskRules.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

using TJson = nlohmann::ordered_json;

// A record that cannot be read; the text names the record and the field.
class TTaskJsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TJson TaskToJson(const TTaskDef& task);
TJson ScheduleToJson(const TScheDef& schedule);

// The whole list: {"tasks": [...]}, indented, ending with a line break.
std::string TasksToJsonText(const TTaskList& tasks);

// A record from its JSON form. "id" may be left out (0); "arguments", "working_directory",
// "blocking", "visible", "enabled" and "priority" may be left out too and then read as a new
// task has them, except "enabled", which reads true. Raises TTaskJsonError naming the field.
TTaskDef TaskFromJson(const TJson& json);

// Every record of {"tasks": [...]}; raises TTaskJsonError for the first that cannot be read,
// naming it ("task 2 (Backup)") and the field.
std::vector<TTaskDef> TasksFromJsonText(std::string_view text);

// Text that is not UTF-8 is shown with the replacement character; JSON has no other way.
std::string JsonText(const TJson& json, int indent = 2);

// The words of the texts above, also taken from tarvokctl's options. Names in any letter case.
// "HH:MM" or "HH:MM:SS"
std::optional<TDateTime> TimeOfDayFromText(std::string_view text);
// "YYYY-MM-DD", a day the calendar has
std::optional<TDateTime> DateFromText(std::string_view text);
// "Mon" or "Monday": 0 .. 6
std::optional<std::uint8_t> WeekDayFromName(std::string_view name);
// "First" .. "Fourth", "Last": 0 .. 4
std::optional<std::uint8_t> OccurrenceFromName(std::string_view name);
std::optional<TEveryUnit> UnitFromName(std::string_view name);

// Where a field is in a record: "schedule.repeat.every".
std::string JsonFieldName(TTaskField field);

} // namespace tarvok
