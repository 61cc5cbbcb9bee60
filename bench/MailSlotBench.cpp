#include "shared/MailSlot.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <unistd.h>
#include <vector>

namespace tarvok {
namespace {

using Clock = std::chrono::steady_clock;

// The process id keeps these slots apart from any Tarvok running on the machine.
std::string BenchName(const char* what) {
    return std::string("TarvokBench") + what + std::to_string(::getpid());
}

double Microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

// One message there and back: what the service pays for each "LC" and the manager for reading it.
void BM_SendAndRead(benchmark::State& state) {
    const std::string name = BenchName("Pair");
    TMailSlot slot(name);
    for (auto _ : state) {
        if (!SendSlotMessage(name, "LC")) {
            state.SkipWithError("send failed");
            break;
        }
        // The reader thread may still be on its way; ReadMessage then collects by itself.
        benchmark::DoNotOptimize(slot.ReadMessage());
    }
}
BENCHMARK(BM_SendAndRead);

// A service starting 1,000 tasks at once: 1,000 sends in a row while the owner reads only now
// and then. Reports the slowest single send, which is where a full system queue would show.
void BM_BurstOfThousand(benchmark::State& state) {
    const std::string name = BenchName("Burst");
    TMailSlot slot(name);
    double slowest = 0;
    std::int64_t lost = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            const auto start = Clock::now();
            lost += SendSlotFmt(name, "%s %d", "LC", i) ? 0 : 1;
            slowest = std::max(slowest, Microseconds(Clock::now() - start));
        }
        state.PauseTiming();
        while (!slot.ReadMessage().empty()) {
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["slowest_send_us"] = slowest;
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_BurstOfThousand)->Unit(benchmark::kMillisecond);

// An owner that does not read (a stopped program): twenty sends cost one patience, not twenty.
void BM_TwentySendsToAStalledOwner(benchmark::State& state) {
    const std::string name = BenchName("Stalled");
    for (auto _ : state) {
        state.PauseTiming();
        auto owner = std::make_unique<platform::TDatagramSlot>(SlotPath(name), MaxSlotMessage);
        state.ResumeTiming();
        for (int i = 0; i < 20; ++i) {
            benchmark::DoNotOptimize(SendSlotMessage(name, "SR"));
        }
        state.PauseTiming();
        owner.reset();
        SendSlotMessage(name, "SR"); // nobody there: forgets the stall for the next round
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TwentySendsToAStalledOwner)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace tarvok
