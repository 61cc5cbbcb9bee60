#include "tests/e2e/ServiceHarness.h"

#include "shared/Protocol.h"
#include "shared/SysLog.h"
#include "tests/Spawn.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ExitCodeOf;
using testing_support::SpawnProgram;
using testing_support::WaitForProgram;

namespace {

constexpr const char* FakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
constexpr auto CollectInterval = 5ms;
constexpr auto RecheckInterval = 10ms;

// A tmpfs over /run in a mount namespace of its own hides the journal's socket, so the
// program's events go nowhere; its own files stay where they are.
constexpr const char* PrivateRunScript = "mount -t tmpfs tmpfs /run && exec \"$@\"";
// The same, with the directory given first put where the journal's sockets are.
constexpr const char* PrivateRunWithJournalScript =
    "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
    "mount --bind \"$1\" /run/systemd/journal && shift && exec \"$@\"";

std::vector<std::string> BaseEnvironment(const std::string& timeZone = "UTC") {
    // The libfaketime preload would otherwise make a sanitized build refuse to start.
    return {"TZ=" + timeZone, "ASAN_OPTIONS=verify_asan_link_order=0"};
}

TDateTime UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        now - std::chrono::system_clock::from_time_t(seconds))
                        .count();
    return EncodeDate(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday) +
           EncodeTime(utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
}

// "+123456789.250": libfaketime puts the clock at the moment (UTC) now and lets it run. An
// offset from the real clock means the same in every time zone, where a start date would be read
// in the program's zone, and in the hour that autumn repeats would not even say which one.
std::string FakeTimeOffset(TDateTime moment) {
    if (!DecodeDateTime(moment)) {
        throw std::invalid_argument("fake clock moment does not decode");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f", (moment - UtcNow()) * (MsPerDay / 1000));
    return text;
}

std::uint64_t StatusKiB(const std::string& status, const std::string& field) {
    const std::size_t at = status.find("\n" + field + ":");
    if (at == std::string::npos) {
        return 0;
    }
    return std::stoull(status.substr(at + field.size() + 2));
}

// cutime + cstime of /proc/<pid>/stat: the ended children the process has waited for, and the
// children those waited for in turn.
std::chrono::nanoseconds ReapedChildrenCpu(const fs::path& process) {
    std::ifstream in(process / "stat");
    const std::string stat(std::istreambuf_iterator<char>(in), {});
    // The command name may hold blanks; the fields after it start with the state (field 3).
    const std::size_t nameEnd = stat.rfind(')');
    std::istringstream fields(nameEnd == std::string::npos ? "" : stat.substr(nameEnd + 1));
    constexpr int ChildUserField = 16;
    std::string field;
    for (int number = 3; number < ChildUserField && fields >> field; ++number) {
    }
    std::uint64_t userTicks = 0;
    std::uint64_t systemTicks = 0;
    if (!(fields >> userTicks >> systemTicks)) {
        return std::chrono::nanoseconds{0};
    }
    const auto ticksPerSecond = static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
    return std::chrono::nanoseconds((userTicks + systemTicks) * 1'000'000'000 / ticksPerSecond);
}

} // namespace

bool PrivateRunAvailable() {
    static const bool available = [] {
        const pid_t pid = SpawnProgram(
            {"unshare", "-rm", "sh", "-c", PrivateRunScript, "sh", "true"}, BaseEnvironment());
        return pid != 0 && WaitForProgram(pid) == 0;
    }();
    return available;
}

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

TScheDef DailyAt(int hour, int minute) {
    TScheDef schedule;
    schedule.Frequency = TFrequency::Daily;
    schedule.Trigger = TTrigger::Once;
    schedule.DailyEvery = 1;
    schedule.OnceAt = EncodeTime(hour, minute);
    schedule.NoEnd = true;
    schedule.StartDate = EncodeDate(2026, 12, 1);
    return schedule;
}

TTaskDef MakeTask(std::int32_t id, const std::string& name, const std::string& command,
                  const std::string& parameters, const TScheDef& schedule, bool blocking) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = command;
    task.Parameters = parameters;
    task.Enabled = true;
    task.Blocking = blocking;
    task.Schedule = schedule;
    return task;
}

std::string LogStamp(const std::string& line) {
    return line.substr(0, line.find(" : "));
}

std::string LogMessage(const std::string& line) {
    const std::size_t at = line.find(" : ");
    return at == std::string::npos ? std::string() : line.substr(at + 3);
}

TResourceUse ResourceUseOf(pid_t pid) {
    const fs::path process = "/proc/" + std::to_string(pid);
    TResourceUse use;
    std::error_code error;
    for (const fs::directory_entry& thread : fs::directory_iterator(process / "task", error)) {
        // The first field is the thread's time on a processor, in nanoseconds.
        std::ifstream schedstat(thread.path() / "schedstat");
        std::uint64_t ns = 0;
        if (schedstat >> ns) {
            use.Cpu += std::chrono::nanoseconds(ns);
        }
    }
    std::ifstream in(process / "status");
    const std::string status = "\n" + std::string(std::istreambuf_iterator<char>(in), {});
    if (error || status.size() == 1) {
        throw std::runtime_error("no process " + std::to_string(pid));
    }
    use.ReapedChildrenCpu = ReapedChildrenCpu(process);
    use.PeakResidentKiB = StatusKiB(status, "VmHWM");
    use.ResidentKiB = StatusKiB(status, "VmRSS");
    return use;
}

TServiceHarness::TServiceHarness(const std::string& name, const std::string& program,
                                 bool ownClientSlot)
    : dir_(fs::temp_directory_path() / ("tarvok-e2e-" + std::to_string(::getpid()) + "-" + name)) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(program.empty() ? TARVOK_SVC_BINARY : program, dir_ / "TarvokSvc");
    fs::copy_file(TARVOK_CTL_BINARY, dir_ / "tarvokctl");
    UseSlotsOf(dir_);
    if (ownClientSlot) {
        client_ = std::make_unique<TMailSlot>(ClientSlotName);
        if (client_->CreationFailed()) {
            throw std::runtime_error(client_->Failure());
        }
    }

    notifyFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string notifyPath = Path("notify");
    if (notifyFd_ < 0 || notifyPath.size() >= sizeof address.sun_path) {
        throw std::runtime_error("cannot make the notify socket " + notifyPath);
    }
    notifyPath.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(notifyFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(notifyFd_);
        throw std::runtime_error("cannot bind the notify socket " + notifyPath);
    }
    collector_ = std::thread([this] { Collect(); });
}

TServiceHarness::~TServiceHarness() {
    if (pid_ != 0 && !exitCode_) {
        ::kill(pid_, SIGKILL);
        WaitForProgram(pid_);
    }
    // The blocking runs are the long ones; the others are short scripts. A test may have handed
    // over its own id as a process that runs.
    for (const TReceived& message : Messages()) {
        const TMessage parsed = ParseMessage(message.Text);
        if (parsed.Code == TMessageCode::TaskStarted && parsed.ProcessId != 0 &&
            static_cast<pid_t>(parsed.ProcessId) != ::getpid()) {
            ::kill(static_cast<pid_t>(parsed.ProcessId), SIGKILL);
        }
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    collector_.join();
    ::close(notifyFd_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string TServiceHarness::Path(const std::string& file) const {
    return (dir_ / file).string();
}

std::string TServiceHarness::ReadFile(const std::string& file) const {
    std::ifstream in(dir_ / file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void TServiceHarness::WriteTasks(const std::vector<TTaskDef>& tasks) const {
    TTaskList list;
    for (TTaskDef task : tasks) {
        list.AddTask(task, false);
    }
    list.SaveToFile(Path("tarvok.tsk"));
}

std::string TServiceHarness::WriteScript(const std::string& name, const std::string& body) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::trunc) << "#!/bin/sh\n" << body << '\n';
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return path;
}

std::string TServiceHarness::MarkerScript(const std::string& name) const {
    return WriteScript(name + ".sh", "echo $$ >> '" + Path(name + ".runs") + "'");
}

int TServiceHarness::Runs(const std::string& name) const {
    std::istringstream in(ReadFile(name + ".runs"));
    int runs = 0;
    for (std::string line; std::getline(in, line);) {
        ++runs;
    }
    return runs;
}

void TServiceHarness::Start(const TStartOptions& options) {
    if (pid_ != 0) {
        throw std::logic_error("the program was started already");
    }
    std::vector<std::string> args;
    if (!options.JournalDir.empty()) {
        if (!PrivateRunAvailable()) {
            throw std::runtime_error("no private /run for a journal of the test's own");
        }
        args = {"unshare",         "-rm", "sh", "-c", PrivateRunWithJournalScript, "sh",
                options.JournalDir};
    } else if (PrivateRunAvailable()) {
        args = {"unshare", "-rm", "sh", "-c", PrivateRunScript, "sh"};
    }
    args.push_back(Path("TarvokSvc"));
    args.insert(args.end(), options.Arguments.begin(), options.Arguments.end());

    std::vector<std::string> environment = BaseEnvironment(options.TimeZone);
    if (options.ServiceManager) {
        environment.push_back("NOTIFY_SOCKET=" + Path("notify"));
    }
    if (options.FakeStart) {
        // Faking the monotonic clock too would stretch or cut every wait of the program.
        movableClock_ = options.MovableClock;
        if (movableClock_) {
            // Read again at every clock reading: a new offset there moves the clock at once.
            WriteClockFile(FakeTimeOffset(*options.FakeStart));
            const std::vector<std::string> clock = FakeClockEnvironment();
            environment.insert(environment.end(), clock.begin(), clock.end());
        } else {
            environment.insert(environment.end(),
                               {std::string("LD_PRELOAD=") + FakeTimeLibrary,
                                "FAKETIME_DONT_FAKE_MONOTONIC=1",
                                "FAKETIME=" + FakeTimeOffset(*options.FakeStart)});
        }
    }
    startMoment_ = options.FakeStart.value_or(UtcNow());
    startedAt_ = TSteadyClock::now();
    pid_ = SpawnProgram(args, environment, {.Out = Path("stdout"), .Err = Path("stderr")});
    if (pid_ == 0) {
        throw std::runtime_error("cannot start " + args.front());
    }
}

void TServiceHarness::Signal(int signal) const {
    if (pid_ != 0 && !exitCode_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> TServiceHarness::WaitForExit(TSteadyClock::duration patience) {
    WaitUntil(
        [this] {
            int status = 0;
            if (!exitCode_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                exitCode_ = ExitCodeOf(status);
            }
            return exitCode_.has_value();
        },
        patience);
    return exitCode_;
}

TDateTime TServiceHarness::ProgramNow() const {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(TSteadyClock::now() - startedAt_);
    return startMoment_ + static_cast<double>(elapsed.count()) / MsPerDay;
}

void TServiceHarness::SetClock(TDateTime moment) {
    if (pid_ != 0 && !movableClock_) {
        throw std::logic_error("the program's clock cannot be moved");
    }
    WriteClockFile(FakeTimeOffset(moment));
    startMoment_ = moment;
    startedAt_ = TSteadyClock::now();
}

std::vector<std::string> TServiceHarness::FakeClockEnvironment() const {
    return {std::string("LD_PRELOAD=") + FakeTimeLibrary, "FAKETIME_DONT_FAKE_MONOTONIC=1",
            "FAKETIME_TIMESTAMP_FILE=" + Path("faketime"), "FAKETIME_NO_CACHE=1"};
}

// Replaced whole, so that the program never reads half a setting.
void TServiceHarness::WriteClockFile(const std::string& setting) const {
    const std::string path = Path("faketime");
    std::ofstream(path + ".new", std::ios::trunc) << setting << '\n';
    fs::rename(path + ".new", path);
}

TSteadyClock::time_point TServiceHarness::SteadyAt(TDateTime moment) const {
    const double ms = std::round((moment - startMoment_) * MsPerDay);
    return startedAt_ + std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

TCtlRun TServiceHarness::Ctl(const std::vector<std::string>& args,
                             std::optional<std::uint32_t> uid) const {
    std::vector<std::string> command;
    if (uid) {
        const std::string id = std::to_string(*uid);
        command = {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    }
    command.push_back(Path("tarvokctl"));
    command.insert(command.end(), args.begin(), args.end());
    const pid_t pid =
        SpawnProgram(command, BaseEnvironment(), {.Out = Path("ctl.out"), .Err = Path("ctl.err")});
    if (pid == 0) {
        throw std::runtime_error("cannot start " + command.front());
    }
    TCtlRun run;
    run.ExitCode = WaitForProgram(pid);
    run.Out = ReadFile("ctl.out");
    run.Err = ReadFile("ctl.err");
    return run;
}

pid_t TServiceHarness::StartCtl(const std::vector<std::string>& args,
                                const std::string& name) const {
    std::vector<std::string> command = {Path("tarvokctl")};
    command.insert(command.end(), args.begin(), args.end());
    return SpawnProgram(command, BaseEnvironment(),
                        {.Out = Path(name + ".out"), .Err = Path(name + ".err")});
}

bool TServiceHarness::Send(std::string_view message) const {
    return SendSlotMessage(ServiceSlotName, message);
}

std::vector<TReceived> TServiceHarness::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> TServiceHarness::MessageTexts(std::size_t from) const {
    std::vector<std::string> texts;
    std::lock_guard lock(mutex_);
    for (std::size_t i = from; i < messages_.size(); ++i) {
        texts.push_back(messages_[i].Text);
    }
    return texts;
}

std::optional<std::size_t>
TServiceHarness::WaitForMessage(const std::function<bool(const std::string&)>& match,
                                std::size_t from, TSteadyClock::duration patience) {
    std::optional<std::size_t> found;
    WaitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            for (; from < messages_.size(); ++from) {
                if (match(messages_[from].Text)) {
                    found = from;
                    return true;
                }
            }
            return false;
        },
        patience);
    return found;
}

std::optional<std::size_t> TServiceHarness::WaitForMessage(std::string_view text, std::size_t from,
                                                           TSteadyClock::duration patience) {
    return WaitForMessage([text](const std::string& message) { return message == text; }, from,
                          patience);
}

std::vector<std::string> TServiceHarness::NotifyMessages() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

bool TServiceHarness::WaitForNotify(std::string_view text, TSteadyClock::duration patience) {
    return WaitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            for (const std::string& notification : notifications_) {
                if (notification == text) {
                    return true;
                }
            }
            return false;
        },
        patience);
}

std::vector<std::string> TServiceHarness::LogLines() const {
    const std::deque<std::string> lines = SplitLogLines(ReadFile("tarvok.log"));
    return {lines.begin(), lines.end()};
}

std::vector<std::string> TServiceHarness::LogMessages() const {
    std::vector<std::string> messages;
    for (const std::string& line : LogLines()) {
        messages.push_back(LogMessage(line));
    }
    return messages;
}

std::optional<std::string> TServiceHarness::WaitForLogLine(std::string_view message,
                                                           TSteadyClock::duration patience) {
    std::optional<std::string> found;
    WaitUntil(
        [&] {
            for (const std::string& line : LogLines()) {
                if (LogMessage(line) == message) {
                    found = line;
                    return true;
                }
            }
            return false;
        },
        patience);
    return found;
}

bool TServiceHarness::WaitUntil(const std::function<bool()>& condition,
                                TSteadyClock::duration patience) const {
    const auto deadline = TSteadyClock::now() + patience;
    std::unique_lock lock(mutex_);
    for (;;) {
        lock.unlock();
        const bool met = condition();
        lock.lock();
        const auto now = TSteadyClock::now();
        if (met || now >= deadline) {
            return met;
        }
        // Arrivals wake the wait at once; files (the log, the markers) are looked at again
        // after a short while.
        arrived_.wait_until(lock, std::min(deadline, now + RecheckInterval));
    }
}

void TServiceHarness::Collect() {
    std::string buffer(4096, '\0');
    for (;;) {
        pollfd ready{notifyFd_, POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(CollectInterval.count()));
        std::vector<std::string> notifications;
        for (ssize_t got;
             (got = ::recv(notifyFd_, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;) {
            notifications.push_back(buffer.substr(0, static_cast<std::size_t>(got)));
        }
        std::vector<TReceived> messages;
        for (std::string text = client_ ? client_->ReadMessage() : std::string(); !text.empty();
             text = client_->ReadMessage()) {
            messages.push_back({std::move(text), TSteadyClock::now()});
        }
        std::lock_guard lock(mutex_);
        notifications_.insert(notifications_.end(), notifications.begin(), notifications.end());
        messages_.insert(messages_.end(), messages.begin(), messages.end());
        if (!notifications.empty() || !messages.empty()) {
            arrived_.notify_all();
        }
        if (stopping_) {
            return;
        }
    }
}

} // namespace tarvok::e2e
