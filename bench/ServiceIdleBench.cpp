// The scheduler service at rest: the real TarvokSvc, started as systemd starts it, with enabled
// tasks none of which comes due, left alone for a minute (so one minute's due test falls inside).
// Aims: under 0.05 % of one core, under 8 MiB resident.
//
// Counters (one iteration; the time column is the measured span):
//   cpu_ms        CPU time of all the service's threads over the span
//   core_percent  that time as a share of one core
//   peak_rss_KiB  VmHWM at the end (start-up included)
//   rss_KiB       VmRSS at the end
//   passes        status messages received over the span (two a second when healthy)
//
// The service runs from a program directory of its own, so it never meets a Tarvok on this
// machine.
#include "tests/e2e/ServiceHarness.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

using namespace tarvok;
using namespace tarvok::e2e;
using namespace std::chrono_literals;

constexpr auto IdleSpan = 60s;

// Twelve hours from now on the service's clock (UTC): never due within the span.
TScheDef FarFromNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    return DailyAt((utc.tm_hour + 12) % 24, utc.tm_min);
}

void BM_ServiceIdle(benchmark::State& state) {
    const auto taskCount = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        TServiceHarness service("idle");
        const std::string command = service.MarkerScript("never");
        std::vector<TTaskDef> tasks;
        for (std::int32_t id = 1; id <= taskCount; ++id) {
            tasks.push_back(MakeTask(id, "Idle " + std::to_string(id), command, "", FarFromNow()));
        }
        service.WriteTasks(tasks);
        service.Start();
        // The first "SR" comes after start-up, loading and the first pass are done.
        if (!service.WaitForMessage("SR")) {
            state.SkipWithError("the service did not start");
            return;
        }
        const std::size_t messagesBefore = service.Messages().size();
        const TResourceUse before = ResourceUseOf(service.Pid());
        const auto startedAt = TSteadyClock::now();
        // The span measured: the service is left alone, not waited for.
        std::this_thread::sleep_for(IdleSpan);
        const TResourceUse after = ResourceUseOf(service.Pid());
        const std::chrono::duration<double> span = TSteadyClock::now() - startedAt;
        const std::size_t passes = service.Messages().size() - messagesBefore;

        service.Signal(SIGTERM);
        service.WaitForExit();
        if (service.Runs("never") != 0) {
            state.SkipWithError("a task started: the span was not idle");
            return;
        }
        const double cpuMs =
            std::chrono::duration<double, std::milli>(after.Cpu - before.Cpu).count();
        state.SetIterationTime(span.count());
        state.counters["cpu_ms"] = cpuMs;
        state.counters["core_percent"] = 100.0 * cpuMs / (1000.0 * span.count());
        state.counters["peak_rss_KiB"] = static_cast<double>(after.PeakResidentKiB);
        state.counters["rss_KiB"] = static_cast<double>(after.ResidentKiB);
        state.counters["passes"] = static_cast<double>(passes);
    }
}

BENCHMARK(BM_ServiceIdle)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
