#include "shared/TaskRun.h"
#include "tests/PrivateMounts.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace tarvok {
namespace {

using testing::ElementsAre;

class TEventHost final : public TRunTaskHost {
public:
    std::vector<std::string> Lines;
    std::uint32_t ProcessId = 0;

    void Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                std::uint32_t processId) override {
        Lines.push_back(RunEventText(event, taskName, taskId));
        ProcessId = processId;
    }
};

class NetworkRunTest : public testing_support::PrivateMountsTest {
protected:
    TTaskDef Task(const std::string& command, const std::string& workDir) const {
        TTaskDef task = TTaskDef::New();
        task.Id = 4;
        task.Name = "Report";
        task.Command = command;
        task.Parameters = "'" + Path("where") + "'";
        task.WorkDir = workDir;
        return task;
    }

    std::vector<std::string> Run(const TTaskDef& task) {
        TEventHost host;
        RunTask(task, table_, host, SystemProcesses(), {});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (host.ProcessId != 0 && GetProcessExitCode(host.ProcessId) == StillActive &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return host.Lines;
    }

    TProcessTable table_;
};

// Both the check and the start go through the share's current mount; once it is gone the task
// is refused as a missing command or working directory, never started from a stale path.
TEST_F(NetworkRunTest, StartsFromTheShareAndRefusesItUnmounted) {
    MountShare("//fs1/sales", Path("share"));
    std::filesystem::create_directories(Path("share/work"));
    Write(Path("share/job.sh"), "#!/bin/sh\npwd > \"$1\"\n");
    ::chmod(Path("share/job.sh").c_str(), 0755);

    EXPECT_THAT(Run(Task("//fs1/sales/job.sh", "//fs1/sales/work")),
                ElementsAre("Task \"Report\" [4] started."));
    EXPECT_EQ(Read(Path("where")), Path("share/work") + "\n");

    Unmount(Path("share"));
    EXPECT_THAT(Run(Task("//fs1/sales/job.sh", "")),
                ElementsAre("Invalid command in task \"Report\" [4]."));
    EXPECT_THAT(Run(Task("/bin/true", "//fs1/sales/work")),
                ElementsAre("Invalid working directory in task \"Report\" [4]."));
}

} // namespace
} // namespace tarvok
