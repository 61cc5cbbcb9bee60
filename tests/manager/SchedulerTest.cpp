// The manager's scheduling and its following of the service, without a window: a fake window,
// slot, clock and processes.
#include "manager/Scheduler.h"

#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"
#include "tests/manager/FakeManagerChannel.h"
#include "tests/manager/FakeSchedulerWindow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::DailyJob;
using testing_support::TFakeManagerChannel;
using testing_support::TFakeProcesses;
using testing_support::TFakeSchedulerWindow;

TDateTime At(int hour, int minute, int second, int ms = 0) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second, ms);
}

class SchedulerTest : public testing_support::TempDirTest {
protected:
    // A manager started at `now` with the tasks and a fresh log.
    void Start(bool serviceMode, std::initializer_list<TTaskDef> tasks, TDateTime now,
               bool looksOnly = false) {
        scheduler_.reset();
        std::filesystem::remove(Path("tarvok.log"));
        log_ = std::make_unique<TSysLogger>(Path("tarvok.log"), clock_);
        log_->Display = &window_;
        tasks_.Clear();
        for (TTaskDef task : tasks) {
            tasks_.AddTask(task, false);
        }
        table_.Rebuild(tasks_);
        clock_.Set(now);
        channel_ = {};
        channel_.Owned = {"TarvokService"};
        serviceMode_ = serviceMode;
        scheduler_ = std::make_unique<TScheduler>(TScheduler::TSetup{
            clock_, *processControl_, tasks_, table_, *log_, window_, channel_, serviceMode_,
            [this] { return steady_; }, looksOnly, Path("tarvok.runs")});
        window_.Events.clear();
    }

    // One tick of the timer at the moment, `after` later on the steady clock.
    void Tick(TDateTime now, std::chrono::milliseconds after = 0ms) {
        clock_.Set(now);
        steady_ += after;
        scheduler_->OnTimer();
    }
    void Receive(std::initializer_list<const char*> messages) {
        channel_.Inbox.insert(channel_.Inbox.end(), messages.begin(), messages.end());
        scheduler_->DrainMessages();
    }

    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : SplitLogLines(Read(Path("tarvok.log")))) {
            messages.push_back(line.substr(line.find(" : ") + 3));
        }
        return messages;
    }

    TFixedClock clock_;
    std::chrono::steady_clock::time_point steady_{};
    TFakeProcesses processes_;
    TProcessControl* processControl_ = &processes_;
    TTaskList tasks_;
    TProcessTable table_;
    TFakeSchedulerWindow window_;
    std::unique_ptr<TSysLogger> log_;
    TFakeManagerChannel channel_;
    bool serviceMode_ = false;
    std::unique_ptr<TScheduler> scheduler_;
};

TEST_F(SchedulerTest, EveryMessageOfTheServiceActsAsItsRowSays) {
    struct TRow {
        const char* Name;
        bool ServiceMode; // at the start
        std::initializer_list<const char*> Messages;
        std::vector<std::string> Events;
        bool ServiceModeAfter;
        const char* Panel1;
        std::vector<std::string> Sent = {};
    };
    const std::string nextRun = "Next run: 08-Dec-2026 10:16:00";
    const std::string commandWindow = "COMMAND WINDOW";
    const TRow rows[] = {
        {"SR while scheduling: green, roles kept",
         false,
         {"SR"},
         {"state Green 3"},
         false,
         "Next run: 08-Dec-2026 10:16:00"},
        {"SP: yellow", true, {"SP"}, {"state Yellow 2"}, true, "COMMAND WINDOW"},
        {"SS hands the running blocking task over",
         false,
         {"TS 1 4711", "SS"},
         {"image 1 3", "state Green 3"},
         true,
         "COMMAND WINDOW",
         {"TS 1 4711"}},
        {"SD takes over from the next whole minute",
         true,
         {"SD"},
         {"state Red 1"},
         false,
         "Next run: 08-Dec-2026 10:16:00"},
        {"TS and TF mark a known task; an unknown one changes nothing",
         true,
         {"TS 1 4711", "TF 1 4711", "TS 9 5000", "TF 9 5000"},
         {"image 1 3", "image 1 1"},
         true,
         "COMMAND WINDOW"},
        {"a TS without a process id", true, {"TS 1"}, {"image 1 3"}, true, "COMMAND WINDOW"},
        {"lower case, unknown codes and the manager's own requests are ignored",
         true,
         {"sd", "XY 1 2", "TR 1", "CR", "TN 1"},
         {},
         true,
         "COMMAND WINDOW"},
        {"TE tells of a failed run by the task's name, or its id once it is gone",
         true,
         {"TE 1 2", "TE 2 -9", "TE 7 1"},
         {"failed 1 Backup failed (exit code 2)", "failed 2 Mail failed (signal SIGKILL)",
          "failed 7 Task [7] failed (exit code 1)"},
         true,
         "COMMAND WINDOW"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        Start(row.ServiceMode, {DailyJob(1, "Backup", true), DailyJob(2, "Mail")}, At(10, 15, 40));
        clock_.Set(At(10, 15, 50));
        Receive(row.Messages);
        EXPECT_EQ(window_.Events, row.Events);
        EXPECT_EQ(scheduler_->ServiceMode(), row.ServiceModeAfter);
        EXPECT_EQ(log_->Suppressed, row.ServiceModeAfter);
        EXPECT_EQ(window_.Panels[1], row.Panel1);
        EXPECT_EQ(channel_.Sent, row.Sent);
    }
}

// Its own runs are recorded when they end, in service mode too (a run started before "SS").
TEST_F(SchedulerTest, AnOwnRunThatEndsBadlyIsRecordedLoggedAndNotified) {
    Start(false, {DailyJob(1, "Backup")}, At(10, 15, 40));
    Tick(At(10, 16, 0));
    processes_.End(1000, {.Known = true, .Signalled = false, .Code = 2, .MsAgo = 500});
    Receive({"SS"});
    window_.Events.clear();
    Tick(At(10, 16, 4, 500));
    EXPECT_THAT(window_.Events, ElementsAre("failed 1 Backup failed (exit code 2)"));
    const auto runs = ReadRunHistory(Path("tarvok.runs"));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(FormatRunLine(runs[0]), "2026-12-08 10:16:00.000\t2026-12-08 10:16:04.000\t1\t1000\t"
                                      "exit 2\tminute\tBackup");
}

TEST_F(SchedulerTest, HandsARunningBlockingTaskOverAndLeavesItsEndToTheService) {
    Start(false, {DailyJob(1, "Backup", true)}, At(10, 15, 40));
    Tick(At(10, 16, 0));
    ASSERT_THAT(window_.Events, ElementsAre("image 1 3"));

    Receive({"SS"});
    EXPECT_THAT(channel_.Sent, ElementsAre("TS 1 1000"));
    processes_.Running.clear();
    Tick(At(10, 16, 1));
    EXPECT_EQ(window_.Images[1], RunningTaskImage) << "the manager swept a handed-over run";
    EXPECT_EQ(table_.Find(1)->ProcessId, 1000u);

    Receive({"TF 1 1000"});
    EXPECT_EQ(window_.Images[1], TaskImage);
    EXPECT_EQ(table_.Find(1)->ProcessId, 0u);
    EXPECT_THAT(LogMessages(), ElementsAre("Blocking task \"Backup\" [1] started."));
}

TEST_F(SchedulerTest, AfterSDTheManagerStartsTheNextMinutesTasksAndLogsAgain) {
    Start(true, {DailyJob(1, "Mail", false, 10, 16), DailyJob(2, "Later", false, 10, 17)},
          At(10, 15, 40));
    Tick(At(10, 16, 0));
    EXPECT_THAT(processes_.Launched, IsEmpty());

    clock_.Set(At(10, 16, 20));
    Receive({"SD"});
    EXPECT_EQ(window_.Panels[1], "Next run: 08-Dec-2026 10:17:00");
    Tick(At(10, 17, 0));
    EXPECT_THAT(processes_.Launched, ElementsAre("Later"));
    EXPECT_THAT(LogMessages(), ElementsAre("Task \"Later\" [2] started."));
}

// The service takes a run over by "TS" and reports its end by "TF" after "SD" too; the
// manager's sweep reports the end of a run the service handed back.
TEST_F(SchedulerTest, AfterSDTheManagerSweepsTheRunsTheServiceReported) {
    Start(true, {DailyJob(1, "Backup", true)}, At(10, 15, 40));
    processes_.Running.insert(4711);
    Receive({"TS 1 4711", "SD"});
    using TFollowed = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(processes_.Followed, ElementsAre(TFollowed{4711, 0}))
        << "followed as the service's own process from the report on";
    processes_.Running.clear();
    Tick(At(10, 15, 51));
    EXPECT_THAT(LogMessages(), ElementsAre("Blocking task \"Backup\" [1] finished."));
    EXPECT_EQ(window_.Images[1], TaskImage);
}

// A manager that cannot reach the slots cannot tell whether the service runs: starting the due
// tasks itself could start each of them twice.
TEST_F(SchedulerTest, AManagerThatOnlyLooksStartsNothing) {
    Start(false, {DailyJob(1, "Mail", false, 10, 16)}, At(10, 15, 40), /*looksOnly=*/true);
    EXPECT_EQ(window_.Panels[1], "");
    Tick(At(10, 16, 0));
    Tick(At(10, 16, 5), 5s);
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_THAT(LogMessages(), IsEmpty());
    EXPECT_EQ(window_.Panels[0], "Current time: 08-Dec-2026 10:16:05");
}

TEST_F(SchedulerTest, TXRemovesAKnownTaskButNotItsEntryAndNothingForAnUnknownId) {
    TTaskDef damaged = DailyJob(0, "Damaged");
    Start(true, {DailyJob(1, "Backup"), DailyJob(2, "Mail"), damaged}, At(10, 15, 40));
    Receive({"TX 2"});
    EXPECT_THAT(window_.Events, ElementsAre("remove 2"));
    EXPECT_EQ(tasks_.Count(), 2u);
    EXPECT_EQ(tasks_.FindTask(2).Id, 0);
    EXPECT_NE(table_.Find(2), nullptr) << "the entry stays until the next start";

    window_.Events.clear();
    Receive({"TX 7", "TX 0"});
    EXPECT_THAT(window_.Events, ElementsAre("remove 0", "remove 0"))
        << "the selection is taken anew, but no node goes";
    EXPECT_EQ(tasks_.Count(), 2u) << "the service's answer 0 took the damaged task 0";
}

TEST_F(SchedulerTest, TheMinuteTickStartsOnlyInTheMinutesFirstSecond) {
    TTaskDef disabled = DailyJob(3, "Disabled", false, 10, 17);
    disabled.Enabled = false;
    Start(false, {DailyJob(1, "Job", false, 10, 16), DailyJob(2, "Later", false, 10, 17), disabled},
          At(10, 15, 40));
    EXPECT_EQ(window_.Panels[1], "Next run: 08-Dec-2026 10:16:00");
    Tick(At(10, 15, 59, 999));
    Tick(At(10, 16, 1, 0)); // the first tick at or after 10:16 came late
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_EQ(window_.Panels[1], "Next run: 08-Dec-2026 10:17:00");
    EXPECT_EQ(window_.Panels[0], "Current time: 08-Dec-2026 10:16:01");
    Tick(At(10, 17, 0, 999));
    Tick(At(10, 17, 1, 0));
    EXPECT_THAT(processes_.Launched, ElementsAre("Later"));
    EXPECT_EQ(window_.Panels[1], "Next run: 08-Dec-2026 10:18:00");
}

TEST_F(SchedulerTest, WithoutTasksEveryMinuteSaysSoWhileTheManagerSchedules) {
    Start(false, {}, At(10, 15, 40));
    Tick(At(10, 16, 0));
    Tick(At(10, 17, 0));
    clock_.Set(At(10, 17, 10));
    Receive({"SS"});
    Tick(At(10, 18, 0));
    EXPECT_THAT(LogMessages(), ElementsAre("No task to run.", "No task to run."));
}

TEST_F(SchedulerTest, RunAsksChecksAndStartsOrHandsTheRunToTheService) {
    struct TRow {
        const char* Name;
        bool ServiceMode;
        std::uint32_t RunningBefore; // the blocking task's previous run, 0: none
        bool ItStillRuns;
        const char* Command;
        const char* WorkDir;
        bool Answer;
        std::vector<std::string> Events;
        std::vector<std::string> Launched = {};
        std::vector<std::string> Sent = {};
        std::vector<std::string> Logged = {};
    };
    const std::string ask = "ask Run task \"Backup\" now?";
    const TRow rows[] = {
        {"yes",
         false,
         0,
         false,
         "/bin/job",
         "",
         true,
         {ask, "image 1 3"},
         {"Backup"},
         {},
         {"Blocking task \"Backup\" [1] started."}},
        {"no", false, 0, false, "/bin/job", "", false, {ask}},
        {"still running",
         false,
         4711,
         true,
         "/bin/job",
         "",
         true,
         {"error Blocking Task \"Backup\" [1] is running."}},
        {"ended unseen: reported first, then run",
         false,
         4711,
         false,
         "/bin/job",
         "",
         true,
         {"image 1 1", ask, "image 1 3"},
         {"Backup"},
         {},
         {"Blocking task \"Backup\" [1] finished.", "Blocking task \"Backup\" [1] started."}},
        {"no command",
         false,
         0,
         false,
         "/bin/none",
         "",
         true,
         {ask, "error Invalid command in task \"Backup\" [1]."}},
        {"no directory",
         false,
         0,
         false,
         "/bin/job",
         "/none",
         true,
         {ask, "error Invalid working directory in task \"Backup\" [1]."}},
        {"service mode: the service runs it",
         true,
         0,
         false,
         "/bin/job",
         "/work",
         true,
         {ask},
         {},
         {"TR 1"}},
        {"service mode, no command",
         true,
         0,
         false,
         "/bin/none",
         "",
         true,
         {ask, "error Invalid command in task \"Backup\" [1]."}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        processes_ = TFakeProcesses();
        TTaskDef task = DailyJob(1, "Backup", true);
        task.Enabled = false; // "&Run" starts a disabled task too
        task.Command = row.Command;
        task.WorkDir = row.WorkDir;
        Start(row.ServiceMode, {task}, At(10, 15, 40));
        table_.Find(1)->ProcessId = row.RunningBefore;
        if (row.ItStillRuns) {
            processes_.Running.insert(row.RunningBefore);
        }
        window_.Answers = {row.Answer};
        scheduler_->RunTask(task, true);
        EXPECT_EQ(window_.Events, row.Events);
        EXPECT_EQ(processes_.Launched, row.Launched);
        EXPECT_EQ(channel_.Sent, row.Sent);
        EXPECT_EQ(LogMessages(), row.Logged);
    }
}

// A service pass that writes a thousand lines sends a thousand "LC": the log is reread once,
// after everything else the drain brought.
TEST_F(SchedulerTest, ABurstOfLogChangesRereadsTheLogOnceAfterTheOtherMessages) {
    Start(true, {DailyJob(1, "Backup", true)}, At(10, 15, 40));
    Write(Path("tarvok.log"), "08-Dec-2026 - 10:15:41 : Task \"Backup\" [1] started.\r\n");
    for (int i = 0; i < 1000; ++i) {
        channel_.Inbox.push_back("LC");
        channel_.Inbox.push_back(i % 2 == 0 ? "TS 1 4711" : "TF 1 4711");
    }
    scheduler_->DrainMessages();
    ASSERT_EQ(window_.Events.size(), 1001u);
    EXPECT_EQ(std::count(window_.Events.begin(), window_.Events.end(), "log reloaded"), 1);
    EXPECT_EQ(window_.Events.back(), "log reloaded");
    EXPECT_THAT(window_.MessageList,
                ElementsAre("08-Dec-2026 - 10:15:41 : Task \"Backup\" [1] started."));
}

TEST_F(SchedulerTest, ASilentServiceIsShownAsNotAnsweringOrTakenOverWhenItsSlotIsGone) {
    Start(true, {DailyJob(1, "Job", false, 10, 16), DailyJob(2, "Later", false, 10, 18)},
          At(10, 15, 40));
    Tick(At(10, 15, 42), 2900ms);
    EXPECT_THAT(window_.Events, IsEmpty());
    Tick(At(10, 15, 43), 100ms);
    EXPECT_THAT(window_.Events, ElementsAre("state Red 1 The scheduler service does not answer."));
    Tick(At(10, 16, 0), 17s); // a hung service may still start tasks: the manager does not
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_TRUE(scheduler_->ServiceMode());
    Receive({"SR"});
    EXPECT_EQ(window_.Events.back(), "state Green 3");
    EXPECT_EQ(window_.TipNote, "");

    channel_.Owned.clear(); // killed: no "SD" ever comes
    Tick(At(10, 16, 2), 2s);
    EXPECT_TRUE(scheduler_->ServiceMode());
    Tick(At(10, 16, 3), 1s);
    EXPECT_FALSE(scheduler_->ServiceMode());
    EXPECT_EQ(window_.Events.back(), "state Red 1");
    EXPECT_EQ(window_.Panels[1], "Next run: 08-Dec-2026 10:17:00");
    Tick(At(10, 18, 0), 117s);
    EXPECT_THAT(processes_.Launched, ElementsAre("Later"));
    EXPECT_THAT(LogMessages(),
                ElementsAre("The scheduler service ended without notice; the manager schedules "
                            "by itself.",
                            "Task \"Later\" [2] started."));
}

// Starts what the fake processes start, and calls a hook first.
class THookedProcesses final : public TProcessControl {
public:
    explicit THookedProcesses(TFakeProcesses& real) : real_(real) {}
    std::function<void()> BeforeLaunch;

    std::uint32_t Launch(const TTaskDef& task) override {
        BeforeLaunch();
        return real_.Launch(task);
    }
    std::uint32_t ExitCode(std::uint32_t id) override { return real_.ExitCode(id); }
    std::optional<platform::TProcessEnd> TakeEnd(std::uint32_t id) override {
        return real_.TakeEnd(id);
    }
    bool Follow(std::uint32_t id, std::uint32_t sender) override {
        return real_.Follow(id, sender);
    }
    bool FileExists(const std::string& path) override { return real_.FileExists(path); }
    bool DirectoryExists(const std::string& path) override { return real_.DirectoryExists(path); }

private:
    TFakeProcesses& real_;
};

// A message that arrives while the tick works is handled after it, never in its middle: an
// "SS" that comes as the minute's blocking task starts is handled once the start is recorded,
// so the run is handed over to the service rather than lost to both.
TEST_F(SchedulerTest, AMessageDuringTheTickIsHandledAfterIt) {
    THookedProcesses processes(processes_);
    processControl_ = &processes;
    Start(false, {DailyJob(1, "Backup", true)}, At(10, 15, 40));
    processes.BeforeLaunch = [this] {
        Receive({"SS"});
        EXPECT_FALSE(scheduler_->ServiceMode()) << "the drain ran inside the tick";
    };
    Tick(At(10, 16, 0));
    EXPECT_TRUE(scheduler_->ServiceMode());
    EXPECT_THAT(channel_.Sent, ElementsAre("TS 1 1000"));
}

} // namespace
} // namespace tarvok
