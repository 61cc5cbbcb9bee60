#include "ctl/TaskJson.h"

#include "shared/Letters.h"
#include "shared/ProcPrio.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <set>

namespace tarvok {

namespace {

constexpr std::array<std::string_view, 7> DayNames = {"Mon", "Tue", "Wed", "Thu",
                                                      "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> WeekDayNames = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr std::array<std::string_view, 5> OccurrenceNames = {"First", "Second", "Third", "Fourth",
                                                             "Last"};
constexpr std::array<std::string_view, 2> UnitNames = {"hours", "minutes"};
constexpr std::array<std::string_view, 3> FrequencyKeys = {"daily", "weekly", "monthly"};

// The name of a stored code, or the code itself when it has none.
template <std::size_t N>
TJson NameOrCode(const std::array<std::string_view, N>& names, unsigned code) {
    if (code < N) {
        return std::string(names[code]);
    }
    return code;
}

std::string TimeText(TDateTime time) {
    const auto parts = DecodeDateTime(time);
    if (!parts) {
        return "?";
    }
    char text[16];
    if (parts->Second == 0 && parts->Millisecond == 0) {
        std::snprintf(text, sizeof text, "%02d:%02d", parts->Hour, parts->Minute);
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts->Hour, parts->Minute,
                      parts->Second);
    }
    return text;
}

std::string DateText(TDateTime date) {
    const auto parts = DecodeDateTime(date);
    if (!parts) {
        return "?";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts->Year, parts->Month, parts->Day);
    return text;
}

TJson FrequencyJson(const TScheDef& s) {
    switch (s.Frequency) {
    case TFrequency::Daily:
        return {{"every", s.DailyEvery}};
    case TFrequency::Weekly: {
        TJson days = TJson::array();
        for (std::size_t day = 0; day < DayNames.size(); ++day) {
            if (s.WeekDays & (1u << day)) {
                days.push_back(std::string(DayNames[day]));
            }
        }
        return {{"every", s.WeeklyEvery}, {"days", days}};
    }
    case TFrequency::Monthly:
        if (!s.ByWeekDay) {
            return {{"day", s.MonthDay}, {"every", s.MonthlyEvery}};
        }
        return {{"week", NameOrCode(OccurrenceNames, s.Occurrence)},
                {"weekday", NameOrCode(WeekDayNames, s.OccWeekDay)},
                {"every", s.OccMonthlyEvery}};
    }
    return nullptr;
}

// --- Reading ---

// One JSON object read field by field; whatever it holds beyond the fields asked for is an
// error, so a misspelt field never goes unnoticed.
class TFields {
public:
    TFields(const TJson& json, std::string where) : json_(json), where_(std::move(where)) {
        if (!json_.is_object()) {
            Fail("", "must be an object");
        }
    }

    bool Has(const char* key) const { return json_.contains(key); }

    const TJson& Get(const char* key) {
        if (!json_.contains(key)) {
            Fail(key, "is missing");
        }
        used_.insert(key);
        return json_.at(key);
    }

    std::string Text(const char* key) {
        const TJson& value = Get(key);
        if (!value.is_string()) {
            Fail(key, "must be a text");
        }
        return value.get<std::string>();
    }
    std::string Text(const char* key, const std::string& otherwise) {
        return Has(key) ? Text(key) : otherwise;
    }

    bool Flag(const char* key, bool otherwise) {
        if (!Has(key)) {
            return otherwise;
        }
        const TJson& value = Get(key);
        if (!value.is_boolean()) {
            Fail(key, "must be true or false");
        }
        return value.get<bool>();
    }

    std::int32_t Number(const char* key) {
        const TJson& value = Get(key);
        if (!value.is_number_integer() || value.get<std::int64_t>() < INT32_MIN ||
            value.get<std::int64_t>() > INT32_MAX) {
            Fail(key, "must be a whole number");
        }
        return value.get<std::int32_t>();
    }

    // The position of the name in the list, any letter case.
    template <std::size_t N>
    std::uint8_t Named(const char* key, const std::array<std::string_view, N>& names) {
        const std::string text = Text(key);
        const auto found = std::ranges::find_if(
            names, [&](std::string_view name) { return SameLetters(name, text); });
        if (found == names.end()) {
            std::string choices;
            for (std::string_view name : names) {
                choices += (choices.empty() ? "" : ", ") + std::string(name);
            }
            Fail(key, "must be one of " + choices);
        }
        return static_cast<std::uint8_t>(found - names.begin());
    }

    TDateTime Time(const char* key) {
        const auto time = TimeOfDayFromText(Text(key));
        if (!time) {
            Fail(key, "must be a time of day, HH:MM");
        }
        return *time;
    }

    TDateTime Date(const char* key) {
        const auto date = DateFromText(Text(key));
        if (!date) {
            Fail(key, "must be a date, YYYY-MM-DD");
        }
        return *date;
    }

    // Exactly one of the keys; its index.
    template <std::size_t N>
    std::size_t OneOf(const std::array<std::string_view, N>& keys) {
        std::optional<std::size_t> found;
        for (std::size_t i = 0; i < N; ++i) {
            if (json_.contains(keys[i])) {
                if (found) {
                    Fail(std::string(keys[*found]).c_str(),
                         "cannot go with \"" + std::string(keys[i]) + "\"");
                }
                found = i;
            }
        }
        if (!found) {
            std::string choices;
            for (std::string_view key : keys) {
                choices += (choices.empty() ? "\"" : " or \"") + std::string(key) + "\"";
            }
            Fail("", "needs " + choices);
        }
        return *found;
    }

    std::string Where(const char* key) const {
        return where_ + (where_.empty() || *key == '\0' ? "" : ".") + key;
    }

    // Every field was asked for.
    void Finish() const {
        for (const auto& [key, value] : json_.items()) {
            if (!used_.contains(key)) {
                Fail(key.c_str(), "is not a field of this record");
            }
        }
    }

    [[noreturn]] void Fail(const char* key, const std::string& why) const {
        const std::string field = Where(key);
        throw TTaskJsonError((field.empty() ? std::string("the record") : field) + " " + why);
    }

private:
    const TJson& json_;
    std::string where_;
    std::set<std::string> used_;
};

void ReadFrequency(TFields& schedule, TScheDef& s) {
    const std::size_t form = schedule.OneOf(FrequencyKeys);
    const char* key = FrequencyKeys[form].data();
    TFields fields(schedule.Get(key), schedule.Where(key));
    s.Frequency = static_cast<TFrequency>(form);
    switch (s.Frequency) {
    case TFrequency::Daily:
        s.DailyEvery = fields.Number("every");
        break;
    case TFrequency::Weekly: {
        s.WeeklyEvery = fields.Number("every");
        const TJson& days = fields.Get("days");
        if (!days.is_array()) {
            fields.Fail("days", "must be a list of week days");
        }
        for (const TJson& day : days) {
            const auto found =
                day.is_string() ? WeekDayFromName(day.get<std::string>()) : std::nullopt;
            if (!found) {
                fields.Fail("days", "must name week days: Mon, Tue, Wed, Thu, Fri, Sat, Sun");
            }
            s.WeekDays |= static_cast<std::uint8_t>(1u << *found);
        }
        break;
    }
    case TFrequency::Monthly:
        s.ByWeekDay = fields.Has("week");
        if (s.ByWeekDay) {
            s.Occurrence = fields.Named("week", OccurrenceNames);
            s.OccWeekDay = fields.Named("weekday", WeekDayNames);
            s.OccMonthlyEvery = fields.Number("every");
        } else {
            s.MonthDay = fields.Number("day");
            s.MonthlyEvery = fields.Number("every");
        }
        break;
    }
    fields.Finish();
}

void ReadTrigger(TFields& schedule, TScheDef& s) {
    constexpr std::array<std::string_view, 2> triggers = {"once", "repeat"};
    if (schedule.OneOf(triggers) == 0) {
        s.Trigger = TTrigger::Once;
        s.OnceAt = schedule.Time("once");
        return;
    }
    s.Trigger = TTrigger::Periodic;
    TFields repeat(schedule.Get("repeat"), schedule.Where("repeat"));
    s.EveryCount = repeat.Number("every");
    s.EveryUnit = static_cast<TEveryUnit>(repeat.Named("unit", UnitNames));
    s.BetweenStart = repeat.Time("from");
    s.BetweenEnd = repeat.Time("to");
    repeat.Finish();
}

TScheDef ScheduleFromJson(const TJson& json, const std::string& where) {
    TScheDef s;
    if (json.is_null()) {
        return s;
    }
    TFields schedule(json, where);
    ReadFrequency(schedule, s);
    ReadTrigger(schedule, s);
    s.StartDate = schedule.Date("start");
    s.NoEnd = schedule.Get("end").is_null();
    if (!s.NoEnd) {
        s.EndDate = schedule.Date("end");
    }
    schedule.Finish();
    return s;
}

template <std::size_t N>
std::optional<std::uint8_t> PositionOf(const std::array<std::string_view, N>& names,
                                       std::string_view name) {
    const auto found = std::ranges::find_if(
        names, [&](std::string_view known) { return SameLetters(known, name); });
    if (found == names.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(found - names.begin());
}

struct TFieldName {
    TTaskField Field;
    const char* Name;
};

constexpr TFieldName FieldNames[] = {
    {TTaskField::Name, "name"},
    {TTaskField::Command, "command"},
    {TTaskField::Parameters, "arguments"},
    {TTaskField::WorkDir, "working_directory"},
    {TTaskField::Priority, "priority"},
    {TTaskField::Frequency, "schedule"},
    {TTaskField::DailyEvery, "schedule.daily.every"},
    {TTaskField::WeeklyEvery, "schedule.weekly.every"},
    {TTaskField::WeekDays, "schedule.weekly.days"},
    {TTaskField::MonthDay, "schedule.monthly.day"},
    {TTaskField::MonthlyEvery, "schedule.monthly.every"},
    {TTaskField::Occurrence, "schedule.monthly.week"},
    {TTaskField::OccWeekDay, "schedule.monthly.weekday"},
    {TTaskField::OccMonthlyEvery, "schedule.monthly.every"},
    {TTaskField::Trigger, "schedule"},
    {TTaskField::OnceAt, "schedule.once"},
    {TTaskField::EveryCount, "schedule.repeat.every"},
    {TTaskField::EveryUnit, "schedule.repeat.unit"},
    {TTaskField::BetweenStart, "schedule.repeat.from"},
    {TTaskField::BetweenEnd, "schedule.repeat.to"},
    {TTaskField::StartDate, "schedule.start"},
    {TTaskField::EndDate, "schedule.end"},
};

} // namespace

namespace {

// `least` to `most` digits; -1 for anything else.
int Digits(std::string_view text, std::size_t least, std::size_t most) {
    if (text.size() < least || text.size() > most ||
        !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    int value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<TDateTime> TimeOfDayFromText(std::string_view text) {
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = text.find(':', first + 1);
    const int hour = Digits(text.substr(0, first), 1, 2);
    const int minute = Digits(text.substr(first + 1, second - first - 1), 2, 2);
    const int seconds =
        second == std::string_view::npos ? 0 : Digits(text.substr(second + 1), 2, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || seconds < 0 || seconds > 59) {
        return std::nullopt;
    }
    return EncodeTime(hour, minute, seconds);
}

std::optional<TDateTime> DateFromText(std::string_view text) {
    const std::string copy(text);
    int year = 0;
    int month = 0;
    int day = 0;
    int used = 0;
    const bool read = copy.size() == 10 &&
                      std::sscanf(copy.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 &&
                      used == 10 && year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
                      day <= DaysInMonth(year, month);
    if (!read) {
        return std::nullopt;
    }
    return EncodeDate(year, month, day);
}

std::optional<std::uint8_t> WeekDayFromName(std::string_view name) {
    if (const auto day = PositionOf(DayNames, name)) {
        return day;
    }
    return PositionOf(WeekDayNames, name);
}

std::optional<std::uint8_t> OccurrenceFromName(std::string_view name) {
    return PositionOf(OccurrenceNames, name);
}

std::optional<TEveryUnit> UnitFromName(std::string_view name) {
    const auto unit = PositionOf(UnitNames, name);
    return unit ? std::optional(static_cast<TEveryUnit>(*unit)) : std::nullopt;
}

std::string JsonFieldName(TTaskField field) {
    for (const TFieldName& entry : FieldNames) {
        if (entry.Field == field) {
            return entry.Name;
        }
    }
    return "schedule";
}

TJson ScheduleToJson(const TScheDef& s) {
    if (!IsDefined(s)) {
        return nullptr;
    }
    TJson json = TJson::object();
    const auto frequency = static_cast<unsigned>(s.Frequency);
    if (frequency < FrequencyKeys.size()) {
        json[std::string(FrequencyKeys[frequency])] = FrequencyJson(s);
    } else {
        json["frequency"] = frequency;
    }
    if (s.Trigger == TTrigger::Once) {
        json["once"] = TimeText(s.OnceAt);
    } else if (s.Trigger == TTrigger::Periodic) {
        json["repeat"] = {{"every", s.EveryCount},
                          {"unit", NameOrCode(UnitNames, static_cast<unsigned>(s.EveryUnit))},
                          {"from", TimeText(s.BetweenStart)},
                          {"to", TimeText(s.BetweenEnd)}};
    } else {
        json["trigger"] = static_cast<unsigned>(s.Trigger);
    }
    json["start"] = DateText(s.StartDate);
    json["end"] = s.NoEnd ? TJson(nullptr) : TJson(DateText(s.EndDate));
    return json;
}

TJson TaskToJson(const TTaskDef& task) {
    const std::string priority = PriorityName(task.Priority);
    return {{"id", task.Id},
            {"name", task.Name},
            {"command", task.Command},
            {"arguments", task.Parameters},
            {"working_directory", task.WorkDir},
            {"enabled", task.Enabled},
            {"blocking", task.Blocking},
            {"visible", task.Visible},
            {"priority", priority.empty() ? TJson(task.Priority) : TJson(priority)},
            {"schedule", ScheduleToJson(task.Schedule)}};
}

std::string JsonText(const TJson& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string TasksToJsonText(const TTaskList& tasks) {
    TJson list = TJson::array();
    for (std::size_t position = 0; position < tasks.Count(); ++position) {
        list.push_back(TaskToJson(tasks.GetTask(position)));
    }
    return JsonText(TJson{{"tasks", list}}) + "\n";
}

TTaskDef TaskFromJson(const TJson& json) {
    TFields fields(json, "");
    TTaskDef task = TTaskDef::New();
    task.Enabled = true;
    if (fields.Has("id")) {
        task.Id = fields.Number("id");
    }
    task.Name = fields.Text("name");
    task.Command = fields.Text("command");
    task.Parameters = fields.Text("arguments", "");
    task.WorkDir = fields.Text("working_directory", "");
    task.Enabled = fields.Flag("enabled", task.Enabled);
    task.Blocking = fields.Flag("blocking", task.Blocking);
    task.Visible = fields.Flag("visible", task.Visible);
    if (fields.Has("priority")) {
        const auto priority = PriorityFromName(fields.Text("priority"));
        if (!priority) {
            fields.Fail("priority", "must be one of High, Realtime, Normal, Low");
        }
        task.Priority = *priority;
    }
    task.Schedule = ScheduleFromJson(fields.Get("schedule"), "schedule");
    fields.Finish();
    return task;
}

std::vector<TTaskDef> TasksFromJsonText(std::string_view text) {
    TJson json;
    try {
        json = TJson::parse(text);
    } catch (const TJson::parse_error& error) {
        throw TTaskJsonError(std::string("not JSON: ") + error.what());
    }
    if (!json.is_object() || !json.contains("tasks") || !json.at("tasks").is_array() ||
        json.size() != 1) {
        throw TTaskJsonError("the text must be {\"tasks\": [...]} and nothing else");
    }
    std::vector<TTaskDef> tasks;
    for (const TJson& record : json.at("tasks")) {
        try {
            tasks.push_back(TaskFromJson(record));
        } catch (const TTaskJsonError& error) {
            std::string name;
            if (record.is_object() && record.contains("name") && record.at("name").is_string()) {
                name = " (" + record.at("name").get<std::string>() + ")";
            }
            throw TTaskJsonError("task " + std::to_string(tasks.size() + 1) + name + ": " +
                                 error.what());
        }
    }
    return tasks;
}

} // namespace tarvok
