// The real TarvokSvc run the way systemd runs it, for whole-program tests and benchmarks.
//
// A harness makes a program directory of its own holding a copy of the service program and of
// tarvokctl, owns the
// manager's slot "TarvokClient" (collecting every message with the moment it arrived) and plays
// the service manager: NOTIFY_SOCKET is a socket of its own, signals are the controls (SIGUSR1
// pause, SIGUSR2 continue, SIGTERM stop). The program can start at a chosen wall-clock moment
// (libfaketime; the monotonic clock stays real, so its waits keep their length), which a test
// may also set while it runs; it runs in UTC or a chosen time zone, with the C locale, and with
// a private /run where that can be had, so its events reach no journal.
//
// From its making on, the process uses the slots of the harness's program directory
// (UseSlotsOf): a process runs one harness at a time.
//
//   TServiceHarness service("FirstMinute");
//   service.WriteTasks({MakeTask(1, "Report", service.MarkerScript("report"), "",
//                                DailyAt(10, 16))});
//   service.Start({.FakeStart = EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 57)});
//   service.WaitForLogLine("Task \"Report\" [1] started.");
//
// Every wait takes a patience: it returns as soon as what it waits for is there, and gives up
// (false, or nothing) once the patience is spent. Nothing here sleeps for a fixed time.
#pragma once

#include "shared/MailSlot.h"
#include "shared/TaskDef.h"
#include "shared/Time.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tarvok::e2e {

using TSteadyClock = std::chrono::steady_clock;
// Long enough for a loaded two-core machine; passes come every 500 ms.
inline constexpr auto DefaultPatience = std::chrono::seconds(10);

struct TReceived {
    std::string Text;
    TSteadyClock::time_point At;
};

// Every day at hour:minute, from 1 December 2026 on.
TScheDef DailyAt(int hour, int minute);
// Every minute of every day, from 1 January 2026 on.
TScheDef EveryMinute();
// An enabled task of normal priority without a working directory.
TTaskDef MakeTask(std::int32_t id, const std::string& name, const std::string& command,
                  const std::string& parameters, const TScheDef& schedule, bool blocking = false);

// The parts of a log line "08-Dec-2026 - 10:16:00 : Task "Report" [1] started.".
std::string LogStamp(const std::string& line);
std::string LogMessage(const std::string& line);

// What a process has used: the CPU time of its live threads (user and system), that of the
// children it has waited for (with theirs, in clock ticks) and its resident memory, peak and
// current.
struct TResourceUse {
    std::chrono::nanoseconds Cpu{0};
    std::chrono::nanoseconds ReapedChildrenCpu{0};
    std::uint64_t PeakResidentKiB = 0;
    std::uint64_t ResidentKiB = 0;
};
// Raises std::runtime_error when the process is gone.
TResourceUse ResourceUseOf(pid_t pid);

// Whether started programs get a private /run (user namespaces allow it).
bool PrivateRunAvailable();

struct TStartOptions {
    // The moment, in UTC, the program's wall clock starts at; none: the real clock.
    std::optional<TDateTime> FakeStart = std::nullopt;
    // The program's TZ: its local time is its UTC clock seen in this zone.
    std::string TimeZone = "UTC";
    // With FakeStart: SetClock may move the clock while the program runs.
    bool MovableClock = false;
    // Empty: run as the service.
    std::vector<std::string> Arguments = {};
    // False: no NOTIFY_SOCKET, as for a service run by hand.
    bool ServiceManager = true;
    // Not empty: this directory is the program's /run/systemd/journal (its private /run is
    // needed), so a test that listens there plays the journal.
    std::string JournalDir = {};
};

// What a run of the copied tarvokctl did.
struct TCtlRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

class TServiceHarness {
public:
    // A fresh program directory named after the caller (test or benchmark) and the slot. The
    // program copied is the one this build made, unless another is named (a benchmark comparing
    // builds). Without ownClientSlot the real manager may own "TarvokClient"; the harness then
    // collects no messages.
    explicit TServiceHarness(const std::string& name, const std::string& program = {},
                             bool ownClientSlot = true);
    // Kills the program if it still runs and every blocking run it reported, then removes the
    // directory.
    ~TServiceHarness();
    TServiceHarness(const TServiceHarness&) = delete;
    TServiceHarness& operator=(const TServiceHarness&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    // The full path of a file in the program directory.
    std::string Path(const std::string& file) const;
    std::string ReadFile(const std::string& file) const;

    // Saves the task file with the records as given, ids included.
    void WriteTasks(const std::vector<TTaskDef>& tasks) const;
    // An executable shell script in the program directory; its full path.
    std::string WriteScript(const std::string& name, const std::string& body) const;
    // A task command that appends its process id to "<name>.runs" each time it starts.
    std::string MarkerScript(const std::string& name) const;
    // How often a marker script has started so far.
    int Runs(const std::string& name) const;

    // Starts the copied program with its output in the files "stdout" and "stderr".
    void Start(const TStartOptions& options = {});
    pid_t Pid() const { return pid_; }
    void Signal(int signal) const;
    // The exit code (128 + signal for a killed program), or nothing if it is still running.
    std::optional<int> WaitForExit(TSteadyClock::duration patience = DefaultPatience);
    // The program's wall clock in UTC (faked or not), estimated from the start or the last
    // SetClock: at or a few milliseconds after it.
    TDateTime ProgramNow() const;
    // Sets the program's wall clock to a moment in UTC, from its next reading on; the clock runs
    // on from there. Only for a program started with MovableClock, or before the start: a
    // program that shares the clock (FakeClockEnvironment) may start on it first.
    void SetClock(TDateTime moment);
    // The environment that puts another program (the manager) on the same movable clock as the
    // service's: SetClock moves both.
    std::vector<std::string> FakeClockEnvironment() const;
    // When the program's wall clock shows the moment, on this process's steady clock (the same
    // estimate): for latencies measured from a minute's start.
    TSteadyClock::time_point SteadyAt(TDateTime moment) const;

    // Runs the copied tarvokctl to its end, as root or, with a uid, as that account (setpriv).
    TCtlRun Ctl(const std::vector<std::string>& args, std::optional<std::uint32_t> uid = {}) const;
    // Starts it and leaves it running, its output in the files "<name>.out" and "<name>.err".
    pid_t StartCtl(const std::vector<std::string>& args, const std::string& name) const;

    // Sends to "TarvokService" as the manager does; false when nobody received it.
    bool Send(std::string_view message) const;
    std::vector<TReceived> Messages() const;
    std::vector<std::string> MessageTexts(std::size_t from = 0) const;
    // The position of the first message at or after `from` that matches.
    std::optional<std::size_t> WaitForMessage(const std::function<bool(const std::string&)>& match,
                                              std::size_t from = 0,
                                              TSteadyClock::duration patience = DefaultPatience);
    std::optional<std::size_t> WaitForMessage(std::string_view text, std::size_t from = 0,
                                              TSteadyClock::duration patience = DefaultPatience);
    // Everything the program told its service manager, in order.
    std::vector<std::string> NotifyMessages() const;
    bool WaitForNotify(std::string_view text, TSteadyClock::duration patience = DefaultPatience);

    std::vector<std::string> LogLines() const;
    // The log's messages without their stamps.
    std::vector<std::string> LogMessages() const;
    // The first log line whose message is the text.
    std::optional<std::string> WaitForLogLine(std::string_view message,
                                              TSteadyClock::duration patience = DefaultPatience);

    // True once the condition holds, checked after each arrival and every few milliseconds.
    bool WaitUntil(const std::function<bool()>& condition,
                   TSteadyClock::duration patience = DefaultPatience) const;

private:
    void Collect();
    void WriteClockFile(const std::string& setting) const;

    std::filesystem::path dir_;
    std::unique_ptr<TMailSlot> client_;
    int notifyFd_ = -1;
    pid_t pid_ = 0;
    int pidFd_ = -1;
    std::optional<int> exitCode_;
    TDateTime startMoment_ = 0; // on the program's wall clock, in UTC
    bool movableClock_ = false;
    TSteadyClock::time_point startedAt_{};

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<TReceived> messages_;
    std::vector<std::string> notifications_;
    bool stopping_ = false;
    std::thread collector_;
};

} // namespace tarvok::e2e
