#include "platform/Files.h"
#include "shared/SysLog.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tarvok {
namespace {

// The message of a stamped line.
std::string LogMessageOf(const std::string& line) {
    const std::size_t at = line.find(" : ");
    return at == std::string::npos ? line : line.substr(at + 3);
}

class SysLogBatchTest : public testing_support::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        path_ = Path("tarvok.log");
        log_.emplace(path_, clock_);
        log_->NamedMonth = true;
        // Each announcement notes how many lines the file held when it came.
        log_->OnLineAdded = [this] { linesSeen_.push_back(FileLines()); };
    }

    std::size_t FileLines() const {
        return platform::FileExists(path_) ? SplitLogLines(platform::ReadFile(path_)).size() : 0;
    }

    std::string path_;
    TFixedClock clock_{EncodeDate(2026, 12, 6) + EncodeTime(19, 16, 20)};
    std::optional<TSysLogger> log_;
    std::vector<std::size_t> linesSeen_;
};

TEST_F(SysLogBatchTest, LinesOfABatchAreWrittenOnceAndEachAnnouncedAfterwards) {
    log_->Add("System started.");
    {
        const TLogBatch outer(*log_);
        log_->Add("Task \"A\" [1] started.");
        {
            const TLogBatch inner(*log_);
            log_->Add("Task \"B\" [2] started.");
        }
        EXPECT_EQ(FileLines(), 1u) << "an inner batch wrote the file";
        log_->Add("Task \"C\" [3] started.");
        EXPECT_EQ(linesSeen_.size(), 1u) << "a line was announced before it was written";
    }
    // Every line announced once, in order, each with the whole batch already in the file.
    EXPECT_EQ(linesSeen_, (std::vector<std::size_t>{1, 4, 4, 4}));
    EXPECT_EQ(platform::ReadFile(path_), "06-Dec-2026 - 19:16:20 : System started.\r\n"
                                         "06-Dec-2026 - 19:16:20 : Task \"A\" [1] started.\r\n"
                                         "06-Dec-2026 - 19:16:20 : Task \"B\" [2] started.\r\n"
                                         "06-Dec-2026 - 19:16:20 : Task \"C\" [3] started.\r\n");

    log_->Add("Task \"D\" [4] started.");
    EXPECT_EQ(linesSeen_.back(), 5u) << "lines after the batch are written at once again";
}

TEST_F(SysLogBatchTest, ReloadAndTruncateInABatchActOnItsLinesAsIfWritten) {
    const TLogBatch batch(*log_);
    log_->Add("one");
    log_->Add("two");
    log_->Reload();
    EXPECT_EQ(log_->Lines.size(), 2u) << "reloading dropped lines the batch held back";

    log_->Add("three");
    log_->Truncate(2);
    ASSERT_EQ(log_->Lines.size(), 2u);
    EXPECT_EQ(LogMessageOf(log_->Lines[0]), "two");
    EXPECT_EQ(LogMessageOf(log_->Lines[1]), "three");
    EXPECT_EQ(FileLines(), 2u);
}

TEST_F(SysLogBatchTest, ABatchWithinTheLineCapKeepsTheNewestLinesInTheFile) {
    log_->LimitLines = true;
    log_->MaxLines = 3;
    {
        const TLogBatch batch(*log_);
        for (int i = 1; i <= 5; ++i) {
            log_->AddFmt("line %d", i);
        }
    }
    const auto lines = SplitLogLines(platform::ReadFile(path_));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(LogMessageOf(lines.front()), "line 3");
    EXPECT_EQ(LogMessageOf(lines.back()), "line 5");
    EXPECT_EQ(linesSeen_, (std::vector<std::size_t>{3, 3, 3, 3, 3}));
}

TEST_F(SysLogBatchTest, SuppressedOrUnwrittenLinesOfABatchTouchNoFile) {
    {
        const TLogBatch batch(*log_);
        log_->Suppressed = true;
        log_->Add("never stored");
        log_->Suppressed = false;
        log_->WriteFile = false;
        log_->Add("kept in memory only");
    }
    EXPECT_FALSE(platform::FileExists(path_));
    EXPECT_EQ(log_->Lines.size(), 1u);
    EXPECT_EQ(linesSeen_, (std::vector<std::size_t>{0}));
}

} // namespace
} // namespace tarvok
