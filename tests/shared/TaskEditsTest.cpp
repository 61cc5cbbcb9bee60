#include "shared/TaskEdits.h"

#include "platform/Files.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

namespace tarvok {
namespace {

TTaskDef Named(std::int32_t id, const std::string& name) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    return task;
}

TTaskList ListOf(std::initializer_list<TTaskDef> tasks) {
    TTaskList list;
    for (TTaskDef task : tasks) {
        list.AddTask(task, false);
    }
    return list;
}

std::string Names(const TTaskList& list) {
    std::string names;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        names += TaskCaption(list.GetTask(i)) + " ";
    }
    return names;
}

// An edit lands where the task is now, even when the list changed while it was being made.
TEST(TaskEdits, AReplacementTakesTheTasksPlaceWhereverItIsNow) {
    struct TRow {
        const char* Name;
        std::size_t Position; // where the task was when the edit began
        std::int32_t Id;
        bool Replaced;
        std::string After;
    };
    const TRow rows[] = {
        {"in place", 1, 2, true, "A [1] new [2] C [3] "},
        {"another task came there", 0, 3, true, "A [1] B [2] new [3] "},
        {"past the end", 9, 1, true, "new [1] B [2] C [3] "},
        {"the task is gone", 1, 7, false, "A [1] B [2] C [3] "},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TTaskList list = ListOf({Named(1, "A"), Named(2, "B"), Named(3, "C")});
        EXPECT_EQ(ReplaceTask(list, row.Position, Named(row.Id, "new")), row.Replaced);
        EXPECT_EQ(Names(list), row.After);
    }
    TTaskList list = ListOf({Named(1, "A"), Named(3, "C")});
    TTaskDef added = Named(0, "B");
    EXPECT_EQ(AddNewTask(list, added), 2);
    EXPECT_EQ(added.Id, 2);
    EXPECT_EQ(Names(list), "A [1] C [3] B [2] ");
}

class TaskEditsFileTest : public testing_support::TempDirTest {};

TEST_F(TaskEditsFileTest, ACommitThatCannotSaveChangesNothing) {
    TTaskList tasks = ListOf({Named(1, "A")});
    TTaskList changed = tasks;
    TTaskDef added = Named(0, "B");
    AddNewTask(changed, added);
    EXPECT_THROW(CommitTaskList(tasks, changed, Path("missing/tarvok.tsk")), platform::TIoError);
    EXPECT_EQ(Names(tasks), "A [1] ");

    CommitTaskList(tasks, changed, Path("tarvok.tsk"));
    EXPECT_EQ(Names(tasks), "A [1] B [2] ");
    EXPECT_EQ(Names(LoadTaskList(Path("tarvok.tsk"))), "A [1] B [2] ");
    EXPECT_EQ(LoadTaskList(Path("none.tsk")).Count(), 0u) << "a missing file holds no tasks";
    Write(Path("torn.tsk"), std::string(TaskDefSize + 1, '\0'));
    EXPECT_THROW(LoadTaskList(Path("torn.tsk")), platform::TIoError)
        << "part of a file is never taken for all of it";
}

} // namespace
} // namespace tarvok
