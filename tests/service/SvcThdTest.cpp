#include "tests/service/SchedulerThreadFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::At;
using testing_support::DailyJob;

class SvcThdTest : public testing_support::TSchedulerThreadFixture {};

TEST_F(SvcThdTest, StartingLogsLoadsAndSkipsItsOwnMinute) {
    SaveTasks({DailyJob(1, "Early", false, 10, 15), DailyJob(2, "Next", false, 10, 16)});
    Start(At(10, 15, 40));
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
    Start(At(10, 15, 40));
    Pass(At(10, 16, 1, 200));
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_EQ(thread_->NextDue(), At(10, 17, 0));
    Pass(At(10, 17, 0, 300));
    EXPECT_EQ(processes_.Launched, (std::vector<std::string>{"Later"}));
}

TEST_F(SvcThdTest, ClockSetBackTestsNothingUntilNextDueAgain) {
    SaveTasks({DailyJob(1, "Job", false, 9, 0)});
    Start(At(10, 15, 40));
    Pass(At(9, 0, 0)); // the clock went back an hour
    EXPECT_THAT(processes_.Launched, IsEmpty());
    EXPECT_EQ(thread_->NextDue(), At(10, 16, 0));
}

TEST_F(SvcThdTest, WithoutTasksEveryMinuteSaysSo) {
    Start(At(10, 15, 40));
    Pass(At(10, 16, 0));
    Pass(At(10, 16, 0, 500));
    Pass(At(10, 17, 0));
    EXPECT_THAT(LogMessages(),
                ElementsAre("Tarvok Service starting!", "No task to run.", "No task to run."));
}

TEST_F(SvcThdTest, BlockingTaskStillActiveWhileOthersStartAndItsEndIsSeenNextPass) {
    SaveTasks({DailyJob(1, "Backup", true, 10, 16), DailyJob(2, "Mail", false, 10, 16),
               DailyJob(3, "Backup2", true, 10, 17)});
    Start(At(10, 15, 40));
    Pass(At(10, 16, 0));
    Pass(At(10, 16, 0, 500), {"TR 1"});
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
    Start(At(10, 15, 40));
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
    Start(At(10, 15, 40));
    processes_.Running.insert(77); // handed over by the manager, still running
    Pass(At(10, 15, 50), {"CR", "TS 3 77", "CD"});
    EXPECT_THAT(Told(), IsEmpty()) << "no running blocking task yet";
    Pass(At(10, 16, 0));
    sent_.clear();
    Pass(At(10, 16, 0, 500), {"CR"});
    EXPECT_THAT(Told(), ElementsAre("TS 1 1000", "TS 2 1001", "TS 3 77"));
    EXPECT_EQ(LogMessages().back(), "Client has connected.");
    EXPECT_THAT(LogMessages(), testing::Contains("Client has disconnected."));

    // tarvokctl's question gets the same runs in its own slot, and the log stays as it was.
    sent_.clear();
    const std::size_t lines = LogMessages().size();
    Pass(At(10, 16, 1), {"RQ 42", "RQ 0", "RQ -3"});
    EXPECT_THAT(Told(), ElementsAre("TarvokCtl42 TS 1 1000", "TarvokCtl42 TS 2 1001",
                                    "TarvokCtl42 TS 3 77", "TarvokCtl42 RE 3"));
    EXPECT_EQ(LogMessages().size(), lines);
}

TEST_F(SvcThdTest, ProcessIdMessagesAndReloadModes) {
    SaveTasks({DailyJob(1, "A", true, 10, 16)});
    Start(At(10, 15, 40));
    processes_.Running.insert(55);
    Pass(At(10, 15, 41), {"TS 1 55", "TS 9 66", "ts 1 77"});
    EXPECT_EQ(thread_->ProcessTable().Entries()[0].ProcessId, 55u);
    using TFollowed = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(processes_.Followed, ElementsAre(TFollowed{55, 1000}))
        << "a handed-over run is followed as the sender's, and only for a task there is";

    SaveTasks({DailyJob(1, "A renamed", true, 10, 16), DailyJob(2, "B", false, 10, 16)});
    Pass(At(10, 15, 42), {"TM 1", "TN 9"});
    EXPECT_EQ(thread_->Tasks().Count(), 2u);
    EXPECT_THAT(thread_->ProcessTable().Entries(), ElementsAre(TTaskRunEntry{"A", 1, 55}))
        << "a changed task keeps its run, and an unknown new id adds nothing";

    Pass(At(10, 15, 43), {"TN 2", "TF 1 0"});
    EXPECT_THAT(thread_->ProcessTable().Entries(),
                ElementsAre(TTaskRunEntry{"A", 1, 0}, TTaskRunEntry{"B", 2, 0}));
}

TEST_F(SvcThdTest, DeleteRemovesSavesAndAnswers) {
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    Start(At(10, 15, 40));
    const std::string before = Read(paths_.TaskPath);

    Pass(At(10, 15, 41), {"TD 7"});
    EXPECT_EQ(Read(paths_.TaskPath), before);
    EXPECT_THAT(Told(), ElementsAre("TX 0"));

    Pass(At(10, 15, 42), {"TD 1"});
    EXPECT_THAT(Told(), ElementsAre("TX 0", "TX 1"));
    EXPECT_EQ(Read(paths_.TaskPath).size(), TaskDefSize);
    EXPECT_EQ(thread_->Tasks().Count(), 1u);
    EXPECT_THAT(thread_->ProcessTable().Entries(), ElementsAre(TTaskRunEntry{"B", 2, 0}));

    Pass(At(10, 15, 43), {"TD 2"});
    EXPECT_FALSE(std::filesystem::exists(paths_.TaskPath)) << "an empty list has no file";
}

TEST_F(SvcThdTest, DeleteThatCannotSaveChangesNothing) {
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    Start(At(10, 15, 40));
    std::filesystem::remove(paths_.TaskPath);
    std::filesystem::create_directory(paths_.TaskPath); // the save cannot replace a directory
    Pass(At(10, 15, 41), {"TD 1"});
    EXPECT_THAT(Told(), IsEmpty());
    EXPECT_EQ(thread_->Tasks().Count(), 2u);
    EXPECT_EQ(thread_->ProcessTable().Count(), 2u);
    EXPECT_THAT(LogMessages().back(), testing::StartsWith("The task file could not be saved: "));
}

TEST_F(SvcThdTest, UnreadableTaskFileKeepsThePreviousList) {
    SaveTasks({DailyJob(1, "A", false, 10, 16)});
    Start(At(10, 15, 40));
    Write(paths_.TaskPath, std::string(500, '\0')); // one record and a torn tail
    Pass(At(10, 15, 41), {"TM 1"});
    EXPECT_EQ(thread_->Tasks().GetTask(0).Name, "A");
    EXPECT_THAT(LogMessages().back(), testing::StartsWith("The task file could not be read: "));
}

TEST_F(SvcThdTest, TruncatingTheLogLeavesOneLine) {
    Start(At(10, 15, 40));
    Pass(At(10, 15, 41), {"LT"});
    EXPECT_THAT(LogMessages(), ElementsAre("System log truncated."));
}

TEST_F(SvcThdTest, MessagesOfAPassComeBeforeItsMinuteTest) {
    SaveTasks({DailyJob(1, "A", false, 10, 16)});
    Start(At(10, 15, 40));
    SaveTasks({DailyJob(1, "A", false, 10, 16), DailyJob(2, "B", false, 10, 16)});
    Pass(At(10, 16, 0), {"TN 2"});
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
    Start(At(10, 15, 40));
    thread_.reset();
    EXPECT_EQ(LogMessages().back(), "Tarvok Service stopped!");
}

} // namespace
} // namespace tarvok
