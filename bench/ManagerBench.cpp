// The manager at start and at rest, with 1,000 tasks in the task file and a full log of 3,000
// lines. Aims: the first paint within 300 ms of the start; idle under 0.1 % of one core.
//
//   BM_ManagerFirstPaint    in-process on Qt's offscreen platform: from building the window
//                           (start-up, log, task list, tree) to its first paint
//   BM_ManagerProgramStart  the real tarvok -d on an Xvfb display: from the spawn to the window
//                           on screen; rss_KiB is its resident memory then
//   BM_ManagerIdle          the real tarvok hidden in a notification area (trayer), no service,
//                           left alone for a minute: cpu_ms and core_percent of one core
//
//   BM_ManagerMinuteToStart/N  the real tarvok (offscreen, no service) on a fake clock set just
//                           before each of 3 minutes, N tasks due in each: first_ms and last_ms
//                           are the delays from the minute to the first and the last start (the
//                           recorder's own CLOCK_REALTIME), averaged. Aim: within 10 ms for one
//   BM_ManagerMessageBurst  in-process in service mode on the real slot: 1,000 "LC" and 1,000
//                           "TS"/"TF" sent at once; from the first send until the window answers a
//                           call queued after the last one is handled. Aim: under 100 ms.
//                           reread_ms is one reread of the full log, which the old rule did for
//                           every "LC"
//
// Each manager runs from a program directory of its own, so it never meets a Tarvok on this
// machine.
#include "manager/Channel.h"
#include "manager/Main.h"
#include "manager/Prompts.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"
#include "tests/Spawn.h"
#include "tests/e2e/Desktop.h"
#include "tests/e2e/ServiceHarness.h"
#include "tests/manager/FakeManagerChannel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace tarvok;
using namespace tarvok::e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int TaskCount = 1000;
constexpr int LogLines = 3000;
constexpr auto IdleSpan = 60s;
constexpr int Minutes = 3;

// A program directory with the tasks and the full log.
fs::path MakeProgramDir(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("tarvok-bench-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    TTaskList tasks;
    for (std::int32_t id = 1; id <= TaskCount; ++id) {
        TTaskDef task = MakeTask(id, "Task number " + std::to_string(id), "/usr/bin/true",
                                 "--quiet", DailyAt(id % 24, id % 60), id % 3 == 0);
        tasks.AddTask(task, false);
    }
    tasks.SaveToFile((dir / "tarvok.tsk").string());
    std::ofstream log(dir / "tarvok.log", std::ios::binary);
    for (int line = 0; line < LogLines; ++line) {
        log << "08-Dec-2026 - 10:15:00 : Task \"Task number " << line % TaskCount << "\" ["
            << line % TaskCount << "] started.\r\n";
    }
    return dir;
}

// Nothing is asked at a start that goes well; a box would be an error of the set-up.
class TNoPrompts final : public TPrompts {
public:
    int Boxes = 0;
    void Show(QWidget*, TBoxKind, const QString&) override { ++Boxes; }
    bool Ask(QWidget*, const QString&) override { return ++Boxes, false; }
    std::optional<QString> OpenFile(QWidget*, const TOpenFileRequest&) override { return {}; }
    std::optional<QString> SaveFile(QWidget*, const TSaveFileRequest&) override { return {}; }
};

// The window in the program directory, shown at once, on a desktop without a notification area.
TMainSetup WindowSetup(const fs::path& dir, const TClock& clock, TPrompts& prompts,
                       TManagerChannel& channel) {
    return TMainSetup{.Clock = clock,
                      .Prompts = prompts,
                      .Channel = channel,
                      .Paths = ProgramPathsFor((dir / "tarvok").string()),
                      .ProgramFile = {},
                      .PlatformKind = PlatformNt,
                      .Arguments = {"-d"},
                      .TrayAvailable = [] { return false; },
                      .Access = {}};
}

// Counts the paints of the window's tree.
class TPaintWatch final : public QObject {
public:
    bool Painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        Painted = Painted || event->type() == QEvent::Paint;
        return false;
    }
};

void BM_ManagerFirstPaint(benchmark::State& state) {
    const fs::path dir = MakeProgramDir("paint");
    const std::string log = (dir / "tarvok.log").string();
    const std::string fullLog = [&] {
        std::ifstream in(log, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const TSystemClock clock;
    TNoPrompts prompts;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(log, std::ios::binary | std::ios::trunc) << fullLog;
        testing_support::TFakeManagerChannel channel;
        TPaintWatch watch;
        state.ResumeTiming();

        QElapsedTimer elapsed;
        elapsed.start();
        auto window = std::make_unique<TFrmMain>(WindowSetup(dir, clock, prompts, channel));
        window->TT->viewport()->installEventFilter(&watch);
        window->Start();
        while (!watch.Painted && elapsed.elapsed() < 10000) {
            QApplication::processEvents();
        }
        state.counters["tree_items"] = window->TT->topLevelItem(0)->childCount() * 13 + 1;

        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    if (prompts.Boxes != 0) {
        state.SkipWithError("a box was shown: the start did not go well");
    }
    fs::remove_all(dir);
}

void BM_ManagerProgramStart(benchmark::State& state) {
    if (const std::string reason = TDesktop::Unavailable(); !reason.empty()) {
        state.SkipWithError(reason.c_str());
        return;
    }
    const TDesktop desktop({.NotificationArea = false});
    for (auto _ : state) {
        const fs::path dir = MakeProgramDir("start");
        TManagerRun manager(dir, desktop);
        const auto started = TSteadyClock::now();
        const pid_t pid = manager.Start({"-d"});
        const auto window = desktop.WaitForWindow("^Tarvok! \\[");
        const std::chrono::duration<double> span = TSteadyClock::now() - started;
        if (!window) {
            state.SkipWithError("the window did not show");
            return;
        }
        state.SetIterationTime(span.count());
        const TResourceUse use = ResourceUseOf(pid);
        state.counters["rss_KiB"] = static_cast<double>(use.ResidentKiB);
        state.counters["peak_rss_KiB"] = static_cast<double>(use.PeakResidentKiB);
        ::kill(pid, SIGTERM);
        manager.WaitForExit(pid);
        fs::remove_all(dir);
    }
}

void BM_ManagerIdle(benchmark::State& state) {
    if (const std::string reason = TDesktop::Unavailable(); !reason.empty()) {
        state.SkipWithError(reason.c_str());
        return;
    }
    const TDesktop desktop({.NotificationArea = true});
    for (auto _ : state) {
        const fs::path dir = MakeProgramDir("idle");
        TManagerRun manager(dir, desktop);
        const pid_t pid = manager.Start();
        // Settled once the start-up has written its lines and a moment has passed.
        std::this_thread::sleep_for(3s);
        const TResourceUse before = ResourceUseOf(pid);
        const auto startedAt = TSteadyClock::now();
        std::this_thread::sleep_for(IdleSpan);
        const TResourceUse after = ResourceUseOf(pid);
        const std::chrono::duration<double> span = TSteadyClock::now() - startedAt;
        const double cpuMs =
            std::chrono::duration<double, std::milli>(after.Cpu - before.Cpu).count();
        state.SetIterationTime(span.count());
        state.counters["cpu_ms"] = cpuMs;
        state.counters["core_percent"] = 100.0 * cpuMs / (1000.0 * span.count());
        state.counters["rss_KiB"] = static_cast<double>(after.ResidentKiB);
        ::kill(pid, SIGTERM);
        manager.WaitForExit(pid);
        fs::remove_all(dir);
    }
}

BENCHMARK(BM_ManagerFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ManagerProgramStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ManagerIdle)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

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

void BM_ManagerMessageBurst(benchmark::State& state) {
    const fs::path dir = MakeProgramDir("burst");
    UseSlotsOf(dir);
    const TMailSlot service(ServiceSlotName); // the manager starts as the service's window
    const std::unique_ptr<TManagerChannel> channel = SlotChannel();
    const TSystemClock clock;
    TNoPrompts prompts;
    TFrmMain window(WindowSetup(dir, clock, prompts, *channel));
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
