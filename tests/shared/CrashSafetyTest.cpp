// Saves killed at random moments and saves onto a full disk: the file on disk is always the old
// one or the new one, never a torn mixture, and a full disk is reported, not hidden.
#include "platform/Files.h"
#include "shared/Clock.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "tests/TempDir.h"

#include <csignal>
#include <cstdio>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok {
namespace {

constexpr int Kills = 500;

// Runs work in a child process until it is killed at a random moment within its first
// microseconds, `Kills` times; after each kill, check sees the file.
template <typename TWork, typename TCheck>
void KillRepeatedly(TWork work, TCheck check) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayUs(0, 4000);
    for (int round = 0; round < Kills; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                work(round);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "writer failed: %s\n", error.what());
                ::_exit(3);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the writer stopped by itself";
        check(round);
        if (testing::Test::HasFailure()) {
            return;
        }
    }
}

std::string TaskFileOf(int tasks, const std::string& name) {
    TTaskList list;
    for (int i = 0; i < tasks; ++i) {
        TTaskDef task = TTaskDef::New();
        task.Name = name;
        list.AddTask(task, true);
    }
    std::string bytes(TaskDefSize * static_cast<std::size_t>(tasks), '\0');
    for (int i = 0; i < tasks; ++i) {
        EncodeTask(
            list.GetTask(static_cast<std::size_t>(i)),
            std::span<std::uint8_t, TaskDefSize>(
                reinterpret_cast<std::uint8_t*>(bytes.data()) + i * TaskDefSize, TaskDefSize));
    }
    return bytes;
}

// The writer's round and line number of a log line "... : round R line N"; -1 when unreadable.
std::pair<int, int> RoundAndLine(const std::string& line) {
    int round = -1;
    int number = -1;
    const std::size_t message = line.find(" : ");
    if (message != std::string::npos) {
        std::sscanf(line.c_str() + message, " : round %d line %d", &round, &number);
    }
    return {round, number};
}

using CrashSafety = testing_support::TempDirTest;

TEST_F(CrashSafety, KilledTaskFileSaveLeavesOldOrNewFile) {
    const std::string path = Path("tarvok.tsk");
    // Two versions of different sizes: a torn file would show as a third size or mixed names.
    const std::string versions[] = {TaskFileOf(400, "old"), TaskFileOf(900, "new")};
    platform::ReplaceFile(path, versions[0]);
    KillRepeatedly(
        [&](int) {
            for (int i = 1;; ++i) {
                TTaskList list;
                list.LoadFromFile(path);
                platform::ReplaceFile(path, versions[i % 2]);
            }
        },
        [&](int round) {
            const std::string now = Read(path);
            EXPECT_TRUE(now == versions[0] || now == versions[1])
                << "round " << round << ": torn file of " << now.size() << " bytes";
        });
}

TEST_F(CrashSafety, KilledLogRewriteLeavesWholeConsecutiveLines) {
    const std::string path = Path("tarvok.log");
    TFixedClock clock(EncodeDate(2026, 12, 8));
    KillRepeatedly(
        [&](int round) {
            TSysLogger log(path, clock);
            log.LimitLines = true;
            log.MaxLines = 300;
            for (int line = 0;; ++line) {
                log.AddFmt("round %d line %d", round, line);
            }
        },
        [&](int round) {
            const std::string content = Read(path);
            if (content.empty()) {
                return; // killed before its first line reached the disk
            }
            ASSERT_TRUE(content.ends_with("\r\n")) << "round " << round << ": torn last line";
            const auto lines = SplitLogLines(content);
            ASSERT_LE(lines.size(), 300u);
            // Each line follows the one before it: the next of the same writer, or a later
            // writer's first.
            for (std::size_t i = 1; i < lines.size(); ++i) {
                const auto [r1, n1] = RoundAndLine(lines[i - 1]);
                const auto [r2, n2] = RoundAndLine(lines[i]);
                ASSERT_TRUE(r1 >= 0 && r2 >= 0) << "round " << round << ": " << lines[i];
                ASSERT_TRUE((r2 == r1 && n2 == n1 + 1) || (r2 > r1 && n2 == 0))
                    << "round " << round << ": gap between " << lines[i - 1] << " and " << lines[i];
            }
        });
}

// A tiny file system of its own in a private mount namespace, filled up: the old file survives
// whole and the writer hears of it. Runs in a child, which reports through its exit code.
TEST_F(CrashSafety, FullDiskKeepsTheOldFileAndReportsTheError) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0) {
            ::_exit(77);
        }
        const std::string taskPath = Path("tarvok.tsk");
        const std::string old = TaskFileOf(10, "old");
        platform::ReplaceFile(taskPath, old);
        bool raised = false;
        try {
            platform::ReplaceFile(taskPath, TaskFileOf(200, "new")); // ~99 KB: cannot fit
        } catch (const platform::TIoError& error) {
            raised = error.Reason() == "No space left on device";
        }
        if (!raised || testing_support::TempDirTest::Read(taskPath) != old) {
            ::_exit(1);
        }
        // The log keeps every line in memory while the disk is full.
        TFixedClock clock(EncodeDate(2026, 12, 8));
        TSysLogger log(Path("tarvok.log"), clock);
        for (int line = 0; line < 2000; ++line) {
            log.AddFmt("line %d of a log that will not fit", line);
        }
        const auto onDisk = SplitLogLines(testing_support::TempDirTest::Read(Path("tarvok.log")));
        if (log.Lines.size() != 2000 || onDisk.empty() || onDisk.size() >= 2000 ||
            onDisk.back() != log.Lines[onDisk.size() - 1]) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: task file torn or no error; 2: log lost lines";
}

} // namespace
} // namespace tarvok
