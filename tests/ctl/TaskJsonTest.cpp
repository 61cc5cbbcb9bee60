#include "ctl/TaskJson.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::HasSubstr;

TScheDef Dated(TScheDef s) {
    s.StartDate = EncodeDate(2026, 12, 1);
    s.NoEnd = true;
    return s;
}

// Every form a schedule editor can make, each with only the fields its form uses.
std::vector<std::pair<const char*, TScheDef>> Forms() {
    std::vector<std::pair<const char*, TScheDef>> forms;
    TScheDef s;
    s.DailyEvery = 3;
    s.OnceAt = EncodeTime(23, 59);
    forms.emplace_back("daily, once", Dated(s));

    s = {};
    s.Frequency = TFrequency::Weekly;
    s.WeeklyEvery = 2;
    s.WeekDays = 0b1010001; // Mon, Fri, Sun: the first and last bit
    s.Trigger = TTrigger::Periodic;
    s.EveryCount = 15;
    s.EveryUnit = TEveryUnit::Minutes;
    s.BetweenStart = EncodeTime(8, 0);
    s.BetweenEnd = EncodeTime(18, 30);
    forms.emplace_back("weekly, every 15 minutes", Dated(s));

    s = {};
    s.Frequency = TFrequency::Monthly;
    s.MonthDay = 31;
    s.MonthlyEvery = 1;
    s.OnceAt = EncodeTime(0, 0, 1); // a second the editors never make
    forms.emplace_back("monthly on a day", Dated(s));

    s = {};
    s.Frequency = TFrequency::Monthly;
    s.ByWeekDay = true;
    s.Occurrence = OccurrenceLast;
    s.OccWeekDay = 6;
    s.OccMonthlyEvery = 12;
    s.Trigger = TTrigger::Periodic;
    s.EveryCount = 1;
    s.EveryUnit = TEveryUnit::Hours;
    s.BetweenEnd = EncodeTime(23, 59);
    s = Dated(s);
    s.NoEnd = false;
    s.EndDate = EncodeDate(2028, 2, 29);
    forms.emplace_back("last Sunday, until a leap day", s);

    forms.emplace_back("no schedule", TScheDef{});
    return forms;
}

TEST(TaskJson, EveryScheduleFormComesBackAsItWent) {
    TTaskList list;
    for (const auto& [name, schedule] : Forms()) {
        TTaskDef task = TTaskDef::New();
        task.Name = name;
        task.Command = "/bin/true";
        task.Parameters = "--say \"hello\" \\ \t";
        task.WorkDir = "/tmp/dir with blanks";
        task.Enabled = list.Count() % 2 == 0;
        task.Blocking = true;
        task.Priority = static_cast<std::uint8_t>(list.Count() % 4);
        task.Schedule = schedule;
        list.AddTask(task, true);
    }
    const std::vector<TTaskDef> read = TasksFromJsonText(TasksToJsonText(list));
    ASSERT_EQ(read.size(), list.Count());
    for (std::size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(list.GetTask(i).Name);
        EXPECT_EQ(read[i], list.GetTask(i));
    }
}

TEST(TaskJson, ABadRecordIsRefusedNamingItAndItsField) {
    const std::string good = R"("name": "Backup", "command": "/bin/true")";
    const std::string daily = R"("daily": {"every": 1}, "once": "10:15", "start": "2026-12-01")";
    struct TRow {
        std::string Record;
        std::string Error;
    };
    const TRow rows[] = {
        {R"({"command": "/bin/true", "schedule": null})", "task 2: name is missing"},
        {"{" + good + R"(, "schedule": null, "nmae": "x"})",
         "task 2 (Backup): nmae is not a field of this record"},
        {"{" + good + R"(, "enabled": "yes", "schedule": null})", "enabled must be true or false"},
        {"{" + good + R"(, "priority": "Urgent", "schedule": null})",
         "priority must be one of High, Realtime, Normal, Low"},
        {"{" + good + R"(, "id": 1.5, "schedule": null})", "id must be a whole number"},
        {"{" + good + R"(, "id": 4294967296, "schedule": null})", "id must be a whole number"},
        {"{" + good + R"(, "schedule": {"once": "10:15", "start": "2026-12-01", "end": null}})",
         "schedule needs \"daily\" or \"weekly\" or \"monthly\""},
        {"{" + good +
             R"(, "schedule": {"daily": {"every": 1}, "weekly": {"every": 1, "days": []},)" +
             R"( "once": "10:15", "start": "2026-12-01", "end": null}})",
         "schedule.daily cannot go with \"weekly\""},
        {"{" + good + R"(, "schedule": {"weekly": {"every": 1, "days": ["Mon", "Funday"]},)" +
             R"( "once": "10:15", "start": "2026-12-01", "end": null}})",
         "schedule.weekly.days must name week days"},
        {"{" + good +
             R"(, "schedule": {"monthly": {"week": "Fifth", "weekday": "Monday", "every": 1},)" +
             R"( "once": "10:15", "start": "2026-12-01", "end": null}})",
         "schedule.monthly.week must be one of First, Second, Third, Fourth, Last"},
        {"{" + good +
             R"(, "schedule": {"daily": {"every": 1}, "once": "24:00", "start": "2026-12-01", "end": null}})",
         "schedule.once must be a time of day, HH:MM"},
        {"{" + good +
             R"(, "schedule": {"daily": {"every": 1}, "once": "9:5x", "start": "2026-12-01", "end": null}})",
         "schedule.once must be a time of day, HH:MM"},
        {"{" + good + R"(, "schedule": {)" + daily + R"(, "end": "2027-02-29"}})",
         "schedule.end must be a date, YYYY-MM-DD"},
        {"{" + good + R"(, "schedule": {)" + daily + "}}", "schedule.end is missing"},
        {"{" + good +
             R"(, "schedule": {"daily": {"every": 1}, "repeat": {"every": 2, "unit": "days",)" +
             R"( "from": "08:00", "to": "09:00"}, "start": "2026-12-01", "end": null}})",
         "schedule.repeat.unit must be one of hours, minutes"},
        {"[1]", "task 2: the record must be an object"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Record);
        const std::string text = R"({"tasks": [{"name": "First", "command": "/bin/true",)"
                                 R"( "schedule": null}, )" +
                                 row.Record + "]}";
        try {
            TasksFromJsonText(text);
            ADD_FAILURE() << "read";
        } catch (const TTaskJsonError& error) {
            EXPECT_THAT(error.what(), testing::StartsWith("task 2"));
            EXPECT_THAT(error.what(), HasSubstr(row.Error));
        }
    }
    for (const char* text : {"", "{\"tasks\": {}}", "{\"tasks\": [], \"more\": 1}", "[]", "{"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(TasksFromJsonText(text), TTaskJsonError);
    }
}

} // namespace
} // namespace tarvok
