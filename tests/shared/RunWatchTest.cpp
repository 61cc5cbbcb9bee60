// Following runs to their end and recording each once: fake processes end them.
#include "shared/RunWatch.h"

#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing_support::DailyJob;
using testing_support::TFakeProcesses;

TDateTime At(int second, int ms = 0) {
    return EncodeDate(2026, 12, 8) + EncodeTime(10, 16, second, ms);
}

class RunWatchTest : public testing_support::TempDirTest {
protected:
    // The files exist only once the directory does.
    void SetUp() override {
        TempDirTest::SetUp();
        log_ = std::make_unique<TSysLogger>(Path("tarvok.log"), clock_);
        host_ = std::make_unique<TLoggingRunHost>(*log_, nullptr);
        ledger_ = std::make_unique<TRunLedger>(Path("tarvok.runs"), TRunLedger::TRead::Plain);
        recorder_ = std::make_unique<TRunRecorder>(*ledger_, *log_, [this](const TRunRecord& run) {
            told_.push_back(FailureNoticeText(run.TaskName, FailureCode(run)));
        });
    }

    void Run(const TTaskDef& task, TRunOrigin origin = TRunOrigin::Minute) {
        RunTask(task, table_, *host_, processes_, {&watch_, origin});
    }
    void Record() { recorder_->Record(watch_.TakeEnded(processes_)); }
    std::vector<std::string> History() const {
        std::vector<std::string> lines;
        for (const TRunRecord& run : ReadRunHistory(Path("tarvok.runs"))) {
            lines.push_back(FormatRunLine(run));
        }
        return lines;
    }
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : ReadLogLines(Path("tarvok.log"))) {
            messages.push_back(line.substr(line.find(" : ") + 3));
        }
        return messages;
    }

    TFixedClock clock_{At(0)};
    TFakeProcesses processes_;
    TProcessTable table_;
    TRunWatch watch_{clock_};
    std::vector<std::string> told_;
    std::unique_ptr<TSysLogger> log_;
    std::unique_ptr<TLoggingRunHost> host_;
    std::unique_ptr<TRunLedger> ledger_;
    std::unique_ptr<TRunRecorder> recorder_;
};

// Each way a run ends, with its history line, its log line and its notice: a slip in the end
// moment, in telling a signal from an exit code, or a run recorded twice or not at all shows.
TEST_F(RunWatchTest, EachRunIsRecordedOnceWithHowAndWhenItEnded) {
    TTaskDef missing = DailyJob(4, "Broken");
    missing.Command = "/bin/missing";
    Run(DailyJob(1, "Backup"));
    Run(DailyJob(2, "Mail"), TRunOrigin::Request);
    Run(DailyJob(3, "Report", true), TRunOrigin::User);
    Run(missing);
    processes_.NextId = 0;
    Run(DailyJob(5, "Nolaunch"));

    clock_.Set(At(5));
    processes_.End(1000, {.Known = true, .Signalled = false, .Code = 2, .MsAgo = 1000});
    // Seen ending a minute ago: a clock set back since the start; never before the start.
    processes_.End(1001, {.Known = true, .Signalled = true, .Code = 9, .MsAgo = 60000});
    Record();
    Record(); // nothing twice
    EXPECT_EQ(watch_.Following(), 1u);
    clock_.Set(At(9, 250));
    processes_.End(1002, {.Known = true, .Signalled = false, .Code = 0, .MsAgo = 0});
    Record();

    EXPECT_THAT(History(), ElementsAre("2026-12-08 10:16:00.000\t2026-12-08 10:16:00.000\t4\t0\t"
                                       "not started\tminute\tBroken",
                                       "2026-12-08 10:16:00.000\t2026-12-08 10:16:00.000\t5\t0\t"
                                       "not started\tminute\tNolaunch",
                                       "2026-12-08 10:16:00.000\t2026-12-08 10:16:04.000\t1\t1000\t"
                                       "exit 2\tminute\tBackup",
                                       "2026-12-08 10:16:00.000\t2026-12-08 10:16:00.000\t2\t1001\t"
                                       "signal 9\trequest\tMail",
                                       "2026-12-08 10:16:00.000\t2026-12-08 10:16:09.250\t3\t1002\t"
                                       "exit 0\tuser\tReport"));
    EXPECT_THAT(told_, ElementsAre("Backup failed (exit code 2)", "Mail failed (signal SIGKILL)"));
    const auto log = LogMessages();
    EXPECT_EQ(
        std::count(log.begin(), log.end(), "Task \"Backup\" [1] failed: exit code 2 after 4.0 s."),
        1);
    EXPECT_EQ(
        std::count(log.begin(), log.end(), "Task \"Mail\" [2] failed: signal SIGKILL after 0.0 s."),
        1);
    EXPECT_EQ(watch_.Following(), 0u);
}

// A history that cannot be written is said once, not at every pass; the runs are still told.
TEST_F(RunWatchTest, AnUnwritableHistoryIsLoggedOnce) {
    TRunLedger nowhere(Path("no/such/dir/tarvok.runs"), TRunLedger::TRead::Plain);
    TRunRecorder recorder(nowhere, *log_, nullptr);
    for (int i = 0; i < 2; ++i) {
        TRunRecord run;
        run.TaskId = 1;
        run.TaskName = "B";
        recorder.Record({&run, 1});
    }
    const auto log = LogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("The run history could not be written: ")) << log[0];
}

} // namespace
} // namespace tarvok
