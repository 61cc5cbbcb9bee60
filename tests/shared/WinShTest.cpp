#include "shared/WinSh.h"

#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/TempDir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using platform::ReadFile;
using testing::ElementsAreArray;

using TWords = std::vector<std::string>;

const std::string Probe = TARVOK_WINSH_PROBE;
const std::string Sleep = "/bin/sleep";
const std::string Shell = "/bin/sh";
constexpr std::uint32_t KilledBySigkill = 128 + SIGKILL;

// --- Splitting -------------------------------------------------------------------------------

TEST(SplitParameters, SplitsWordsLikeAShell) {
    struct TRow {
        std::string parameters;
        TWords words;
    };
    const TRow rows[] = {
        {"", {}},
        {" \t\n ", {}},
        {"a  b\tc", {"a", "b", "c"}},
        {"  lead trail  ", {"lead", "trail"}},
        {R"('a b' "c d")", {"a b", "c d"}},
        {R"('' "" x)", {"", "", "x"}},
        {R"(a'b c'd"e f"g)", {"ab cde fg"}},
        {R"(it\'s a\ b \"q\")", {"it's", "a b", "\"q\""}},
        {R"("a\"b" "a\b" "a\\b" "\$x")", {"a\"b", "a\\b", "a\\b", "$x"}},
        {R"('a\b' '"' "'")", {"a\\b", "\"", "'"}},
        {"a\\\nb", {"ab"}},
        {"\"a\\\nb\"", {"ab"}},
        {"end\\", {"end\\"}},
        {"one\ntwo", {"one", "two"}},
        {"$HOME *.txt > out ; #note | x&", {"$HOME", "*.txt", ">", "out", ";", "#note", "|", "x&"}},
        {"C:\\dir", {"C:dir"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.parameters);
        auto words = SplitParameters(row.parameters);
        ASSERT_TRUE(words.has_value());
        EXPECT_THAT(*words, ElementsAreArray(row.words));
    }
}

TEST(SplitParameters, UnterminatedQuoteGivesNothing) {
    for (const char* parameters : {"'abc", "\"abc", "a 'b\" c", R"("a\")", "ok 'x' '"}) {
        SCOPED_TRACE(parameters);
        EXPECT_FALSE(SplitParameters(parameters).has_value());
    }
}

// --- Real processes --------------------------------------------------------------------------

// Polls until the condition holds; the deadline only keeps a broken build from hanging.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Ended(std::uint32_t pid) {
    return GetProcessExitCode(pid) != StillActive;
}

// The fields of /proc/<pid>/stat from the state on: index 0 is field 3 of the line.
TWords StatFields(pid_t pid) {
    std::string line = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    return {std::istream_iterator<std::string>(fields), {}};
}

int StatField(pid_t pid, int field) {
    return std::stoi(StatFields(pid).at(static_cast<std::size_t>(field - 3)));
}

// Our children that ended and that nobody reaped.
std::vector<pid_t> ZombieChildren() {
    std::vector<pid_t> zombies;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = std::stoi(name);
        try {
            TWords fields = StatFields(pid);
            if (fields.at(0) == "Z" && std::stoi(fields.at(1)) == ::getpid()) {
                zombies.push_back(pid);
            }
        } catch (const platform::TIoError&) {
            // gone meanwhile
        }
    }
    return zombies;
}

TWords NulSeparated(const std::string& text) {
    TWords words;
    std::size_t start = 0;
    for (std::size_t end = text.find('\0'); end != std::string::npos;
         end = text.find('\0', start)) {
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// The line of /proc/<pid>/status that starts with the key, or nothing.
std::string StatusLine(pid_t pid, const std::string& key) {
    std::istringstream lines(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(key)) {
            return line;
        }
    }
    return {};
}

std::string Link(const std::string& path) {
    std::error_code error;
    fs::path target = fs::read_symlink(path, error);
    return error ? "" : target.string();
}

class WinShTest : public testing_support::TempDirTest {
protected:
    void TearDown() override {
        for (std::uint32_t pid : running_) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        TempDirTest::TearDown();
    }

    std::string WriteFile(const std::string& name, const std::string& content, mode_t mode) {
        const std::string path = Path(name);
        std::ofstream(path) << content;
        fs::permissions(path, static_cast<fs::perms>(mode));
        return path;
    }

    // A process that waits to be looked at; the test ends it.
    std::uint32_t StartSleeper(const std::string& workDir = "", std::uint8_t priority = 2,
                               std::uint16_t showWindow = SwHide) {
        std::uint32_t pid = LaunchProcess(Sleep, "60", workDir, priority, showWindow);
        if (pid != 0) {
            running_.push_back(pid);
            // The caller resumes once the exec is past its point of no return; the new
            // program's arguments and environment are laid out a moment later.
            const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
            WaitUntil([&] { return !ReadFile(cmdline).empty(); });
        }
        return pid;
    }

    static void Kill(std::uint32_t pid) {
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
        ASSERT_TRUE(WaitUntil([pid] { return Ended(pid); }));
    }

    std::vector<std::uint32_t> running_;
};

TEST_F(WinShTest, ArgumentsArriveSplitWithTheCommandFirst) {
    const std::string record = Path("argv");
    const std::string relativeProbe = fs::relative(Probe).string();
    struct TRow {
        std::string command;
        std::string parameters;
        std::string workDir;
        TWords arguments; // after the command
    };
    const TRow rows[] = {
        {Probe,
         "record " + record + R"( 'a b' "" c\ d "it's" $HOME)",
         "",
         {"record", record, "a b", "", "c d", "it's", "$HOME"}},
        {Probe, "  record   " + record + "  ", "", {"record", record}},
        // Taken from the caller's directory, not from the one the program starts in.
        {relativeProbe, "record " + record, "/", {"record", record}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.command + " " + row.parameters);
        fs::remove(record);
        std::uint32_t pid = LaunchProcess(row.command, row.parameters, row.workDir, 2, SwHide);
        ASSERT_NE(pid, 0u);
        ASSERT_TRUE(WaitUntil([pid] { return Ended(pid); }));
        EXPECT_EQ(GetProcessExitCode(pid), 0u);
        TWords expected{row.command};
        expected.insert(expected.end(), row.arguments.begin(), row.arguments.end());
        EXPECT_THAT(NulSeparated(ReadFile(record)), ElementsAreArray(expected));
    }
    EXPECT_EQ(LaunchProcess(Probe, "record " + record + " 'open", "", 2, SwHide), 0u);
}

TEST_F(WinShTest, StartsDetachedWithNullStreamsAndNothingInherited) {
    // A descriptor left open across exec, a blocked and an ignored signal: a service commonly
    // has all three, and its tasks must not.
    const int leaked = 200;
    ASSERT_EQ(::dup2(STDERR_FILENO, leaked), leaked);
    sigset_t block;
    sigset_t previousMask;
    ::sigemptyset(&block);
    ::sigaddset(&block, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &block, &previousMask);
    auto previousPipe = std::signal(SIGPIPE, SIG_IGN);

    std::uint32_t pid = StartSleeper();

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    std::signal(SIGPIPE, previousPipe);
    ::close(leaked);
    ASSERT_NE(pid, 0u);

    const std::string proc = "/proc/" + std::to_string(pid);
    EXPECT_EQ(StatField(static_cast<pid_t>(pid), 6), static_cast<int>(pid)) << "session";
    for (const char* stream : {"/fd/0", "/fd/1", "/fd/2"}) {
        EXPECT_EQ(Link(proc + stream), "/dev/null") << stream;
    }
    EXPECT_EQ(Link(proc + "/fd/" + std::to_string(leaked)), "");
    const std::string status = ReadFile(proc + "/status");
    EXPECT_THAT(status, testing::HasSubstr("SigBlk:\t0000000000000000\n"));
    // glibc's spawn leaves its two internal signals (32 and 33) ignored; no program built on
    // it can see them.
    const auto ignored = status.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos);
    EXPECT_EQ(std::stoull(status.substr(ignored + 8, 16), nullptr, 16) & ~0x180000000ull, 0u);
    EXPECT_EQ(GetProcessExitCode(pid), StillActive);
    Kill(pid);
    EXPECT_EQ(GetProcessExitCode(pid), KilledBySigkill);
}

TEST_F(WinShTest, WorkingDirectoryIsTheGivenOneOrTheCallers) {
    const std::string file = WriteFile("plain", "", 0644);
    struct TRow {
        std::string workDir;
        std::optional<fs::path> cwd; // none: the start fails
    };
    const TRow rows[] = {
        {dir_.string(), fs::canonical(dir_)}, {"", fs::current_path()}, {"/", fs::path("/")},
        {Path("missing"), std::nullopt},      {file, std::nullopt},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE("work dir \"" + row.workDir + "\"");
        std::uint32_t pid = StartSleeper(row.workDir);
        if (!row.cwd) {
            EXPECT_EQ(pid, 0u);
            continue;
        }
        ASSERT_NE(pid, 0u);
        EXPECT_EQ(Link("/proc/" + std::to_string(pid) + "/cwd"), row.cwd->string());
        Kill(pid);
    }
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); }));
}

TEST_F(WinShTest, HiddenProcessesLoseTheDisplayVariablesAndNoneGetsTheServicesOwn) {
    const char* servicesOwn[] = {"NOTIFY_SOCKET", "JOURNAL_STREAM", "INVOCATION_ID"};
    for (const char* name : servicesOwn) {
        ::setenv(name, "the service's", 1);
    }
    ::setenv("DISPLAY", ":7", 1);
    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    ::setenv("TARVOK_KEPT", "yes", 1);
    struct TRow {
        std::uint16_t showWindow;
        bool display;
    };
    for (TRow row : {TRow{SwShow, true}, TRow{1, true}, TRow{SwHide, false}}) {
        SCOPED_TRACE(row.showWindow);
        std::uint32_t pid = StartSleeper("", 2, row.showWindow);
        ASSERT_NE(pid, 0u);
        TWords environment = NulSeparated(ReadFile("/proc/" + std::to_string(pid) + "/environ"));
        auto has = [&](const char* entry) {
            return std::find(environment.begin(), environment.end(), entry) != environment.end();
        };
        EXPECT_EQ(has("DISPLAY=:7"), row.display);
        EXPECT_EQ(has("WAYLAND_DISPLAY=wayland-7"), row.display);
        EXPECT_TRUE(has("TARVOK_KEPT=yes"));
        for (const char* name : servicesOwn) {
            EXPECT_FALSE(has((std::string(name) + "=the service's").c_str())) << name;
        }
        Kill(pid);
    }
    for (const char* name : servicesOwn) {
        ::unsetenv(name);
    }
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("TARVOK_KEPT");
}

// Launched from a thread of its own at nice 5, so that "inherited" differs from Normal. Lowering
// a nice value needs a privilege; without it the launch keeps the inherited value.
TEST_F(WinShTest, PriorityCodesSetNiceAndIdleClassWhereAllowed) {
    struct TRow {
        std::uint8_t code;
        std::optional<int> nice; // none: inherited
        bool idle;
    };
    const TRow rows[] = {
        {0, -10, false}, {1, -20, false},          {2, 0, false},
        {3, 19, true},   {4, std::nullopt, false}, {255, std::nullopt, false},
    };
    struct TLaunch {
        std::uint32_t pid;
        int expectedNice;
    };
    std::vector<TLaunch> launches;
    std::thread launcher([&] {
        const auto self = static_cast<id_t>(::gettid());
        ::setpriority(PRIO_PROCESS, self, 5);
        const int inherited = ::getpriority(PRIO_PROCESS, self);
        for (const TRow& row : rows) {
            int expected = row.nice.value_or(inherited);
            bool allowed =
                expected >= inherited || ::setpriority(PRIO_PROCESS, self, expected) == 0;
            ::setpriority(PRIO_PROCESS, self, inherited); // raising back is always allowed
            launches.push_back({StartSleeper("", row.code), allowed ? expected : inherited});
        }
    });
    launcher.join();

    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("priority code " + std::to_string(rows[i].code));
        const auto pid = static_cast<pid_t>(launches[i].pid);
        ASSERT_NE(pid, 0);
        EXPECT_EQ(StatField(pid, 19), launches[i].expectedNice) << "nice";
        EXPECT_EQ(StatField(pid, 41), rows[i].idle ? SCHED_IDLE : SCHED_OTHER) << "policy";
        Kill(launches[i].pid);
    }
}

TEST_F(WinShTest, ProgramsThatCannotRunAreFailedStarts) {
    struct TRow {
        const char* what;
        std::string command;
    };
    const TRow rows[] = {
        {"missing file", Path("absent")},
        {"empty command", ""},
        {"no execute permission", WriteFile("readable", "#!/bin/sh\nexit 0\n", 0644)},
        {"no interpreter line", WriteFile("text", "exit 0\n", 0755)},
        {"missing interpreter", WriteFile("orphan", "#!/nonexistent/sh\nexit 0\n", 0755)},
        {"directory", dir_.string()},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(LaunchProcess(row.command, "", "", 2, SwHide), 0u);
    }
    EXPECT_TRUE(ZombieChildren().empty());
}

TEST_F(WinShTest, ManyLaunchesLeaveNoZombieAndKeepTheirExitCodes) {
    constexpr int Count = 200;
    std::vector<std::uint32_t> pids;
    for (int i = 0; i < Count; ++i) {
        std::string script = i % 50 == 49 ? "kill -KILL $$" : "exit " + std::to_string(i);
        std::uint32_t pid = LaunchProcess(Shell, "-c '" + script + "'", "", 2, SwHide);
        ASSERT_NE(pid, 0u) << i;
        pids.push_back(pid);
    }
    auto expected = [](int i) { return i % 50 == 49 ? KilledBySigkill : std::uint32_t(i); };
    EXPECT_TRUE(WaitUntil([&] {
        for (int i = 0; i < Count; ++i) {
            if (GetProcessExitCode(pids[static_cast<std::size_t>(i)]) != expected(i)) {
                return false;
            }
        }
        return ZombieChildren().empty();
    }));
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(GetProcessExitCode(pids[static_cast<std::size_t>(i)]), expected(i)) << i;
    }
    EXPECT_THAT(ZombieChildren(), testing::IsEmpty());
    // The launcher reaps only its own: a child started beside it stays the starter's to reap.
    pid_t own = ::fork();
    if (own == 0) {
        ::_exit(3);
    }
    ASSERT_TRUE(
        WaitUntil([own] { return GetProcessExitCode(static_cast<std::uint32_t>(own)) == 3; }));
    int status = 0;
    ASSERT_EQ(::waitpid(own, &status, 0), own);
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// More runs end before anyone looks than the platform remembers of other processes (4096): every
// kept end is still there, once, and a signal is told from an exit code of 128 + its number.
TEST_F(WinShTest, KeptEndsOutlastABurstAndTellSignalsFromExitCodes) {
    constexpr int Count = 4200;
    std::atomic<int> hookCalls = 0;
    platform::SetProcessEndHook([&] { ++hookCalls; });
    TLaunchOptions keep;
    keep.KeepEnd = true;
    const std::uint32_t exited = LaunchProcess(Shell, "-c 'exit 137'", "", 2, SwHide, keep);
    const std::uint32_t killed = LaunchProcess(Shell, "-c 'kill -KILL $$'", "", 2, SwHide, keep);
    std::vector<std::uint32_t> pending;
    for (int i = 0; i < Count; ++i) {
        pending.push_back(LaunchProcess("/bin/true", "", "", 2, SwHide, keep));
        ASSERT_NE(pending.back(), 0u) << i;
    }
    std::optional<platform::TProcessEnd> exitedEnd;
    std::optional<platform::TProcessEnd> killedEnd;
    EXPECT_TRUE(WaitUntil([&] {
        exitedEnd = exitedEnd ? exitedEnd : platform::TakeProcessEnd(exited);
        killedEnd = killedEnd ? killedEnd : platform::TakeProcessEnd(killed);
        std::erase_if(pending, [](std::uint32_t pid) {
            const auto end = platform::TakeProcessEnd(pid);
            EXPECT_TRUE(!end || (end->Known && !end->Signalled && end->Code == 0)) << pid;
            return end.has_value();
        });
        return pending.empty() && exitedEnd && killedEnd;
    }));
    platform::SetProcessEndHook(nullptr);
    ASSERT_TRUE(exitedEnd && killedEnd);
    EXPECT_TRUE(exitedEnd->Known && !exitedEnd->Signalled && exitedEnd->Code == 137);
    EXPECT_TRUE(killedEnd->Known && killedEnd->Signalled && killedEnd->Code == SIGKILL);
    EXPECT_FALSE(platform::TakeProcessEnd(exited)->Known); // handed out once
    EXPECT_GT(hookCalls.load(), 0);
}

TEST_F(WinShTest, UnknownIdsAnswerZeroAndAnyRunningProcessIsActive) {
    EXPECT_EQ(GetProcessExitCode(0), 0u);
    EXPECT_EQ(GetProcessExitCode(4'000'000'000u), 0u);
    EXPECT_EQ(GetProcessExitCode(static_cast<std::uint32_t>(::getpid())), StillActive);
    EXPECT_EQ(GetProcessExitCode(1), StillActive);
}

TEST_F(WinShTest, AnotherProgramsProcessIsActiveUntilItEnds) {
    // The probe starts the sleeper and ends at once, without waiting for it.
    const std::string command = "'" + Probe + "' launch " + Sleep + " 60";
    FILE* probe = ::popen(command.c_str(), "r");
    ASSERT_NE(probe, nullptr);
    unsigned pid = 0;
    const int read = std::fscanf(probe, "%u", &pid);
    ASSERT_EQ(::pclose(probe), 0);
    ASSERT_EQ(read, 1);
    ASSERT_NE(pid, 0u);
    running_.push_back(pid);

    EXPECT_NE(StatField(static_cast<pid_t>(pid), 4), ::getpid()) << "not a child of ours";
    EXPECT_EQ(GetProcessExitCode(pid), StillActive);
    Kill(pid);
}

// A process another program handed over is followed as itself, or counts as ended at once when
// it is gone or is neither the sender's nor ours.
TEST_F(WinShTest, HandedOverProcessesAreFollowedAsThemselvesOrEndedAtOnce) {
    const std::uint32_t ours = static_cast<std::uint32_t>(::getuid());
    const std::uint32_t sender = ours + 4242;
    const std::uint32_t child = StartSleeper();
    ASSERT_NE(child, 0u);
    EXPECT_TRUE(platform::FollowProcess(child, sender)) << "a running child of ours";
    EXPECT_EQ(GetProcessExitCode(child), StillActive);

    const std::uint32_t ended = LaunchProcess(Shell, "-c 'exit 7'", "", 2, SwHide);
    ASSERT_TRUE(WaitUntil([&] { return GetProcessExitCode(ended) == 7; }));
    EXPECT_FALSE(platform::FollowProcess(ended, ours));
    EXPECT_EQ(GetProcessExitCode(ended), 7u) << "its own exit status is kept";

    FILE* probe = ::popen(("'" + Probe + "' launch " + Sleep + " 60").c_str(), "r");
    ASSERT_NE(probe, nullptr);
    unsigned another = 0;
    ASSERT_EQ(std::fscanf(probe, "%u", &another), 1);
    ASSERT_EQ(::pclose(probe), 0);
    running_.push_back(another);
    EXPECT_TRUE(platform::FollowProcess(another, sender)) << "another program's, of our account";
    EXPECT_EQ(GetProcessExitCode(another), StillActive);
    Kill(another);
    EXPECT_EQ(GetProcessExitCode(another), 0u);
    EXPECT_FALSE(platform::FollowProcess(another, ours)) << "gone";

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process of a third account can be made by root only";
    }
    const pid_t stranger = ::fork();
    if (stranger == 0) {
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
            ::pause();
        }
        ::_exit(1);
    }
    ASSERT_TRUE(
        WaitUntil([&] { return StatusLine(stranger, "Uid:").find("65534") != std::string::npos; }));
    const auto id = static_cast<std::uint32_t>(stranger);
    EXPECT_FALSE(platform::FollowProcess(id, sender));
    EXPECT_EQ(GetProcessExitCode(id), 0u) << "running, but not the sender's to hand over";
    EXPECT_TRUE(platform::FollowProcess(id, 65534));
    EXPECT_EQ(GetProcessExitCode(id), StillActive);
    ::kill(stranger, SIGKILL);
    ::waitpid(stranger, nullptr, 0);
}

// When the process runs out of descriptors, children are still started and reaped.
TEST_F(WinShTest, ChildrenAreReapedWhenDescriptorsRunOut) {
    std::uint32_t warmUp = LaunchProcess(Shell, "-c 'exit 0'", "", 2, SwHide);
    ASSERT_NE(warmUp, 0u);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &previous), 0);
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit exhausted = previous;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    std::vector<std::uint32_t> pids;
    for (int code = 1; code <= 10; ++code) {
        pids.push_back(
            LaunchProcess(Shell, "-c 'exit " + std::to_string(code) + "'", "", 2, SwHide));
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &previous), 0);

    for (std::uint32_t code = 1; code <= 10; ++code) {
        const std::uint32_t pid = pids[code - 1];
        ASSERT_NE(pid, 0u) << code;
        EXPECT_TRUE(WaitUntil([&] { return GetProcessExitCode(pid) == code; })) << code;
    }
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); }));
}

// A forked copy of a program that already launched keeps launching and reaping on its own.
TEST_F(WinShTest, ForkedProgramReapsItsOwnChildren) {
    std::uint32_t warmUp = LaunchProcess(Shell, "-c 'exit 0'", "", 2, SwHide);
    ASSERT_NE(warmUp, 0u);
    pid_t copy = ::fork();
    if (copy == 0) {
        std::uint32_t pid = LaunchProcess(Shell, "-c 'exit 5'", "", 2, SwHide);
        bool reaped = pid != 0 && WaitUntil([pid] {
                          return GetProcessExitCode(pid) == 5 && ZombieChildren().empty();
                      });
        ::_exit(reaped ? 0 : 1);
    }
    ASSERT_GT(copy, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(copy, &status, 0), copy);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
} // namespace tarvok
