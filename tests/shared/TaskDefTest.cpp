#include "shared/TaskDef.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace tarvok {
namespace {

TTaskDefBytes Encoded(const TTaskDef& task) {
    TTaskDefBytes bytes;
    bytes.fill(0xEE); // whatever the buffer held must not survive
    EncodeTask(task, bytes);
    return bytes;
}

TTaskDefBytes Bytes(std::size_t offset, std::vector<std::uint8_t> content) {
    TTaskDefBytes bytes{};
    std::copy(content.begin(), content.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

void ExpectSameBytes(const TTaskDefBytes& actual, const TTaskDefBytes& expected) {
    for (std::size_t i = 0; i < TaskDefSize; ++i) {
        ASSERT_EQ(int{actual[i]}, int{expected[i]}) << "first difference at offset " << i;
    }
}

struct FieldCase {
    const char* field;
    std::function<void(TTaskDef&)> set;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

// Each row sets one field of a zero record: the stored form must carry exactly these bytes at
// exactly this offset and nothing anywhere else, and must read back as the same record.
TEST(TaskCodec, EveryFieldAtItsOffset) {
    const std::vector<FieldCase> cases = {
        {"Id", [](TTaskDef& t) { t.Id = 0x01020304; }, 0, {4, 3, 2, 1}},
        {"negative Id", [](TTaskDef& t) { t.Id = -2; }, 0, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"Name", [](TTaskDef& t) { t.Name = "AB"; }, 4, {2, 'A', 'B'}},
        {"Command", [](TTaskDef& t) { t.Command = "C"; }, 105, {1, 'C'}},
        {"Parameters", [](TTaskDef& t) { t.Parameters = "-p"; }, 206, {2, '-', 'p'}},
        {"WorkDir", [](TTaskDef& t) { t.WorkDir = "/w"; }, 307, {2, '/', 'w'}},
        {"Enabled", [](TTaskDef& t) { t.Enabled = true; }, 408, {1}},
        {"Blocking", [](TTaskDef& t) { t.Blocking = true; }, 409, {1}},
        {"Visible", [](TTaskDef& t) { t.Visible = true; }, 410, {1}},
        {"Priority", [](TTaskDef& t) { t.Priority = 3; }, 411, {3}},
        {"Frequency", [](TTaskDef& t) { t.Schedule.Frequency = TFrequency::Monthly; }, 412, {2}},
        {"Trigger", [](TTaskDef& t) { t.Schedule.Trigger = TTrigger::Periodic; }, 413, {1}},
        {"DailyEvery",
         [](TTaskDef& t) { t.Schedule.DailyEvery = 0x11223344; },
         416,
         {0x44, 0x33, 0x22, 0x11}},
        {"WeeklyEvery", [](TTaskDef& t) { t.Schedule.WeeklyEvery = 5; }, 420, {5, 0, 0, 0}},
        {"WeekDays", [](TTaskDef& t) { t.Schedule.WeekDays = 0x55; }, 424, {0x55}},
        {"ByWeekDay", [](TTaskDef& t) { t.Schedule.ByWeekDay = true; }, 425, {1}},
        {"MonthDay", [](TTaskDef& t) { t.Schedule.MonthDay = 31; }, 428, {31, 0, 0, 0}},
        {"MonthlyEvery", [](TTaskDef& t) { t.Schedule.MonthlyEvery = 7; }, 432, {7, 0, 0, 0}},
        {"Occurrence", [](TTaskDef& t) { t.Schedule.Occurrence = 4; }, 436, {4}},
        {"OccWeekDay", [](TTaskDef& t) { t.Schedule.OccWeekDay = 6; }, 437, {6}},
        {"OccMonthlyEvery", [](TTaskDef& t) { t.Schedule.OccMonthlyEvery = 9; }, 440, {9, 0, 0, 0}},
        {"OnceAt",
         [](TTaskDef& t) { t.Schedule.OnceAt = 0.5; },
         444,
         {0, 0, 0, 0, 0, 0, 0xE0, 0x3F}},
        {"EveryCount", [](TTaskDef& t) { t.Schedule.EveryCount = 15; }, 452, {15, 0, 0, 0}},
        {"EveryUnit", [](TTaskDef& t) { t.Schedule.EveryUnit = TEveryUnit::Minutes; }, 456, {1}},
        {"BetweenStart",
         [](TTaskDef& t) { t.Schedule.BetweenStart = 0.25; },
         460,
         {0, 0, 0, 0, 0, 0, 0xD0, 0x3F}},
        {"BetweenEnd",
         [](TTaskDef& t) { t.Schedule.BetweenEnd = 0.75; },
         468,
         {0, 0, 0, 0, 0, 0, 0xE8, 0x3F}},
        {"NoEnd", [](TTaskDef& t) { t.Schedule.NoEnd = true; }, 476, {1}},
        {"StartDate",
         [](TTaskDef& t) { t.Schedule.StartDate = 2.0; },
         480,
         {0, 0, 0, 0, 0, 0, 0, 0x40}},
        {"EndDate",
         [](TTaskDef& t) { t.Schedule.EndDate = -2.0; },
         488,
         {0, 0, 0, 0, 0, 0, 0, 0xC0}},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.field);
        TTaskDef task;
        c.set(task);
        const TTaskDefBytes expected = Bytes(c.offset, c.bytes);
        ExpectSameBytes(Encoded(task), expected);
        EXPECT_EQ(DecodeTask(expected), task);
    }
}

TEST(TaskCodec, ReaderIgnoresPaddingAndTextTailsAndTakesAnyNonZeroAsTrue) {
    TTaskDef task;
    task.Name = std::string(30, 'n');
    task.Command = "cmd";
    task.Enabled = task.Blocking = task.Visible = true;
    task.Schedule.NoEnd = task.Schedule.ByWeekDay = true;
    TTaskDefBytes bytes = Encoded(task);
    for (std::size_t i : {35u, 104u, 109u, 205u, 207u, 306u, 308u, 407u, 414u, 415u, 426u, 427u,
                          438u, 439u, 457u, 459u, 477u, 479u}) {
        bytes[i] = 0xAA;
    }
    for (std::size_t i : {408u, 409u, 410u, 425u, 476u}) {
        bytes[i] = 0x80;
    }
    EXPECT_EQ(DecodeTask(bytes), task);
}

TEST(TaskCodec, TextsAreCutToOneHundredCharacters) {
    TTaskDef task;
    task.Name = std::string(100, 'a') + std::string(50, 'b');
    const TTaskDefBytes bytes = Encoded(task);
    EXPECT_EQ(bytes[4], 100);
    EXPECT_EQ(bytes[105], 0) << "the name ran into the command";
    EXPECT_EQ(DecodeTask(bytes).Name, std::string(100, 'a'));

    TTaskList list;
    list.AddTask(task, true);
    EXPECT_EQ(list.GetTask(0).Name, std::string(100, 'a'));

    // A length byte no writer produces reads the field and nothing past it.
    struct Field {
        std::size_t offset;
        std::string TTaskDef::*text;
    };
    for (const Field f : {Field{4, &TTaskDef::Name}, Field{105, &TTaskDef::Command},
                          Field{206, &TTaskDef::Parameters}, Field{307, &TTaskDef::WorkDir}}) {
        SCOPED_TRACE(f.offset);
        TTaskDefBytes damaged{};
        damaged[f.offset] = 200;
        std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(f.offset + 1), 100,
                    std::uint8_t{'x'});
        damaged[f.offset + 101] = 'y';
        EXPECT_EQ(DecodeTask(damaged).*f.text, std::string(100, 'x'));
    }
}

TEST(TaskDef, NewRecordAndCaption) {
    TTaskDef fresh = TTaskDef::New();
    TTaskDefBytes expected{};
    expected[410] = 1;
    expected[411] = 2;
    ExpectSameBytes(Encoded(fresh), expected);
    ExpectSameBytes(Encoded(TTaskDef{}), TTaskDefBytes{});

    fresh.Name = "Backup";
    fresh.Id = 3;
    EXPECT_EQ(TaskCaption(fresh), "Backup [3]");
}

TTaskList ListWithIds(std::initializer_list<std::int32_t> ids) {
    TTaskList list;
    for (std::int32_t id : ids) {
        TTaskDef task;
        task.Id = id;
        task.Name = "task " + std::to_string(list.Count());
        list.AddTask(task, false);
    }
    return list;
}

TEST(TaskList, AssignsTheSmallestPositiveIdNotInUse) {
    struct Case {
        std::initializer_list<std::int32_t> ids;
        std::int32_t expected;
    };
    for (const Case& c : std::initializer_list<Case>{{{}, 1},
                                                     {{1, 2, 4}, 3},
                                                     {{1, 2, 3}, 4},
                                                     {{3, 1, 2}, 4},
                                                     {{2, 3}, 1},
                                                     {{5, 5}, 1},
                                                     {{-1, 0, 1}, 2},
                                                     {{1, 1, 2}, 3},
                                                     {{2147483647, 1}, 2}}) {
        SCOPED_TRACE(testing::PrintToString(std::vector<std::int32_t>(c.ids)));
        TTaskList list = ListWithIds(c.ids);
        TTaskDef task;
        task.Id = 99;
        EXPECT_EQ(list.AddTask(task, true), c.expected);
        EXPECT_EQ(task.Id, c.expected) << "caller's record not updated";
        ASSERT_EQ(list.Count(), c.ids.size() + 1);
        EXPECT_EQ(list.GetTask(list.Count() - 1).Id, c.expected);
    }
}

TEST(TaskList, KeepsUnassignedIdsAndActsOnTheFirstOfDuplicates) {
    TTaskList list = ListWithIds({7, 0, -5, 7});
    EXPECT_EQ(list.GetTask(1).Id, 0);
    EXPECT_EQ(list.GetTask(2).Id, -5);
    EXPECT_EQ(list.FindTask(7).Name, "task 0");

    TTaskDef key;
    key.Id = 7;
    list.DeleteTask(key);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.FindTask(7).Name, "task 3");

    key.Id = 42;
    list.DeleteTask(key);
    EXPECT_EQ(list.Count(), 3u);
    TTaskDef missing = list.FindTask(42);
    EXPECT_EQ(missing, TTaskDef{});
    ExpectSameBytes(Encoded(missing), TTaskDefBytes{});
}

TEST(TaskList, ReusesFreedIds) {
    TTaskList list;
    for (int i = 0; i < 3; ++i) {
        TTaskDef task = TTaskDef::New();
        list.AddTask(task, true);
    }
    list.DeleteTask(list.FindTask(1));
    TTaskDef next;
    EXPECT_EQ(list.AddTask(next, true), 1);
}

// The manager replaces an edited task in place: append the edit, exchange, drop the last.
TEST(TaskList, ReplaceInPlaceThroughExchange) {
    TTaskList list = ListWithIds({1, 2, 3});
    TTaskDef edited = list.GetTask(1);
    edited.Name = "edited";
    list.AddTask(edited, false);
    list.Exchange(1, list.Count() - 1);
    list.DeleteAt(list.Count() - 1);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.GetTask(1).Name, "edited");
    EXPECT_EQ(list.GetTask(1).Id, 2);
    EXPECT_EQ(list.GetTask(2).Name, "task 2");

    EXPECT_THROW(list.GetTask(3), std::out_of_range);
    EXPECT_THROW(list.DeleteAt(3), std::out_of_range);
    EXPECT_THROW(list.Exchange(0, 3), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
}

} // namespace
} // namespace tarvok
