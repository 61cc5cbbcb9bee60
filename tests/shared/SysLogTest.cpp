#include "shared/SysLog.h"

#include "platform/Files.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using TLines = std::deque<std::string>;

// A list box that records what the logger does to it.
class TFakeDisplay : public TLogDisplay {
public:
    std::size_t Count() const override { return Items.size(); }
    void Append(const std::string& line) override {
        Items.push_back(line);
        Calls.push_back("append");
    }
    void DeleteFirst() override {
        Items.pop_front();
        Calls.push_back("delete");
    }
    void Clear() override {
        Items.clear();
        Calls.push_back("clear");
    }
    void SelectLastThenNone() override { Calls.push_back("select"); }

    TLines Items;
    std::vector<std::string> Calls;
};

class SysLogTest : public testing_support::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        path_ = (dir_ / "tarvok.log").string();
    }

    std::string FileText() const { return platform::ReadFile(path_); }
    void WriteLog(int count) const {
        std::string content;
        for (int i = 1; i <= count; ++i) {
            content += "line " + std::to_string(i) + "\r\n";
        }
        platform::ReplaceFile(path_, content);
    }

    std::string path_;
    TFixedClock clock_{EncodeDate(2026, 12, 6) + EncodeTime(19, 16, 20)};
    int waits_ = 0;
    TSysLogger::TRetryWait countWaits_ = [this](int ms) {
        EXPECT_EQ(ms, 100);
        ++waits_;
    };
};

TEST_F(SysLogTest, StampsLinesInBothStylesAndEndsThemWithCrLf) {
    struct Row {
        bool namedMonth;
        TDateTime moment;
        const char* line;
    };
    const TDateTime december = EncodeDate(2026, 12, 6) + EncodeTime(19, 16, 20);
    const TDateTime march = EncodeDate(2027, 3, 1) + EncodeTime(7, 5, 9);
    const Row rows[] = {
        {true, december, "06-Dec-2026 - 19:16:20 : System started."},
        {false, december, "06/12/2026 - 19:16:20 : System started."},
        {true, march, "01-Mar-2027 - 07:05:09 : System started."},
        {false, march, "01/03/2027 - 07:05:09 : System started."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        platform::RemoveFile(path_);
        clock_.Set(row.moment);
        TSysLogger log(path_, clock_);
        log.NamedMonth = row.namedMonth;
        log.Add("System started.");
        EXPECT_EQ(log.LastLine, row.line);
        EXPECT_EQ(FileText(), std::string(row.line) + "\r\n");
        log.Add("Second.");
        EXPECT_EQ(log.Lines, (TLines{row.line, log.LastLine}));
        EXPECT_EQ(FileText(), std::string(row.line) + "\r\n" + log.LastLine + "\r\n");
    }
}

TEST_F(SysLogTest, ReadingSplitsAtLineEndsAndWritingRestoresCrLf) {
    const std::string longLine(5000, 'x');
    struct Row {
        std::string content;
        TLines lines;
    };
    const Row rows[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"\r\n\r\nc\r\n", {"", "", "c"}},
        {"bare\rcr\r\nend\r", {"bare\rcr", "end\r"}},
        {longLine + "\r\n" + longLine, {longLine, longLine}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.content.substr(0, 20)));
        EXPECT_EQ(SplitLogLines(row.content), row.lines);

        platform::ReplaceFile(path_, row.content);
        // A reader keeps no line longer than the log's longest.
        TLines kept = row.lines;
        for (std::string& line : kept) {
            line = line.substr(0, MaxLogLineLength);
        }
        TSysLogger log(path_, clock_);
        EXPECT_EQ(log.Lines, kept);
        log.Add("new");
        std::string expected;
        for (const std::string& line : kept) {
            expected += line + "\r\n";
        }
        EXPECT_EQ(FileText(), expected + log.LastLine + "\r\n");
    }
}

// A file planted far larger than a full log is read only as far as a full log of the longest
// lines reaches back, so it cannot make every line cost a rewrite of it all.
TEST_F(SysLogTest, AHugeFileIsReadOnlyAsFarAsAFullLogReaches) {
    const std::string huge(2 * LogReadLimit, 'j');
    platform::ReplaceFile(path_, huge + "\r\nfirst\r\nlast\r\n");
    TSysLogger log(path_, clock_);
    EXPECT_EQ(log.Lines, (TLines{"first", "last"}));
    log.Add(std::string(2 * MaxLogLineLength, 'm'));
    EXPECT_EQ(log.LastLine.size(), MaxLogLineLength);
    EXPECT_EQ(FileText(), "first\r\nlast\r\n" + log.LastLine + "\r\n");
}

// Lines that cannot reach the file stay in memory; whoever listens hears of it once, until a
// rewrite succeeds again.
TEST_F(SysLogTest, AFileThatCannotBeWrittenIsToldOncePerRunOfFailures) {
    std::vector<std::string> told;
    fs::create_directory(path_);
    TSysLogger log(path_, clock_);
    log.OnWriteFailed = [&](const std::string& reason) { told.push_back(reason); };
    log.Add("one");
    log.Add("two");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].find(path_), 0u) << told[0];
    fs::remove(path_);
    log.Add("three");
    EXPECT_EQ(SplitLogLines(FileText()).size(), 3u);
    fs::remove(path_);
    fs::create_directory(path_);
    log.Add("four");
    EXPECT_EQ(told.size(), 2u);
    EXPECT_EQ(log.Lines.size(), 4u);
}

TEST_F(SysLogTest, LimitKeepsTheNewestLinesInMemoryOnDisplayAndInFile) {
    // Long old lines and a short new one: the file must not keep a tail of the old content.
    const std::string padding(200, '.');
    std::string content;
    for (int i = 1; i <= 3000; ++i) {
        content += "old " + std::to_string(i) + padding + "\r\n";
    }
    platform::ReplaceFile(path_, content);
    TFakeDisplay display;
    TSysLogger log(path_, clock_);
    log.LimitLines = true;
    log.MaxLines = 3000;
    log.Display = &display;
    log.Reload();
    display.Calls.clear();

    log.Add("x");
    ASSERT_EQ(log.Lines.size(), 3000u);
    EXPECT_EQ(log.Lines.front(), "old 2" + padding);
    EXPECT_EQ(log.Lines.back(), log.LastLine);
    EXPECT_EQ(display.Items, log.Lines);
    EXPECT_EQ(display.Calls, (std::vector<std::string>{"append", "select", "delete", "select"}));
    EXPECT_EQ(SplitLogLines(FileText()), log.Lines);
}

TEST_F(SysLogTest, LimitAppliesOnlyWhenSetAndABadMaximumKeepsNothing) {
    struct Row {
        bool limitLines;
        std::int32_t maxLines;
        std::size_t kept;
    };
    const Row rows[] = {{false, 3, 5}, {true, 3, 3}, {true, 0, 0}, {true, -1, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.limitLines << " " << row.maxLines);
        platform::RemoveFile(path_);
        TFakeDisplay display;
        TSysLogger log(path_, clock_);
        log.LimitLines = row.limitLines;
        log.MaxLines = row.maxLines;
        log.Display = &display;
        for (int i = 0; i < 5; ++i) {
            log.Add("line " + std::to_string(i));
        }
        EXPECT_EQ(log.Lines.size(), row.kept);
        EXPECT_EQ(display.Items, log.Lines);
        EXPECT_EQ(SplitLogLines(FileText()), log.Lines);
    }
}

TEST_F(SysLogTest, SuppressedLoggerChangesNothing) {
    TFakeDisplay display;
    int calls = 0;
    TSysLogger log(path_, clock_);
    log.Display = &display;
    log.OnLineAdded = [&calls] { ++calls; };
    log.Add("before");
    const TLines lines = log.Lines;
    const std::string last = log.LastLine;
    const auto displayCalls = display.Calls;
    const std::string file = FileText();

    log.Suppressed = true;
    clock_.Set(clock_.Now() + 1);
    log.Add("hidden");
    log.AddFmt("Task \"%s\" [%d] started.", "hidden", 1);
    EXPECT_EQ(log.Lines, lines);
    EXPECT_EQ(log.LastLine, last);
    EXPECT_EQ(display.Calls, displayCalls);
    EXPECT_EQ(FileText(), file);
    EXPECT_EQ(calls, 1);
}

TEST_F(SysLogTest, TruncateKeepsTheLastLinesOrDeletesTheFile) {
    struct Row {
        int keep;
        TLines left;
    };
    const Row rows[] = {
        {0, {}},
        {-5, {}},
        {2, {"line 4", "line 5"}},
        {9, {"line 1", "line 2", "line 3", "line 4", "line 5"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keep);
        WriteLog(5);
        TFakeDisplay display;
        TSysLogger log(path_, clock_);
        log.Display = &display;
        log.Reload();
        log.Truncate(row.keep);
        EXPECT_EQ(log.Lines, row.left);
        EXPECT_EQ(display.Items, row.left);
        EXPECT_EQ(platform::FileExists(path_), !row.left.empty());
        if (row.left.empty()) {
            log.Add("System log truncated.");
            EXPECT_EQ(FileText(), log.LastLine + "\r\n");
        } else {
            EXPECT_EQ(SplitLogLines(FileText()), row.left);
        }
    }
}

TEST_F(SysLogTest, TruncateThatCannotTouchTheFileSaysSo) {
    fs::create_directory(path_);
    TSysLogger log(path_, clock_, countWaits_);
    for (int keep : {0, 2}) {
        SCOPED_TRACE(keep);
        log.Lines = {"stale"};
        EXPECT_THROW(log.Truncate(keep), platform::TIoError);
        EXPECT_TRUE(log.Lines.empty());
        EXPECT_TRUE(platform::DirectoryExists(path_));
    }
    // Truncating a log that is not there is no failure and creates nothing.
    fs::remove(path_);
    EXPECT_NO_THROW(log.Truncate(2));
    EXPECT_NO_THROW(log.Truncate(0));
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SysLogTest, MissingFileStartsEmptyAndFirstAddCreatesIt) {
    TFakeDisplay display;
    TSysLogger log(path_, clock_, countWaits_);
    log.Display = &display;
    log.Reload();
    EXPECT_TRUE(log.Lines.empty());
    EXPECT_TRUE(display.Items.empty());
    EXPECT_EQ(waits_, 0) << "a missing file is not a failed read";
    EXPECT_FALSE(fs::exists(path_));
    log.Add("System started.");
    EXPECT_EQ(FileText(), log.LastLine + "\r\n");
}

TEST_F(SysLogTest, ReloadRetriesAnUnreadableFile) {
    fs::create_directory(path_); // reading a directory fails
    std::function<void()> whileWaiting = [] {};
    TSysLogger log(path_, clock_, [&](int ms) {
        EXPECT_EQ(ms, 100);
        ++waits_;
        whileWaiting();
    });
    EXPECT_EQ(waits_, 0) << "creation makes a single attempt";
    EXPECT_TRUE(log.Lines.empty());
    TFakeDisplay display;
    log.Display = &display;

    // Never readable: five attempts, then an empty list and an empty display.
    log.Lines = {"stale"};
    display.Items = {"stale"};
    log.Reload();
    EXPECT_EQ(waits_, TSysLogger::ReloadAttempts - 1);
    EXPECT_TRUE(log.Lines.empty());
    EXPECT_TRUE(display.Items.empty());

    // The file becomes readable while Reload waits after an attempt, the last wait included.
    for (const int readableAfter : {2, TSysLogger::ReloadAttempts - 1}) {
        SCOPED_TRACE(readableAfter);
        fs::remove_all(path_);
        fs::create_directory(path_);
        waits_ = 0;
        whileWaiting = [&] {
            if (waits_ == readableAfter) {
                fs::remove(path_);
                WriteLog(3);
            }
        };
        log.Reload();
        EXPECT_EQ(waits_, readableAfter);
        EXPECT_EQ(log.Lines, (TLines{"line 1", "line 2", "line 3"}));
        EXPECT_EQ(display.Items, log.Lines);
    }
}

TEST_F(SysLogTest, LineThatCannotBeWrittenReachesTheFileWithTheNextRewrite) {
    const std::string inMissingDir = (dir_ / "later" / "tarvok.log").string();
    struct Row {
        const char* name;
        std::string path;
        std::function<void()> block, unblock;
    };
    const Row rows[] = {
        {"directory missing", inMissingDir, [] {}, [&] { fs::create_directory(dir_ / "later"); }},
        {"path is a directory", path_, [&] { fs::create_directory(path_); },
         [&] { fs::remove(path_); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.block();
        TFakeDisplay display;
        int calls = 0;
        TSysLogger log(row.path, clock_);
        log.Display = &display;
        log.OnLineAdded = [&calls] { ++calls; };
        EXPECT_NO_THROW(log.Add("first"));
        EXPECT_EQ(log.Lines.size(), 1u);
        EXPECT_EQ(display.Items, log.Lines);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(platform::FileExists(row.path));

        row.unblock();
        log.Add("second");
        EXPECT_EQ(SplitLogLines(platform::ReadFile(row.path)), log.Lines);
        EXPECT_EQ(log.Lines.size(), 2u);
    }
}

TEST_F(SysLogTest, HookRunsOncePerStoredLineAfterTheFileHasIt) {
    int calls = 0;
    std::string written;
    TSysLogger log(path_, clock_);
    log.LimitLines = true;
    log.MaxLines = 1;
    log.OnLineAdded = [&] {
        ++calls;
        EXPECT_EQ(log.Lines.back(), log.LastLine);
        written = FileText();
    };
    log.Add("one");
    EXPECT_EQ(written, log.LastLine + "\r\n");
    log.Add("two");
    EXPECT_EQ(written, log.LastLine + "\r\n");
    const std::string two = written;
    log.WriteFile = false;
    log.Add("three");
    EXPECT_EQ(written, two) << "WriteFile false must leave the file alone";
    EXPECT_EQ(calls, 3);
}

TEST_F(SysLogTest, MessagesCannotBreakOrForgeLines) {
    TSysLogger log(path_, clock_);
    log.AddFmt("Task \"%s\" [%d] started.", "x\r\n06-Dec-2026 - 00:00:00 : forged\t\x7f", 1);
    EXPECT_EQ(log.LastLine,
              "06/12/2026 - 19:16:20 : Task \"x??06-Dec-2026 - 00:00:00 : forged??\" [1] started.");
    log.Reload();
    EXPECT_EQ(log.Lines, TLines{log.LastLine});
}

TEST(FormatLogText, FillsDirectivesAndSurvivesAnyMismatch) {
    struct Row {
        std::string text, expected;
    };
    const std::string name = "Backup";
    const Row rows[] = {
        {FormatLogText("Task \"%s\" [%d] started.", {name, 3}), "Task \"Backup\" [3] started."},
        {FormatLogText("%d %d %d", {-2147483647 - 1, 4294967295u, -1LL}),
         "-2147483648 4294967295 -1"},
        {FormatLogText("100%% %s", {std::string_view("done")}), "100% done"},
        {FormatLogText("%d", {"text"}), "text"},
        {FormatLogText("%s", {42}), "42"},
        {FormatLogText("%s and %d", {"one"}), "one and %d"},
        {FormatLogText("%s", {"a", 5, "b"}), "a"},
        {FormatLogText("%x %5d %", {7}), "%x %5d %"},
        {FormatLogText("[%s]", {static_cast<const char*>(nullptr)}), "[]"},
        {FormatLogText("no directives", {}), "no directives"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(row.text, row.expected);
    }
}

} // namespace
} // namespace tarvok
