// How a pass of the scheduler thread writes the log: its lines reach the file together, and the
// manager is told of each only once the file holds it.
#include "platform/Files.h"
#include "service/SvcThd.h"
#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing_support::DailyJob;

// Notes, with every message to the manager, how many lines the log file held when it was sent.
class TFileWatchingChannel final : public TSchedulerChannel {
public:
    TFileWatchingChannel(std::string logPath, std::vector<std::string>& sent)
        : logPath_(std::move(logPath)), sent_(sent) {}
    TSlotMessage ReadMessage() override { return {}; }
    void SendToClient(const std::string& message) override {
        const std::size_t lines =
            platform::FileExists(logPath_) ? SplitLogLines(platform::ReadFile(logPath_)).size() : 0;
        sent_.push_back(message + " @" + std::to_string(lines));
    }
    void SetArrivalHook(std::function<void()>) override {}

private:
    std::string logPath_;
    std::vector<std::string>& sent_;
};

class SvcThdPassTest : public testing_support::TempDirTest {};

TEST_F(SvcThdPassTest, APassAnnouncesEachOfItsLinesOnceTheFileHoldsThemAll) {
    const TProgramPaths paths = ProgramPathsFor(Path("TarvokSvc"));
    TTaskList tasks;
    for (TTaskDef task :
         {DailyJob(1, "A", false), DailyJob(2, "B", true), DailyJob(3, "C", false)}) {
        tasks.AddTask(task, false);
    }
    tasks.SaveToFile(paths.TaskPath);
    TFixedClock clock(EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 40));
    testing_support::TFakeProcesses processes;
    std::vector<std::string> sent;
    TTarvokThread thread(TTarvokThread::TSetup{
        paths, clock, processes, std::make_unique<TFileWatchingChannel>(paths.LogPath, sent)});
    // Outside a pass every line is written and announced at once.
    EXPECT_THAT(sent, ElementsAre("LC @1", "LC @2"));

    sent.clear();
    clock.Set(EncodeDate(2026, 12, 8) + EncodeTime(10, 16, 0));
    thread.Poll();
    EXPECT_THAT(sent, ElementsAre("TS 2 1001 @2", "LC @5", "LC @5", "LC @5"));
    const auto lines = SplitLogLines(platform::ReadFile(paths.LogPath));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_THAT(lines.back(), testing::EndsWith(" : Task \"C\" [3] started."));
}

} // namespace
} // namespace tarvok
