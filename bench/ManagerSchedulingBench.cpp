// The manager scheduling by itself and following the service. Aims: a task started within 10 ms
// of its minute, like the service; a window that answers again within 100 ms of a burst.
//
//   BM_ManagerMinuteToStart/N  the real tarvok (offscreen, no service) on a fake clock set just
//                              before each of 3 minutes, N tasks due in each: first_ms and
//                              last_ms are the delays from the minute to the first and the last
//                              start (the recorder's own CLOCK_REALTIME), averaged
//   BM_ManagerMessageBurst     the window in-process in service mode, with 1,000 tasks and a
//                              full log of 3,000 lines, on the real slot: 1,000 "LC" and 1,000
//                              "TS"/"TF" sent at once; from the first send until the window
//                              answers a queued call made after the last one. reread_ms is one
//                              reread of the full log, which the old rule did for every "LC".
//
// It runs in a network namespace of its own, so it never meets a Tarvok on this machine.
#include "manager/Channel.h"
#include "manager/Main.h"
#include "manager/Prompts.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"
#include "tests/NetworkNamespace.h"
#include "tests/Spawn.h"
#include "tests/e2e/ServiceHarness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace tarvok;
using namespace tarvok::e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int Minutes = 3;

TScheDef EveryMinute() {
    TScheDef schedule;
    schedule.DailyEvery = 1;
    schedule.Trigger = TTrigger::Periodic;
    schedule.EveryCount = 1;
    schedule.EveryUnit = TEveryUnit::Minutes;
    schedule.BetweenStart = EncodeTime(0, 0);
    schedule.BetweenEnd = EncodeTime(23, 59, 59);
    schedule.NoEnd = true;
    schedule.StartDate = EncodeDate(2026, 1, 1);
    return schedule;
}

std::vector<std::int64_t> StartsNs(const std::string& path) {
    std::vector<std::int64_t> starts;
    std::ifstream in(path);
    for (std::int64_t ns = 0; in >> ns;) {
        starts.push_back(ns);
    }
    return starts;
}

std::int64_t RealNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void BM_ManagerMinuteToStart(benchmark::State& state) {
    const int tasks = static_cast<int>(state.range(0));
    TServiceHarness dir("ManagerMinute" + std::to_string(tasks), {}, /*ownClientSlot=*/false);
    const std::string starts = dir.Path("starts");
    std::vector<TTaskDef> list;
    for (int id = 1; id <= tasks; ++id) {
        list.push_back(
            MakeTask(id, "Job " + std::to_string(id), LATENCY_RECORDER, starts, EveryMinute()));
    }
    dir.WriteTasks(list);
    TDateTime minute = EncodeDate(2026, 12, 8) + EncodeTime(10, 16, 0);
    dir.SetClock(minute - EncodeTime(0, 0, 1, 500));
    fs::copy_file(TARVOK_BINARY, dir.Path("tarvok"));
    std::vector<std::string> environment = dir.FakeClockEnvironment();
    environment.insert(environment.end(), {"TZ=UTC", "QT_QPA_PLATFORM=offscreen", "HOME=/root",
                                           "XDG_RUNTIME_DIR=/tmp"});
    const pid_t manager = testing_support::SpawnProgram({dir.Path("tarvok")}, environment);

    double first = 0;
    double last = 0;
    std::size_t expected = 0;
    for (auto _ : state) {
        if (expected > 0) {
            minute += EncodeTime(0, 1);
            dir.SetClock(minute - EncodeTime(0, 0, 1, 500));
        }
        // Where the real clock stands when the program's shows the minute.
        const std::int64_t minuteNs =
            RealNowNs() + std::llround((minute - dir.ProgramNow()) * MsPerDay) * 1'000'000;
        expected += static_cast<std::size_t>(tasks);
        if (!dir.WaitUntil([&] { return StartsNs(starts).size() >= expected; }, 20s)) {
            state.SkipWithError("the manager did not start every task");
            break;
        }
        const std::vector<std::int64_t> all = StartsNs(starts);
        const auto [low, high] = std::minmax_element(all.end() - tasks, all.end());
        first += static_cast<double>(*low - minuteNs) / 1e6;
        last += static_cast<double>(*high - minuteNs) / 1e6;
    }
    ::kill(manager, SIGKILL);
    ::waitpid(manager, nullptr, 0);
    state.counters["first_ms"] = first / static_cast<double>(state.iterations());
    state.counters["last_ms"] = last / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ManagerMinuteToStart)
    ->Arg(1)
    ->Arg(100)
    ->Iterations(Minutes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

class TNoPrompts final : public TPrompts {
public:
    void Show(QWidget*, TBoxKind, const QString&) override {}
    bool Ask(QWidget*, const QString&) override { return false; }
    std::optional<QString> OpenFile(QWidget*, const TOpenFileRequest&) override { return {}; }
    std::optional<QString> SaveFile(QWidget*, const TSaveFileRequest&) override { return {}; }
};

void BM_ManagerMessageBurst(benchmark::State& state) {
    const fs::path dir =
        fs::temp_directory_path() / ("tarvok-bench-burst-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    TTaskList tasks;
    for (std::int32_t id = 1; id <= 1000; ++id) {
        TTaskDef task = MakeTask(id, "Task number " + std::to_string(id), "/usr/bin/true", "",
                                 DailyAt(id % 24, id % 60), true);
        tasks.AddTask(task, false);
    }
    tasks.SaveToFile((dir / "tarvok.tsk").string());
    {
        std::ofstream log(dir / "tarvok.log", std::ios::binary);
        for (int line = 0; line < 3000; ++line) {
            log << "08-Dec-2026 - 10:15:00 : Task \"Task number " << line % 1000 << "\" ["
                << line % 1000 << "] started.\r\n";
        }
    }
    const TMailSlot service(ServiceSlotName); // the manager starts as the service's window
    const std::unique_ptr<TManagerChannel> channel = SlotChannel();
    const TSystemClock clock;
    TNoPrompts prompts;
    TFrmMain window(TMainSetup{.Clock = clock,
                               .Prompts = prompts,
                               .Channel = *channel,
                               .Paths = ProgramPathsFor((dir / "tarvok").string()),
                               .ProgramFile = {},
                               .PlatformKind = PlatformNt,
                               .Arguments = {"-d"},
                               .TrayAvailable = [] { return false; },
                               .Access = {}});
    window.Start();
    QApplication::processEvents();

    for (auto _ : state) {
        bool answered = false;
        QElapsedTimer elapsed;
        elapsed.start();
        std::thread sender([&] {
            for (int i = 0; i < 1000; ++i) {
                SendSlotMessage(ClientSlotName, "LC");
                SendSlotMessage(ClientSlotName,
                                FormatMessage(i % 2 == 0 ? TMessageCode::TaskStarted
                                                         : TMessageCode::TaskFinished,
                                              1 + i % 1000, 4711));
            }
            SendSlotMessage(ClientSlotName, FormatMessage(TMessageCode::TaskStarted, 1000, 4712));
        });
        // Answered once the last message is handled and a call queued after it has run.
        while (window.ProcessTable.Find(1000)->ProcessId != 4712 && elapsed.elapsed() < 10000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QMetaObject::invokeMethod(
            &window, [&] { answered = true; }, Qt::QueuedConnection);
        while (!answered && elapsed.elapsed() < 10000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        sender.join();
        state.SetIterationTime(static_cast<double>(elapsed.nsecsElapsed()) / 1e9);
        window.ProcessTable.Find(1000)->ProcessId = 0;
    }
    QElapsedTimer reread;
    reread.start();
    window.Logger->Reload();
    state.counters["reread_ms"] = static_cast<double>(reread.nsecsElapsed()) / 1e6;
    fs::remove_all(dir);
}
BENCHMARK(BM_ManagerMessageBurst)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    const std::string failure = tarvok::testing_support::EnterOwnNetworkNamespace();
    if (!failure.empty()) {
        std::fprintf(stderr, "cannot run in a network namespace of its own: %s\n", failure.c_str());
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
