// Start latency and throughput of the real scheduler service on real minutes, beside another
// scheduler that the caller runs with the same jobs in the same minutes (bench/start-latency runs
// Debian's cron so).
//
//   bench_start_latency --tasks 1000 --first-minute 1733620860 --minutes 3
//                       --recorder build/bench/latency_recorder --out-dir /tmp/run
//                       [--compare-name cron --compare-pid 4242
//                        --compare-starts /tmp/run/cron.starts]
//                       [--log-lines 3000] [--service path/to/another/TarvokSvc]
//                       [--cgroup DIR [--compare-cgroup DIR]]
//
// TarvokSvc runs from a program directory of its own, with this program playing systemd and owning
// the manager's slot (tests/e2e/ServiceHarness.h). Its tasks start the recorder at every minute
// from --first-minute (a Unix time on a minute boundary, read as UTC, as the service runs) for
// --minutes minutes; each start appends the moment it began to <out-dir>/tarvok.starts. The other
// scheduler is only watched: its starts file is read and its CPU time and memory are sampled at the
// same moments as the service's.
//
// With --cgroup (an empty cgroup v2 directory), the service is moved into that control group
// once it runs, and the CPU time of the group (the service and every process it started, to
// the microsecond) is sampled too; --compare-cgroup names the group the caller put the other
// scheduler in. Without groups, the per-job processes are counted in the kernel's 10 ms ticks.
//
// The service finds a system log of --log-lines lines (default 3,000, its cap), as a service that
// has run for a while does, so every line it adds rewrites a full log.
//
// Prints one Markdown table to standard output. Exits non-zero only when it could not run.
#include "tests/e2e/ServiceHarness.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using namespace tarvok;
using namespace tarvok::e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::int64_t NsPerSecond = 1'000'000'000;
constexpr std::int64_t NsPerMinute = 60 * NsPerSecond;
// The first sample is taken this long before the first measured minute.
constexpr std::int64_t SampleLeadNs = 3 * NsPerSecond;
// A scheduler still starting the last minute's jobs this long after that minute has ended is
// not waited for any more; the table then shows the starts that are missing.
constexpr std::int64_t LateStartsNs = 60 * NsPerSecond;
// Bare starts of the recorder that give the cost of the job itself, before the minutes and
// again after them; the mean of the two is used, as the machine's load may change between.
constexpr int BareStarts = 100;

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted = true;
}

struct TOptions {
    int Tasks = 0;
    std::int64_t FirstMinute = 0; // Unix seconds
    int Minutes = 0;
    std::string Recorder;
    fs::path OutDir;
    std::string CompareName = "other";
    pid_t ComparePid = 0;
    std::string CompareStarts;
    int LogLines = 3000;
    std::string Service; // empty: the TarvokSvc of this build
    fs::path Group;      // empty: no control groups
    fs::path CompareGroup;
};

[[noreturn]] void Usage(const std::string& problem) {
    throw std::invalid_argument(
        problem + "\nusage: bench_start_latency --tasks N --first-minute UNIX_TIME --minutes K "
                  "--recorder PATH --out-dir DIR [--compare-name NAME --compare-pid PID "
                  "--compare-starts FILE] [--log-lines N] [--service PATH] "
                  "[--cgroup DIR [--compare-cgroup DIR]]");
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 == argc) {
            Usage("no value for " + name);
        }
        const std::string value = argv[i + 1];
        if (name == "--tasks") {
            options.Tasks = std::stoi(value);
        } else if (name == "--first-minute") {
            options.FirstMinute = std::stoll(value);
        } else if (name == "--minutes") {
            options.Minutes = std::stoi(value);
        } else if (name == "--recorder") {
            options.Recorder = fs::absolute(value).string();
        } else if (name == "--out-dir") {
            options.OutDir = fs::absolute(value);
        } else if (name == "--compare-name") {
            options.CompareName = value;
        } else if (name == "--compare-pid") {
            options.ComparePid = static_cast<pid_t>(std::stol(value));
        } else if (name == "--compare-starts") {
            options.CompareStarts = value;
        } else if (name == "--log-lines") {
            options.LogLines = std::stoi(value);
        } else if (name == "--service") {
            options.Service = fs::absolute(value).string();
        } else if (name == "--cgroup") {
            options.Group = value;
        } else if (name == "--compare-cgroup") {
            options.CompareGroup = value;
        } else {
            Usage("unknown option " + name);
        }
    }
    if (options.Tasks < 1 || options.Minutes < 1 || options.FirstMinute % 60 != 0 ||
        options.Recorder.empty() || options.OutDir.empty()) {
        Usage("--tasks, --minutes, --first-minute (on a minute), --recorder and --out-dir are "
              "needed");
    }
    if ((options.ComparePid == 0) != options.CompareStarts.empty()) {
        Usage("--compare-pid and --compare-starts go together");
    }
    if (!options.CompareGroup.empty() && (options.Group.empty() || options.ComparePid == 0)) {
        Usage("--compare-cgroup needs --cgroup and --compare-pid");
    }
    return options;
}

std::int64_t WallNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NsPerSecond + now.tv_nsec;
}

// Sleeps until the wall clock reaches the moment or the condition holds; false when
// interrupted.
bool WaitUntilWall(
    std::int64_t moment, const std::function<bool()>& done = [] { return false; }) {
    while (!interrupted && !done()) {
        const std::int64_t left = moment - WallNs();
        if (left <= 0) {
            return true;
        }
        std::this_thread::sleep_for(
            std::chrono::nanoseconds(std::min<std::int64_t>(left, 50'000'000)));
    }
    return !interrupted;
}

std::vector<std::int64_t> ReadStarts(const std::string& path) {
    std::vector<std::int64_t> starts;
    std::ifstream in(path);
    for (std::int64_t ns = 0; in >> ns;) {
        starts.push_back(ns);
    }
    return starts;
}

// True when no thread of the process has a child left: every job it started has ended and been
// waited for, so its children's CPU time is all counted.
bool HasNoChildren(pid_t pid) {
    std::error_code error;
    for (const fs::directory_entry& thread :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(thread.path() / "children");
        std::string child;
        if (in >> child) {
            return false;
        }
    }
    return true;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::chrono::nanoseconds ChildrenCpu() {
    rusage use{};
    ::getrusage(RUSAGE_CHILDREN, &use);
    auto time = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return time(use.ru_utime) + time(use.ru_stime);
}

// The CPU time of every process that is or was in the control group (cgroup v2).
std::chrono::microseconds GroupCpu(const fs::path& group) {
    std::ifstream in(group / "cpu.stat");
    for (std::string key; in >> key;) {
        long long value = 0;
        in >> value;
        if (key == "usage_usec") {
            return std::chrono::microseconds(value);
        }
    }
    throw std::runtime_error("no CPU time in " + (group / "cpu.stat").string());
}

void MoveIntoGroup(pid_t pid, const fs::path& group) {
    std::ofstream out(group / "cgroup.procs");
    out << pid << std::flush;
    if (!out) {
        throw std::runtime_error("cannot move pid " + std::to_string(pid) + " into " +
                                 group.string());
    }
}

// The CPU time of one start of the recorder with nothing around it (a spawn and a wait): the
// job's own cost, which both schedulers' figures hold once per start and which is taken out.
std::chrono::nanoseconds BareJobCpu(const std::string& recorder, const fs::path& outDir) {
    const std::string output = (outDir / "bare.starts").string();
    std::vector<char*> argv = {const_cast<char*>(recorder.c_str()),
                               const_cast<char*>(output.c_str()), nullptr};
    char* noEnvironment[] = {nullptr};
    const auto before = ChildrenCpu();
    for (int i = 0; i < BareStarts; ++i) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, recorder.c_str(), nullptr, nullptr, argv.data(), noEnvironment) !=
            0) {
            throw std::runtime_error("cannot start the recorder " + recorder);
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return (ChildrenCpu() - before) / BareStarts;
}

// Lines as the service writes them, from a day long past.
void WriteOldLog(const std::string& path, int lines) {
    std::string content;
    for (int i = 1; i <= lines; ++i) {
        const std::string id = std::to_string(i % 1000 + 1);
        content +=
            "01-Dec-2026 - 00:00:00 : Task \"Recorder " + id + "\" [" + id + "] started.\r\n";
    }
    std::ofstream(path, std::ios::binary) << content;
}

TScheDef EveryMinuteOf(std::int64_t firstMinute, int minutes) {
    const std::time_t first = firstMinute;
    const std::time_t last = firstMinute + 60 * (minutes - 1);
    std::tm from{};
    std::tm to{};
    ::gmtime_r(&first, &from);
    ::gmtime_r(&last, &to);
    if (from.tm_yday != to.tm_yday) {
        throw std::invalid_argument("the measured minutes must not cross midnight (UTC)");
    }
    TScheDef schedule;
    schedule.Frequency = TFrequency::Daily;
    schedule.Trigger = TTrigger::Periodic;
    schedule.DailyEvery = 1;
    schedule.EveryCount = 1;
    schedule.EveryUnit = TEveryUnit::Minutes;
    schedule.BetweenStart = EncodeTime(from.tm_hour, from.tm_min);
    schedule.BetweenEnd = EncodeTime(to.tm_hour, to.tm_min, 59);
    schedule.NoEnd = true;
    schedule.StartDate = EncodeDate(from.tm_year + 1900, from.tm_mon + 1, from.tm_mday);
    return schedule;
}

struct TMinute {
    std::size_t Count = 0;
    double FirstMs = 0;
    double MedianMs = 0;
    double LastMs = 0;
    double SpacingMs = 0; // between two starts, from the first to the last
};

struct TSample {
    TResourceUse Use;
    std::chrono::microseconds GroupCpu{0};
    std::int64_t AtNs = 0;
};

struct TScheduler {
    std::string Name;
    std::vector<TMinute> Minutes;
    std::size_t Starts = 0;  // in the measured minutes
    std::size_t Outside = 0; // anywhere else
    fs::path Group;          // empty: not in a group of its own
    // Once the service runs (the other scheduler runs already), at the start of the measured
    // span and at its end; the first two frame a stretch with nothing to start.
    TSample Idle;
    TSample Before;
    TSample After;
};

double Ms(std::int64_t ns) {
    return static_cast<double>(ns) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Analyse(TScheduler& scheduler, const std::vector<std::int64_t>& starts,
             const TOptions& options) {
    const std::int64_t first = options.FirstMinute * NsPerSecond;
    std::vector<std::vector<std::int64_t>> delays(static_cast<std::size_t>(options.Minutes));
    for (std::int64_t at : starts) {
        const std::int64_t index = at < first ? -1 : (at - first) / NsPerMinute;
        if (index < 0 || index >= options.Minutes) {
            ++scheduler.Outside;
            continue;
        }
        delays[static_cast<std::size_t>(index)].push_back(at - first - index * NsPerMinute);
        ++scheduler.Starts;
    }
    for (std::vector<std::int64_t>& minute : delays) {
        TMinute result;
        result.Count = minute.size();
        if (!minute.empty()) {
            std::sort(minute.begin(), minute.end());
            std::vector<double> ms;
            for (std::int64_t ns : minute) {
                ms.push_back(Ms(ns));
            }
            result.FirstMs = ms.front();
            result.MedianMs = Median(ms);
            result.LastMs = ms.back();
            result.SpacingMs =
                ms.size() > 1 ? (ms.back() - ms.front()) / static_cast<double>(ms.size() - 1) : 0;
        }
        scheduler.Minutes.push_back(result);
    }
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Figure(double ms) {
    const double size = std::fabs(ms);
    return Format(size < 10 ? "%.2f" : size < 100 ? "%.1f" : "%.0f", ms);
}

// The median over the minutes that started something, and their range.
std::string OverMinutes(const TScheduler& scheduler, double TMinute::*field) {
    std::vector<double> values;
    for (const TMinute& minute : scheduler.Minutes) {
        if (minute.Count > 0) {
            values.push_back(minute.*field);
        }
    }
    if (values.empty()) {
        return "-";
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return Figure(Median(values)) + " (" + Figure(*low) + "–" + Figure(*high) + ")";
}

struct TCpu {
    double OwnMs = 0;
    double ChildrenMs = 0;         // less the jobs' own run
    std::optional<double> GroupMs; // less the jobs' own run
    double PerStartMs = 0;
    double IdlePerMinuteMs = 0;
    double PerStartAboveIdleMs = 0;
};

// All the CPU a scheduler spent between two samples: from its control group when there is one,
// which counts the per-job processes to the microsecond where their parent's figures come in
// ticks.
std::chrono::nanoseconds SpentBetween(const TScheduler& scheduler, const TSample& from,
                                      const TSample& to) {
    if (!scheduler.Group.empty()) {
        return to.GroupCpu - from.GroupCpu;
    }
    return to.Use.Cpu - from.Use.Cpu + to.Use.ReapedChildrenCpu - from.Use.ReapedChildrenCpu;
}

TCpu CpuOf(const TScheduler& scheduler, std::chrono::nanoseconds bareJob) {
    const TSample& before = scheduler.Before;
    const TSample& after = scheduler.After;
    const auto jobs = bareJob * static_cast<std::int64_t>(scheduler.Starts);
    TCpu cpu;
    cpu.OwnMs = Ms((after.Use.Cpu - before.Use.Cpu).count());
    cpu.ChildrenMs =
        Ms((after.Use.ReapedChildrenCpu - before.Use.ReapedChildrenCpu - jobs).count());
    if (!scheduler.Group.empty()) {
        cpu.GroupMs = Ms((after.GroupCpu - before.GroupCpu - jobs).count());
    }
    // The rest before the span shows what the scheduler spends with nothing to start.
    const double idleShare =
        static_cast<double>(SpentBetween(scheduler, scheduler.Idle, before).count()) /
        static_cast<double>(before.AtNs - scheduler.Idle.AtNs);
    cpu.IdlePerMinuteMs = idleShare * static_cast<double>(NsPerMinute) / 1e6;
    if (scheduler.Starts > 0) {
        const auto starts = static_cast<double>(scheduler.Starts);
        const double spentMs = Ms((SpentBetween(scheduler, before, after) - jobs).count());
        const double idleMs = idleShare * static_cast<double>(after.AtNs - before.AtNs) / 1e6;
        cpu.PerStartMs = spentMs / starts;
        cpu.PerStartAboveIdleMs = (spentMs - idleMs) / starts;
    }
    return cpu;
}

std::string PerMinute(const TScheduler& scheduler) {
    std::string text = scheduler.Name + ":";
    for (const TMinute& minute : scheduler.Minutes) {
        text += " " + std::to_string(minute.Count) + " started, " + Figure(minute.FirstMs) + " / " +
                Figure(minute.MedianMs) + " / " + Figure(minute.LastMs) + " ms;";
    }
    text.back() = '.';
    return text;
}

void PrintTable(const std::vector<TScheduler>& schedulers, const TOptions& options,
                std::chrono::nanoseconds bareJob, const std::string& loadBefore,
                const std::string& loadAfter) {
    std::vector<TCpu> cpu;
    for (const TScheduler& scheduler : schedulers) {
        cpu.push_back(CpuOf(scheduler, bareJob));
    }
    auto row = [&](const std::string& label, auto cell) {
        std::string line = "| " + label + " |";
        for (std::size_t i = 0; i < schedulers.size(); ++i) {
            line += " " + cell(i) + " |";
        }
        std::printf("%s\n", line.c_str());
    };
    const std::size_t expected =
        static_cast<std::size_t>(options.Tasks) * static_cast<std::size_t>(options.Minutes);
    std::string header = "| " + std::to_string(options.Tasks) +
                         (options.Tasks == 1 ? " task" : " tasks") + " due, " +
                         std::to_string(options.Minutes) + " minutes |";
    std::string rule = "|---|";
    for (const TScheduler& scheduler : schedulers) {
        header += " " + scheduler.Name + " |";
        rule += "---:|";
    }
    std::printf("%s\n%s\n", header.c_str(), rule.c_str());
    row("starts in the minutes (expected " + std::to_string(expected) + ")", [&](std::size_t i) {
        const TScheduler& s = schedulers[i];
        return std::to_string(s.Starts) +
               (s.Outside > 0 ? " (+" + std::to_string(s.Outside) + " outside)" : "");
    });
    row("first start after the boundary, ms",
        [&](std::size_t i) { return OverMinutes(schedulers[i], &TMinute::FirstMs); });
    row("median start, ms",
        [&](std::size_t i) { return OverMinutes(schedulers[i], &TMinute::MedianMs); });
    row("last start, ms",
        [&](std::size_t i) { return OverMinutes(schedulers[i], &TMinute::LastMs); });
    if (options.Tasks > 1) {
        row("per further start, ms",
            [&](std::size_t i) { return OverMinutes(schedulers[i], &TMinute::SpacingMs); });
    }
    row("CPU of the scheduler process, ms", [&](std::size_t i) { return Figure(cpu[i].OwnMs); });
    row("CPU of its per-job processes less the jobs' own, ms",
        [&](std::size_t i) { return Figure(cpu[i].ChildrenMs); });
    if (std::any_of(cpu.begin(), cpu.end(), [](const TCpu& c) { return c.GroupMs.has_value(); })) {
        row("CPU of its control group less the jobs' own, ms", [&](std::size_t i) {
            return cpu[i].GroupMs ? Figure(*cpu[i].GroupMs) : std::string("-");
        });
    }
    row("CPU per started task, ms", [&](std::size_t i) { return Figure(cpu[i].PerStartMs); });
    row("CPU per minute with nothing to start, ms",
        [&](std::size_t i) { return Figure(cpu[i].IdlePerMinuteMs); });
    row("CPU per started task above that, ms",
        [&](std::size_t i) { return Figure(cpu[i].PerStartAboveIdleMs); });
    row("peak resident memory of the scheduler process, KiB",
        [&](std::size_t i) { return std::to_string(schedulers[i].After.Use.PeakResidentKiB); });
    std::printf("\nDelays: median of the %d minutes (lowest–highest). Per minute, first / median / "
                "last start:\n\n",
                options.Minutes);
    for (const TScheduler& scheduler : schedulers) {
        std::printf("- %s\n", PerMinute(scheduler).c_str());
    }
    std::printf("\nCPU from %lld s before the first minute until every job of the last one had "
                "ended; a bare start of the recorder (its own run) costs %s ms and is taken out "
                "once per start, so a figure near zero may come out below it. Load average (1, "
                "5, 15 min) before: %s; after: %s.\n",
                static_cast<long long>(SampleLeadNs / NsPerSecond),
                Format("%.3f", Ms(bareJob.count())).c_str(), loadBefore.c_str(), loadAfter.c_str());
}

TResourceUse Sample(pid_t pid, const std::string& name) {
    try {
        return ResourceUseOf(pid);
    } catch (const std::runtime_error&) {
        throw std::runtime_error(name + " (pid " + std::to_string(pid) + ") is gone");
    }
}

int Run(const TOptions& options) {
    fs::create_directories(options.OutDir);
    const std::string tarvokStarts = (options.OutDir / "tarvok.starts").string();
    const std::chrono::nanoseconds bareJobBefore = BareJobCpu(options.Recorder, options.OutDir);
    const TScheDef schedule = EveryMinuteOf(options.FirstMinute, options.Minutes);
    const std::int64_t firstNs = options.FirstMinute * NsPerSecond;
    if (WallNs() > firstNs - SampleLeadNs - NsPerSecond) {
        throw std::invalid_argument("the first minute is too close or past");
    }

    TServiceHarness service("start-latency", options.Service);
    WriteOldLog(service.Path("tarvok.log"), options.LogLines);
    std::vector<TTaskDef> tasks;
    for (std::int32_t id = 1; id <= options.Tasks; ++id) {
        tasks.push_back(MakeTask(id, "Recorder " + std::to_string(id), options.Recorder,
                                 tarvokStarts, schedule));
    }
    service.WriteTasks(tasks);
    service.Start();
    if (!service.WaitForMessage("SR")) {
        throw std::runtime_error("the service did not start: " + service.ReadFile("stderr"));
    }
    if (!options.Group.empty()) {
        MoveIntoGroup(service.Pid(), options.Group);
    }

    const bool comparing = options.ComparePid != 0;
    std::vector<TScheduler> schedulers(comparing ? 2 : 1);
    schedulers[0].Name = "Tarvok";
    schedulers[0].Group = options.Group;
    if (comparing) {
        schedulers[1].Name = options.CompareName;
        schedulers[1].Group = options.CompareGroup;
    }
    auto sampleAll = [&](TSample TScheduler::*into) {
        const std::int64_t at = WallNs();
        (schedulers[0].*into).Use = Sample(service.Pid(), "TarvokSvc");
        if (comparing) {
            (schedulers[1].*into).Use = Sample(options.ComparePid, options.CompareName);
        }
        for (TScheduler& scheduler : schedulers) {
            (scheduler.*into).AtNs = at;
            if (!scheduler.Group.empty()) {
                (scheduler.*into).GroupCpu = GroupCpu(scheduler.Group);
            }
        }
    };
    sampleAll(&TScheduler::Idle);
    if (!WaitUntilWall(firstNs - SampleLeadNs)) {
        return 1;
    }
    const std::string loadBefore = LoadAverage();
    sampleAll(&TScheduler::Before);

    const std::size_t expected =
        static_cast<std::size_t>(options.Tasks) * static_cast<std::size_t>(options.Minutes);
    const std::int64_t lastEnd = firstNs + options.Minutes * NsPerMinute;
    auto allStarted = [&] {
        return WallNs() >= lastEnd - NsPerMinute && ReadStarts(tarvokStarts).size() >= expected &&
               (!comparing || ReadStarts(options.CompareStarts).size() >= expected);
    };
    auto noChildren = [&] {
        return HasNoChildren(service.Pid()) && (!comparing || HasNoChildren(options.ComparePid));
    };
    if (!WaitUntilWall(lastEnd + LateStartsNs, allStarted) ||
        !WaitUntilWall(WallNs() + 10 * NsPerSecond, noChildren)) {
        return 1;
    }
    sampleAll(&TScheduler::After);
    const std::string loadAfter = LoadAverage();
    service.Signal(SIGTERM);
    service.WaitForExit();
    const std::chrono::nanoseconds bareJob =
        (bareJobBefore + BareJobCpu(options.Recorder, options.OutDir)) / 2;

    Analyse(schedulers[0], ReadStarts(tarvokStarts), options);
    if (comparing) {
        Analyse(schedulers[1], ReadStarts(options.CompareStarts), options);
    }
    PrintTable(schedulers, options, bareJob, loadBefore, loadAfter);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    try {
        const TOptions options = ParseOptions(argc, argv);
        return Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_start_latency: %s\n", error.what());
        return 1;
    }
}
