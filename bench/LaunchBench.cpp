// Starting a task against the floor the system sets: a bare posix_spawn of the same program.
// Each iteration starts one of each, in alternating order, and waits (untimed) for each child
// to end before the next start, so that neither start competes with the other's child for
// the processors; the counters give each one's mean wall time per start and their ratio.
#include "platform/Process.h"
#include "shared/RunLedger.h"
#include "shared/WinSh.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarvok {
namespace {

constexpr int Starts = 1000;
constexpr int Repetitions = 5;
const char* const Program = "/bin/true";

using TClock = std::chrono::steady_clock;

double Microseconds(TClock::duration elapsed) {
    return std::chrono::duration<double, std::micro>(elapsed).count();
}

// Arg 0: the plain launch; arg 1: split parameters, a working directory and the idle class.
void BM_LaunchVersusBareSpawn(benchmark::State& state) {
    const bool withOptions = state.range(0) != 0;
    const std::string parameters = withOptions ? R"(--flag "two words" 'three more' x\ y)" : "";
    const std::string workDir = withOptions ? "/tmp" : "";
    const std::uint8_t priority = withOptions ? 3 : 2;
    char* argv[] = {const_cast<char*>(Program), nullptr};

    TClock::duration bareTime{};
    TClock::duration launchTime{};
    int starts = 0;
    auto spawnBare = [&] {
        const auto start = TClock::now();
        pid_t pid = 0;
        const bool ok = ::posix_spawn(&pid, Program, nullptr, nullptr, argv, environ) == 0;
        bareTime += TClock::now() - start;
        return ok && ::waitpid(pid, nullptr, 0) == pid;
    };
    auto launch = [&] {
        const auto start = TClock::now();
        std::uint32_t pid = LaunchProcess(Program, parameters, workDir, priority, SwHide);
        launchTime += TClock::now() - start;
        while (pid != 0 && GetProcessExitCode(pid) == StillActive) {
            ::sched_yield();
        }
        return pid != 0;
    };
    for (auto _ : state) {
        const bool ok = starts++ % 2 == 0 ? spawnBare() && launch() : launch() && spawnBare();
        if (!ok) {
            state.SkipWithError("a start failed");
            break;
        }
    }
    const double bareMean = Microseconds(bareTime) / starts;
    const double launchMean = Microseconds(launchTime) / starts;
    state.counters["bare_us"] = bareMean;
    state.counters["launch_us"] = launchMean;
    state.counters["ratio"] = launchMean / bareMean;
}
BENCHMARK(BM_LaunchVersusBareSpawn)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(Starts)
    ->Repetitions(Repetitions)
    ->Unit(benchmark::kMicrosecond);

// Plays the journal: in a mount namespace of this process's own, a directory of ours is
// /run/systemd/journal on a /run of its own, and a thread accepts every output stream there and
// reads it to its end.
class TPlayedJournal {
public:
    TPlayedJournal() {
        const std::string dir = (std::filesystem::temp_directory_path() /
                                 ("tarvok-journal-" + std::to_string(::getpid())))
                                    .string();
        std::filesystem::create_directories(dir);
        // A tmpfs over /run, seen only here, holds the journal's directory.
        ok_ = ::unshare(CLONE_NEWNS) == 0 &&
              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
              ::mount("tmpfs", "/run", "tmpfs", 0, nullptr) == 0 &&
              std::filesystem::create_directories("/run/systemd/journal") &&
              ::mount(dir.c_str(), "/run/systemd/journal", nullptr, MS_BIND, nullptr) == 0;
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string("/run/systemd/journal/stdout")
            .copy(address.sun_path, sizeof address.sun_path - 1);
        ok_ = ok_ &&
              ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(listener_, 4096) == 0;
        if (ok_) {
            reader_ = std::thread([this] { Serve(); });
        }
    }
    ~TPlayedJournal() {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        ::close(listener_);
    }
    bool Ok() const { return ok_; }

private:
    void Serve() {
        std::vector<pollfd> open{{listener_, POLLIN, 0}};
        while (!stop_) {
            if (::poll(open.data(), open.size(), 50) <= 0) {
                continue;
            }
            for (std::size_t i = open.size(); i-- > 1;) {
                char buffer[4096];
                if ((open[i].revents & (POLLIN | POLLHUP)) != 0 &&
                    ::read(open[i].fd, buffer, sizeof buffer) <= 0) {
                    ::close(open[i].fd);
                    open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            if ((open[0].revents & POLLIN) != 0) {
                open.push_back({::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
            }
        }
        for (std::size_t i = 1; i < open.size(); ++i) {
            ::close(open[i].fd);
        }
    }

    int listener_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_ = false;
    std::thread reader_;
};

// The cost a recorded run adds to a start: a start as before (output to /dev/null, its end
// forgotten) against one as the schedulers make it now (output to the journal under the task's
// tag, its end kept and then taken, as the sweep takes it). Arg 0: no journal runs; arg 1: a
// journal (played here) takes every output stream.
void BM_RecordedStartVersusPlain(benchmark::State& state) {
    if (state.range(0) != 0) {
        static TPlayedJournal journal; // one for every repetition
        if (!journal.Ok()) {
            state.SkipWithError("no mount namespace here to play the journal in");
            return;
        }
    }
    TLaunchOptions recorded;
    recorded.OutputTag = RunOutputTag(3);
    recorded.KeepEnd = true;
    TClock::duration plainTime{};
    TClock::duration recordedTime{};
    int starts = 0;
    auto start = [&](const TLaunchOptions& options, TClock::duration& total) {
        const auto begin = TClock::now();
        const std::uint32_t pid = LaunchProcess(Program, "", "", 2, SwHide, options);
        total += TClock::now() - begin;
        while (pid != 0 && GetProcessExitCode(pid) == StillActive) {
            ::sched_yield();
        }
        if (options.KeepEnd) {
            while (pid != 0 && !platform::TakeProcessEnd(pid)) {
                ::sched_yield();
            }
        }
        return pid != 0;
    };
    for (auto _ : state) {
        const bool plainFirst = starts++ % 2 == 0;
        const bool ok = plainFirst ? start({}, plainTime) && start(recorded, recordedTime)
                                   : start(recorded, recordedTime) && start({}, plainTime);
        if (!ok) {
            state.SkipWithError("a start failed");
            break;
        }
    }
    const double plainMean = Microseconds(plainTime) / starts;
    const double recordedMean = Microseconds(recordedTime) / starts;
    state.counters["plain_us"] = plainMean;
    state.counters["recorded_us"] = recordedMean;
    state.counters["added_us"] = recordedMean - plainMean;
}
BENCHMARK(BM_RecordedStartVersusPlain)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(Starts)
    ->Repetitions(Repetitions)
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace tarvok
