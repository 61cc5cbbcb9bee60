// Starting a task against the floor the system sets: a bare posix_spawn of the same program.
// Each iteration starts one of each, in alternating order, and waits (untimed) for each child
// to end before the next start, so that neither start competes with the other's child for
// the processors; the counters give each one's mean wall time per start and their ratio.
#include "shared/WinSh.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <spawn.h>
#include <sys/wait.h>

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

} // namespace
} // namespace tarvok
