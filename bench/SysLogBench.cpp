#include "shared/SysLog.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;

// Add as the service runs it: 3,000 lines held, so every line rewrites a full file.
void BM_AddWithFullLog(benchmark::State& state) {
    const fs::path dir =
        fs::temp_directory_path() / ("tarvok-syslog-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    TSystemClock clock;
    {
        TSysLogger log((dir / "tarvok.log").string(), clock);
        log.NamedMonth = true;
        log.LimitLines = true;
        log.MaxLines = 3000;
        log.WriteFile = false;
        for (int i = 0; i < 3000; ++i) {
            log.AddFmt("Task \"%s\" [%d] started.", "Nightly backup of the projects share", i);
        }
        log.WriteFile = true;
        int id = 0;
        for (auto _ : state) {
            log.AddFmt("Blocking task \"%s\" [%d] finished.", "Nightly backup", ++id);
        }
        state.counters["file_bytes"] = static_cast<double>(fs::file_size(dir / "tarvok.log"));
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_AddWithFullLog)->Unit(benchmark::kMicrosecond);

// A scheduler pass that starts a thousand tasks with the log at its cap: a thousand lines, held
// back by a batch and written in one rewrite. The time is per pass; per_line is per line, in
// seconds.
void BM_ThousandLinesInOnePass(benchmark::State& state) {
    const fs::path dir =
        fs::temp_directory_path() / ("tarvok-syslog-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    TSystemClock clock;
    {
        TSysLogger log((dir / "tarvok.log").string(), clock);
        log.NamedMonth = true;
        log.LimitLines = true;
        log.MaxLines = 3000;
        log.WriteFile = false;
        for (int i = 0; i < 3000; ++i) {
            log.AddFmt("Task \"%s\" [%d] started.", "Nightly backup of the projects share", i);
        }
        log.WriteFile = true;
        int announced = 0;
        log.OnLineAdded = [&announced] { ++announced; };
        for (auto _ : state) {
            const TLogBatch batch(log);
            for (int id = 1; id <= 1000; ++id) {
                log.AddFmt("Task \"%s\" [%d] started.", "Recorder", id);
            }
        }
        state.counters["per_line"] = benchmark::Counter(
            1000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        state.counters["announced"] = static_cast<double>(announced);
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_ThousandLinesInOnePass)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarvok
