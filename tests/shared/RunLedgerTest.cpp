#include "shared/RunLedger.h"

#include "../TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing_support::TempDirTest;

TRunRecord Record(std::int32_t id, TRunEnd end = TRunEnd::Exited, std::int32_t code = 0) {
    const TDateTime started = EncodeDate(2026, 12, 8) + EncodeTime(12, 30, 0, 4);
    return {.Started = started,
            .Ended = started + 4.1 / 86'400.0,
            .TaskId = id,
            .TaskName = "Backup " + std::to_string(id),
            .ProcessId = 4711,
            .End = end,
            .Code = code,
            .Origin = TRunOrigin::Request};
}

TEST(RunLines, ReadBackWhatIsWrittenAndNothingElse) {
    const TRunRecord failed = Record(3, TRunEnd::Signalled, 9);
    EXPECT_EQ(FormatRunLine(failed), "2026-12-08 12:30:00.004\t2026-12-08 12:30:04.104\t3\t4711\t"
                                     "signal 9\trequest\tBackup 3");
    TRunRecord tabbed = Record(4, TRunEnd::NotStarted);
    tabbed.TaskName = "a\tb";
    for (const TRunRecord& run : {failed, Record(1), Record(2, TRunEnd::Exited, 255), tabbed}) {
        const auto back = ParseRunLine(FormatRunLine(run));
        ASSERT_TRUE(back.has_value()) << FormatRunLine(run);
        EXPECT_EQ(back->TaskName, run.TaskName == "a\tb" ? "a?b" : run.TaskName);
        EXPECT_EQ(FormatRunLine(*back), FormatRunLine(run));
    }
    const std::string good = FormatRunLine(failed);
    for (const std::string& bad :
         {std::string{}, good.substr(0, 30), "x" + good,
          good.substr(0, good.find("signal")) + "signal -9\trequest\tB",
          good.substr(0, good.find("request")) + "cron\tB",
          "2026-02-30 12:30:00.004" + good.substr(23), std::string(MaxRunLineLength + 1, 'a')}) {
        EXPECT_FALSE(ParseRunLine(bad).has_value()) << bad;
    }
}

TEST(RunLines, FailuresAreToldWithTheirCause) {
    struct Row {
        TRunRecord run;
        bool failed;
        std::int32_t code;
        std::string logText;
    };
    const Row rows[] = {
        {Record(3), false, 0, ""},
        {Record(3, TRunEnd::Exited, 2), true, 2,
         "Task \"Backup 3\" [3] failed: exit code 2 after 4.1 s."},
        {Record(3, TRunEnd::Signalled, 9), true, -9,
         "Task \"Backup 3\" [3] failed: signal SIGKILL after 4.1 s."},
        {Record(3, TRunEnd::NotStarted), true, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(FormatRunLine(row.run));
        EXPECT_EQ(RunFailed(row.run), row.failed);
        EXPECT_EQ(FailureCode(row.run), row.code);
        if (!row.logText.empty()) {
            EXPECT_EQ(RunFailureLogText(row.run, "SIGKILL"), row.logText);
        }
    }
    EXPECT_EQ(FailureCodeText(-15), "signal 15");
}

class RunLedgerTest : public TempDirTest {};

TEST_F(RunLedgerTest, KeepsTheNewestRunsAndLosesNoneToATornLine) {
    const std::string path = Path("tarvok.runs");
    Write(path, FormatRunLine(Record(1)) + "\n2026-12-08 12:3"); // killed while writing
    TRunLedger ledger(path, TRunLedger::TRead::Plain);
    std::vector<TRunRecord> runs;
    for (std::int32_t id = 2; id <= static_cast<std::int32_t>(RunsKept) + 1'200; ++id) {
        runs.push_back(Record(id));
    }
    const std::size_t half = runs.size() / 2;
    ledger.Append(std::span(runs).first(half));
    ASSERT_EQ(ReadRunHistory(path).size(), half + 1);
    ledger.Append(std::span(runs).subspan(half));

    const auto kept = ReadRunHistory(path);
    ASSERT_GE(kept.size(), RunsKept);
    EXPECT_LT(kept.size(), RunsKept + RunsKept / 10);
    EXPECT_EQ(kept.back(), runs.back());
    EXPECT_EQ(kept.front().TaskId, kept.back().TaskId - static_cast<int>(kept.size()) + 1);
}

TEST_F(RunLedgerTest, NeverWritesThroughASecondName) {
    const std::string path = Path("tarvok.runs");
    const std::string other = Path("precious");
    Write(other, "keep\n");
    std::filesystem::create_hard_link(other, path);
    TRunLedger(path, TRunLedger::TRead::Trusted).Append(std::vector{Record(1)});
    EXPECT_EQ(Read(other), "keep\n");
    EXPECT_EQ(ReadRunHistory(path), std::vector{Record(1)});
    EXPECT_TRUE(ReadRunHistory(Path("missing")).empty());
}

} // namespace
} // namespace tarvok
