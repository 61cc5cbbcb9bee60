// What the scheduler thread does with a task file it cannot trust, with messages its slot
// refused, and with task texts that try to forge log lines.
#include "tests/service/SchedulerThreadFixture.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::At;
using testing_support::DailyJob;

class SvcThdTrustTest : public testing_support::TSchedulerThreadFixture {};

void Chmod(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

TEST_F(SvcThdTrustTest, AnUntrustedTaskFileRunsNothingAndIsNeverRewritten) {
    struct TRow {
        const char* What;
        std::function<void()> Spoil;
        const char* Reason;
    };
    const std::string taskPath = paths_.TaskPath;
    // The reasons themselves are the platform's; one about the file and one about its place.
    const TRow rows[] = {
        {"writable by others", [&] { Chmod(taskPath, 0666); }, "it is writable by others"},
        {"a symbolic link",
         [&] {
             fs::rename(taskPath, Path("elsewhere"));
             fs::create_symlink(Path("elsewhere"), taskPath);
         },
         "it is a symbolic link"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        thread_.reset();
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        fs::permissions(dir_, fs::perms(0755));
        sent_.clear();
        processes_.Launched.clear();

        SaveTasks({DailyJob(1, "A"), DailyJob(2, "B")});
        row.Spoil();
        const std::string file = Read(Path("tarvok.tsk"));
        const std::string refusal = std::string("The task file is not trusted (") + row.Reason +
                                    "); no task will run from it.";
        Start(At(10, 15, 40));
        EXPECT_EQ(thread_->Tasks().Count(), 0u);
        EXPECT_THAT(LogMessages(), ElementsAre("Tarvok Service starting!", refusal));

        Pass(At(10, 16, 0));
        Pass(At(10, 16, 1), {"TR 1", "TN 2", "TD 1"});
        EXPECT_THAT(processes_.Launched, IsEmpty());
        EXPECT_THAT(LogMessages(),
                    ElementsAre("Tarvok Service starting!", refusal, "No task to run.",
                                "Invalid command in task \"\" [0].", refusal));
        EXPECT_THAT(Told(), ElementsAre("TX 0"));
        EXPECT_EQ(Read(Path("tarvok.tsk")), file) << "the file was rewritten or removed";
    }
}

TEST_F(SvcThdTrustTest, AListLoadedBeforeIsDroppedOnceTheFileIsUntrustedAndBackWhenFixed) {
    SaveTasks({DailyJob(1, "A", true)});
    Start(At(10, 15, 40));
    Pass(At(10, 15, 41), {"TR 1"});
    ASSERT_EQ(processes_.Launched, std::vector<std::string>{"A"});

    Chmod(paths_.TaskPath, 0666);
    Pass(At(10, 15, 42), {"TM 1"});
    Pass(At(10, 16, 0));
    EXPECT_EQ(processes_.Launched, std::vector<std::string>{"A"}) << "a task of it ran";
    EXPECT_THAT(thread_->ProcessTable().Entries(), ElementsAre(TTaskRunEntry{"A", 1, 1000}))
        << "the run started before is still followed";

    Chmod(paths_.TaskPath, 0644);
    processes_.Running.clear();
    Pass(At(10, 16, 1), {"TM 1"});
    EXPECT_EQ(LogMessages().back(), "Blocking task \"A\" [1] finished.");
    EXPECT_EQ(thread_->Tasks().Count(), 1u);
}

TEST_F(SvcThdTrustTest, RefusedMessagesAreNotedAtMostOnceAMinute) {
    Start(At(10, 15, 40));
    const std::string note = " message(s) from accounts that may not control Tarvok.";
    auto refusedThenPass = [&](std::size_t count, double now) {
        refused_ += count;
        Pass(now);
    };
    using namespace std::chrono_literals;
    refusedThenPass(0, At(10, 15, 41));
    refusedThenPass(3, At(10, 15, 42));
    refusedThenPass(2, At(10, 15, 50));
    EXPECT_EQ(thread_->QuietSpan(), 10s) << "the minute comes before the next note";
    Pass(At(10, 16, 0));
    EXPECT_EQ(thread_->QuietSpan(), 42s) << "the next note is owed before the next minute";
    refusedThenPass(1, At(10, 16, 30));
    refusedThenPass(0, At(10, 16, 43));
    refusedThenPass(4, At(9, 0, 0)); // the clock was set back
    refusedThenPass(0, At(9, 0, 1));
    EXPECT_THAT(LogMessages(),
                ElementsAre("Tarvok Service starting!", "Dropped 3" + note, "No task to run.",
                            "Dropped 3" + note, "Dropped 4" + note));
}

TEST_F(SvcThdTrustTest, TaskTextsCannotForgeLogLines) {
    const std::string forged = "x\r\n08-Dec-2026 - 10:15:00 : Task \"Backup\" [9] started.\r";
    TTaskDef blocking = DailyJob(1, forged, true);
    TTaskDef invalid = DailyJob(2, forged + "\x1b[2J\x7f");
    invalid.Command = "/bin/absent";
    SaveTasks({blocking, invalid});
    Start(At(10, 15, 40));
    Pass(At(10, 15, 41), {"TR 1", "TR 2"});
    processes_.Running.clear();
    Pass(At(10, 15, 42));

    const std::string shown = "x??08-Dec-2026 - 10:15:00 : Task \"Backup\" [9] started.?";
    EXPECT_THAT(LogMessages(), ElementsAre("Tarvok Service starting!", "Task list (re)loaded",
                                           "Blocking task \"" + shown + "\" [1] started.",
                                           "Invalid command in task \"" + shown + "?[2J?\" [2].",
                                           "Blocking task \"" + shown + "\" [1] finished."));
    for (const std::string& line : SplitLogLines(Read(paths_.LogPath))) {
        EXPECT_THAT(line, testing::StartsWith("08-Dec-2026 - 10:15:4"));
    }
}

} // namespace
} // namespace tarvok
