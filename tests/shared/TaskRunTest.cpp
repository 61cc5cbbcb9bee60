#include "shared/TaskRun.h"

#include "tests/FakeProcesses.h"

#include <cstdio>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing_support::TFakeProcesses;

// Records what the host is told, as "event name id pid".
class TRecordingHost : public TRunTaskHost {
public:
    std::vector<std::string> Events;
    bool Confirm = true;
    bool TakeOver = false;

    void Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                std::uint32_t processId) override {
        Events.push_back(RunEventText(event, taskName, taskId) + " pid " +
                         std::to_string(processId));
    }
    bool ConfirmRun(const TTaskDef& task) override {
        Events.push_back("confirm " + task.Name);
        return Confirm;
    }
    bool HandOver(const TTaskDef& task) override {
        if (TakeOver) {
            Events.push_back("handed over " + task.Name);
        }
        return TakeOver;
    }
};

TTaskDef Task(std::int32_t id, const std::string& name, bool blocking) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = "/bin/job";
    task.Blocking = blocking;
    return task;
}

class RunTaskTest : public testing::Test {
protected:
    void SetUp() override {
        TTaskList list;
        for (TTaskDef task : {Task(1, "Backup", true), Task(2, "Mail", false)}) {
            list.AddTask(task, false);
        }
        table.Rebuild(list);
    }

    TProcessTable table;
    TFakeProcesses processes;
    TRecordingHost host;
};

TEST_F(RunTaskTest, OutcomeTable) {
    struct Row {
        bool blocking;
        std::uint32_t launchedId;
        std::string line;
        std::uint32_t recordedId;
    };
    const Row rows[] = {
        {true, 1000, "Blocking task \"Backup\" [1] started. pid 1000", 1000},
        {false, 1000, "Task \"Backup\" [1] started. pid 1000", 0},
        {true, 0, "Blocking task \"Backup\" [1] failed to start. pid 0", 0},
        {false, 0, "Task \"Backup\" [1] failed to start. pid 0", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        SetUp();
        host.Events.clear();
        processes.Running.clear();
        processes.NextId = row.launchedId;
        RunTask(Task(1, "Backup", row.blocking), table, host, processes, {});
        EXPECT_THAT(host.Events, ElementsAre("confirm Backup", row.line));
        EXPECT_EQ(table.Find(1)->ProcessId, row.recordedId);
    }
}

TEST_F(RunTaskTest, BlockingTaskStillActiveHoldsOnlyItself) {
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    RunTask(Task(2, "Mail", false), table, host, processes, {});
    EXPECT_THAT(host.Events,
                ElementsAre("confirm Backup", "Blocking task \"Backup\" [1] started. pid 1000",
                            "Blocking task \"Backup\" [1] is still active. pid 1000",
                            "confirm Mail", "Task \"Mail\" [2] started. pid 1001"));
    EXPECT_EQ(table.Find(1)->ProcessId, 1000u);
    EXPECT_EQ(processes.Launched, (std::vector<std::string>{"Backup", "Mail"}));
}

TEST_F(RunTaskTest, EndedRunIsReportedFinishedBeforeTheNextStart) {
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    processes.Running.clear(); // the run ended, and no sweep has seen it yet
    host.Events.clear();
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    EXPECT_THAT(host.Events,
                ElementsAre("Blocking task \"Backup\" [1] finished. pid 1000", "confirm Backup",
                            "Blocking task \"Backup\" [1] started. pid 1001"));
    EXPECT_EQ(table.Find(1)->ProcessId, 1001u);
}

TEST_F(RunTaskTest, RefusedCommandAndWorkingDirectory) {
    struct Row {
        std::string command;
        std::string workDir;
        std::string line;
    };
    const Row rows[] = {
        {"", "", "Invalid command in task \"Backup\" [1]. pid 0"},
        {"/bin/missing", "", "Invalid command in task \"Backup\" [1]. pid 0"},
        {"/work", "", "Invalid command in task \"Backup\" [1]. pid 0"},
        {"/bin/job", "/missing", "Invalid working directory in task \"Backup\" [1]. pid 0"},
        {"/bin/job", "/bin/job", "Invalid working directory in task \"Backup\" [1]. pid 0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command + " in " + row.workDir);
        host.Events.clear();
        TTaskDef task = Task(1, "Backup", true);
        task.Command = row.command;
        task.WorkDir = row.workDir;
        RunTask(task, table, host, processes, {});
        EXPECT_THAT(host.Events, ElementsAre("confirm Backup", row.line));
        EXPECT_TRUE(processes.Launched.empty());
        EXPECT_EQ(table.Find(1)->ProcessId, 0u);
    }
}

TEST_F(RunTaskTest, UnknownTaskIsRefusedWithItsEmptyNameAndLeavesTheTableAlone) {
    RunTask(TTaskDef{}, table, host, processes, {});
    EXPECT_THAT(host.Events, ElementsAre("confirm ", "Invalid command in task \"\" [0]. pid 0"));
    EXPECT_EQ(table.Count(), 2u);
}

TEST_F(RunTaskTest, ManagerFlavourDeclinesOrHandsOver) {
    host.Confirm = false;
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    EXPECT_THAT(host.Events, ElementsAre("confirm Backup"));

    host.Events.clear();
    host.Confirm = true;
    host.TakeOver = true;
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    EXPECT_THAT(host.Events, ElementsAre("confirm Backup", "handed over Backup"));
    EXPECT_TRUE(processes.Launched.empty());
}

TEST_F(RunTaskTest, BlockingTaskWithoutEntryGetsOneAndIsFollowed) {
    RunTask(Task(7, "Late", true), table, host, processes, {});
    ASSERT_NE(table.Find(7), nullptr);
    EXPECT_EQ(table.Find(7)->ProcessId, 1000u);
    EXPECT_EQ(table.Entries().back().TaskName, "Late");
    RunTask(Task(8, "Quick", false), table, host, processes, {});
    EXPECT_EQ(table.Find(8), nullptr) << "nothing to follow for a non-blocking run";
}

TEST_F(RunTaskTest, SweepReportsEachEndedRunOnce) {
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    host.Events.clear();
    SweepFinished(table, host, processes);
    EXPECT_TRUE(host.Events.empty());
    processes.Running.clear();
    SweepFinished(table, host, processes);
    SweepFinished(table, host, processes);
    EXPECT_THAT(host.Events, ElementsAre("Blocking task \"Backup\" [1] finished. pid 1000"));
    EXPECT_EQ(table.Find(1)->ProcessId, 0u);
}

// A host that changes the table while it reports, as the manager's may while it shows a box,
// and only then reads the name it was given.
class TTableChangingHost : public TRunTaskHost {
public:
    TTableChangingHost(TProcessTable& table, std::function<void(TProcessTable&)> change)
        : table_(table), change_(std::move(change)) {}
    std::vector<std::string> Names;

    void Report(TRunEvent, const std::string& taskName, std::int32_t, std::uint32_t) override {
        if (change_) {
            change_(table_);
            change_ = nullptr;
        }
        Names.push_back(taskName);
    }

private:
    TProcessTable& table_;
    std::function<void(TProcessTable&)> change_;
};

TEST_F(RunTaskTest, SweepSurvivesAHostThatChangesTheTableWhileReporting) {
    struct TRow {
        const char* Name;
        std::function<void(TProcessTable&)> Change;
        std::vector<std::string> Reported;
    };
    const TRow rows[] = {
        {"entries added: the table moves in memory",
         [](TProcessTable& t) {
             for (std::int32_t id = 10; id < 40; ++id) {
                 t.Append(Task(id, "New " + std::to_string(id), true));
             }
         },
         {"Backup", "Mail", "Print"}},
        {"the reported entry and a later one removed",
         [](TProcessTable& t) {
             t.Remove(1);
             t.Remove(2);
         },
         {"Backup", "Print"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TProcessTable runs;
        for (TTaskDef task :
             {Task(1, "Backup", true), Task(2, "Mail", true), Task(3, "Print", true)}) {
            RunTask(task, runs, host, processes, {});
        }
        processes.Running.clear();
        TTableChangingHost changing(runs, row.Change);
        SweepFinished(runs, changing, processes);
        EXPECT_EQ(changing.Names, row.Reported);
        EXPECT_FALSE(runs.FollowsAnyRun());
    }
}

// A task list read again after it changed elsewhere: runs stay with their tasks, whatever moved.
TEST(ProcessTable, FollowingAChangedListKeepsTheRunsOfTheTasksStillThere) {
    TTaskList before;
    for (TTaskDef task : {Task(1, "Backup", true), Task(2, "Mail", true), Task(3, "Old", true)}) {
        before.AddTask(task, false);
    }
    TProcessTable table;
    table.Rebuild(before);
    table.Find(2)->ProcessId = 22;
    table.Find(3)->ProcessId = 33;

    TTaskList after;
    for (TTaskDef task : {Task(4, "New", true), Task(2, "Mail renamed", true),
                          Task(1, "Backup", true), Task(2, "Twin", true)}) {
        after.AddTask(task, false);
    }
    table.Follow(after);
    EXPECT_THAT(table.Entries(),
                ElementsAre(TTaskRunEntry{"New", 4, 0}, TTaskRunEntry{"Mail", 2, 22},
                            TTaskRunEntry{"Backup", 1, 0}, TTaskRunEntry{"Twin", 2, 0}));
}

TEST(RunEventText, AValueThatNamesNoEventHasNoText) {
    EXPECT_EQ(RunEventText(static_cast<TRunEvent>(99), "Backup", 1), "");
}

TEST(LoggingRunHost, LogsEveryEventAndPassesOnBlockingChanges) {
    const std::string path = testing::TempDir() + "tarvok-runhost.log";
    std::remove(path.c_str());
    TFixedClock clock(EncodeDate(2026, 12, 6) + EncodeTime(19, 16, 20));
    TSysLogger log(path, clock);
    log.NamedMonth = true;
    std::vector<std::string> changes;
    TLoggingRunHost host(log, [&](bool running, std::int32_t taskId, std::uint32_t processId) {
        changes.push_back((running ? "TS " : "TF ") + std::to_string(taskId) + " " +
                          std::to_string(processId));
    });
    TProcessTable table;
    TFakeProcesses processes;
    RunTask(Task(1, "Backup", true), table, host, processes, {});
    RunTask(Task(2, "Mail", false), table, host, processes, {});
    processes.Running.clear();
    SweepFinished(table, host, processes);
    EXPECT_THAT(log.Lines,
                ElementsAre("06-Dec-2026 - 19:16:20 : Blocking task \"Backup\" [1] started.",
                            "06-Dec-2026 - 19:16:20 : Task \"Mail\" [2] started.",
                            "06-Dec-2026 - 19:16:20 : Blocking task \"Backup\" [1] finished."));
    EXPECT_THAT(changes, ElementsAre("TS 1 1000", "TF 1 1000"));
    std::remove(path.c_str());
}

TEST(ProcessTable, RebuildFindRemove) {
    TTaskList list;
    for (TTaskDef task : {Task(5, "A", true), Task(5, "B", false), Task(6, "C", false)}) {
        list.AddTask(task, false);
    }
    TProcessTable table;
    table.Rebuild(list);
    table.Find(5)->ProcessId = 42;
    EXPECT_EQ(table.Find(5)->TaskName, "A") << "first match";
    table.Remove(5);
    EXPECT_EQ(table.Find(5)->TaskName, "B");
    EXPECT_EQ(table.Find(5)->ProcessId, 0u);
    EXPECT_EQ(table.Find(99), nullptr);
    table.Rebuild(list);
    EXPECT_EQ(table.Count(), 3u);
}

} // namespace
} // namespace tarvok
