#include "service/SvcThd.h"

#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"
#include "tests/service/FakeChannel.h"

#include <deque>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::DailyJob;
using testing_support::TFakeChannel;
using testing_support::TFakeProcesses;

double At(int h, int mi, int s, int ms = 0) {
    return EncodeDate(2026, 12, 8) + EncodeTime(h, mi, s, ms);
}

class SvcThdTest : public testing_support::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        paths_ = ProgramPathsFor(Path("TarvokSvc"));
    }

    void SaveTasks(std::initializer_list<TTaskDef> tasks) {
        TTaskList list;
        for (TTaskDef task : tasks) {
            list.AddTask(task, false);
        }
        list.SaveToFile(paths_.TaskPath);
    }

    std::unique_ptr<TTarvokThread> Start(double now) {
        clock_.Set(now);
        return std::make_unique<TTarvokThread>(TTarvokThread::TSetup{
            paths_, clock_, processes_, std::make_unique<TFakeChannel>(inbox_, sent_)});
    }

    // The log's messages without their time stamps.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : SplitLogLines(Read(paths_.LogPath))) {
            messages.push_back(line.substr(line.find(" : ") + 3));
        }
        return messages;
    }

    // What went to the manager, "LC" left out.
    std::vector<std::string> Told() const {
        std::vector<std::string> told;
        for (const std::string& message : sent_) {
            if (message != "LC") {
                told.push_back(message);
            }
        }
        return told;
    }

    void Pass(double now) {
        clock_.Set(now);
        thread_->Poll();
    }

    TProgramPaths paths_;
    TFixedClock clock_;
    TFakeProcesses processes_;
    std::deque<std::string> inbox_;
    std::vector<std::string> sent_;
    std::unique_ptr<TTarvokThread> thread_;
};

TEST_F(SvcThdTest, StartingLogsLoadsAndSkipsItsOwnMinute) {
    SaveTasks({DailyJob(1, "Early", false, 10, 15), DailyJob(2, "Next", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    EXPECT_THAT(LogMessages(), ElementsAre("Tarvok Service starting!", "Task list (re)loaded"));
    EXPECT_THAT(sent_, ElementsAre("LC", "LC"));
    EXPECT_EQ(thread_->NextDue(), At(10, 16, 0));
    EXPECT_EQ(thread_->ProcessTable().Count(), 2u);

    Pass(At(10, 15, 59, 500));
    Pass(At(10, 16, 0, 0));
    EXPECT_EQ(processes_.Launched, (std::vector<std::string>{"Next"}));
    EXPECT_EQ(thread_->NextDue(), At(10, 17, 0));
}

TEST_F(SvcThdTest, LateFirstPassOfAMinuteStartsNothingAndMovesOn) {
    SaveTasks({DailyJob(1, "Job", false, 10, 16), DailyJob(2, "Later", false, 10, 17)});
    thread_ = Start(At(10, 15, 40));
    Pass(At(10, 16, 1, 200));
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_EQ(thread_->NextDue(), At(10, 17, 0));
    Pass(At(10, 17, 0, 300));
    EXPECT_EQ(processes_.Launched, (std::vector<std::string>{"Later"}));
}

TEST_F(SvcThdTest, ClockSetBackTestsNothingUntilNextDueAgain) {
    SaveTasks({DailyJob(1, "Job", false, 9, 0)});
    thread_ = Start(At(10, 15, 40));
    Pass(At(9, 0, 0)); // the clock went back an hour
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_EQ(thread_->NextDue(), At(10, 16, 0));
}

TEST_F(SvcThdTest, WithoutTasksEveryMinuteSaysSo) {
    thread_ = Start(At(10, 15, 40));
    Pass(At(10, 16, 0));
    Pass(At(10, 16, 0, 500));
    Pass(At(10, 17, 0));
    EXPECT_THAT(LogMessages(),
                ElementsAre("Tarvok Service starting!", "No task to run.", "No task to run."));
}

TEST_F(SvcThdTest, BlockingTaskStillActiveWhileOthersStartAndItsEndIsSeenNextPass) {
    SaveTasks({DailyJob(1, "Backup", true, 10, 16), DailyJob(2, "Mail", false, 10, 16),
               DailyJob(3, "Backup2", true, 10, 17)});
    thread_ = Start(At(10, 15, 40));
    Pass(At(10, 16, 0));
    inbox_.push_back("TR 1");
    Pass(At(10, 16, 0, 500));
    processes_.Running.erase(1000);
    Pass(At(10, 16, 1));
    EXPECT_THAT(LogMessages(),
                ElementsAre("Tarvok Service starting!", "Task list (re)loaded",
                            "Blocking task \"Backup\" [1] started.", "Task \"Mail\" [2] started.",
                            "Blocking task \"Backup\" [1] is still active.",
                            "Blocking task \"Backup\" [1] finished."));
    EXPECT_THAT(Told(), ElementsAre("TS 1 1000", "TF 1 1000"));
}

TEST_F(SvcThdTest, RestsUntilTheNextMinuteToTestUnlessItFollowsARun) {
    using namespace std::chrono_literals;
    SaveTasks({DailyJob(1, "Backup", true, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    Pass(At(10, 15, 40, 500));
    EXPECT_EQ(thread_->QuietSpan(), 19'500ms);
    clock_.Set(At(10, 15, 59, 999));
    EXPECT_EQ(thread_->QuietSpan(), 1ms);

    Pass(At(10, 16, 0));
    EXPECT_EQ(thread_->QuietSpan(), 0ms) << "only a look tells when Backup ends";
    processes_.Running.erase(1000);
    Pass(At(10, 16, 0, 500));
    ASSERT_EQ(LogMessages().back(), "Blocking task \"Backup\" [1] finished.");
    EXPECT_EQ(thread_->QuietSpan(), 59'500ms);

    clock_.Set(At(9, 0, 0)); // set back: nothing until 10:17 comes again
    EXPECT_EQ(thread_->QuietSpan(), 77min);
    clock_.Set(At(10, 20, 0, 250)); // set beyond it: a pass at once
    EXPECT_EQ(thread_->QuietSpan(), 0ms);
}

TEST_F(SvcThdTest, ClientConnectionHandsOverRunningBlockingTasks) {
    SaveTasks({DailyJob(1, "A", true, 10, 16), DailyJob(2, "B", true, 10, 16),
               DailyJob(3, "C", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    processes_.Running.insert(77); // handed over by the manager, still running
    inbox_ = {"CR", "TS 3 77", "CD"};
    Pass(At(10, 15, 50));
    EXPECT_THAT(Told(), IsEmpty()) << "no running blocking task yet";
    Pass(At(10, 16, 0));
    sent_.clear();
    inbox_ = {"CR"};
    Pass(At(10, 16, 0, 500));
    EXPECT_THAT(Told(), ElementsAre("TS 1 1000", "TS 2 1001", "TS 3 77"));
    EXPECT_EQ(LogMessages().back(), "Client has connected.");
    EXPECT_THAT(LogMessages(), testing::Contains("Client has disconnected."));
}

TEST_F(SvcThdTest, ProcessIdMessagesAndReloadModes) {
    SaveTasks({DailyJob(1, "A", true, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    processes_.Running.insert(55);
    inbox_ = {"TS 1 55", "TS 9 66", "ts 1 77"};
    Pass(At(10, 15, 41));
    EXPECT_EQ(thread_->ProcessTable().Entries()[0].ProcessId, 55u);

    SaveTasks({DailyJob(1, "A renamed", true, 10, 16), DailyJob(2, "B", false, 10, 16)});
    inbox_ = {"TM 1", "TN 9"};
    Pass(At(10, 15, 42));
    EXPECT_EQ(thread_->Tasks().Count(), 2u);
    EXPECT_THAT(thread_->ProcessTable().Entries(), ElementsAre(TTaskRunEntry{"A", 1, 55}))
        << "a changed task keeps its run, and an unknown new id adds nothing";

    inbox_ = {"TN 2", "TF 1 0"};
    Pass(At(10, 15, 43));
    EXPECT_THAT(thread_->ProcessTable().Entries(),
                ElementsAre(TTaskRunEntry{"A", 1, 0}, TTaskRunEntry{"B", 2, 0}));
}

TEST_F(SvcThdTest, DeleteRemovesSavesAndAnswers) {
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    const std::string before = Read(paths_.TaskPath);

    inbox_ = {"TD 7"};
    Pass(At(10, 15, 41));
    EXPECT_EQ(Read(paths_.TaskPath), before);
    EXPECT_THAT(Told(), ElementsAre("TX 0"));

    inbox_ = {"TD 1"};
    Pass(At(10, 15, 42));
    EXPECT_THAT(Told(), ElementsAre("TX 0", "TX 1"));
    EXPECT_EQ(Read(paths_.TaskPath).size(), TaskDefSize);
    EXPECT_EQ(thread_->Tasks().Count(), 1u);
    EXPECT_THAT(thread_->ProcessTable().Entries(), ElementsAre(TTaskRunEntry{"B", 2, 0}));

    inbox_ = {"TD 2"};
    Pass(At(10, 15, 43));
    EXPECT_FALSE(std::filesystem::exists(paths_.TaskPath)) << "an empty list has no file";
}

TEST_F(SvcThdTest, DeleteThatCannotSaveChangesNothing) {
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    std::filesystem::remove(paths_.TaskPath);
    std::filesystem::create_directory(paths_.TaskPath); // the save cannot replace a directory
    inbox_ = {"TD 1"};
    Pass(At(10, 15, 41));
    EXPECT_THAT(Told(), IsEmpty());
    EXPECT_EQ(thread_->Tasks().Count(), 2u);
    EXPECT_EQ(thread_->ProcessTable().Count(), 2u);
    EXPECT_THAT(LogMessages().back(), testing::StartsWith("The task file could not be saved: "));
}

TEST_F(SvcThdTest, UnreadableTaskFileKeepsThePreviousList) {
    SaveTasks({DailyJob(1, "A", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    Write(paths_.TaskPath, std::string(500, '\0')); // one record and a torn tail
    inbox_ = {"TM 1"};
    Pass(At(10, 15, 41));
    EXPECT_EQ(thread_->Tasks().GetTask(0).Name, "A");
    EXPECT_THAT(LogMessages().back(), testing::StartsWith("The task file could not be read: "));
}

TEST_F(SvcThdTest, TruncatingTheLogLeavesOneLine) {
    thread_ = Start(At(10, 15, 40));
    inbox_ = {"LT"};
    Pass(At(10, 15, 41));
    EXPECT_THAT(LogMessages(), ElementsAre("System log truncated."));
}

TEST_F(SvcThdTest, MessagesOfAPassComeBeforeItsMinuteTest) {
    SaveTasks({DailyJob(1, "A", false, 10, 16)});
    thread_ = Start(At(10, 15, 40));
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    inbox_ = {"TN 2"};
    Pass(At(10, 16, 0));
    EXPECT_EQ(processes_.Launched, (std::vector<std::string>{"A", "B"}));
}

TEST(UntilNextHalfSecond, PassesFallOnTheWallClocksWholeAndHalfSeconds) {
    using namespace std::chrono_literals;
    struct TRow {
        int Ms;
        TPassClock::duration Wait;
    };
    const TRow rows[] = {{0, 500ms}, {200, 300ms}, {499, 1ms}, {500, 500ms}, {999, 1ms}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Ms);
        EXPECT_EQ(UntilNextHalfSecond(At(10, 15, 40, row.Ms)), row.Wait);
    }
}

TEST_F(SvcThdTest, StoppingLogsTheLastLine) {
    thread_ = Start(At(10, 15, 40));
    thread_.reset();
    EXPECT_EQ(LogMessages().back(), "Tarvok Service stopped!");
}

} // namespace
} // namespace tarvok
