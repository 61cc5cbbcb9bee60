#include "platform/Process.h"

#include "platform/posix/Descriptor.h"
#include "platform/posix/JournalStream.h"
#include "platform/posix/SpawnActions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <span>
#include <spawn.h>
#include <string_view>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

extern char** environ;

namespace tarvok::platform {

namespace {

// Children whose process descriptor could not be opened (descriptors ran out) are looked at
// this often instead; nothing else ever waits on a timer.
constexpr int UnwatchedSweepMs = 100;
constexpr std::size_t FinishedCapacity = 4096;
constexpr std::uint64_t WakeTag = ~std::uint64_t{0};
constexpr std::uint32_t SignalBase = 128;

struct TNiceLevel {
    TProcessPriority Priority;
    int Nice;
    bool Idle;
};

constexpr TNiceLevel NiceLevels[] = {
    {TProcessPriority::High, -10, false},
    {TProcessPriority::Realtime, -20, false},
    {TProcessPriority::Normal, 0, false},
    {TProcessPriority::Low, 19, true},
};

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::system_category(), what);
}

// How a process ended: the exit code, or the signal (0 when it exited).
struct TEndStatus {
    std::uint32_t ExitCode = 0;
    int Signal = 0;
};

TEndStatus Signalled(int signal) {
    return {SignalBase + static_cast<std::uint32_t>(signal), signal};
}

TEndStatus ExitStatus(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) {
        return {static_cast<std::uint32_t>(info.si_status), 0};
    }
    return Signalled(info.si_status);
}

TEndStatus ExitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return {static_cast<std::uint32_t>(WEXITSTATUS(waitStatus)), 0};
    }
    if (WIFSIGNALED(waitStatus)) {
        return Signalled(WTERMSIG(waitStatus));
    }
    return {};
}

TProcessState Running() {
    return {TProcessState::TKind::Running, 0, 0};
}

TProcessState Ended(TEndStatus status) {
    return {TProcessState::TKind::Ended, status.ExitCode, status.Signal};
}

TProcessEnd EndOf(std::optional<TEndStatus> status, std::int64_t msAgo) {
    if (!status) {
        return {};
    }
    return {true, status->Signal != 0,
            status->Signal != 0 ? status->Signal : static_cast<int>(status->ExitCode), msAgo};
}

std::mutex hookMutex;
std::function<void()> endHook; // guarded by hookMutex

// The exit statuses of our last reaped children; the oldest is forgotten first.
class TFinishedCodes {
public:
    void Record(pid_t pid, TEndStatus code) {
        TEntry& slot = ring_[next_];
        if (slot.Pid != 0) {
            auto old = index_.find(slot.Pid);
            if (old != index_.end() && old->second == next_) {
                index_.erase(old);
            }
        }
        slot = {pid, code};
        index_[pid] = next_; // a reused id: the newer process wins
        next_ = (next_ + 1) % ring_.size();
    }

    std::optional<TEndStatus> Find(pid_t pid) const {
        auto found = index_.find(pid);
        if (found == index_.end()) {
            return std::nullopt;
        }
        return ring_[found->second].Code;
    }

    // The id names another process now; the ring's slot is reused in its turn.
    void Forget(pid_t pid) { index_.erase(pid); }

private:
    struct TEntry {
        pid_t Pid = 0;
        TEndStatus Code;
    };
    std::array<TEntry, FinishedCapacity> ring_{};
    std::unordered_map<pid_t, std::size_t> index_;
    std::size_t next_ = 0;
};

// The children we started and have not yet reaped. One thread waits on their process
// descriptors and reaps each by its own id, so children that other code in this program starts
// (and waits for) are never taken from it.
class TChildren {
public:
    // Made by the first start. A forked copy of the program starts with none of its parent's.
    static TChildren& Instance();
    static TChildren* Existing();

    int NullDevice() const { return null_.Get(); }
    void Follow(pid_t pid, bool keepEnd);
    // Empty when the id is no unreaped child of ours.
    std::optional<TProcessState> PendingState(pid_t pid);
    std::optional<TEndStatus> FinishedCode(pid_t pid);
    std::optional<TProcessEnd> TakeEnd(pid_t pid);
    void ForgetFinished(pid_t pid);

private:
    TChildren();
    void Run();
    void ReapIfEnded(pid_t pid);
    // Keeps the end of a child started with KeepEnd; nothing when it is none (unknown: lost).
    void KeepEnd(pid_t pid, std::optional<TEndStatus> status);
    void Forget(std::unordered_map<pid_t, TFd>::iterator child);
    void SweepUnwatched();
    void StartReaper();

    static void BeforeFork();
    static void AfterForkInParent();
    static void AfterForkInChild();

    std::mutex mutex_;
    TFd null_;
    TFd epoll_;
    TFd wake_;
    std::unordered_map<pid_t, TFd> pending_; // id -> process descriptor, none when it failed
    std::size_t unwatched_ = 0;
    TFinishedCodes finished_;
    // Children started with KeepEnd that have not ended, and the ends not yet taken, oldest
    // first under each id (an id can come round again before its end is taken).
    struct TKeptEnd {
        std::optional<TEndStatus> Status;
        std::chrono::steady_clock::time_point At;
    };
    std::unordered_set<pid_t> keep_;
    std::unordered_map<pid_t, std::deque<TKeptEnd>> kept_;
    bool keptEnded_ = false; // an end was kept since the hook was last called
};

std::mutex instanceMutex;
TChildren* instance = nullptr;
// A fork leaves the parent's bookkeeping behind in the child; kept reachable, never used.
TChildren* abandoned = nullptr;

TChildren& TChildren::Instance() {
    std::lock_guard lock(instanceMutex);
    if (instance == nullptr) {
        static const bool forkHandled =
            ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild) == 0;
        if (!forkHandled) {
            throw std::system_error(ENOMEM, std::system_category(), "pthread_atfork");
        }
        instance = new TChildren();
    }
    return *instance;
}

TChildren* TChildren::Existing() {
    std::lock_guard lock(instanceMutex);
    return instance;
}

// Without these a child forked while the reaper held its lock would block for ever, and one
// that started programs would hand their descriptors to its parent's reaper.
void TChildren::BeforeFork() {
    instanceMutex.lock();
    if (instance != nullptr) {
        instance->mutex_.lock();
    }
}

void TChildren::AfterForkInParent() {
    if (instance != nullptr) {
        instance->mutex_.unlock();
    }
    instanceMutex.unlock();
}

void TChildren::AfterForkInChild() {
    if (instance != nullptr) {
        abandoned = instance;
        instance = nullptr;
    }
    instanceMutex.unlock();
}

// At 3 or above, so that duplicating it onto 0, 1 and 2 always clears close-on-exec. The
// descriptor it is copied from is closed at once, so the numbers ours take stay low.
int OpenNullDevice() {
    const TFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    return null.Valid() ? ::fcntl(null.Get(), F_DUPFD_CLOEXEC, 3) : -1;
}

// A constructor that throws leaves nothing open: the members close what they hold.
TChildren::TChildren() {
    null_.Reset(OpenNullDevice());
    if (!null_.Valid()) {
        ThrowErrno("/dev/null");
    }
    epoll_.Reset(::epoll_create1(EPOLL_CLOEXEC));
    wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!epoll_.Valid() || !wake_.Valid()) {
        ThrowErrno("epoll");
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = WakeTag;
    if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wake_.Get(), &event) != 0) {
        ThrowErrno("epoll_ctl");
    }
    StartReaper();
}

// The reaper takes no signal: a program that collects its signals with sigwait must never see
// one delivered to a thread it does not know.
void TChildren::StartReaper() {
    sigset_t all;
    sigset_t previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        std::thread([this] { Run(); }).detach();
    } catch (...) {
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Called directly: this glibc declares its wrapper without C linkage.
int OpenPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
}

bool Exited(int pidfd) {
    pollfd watched{pidfd, POLLIN, 0};
    return ::poll(&watched, 1, 0) != 0; // readable once it has ended; an error counts the same
}

// The real user of a process, from its status lines.
std::optional<uid_t> RealUser(pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    const TFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    char buffer[4096];
    const ssize_t length = fd.Valid() ? ::read(fd.Get(), buffer, sizeof buffer - 1) : -1;
    if (length <= 0) {
        return std::nullopt;
    }
    buffer[length] = '\0';
    const char* line = std::strstr(buffer, "\nUid:");
    unsigned long uid = 0;
    if (line == nullptr || std::sscanf(line, "\nUid: %lu", &uid) != 1) {
        return std::nullopt;
    }
    return static_cast<uid_t>(uid);
}

// Processes other programs started and handed over, each held by a process descriptor, which
// names that one process and no later one with its id. Those that ended are kept as ended.
class TTakenOver {
public:
    static TTakenOver& Instance() {
        static TTakenOver taken;
        return taken;
    }

    bool Follow(pid_t pid, uid_t owner) {
        TFd pidfd(OpenPidfd(pid));
        // The user is read while the descriptor holds the process, and the process is seen alive
        // afterwards: so the status read was this process's, not a later one's with its id.
        const auto user = pidfd.Valid() ? RealUser(pid) : std::nullopt;
        const bool followed =
            user && (*user == owner || *user == ::getuid()) && !Exited(pidfd.Get());
        if (!followed) {
            pidfd.Reset();
        }
        std::lock_guard lock(mutex_);
        Erase(pid);
        if (order_.size() == Capacity) {
            processes_.erase(order_.front());
            order_.erase(order_.begin());
        }
        processes_.emplace(pid, std::move(pidfd));
        order_.push_back(pid);
        return followed;
    }

    // The id is answered for elsewhere now.
    void Forget(pid_t pid) {
        std::lock_guard lock(mutex_);
        Erase(pid);
    }

    // Empty when the id was not taken over. Another program's process leaves no exit status.
    std::optional<TProcessState> State(pid_t pid) {
        std::lock_guard lock(mutex_);
        auto found = processes_.find(pid);
        if (found == processes_.end()) {
            return std::nullopt;
        }
        TFd& pidfd = found->second;
        if (pidfd.Valid() && Exited(pidfd.Get())) {
            pidfd.Reset();
        }
        return pidfd.Valid() ? Running() : Ended(TEndStatus{});
    }

private:
    void Erase(pid_t pid) {
        if (processes_.erase(pid) != 0) {
            order_.erase(std::find(order_.begin(), order_.end(), pid));
        }
    }

    static constexpr std::size_t Capacity = 256;
    std::mutex mutex_;
    std::unordered_map<pid_t, TFd> processes_; // none held: it has ended
    std::vector<pid_t> order_;                 // oldest first, for the bound
};

void TChildren::Follow(pid_t pid, bool keepEnd) {
    TFd pidfd(OpenPidfd(pid));
    std::lock_guard lock(mutex_);
    if (pidfd.Valid()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<std::uint64_t>(pid);
        if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, pidfd.Get(), &event) != 0) {
            pidfd.Reset();
        }
    }
    TTakenOver::Instance().Forget(pid);
    // An entry left under this id means someone else reaped our child and the id came round
    // again; that descriptor names the old process.
    if (auto stale = pending_.find(pid); stale != pending_.end()) {
        KeepEnd(pid, std::nullopt);
        Forget(stale);
    }
    if (keepEnd) {
        keep_.insert(pid);
    }
    const bool watched = pidfd.Valid();
    pending_.emplace(pid, std::move(pidfd));
    if (!watched) {
        ++unwatched_;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_.Get(), &one, sizeof one);
    }
}

std::optional<TProcessState> TChildren::PendingState(pid_t pid) {
    std::lock_guard lock(mutex_);
    if (!pending_.contains(pid)) {
        return std::nullopt;
    }
    // WNOWAIT reads the status and leaves the reaping to the reaper.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return TProcessState{}; // reaped behind our back: its status is lost
    }
    return info.si_pid == 0 ? Running() : Ended(ExitStatus(info));
}

std::optional<TEndStatus> TChildren::FinishedCode(pid_t pid) {
    std::lock_guard lock(mutex_);
    return finished_.Find(pid);
}

std::optional<TProcessEnd> TChildren::TakeEnd(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto found = kept_.find(pid);
    if (found == kept_.end()) {
        if (pending_.contains(pid)) {
            return std::nullopt;
        }
        return TProcessEnd{};
    }
    const TKeptEnd end = found->second.front();
    found->second.pop_front();
    if (found->second.empty()) {
        kept_.erase(found);
    }
    const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - end.At);
    return EndOf(end.Status, ago.count());
}

void TChildren::KeepEnd(pid_t pid, std::optional<TEndStatus> status) {
    if (keep_.erase(pid) == 0) {
        return;
    }
    kept_[pid].push_back({status, std::chrono::steady_clock::now()});
    keptEnded_ = true;
}

void TChildren::ForgetFinished(pid_t pid) {
    std::lock_guard lock(mutex_);
    finished_.Forget(pid);
}

void TChildren::Run() {
    std::array<epoll_event, 64> events{};
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex_);
            timeout = unwatched_ > 0 ? UnwatchedSweepMs : -1;
        }
        int count =
            ::epoll_wait(epoll_.Get(), events.data(), static_cast<int>(events.size()), timeout);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // only a broken descriptor of our own gets here
        }
        bool keptEnded = false;
        {
            std::lock_guard lock(mutex_);
            for (const epoll_event& event :
                 std::span(events.data(), static_cast<std::size_t>(count))) {
                if (event.data.u64 == WakeTag) {
                    std::uint64_t value = 0;
                    [[maybe_unused]] ssize_t ignored = ::read(wake_.Get(), &value, sizeof value);
                } else {
                    ReapIfEnded(static_cast<pid_t>(event.data.u64));
                }
            }
            if (unwatched_ > 0) {
                SweepUnwatched();
            }
            keptEnded = std::exchange(keptEnded_, false);
        }
        // Outside the lock: the hook may ask after processes.
        if (keptEnded) {
            std::lock_guard hookLock(hookMutex);
            if (endHook) {
                endHook();
            }
        }
    }
}

// Called with the lock held.
void TChildren::ReapIfEnded(pid_t pid) {
    auto child = pending_.find(pid);
    if (child == pending_.end()) {
        return;
    }
    siginfo_t info{};
    int result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
    if (result == 0 && info.si_pid == 0) {
        return;
    }
    std::optional<TEndStatus> status;
    if (result == 0) {
        status = ExitStatus(info);
        finished_.Record(pid, *status);
    }
    // Otherwise someone else reaped it (ECHILD) and its status is lost.
    KeepEnd(pid, status);
    Forget(child);
}

void TChildren::Forget(std::unordered_map<pid_t, TFd>::iterator child) {
    if (child->second.Valid()) {
        // Removed by hand: a child being spawned meanwhile holds a copy of the descriptor until
        // its exec, and epoll forgets a descriptor only when its last copy closes.
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, child->second.Get(), nullptr);
    } else {
        --unwatched_;
    }
    pending_.erase(child);
}

void TChildren::SweepUnwatched() {
    std::vector<pid_t> unwatched;
    unwatched.reserve(unwatched_);
    for (const auto& [pid, pidfd] : pending_) {
        if (!pidfd.Valid()) {
            unwatched.push_back(pid);
        }
    }
    for (pid_t pid : unwatched) {
        ReapIfEnded(pid);
    }
}

class TSpawnAttributes {
public:
    TSpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
    TSpawnAttributes(const TSpawnAttributes&) = delete;
    TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
    ~TSpawnAttributes() {
        if (ok_) {
            ::posix_spawnattr_destroy(&attributes_);
        }
    }

    // A session of its own; no signal blocked or ignored because the caller had it so (a
    // service commonly ignores SIGPIPE and blocks the signals it collects).
    bool Prepare() {
        sigset_t none;
        sigset_t all;
        ::sigemptyset(&none);
        ::sigfillset(&all);
        ::sigdelset(&all, SIGKILL);
        ::sigdelset(&all, SIGSTOP);
        short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        return ok_ && ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
               ::posix_spawnattr_setflags(&attributes_, flags) == 0;
    }
    const posix_spawnattr_t* Get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

bool IsDisplayVariable(std::string_view entry) {
    return entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=");
}

// The service manager's socket and journal stream belong to the scheduler: a task that inherited
// the socket could report states in the service's name, and one that inherited the others would
// take its output for the service's journal stream and its run for the service's invocation.
bool IsServiceManagerVariable(std::string_view entry) {
    return entry.starts_with("NOTIFY_SOCKET=") || entry.starts_with("JOURNAL_STREAM=") ||
           entry.starts_with("INVOCATION_ID=");
}

std::vector<char*> ChildEnvironment(bool keepDisplay) {
    std::vector<char*> result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (!IsServiceManagerVariable(*entry) && (keepDisplay || !IsDisplayVariable(*entry))) {
            result.push_back(*entry);
        }
    }
    result.push_back(nullptr);
    return result;
}

std::vector<char*> ArgumentVector(const TProcessStart& start) {
    std::vector<char*> argv;
    argv.reserve(start.Arguments.size() + 2);
    argv.push_back(const_cast<char*>(start.Program.c_str()));
    for (const std::string& argument : start.Arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// The program's path as the caller sees it: the working directory change happens in the child
// before the program is looked up, so a relative path would otherwise name another file.
std::optional<std::string> ExecutablePath(const std::string& program) {
    if (program.starts_with('/')) {
        return program;
    }
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer) + "/" + program;
}

// Applied to the running child: the spawn cannot set a nice value, and setting an idle class
// before the exec would let the exec itself, which the caller waits for, starve on a busy
// machine. The price is that the program's first instants (its loader) run at the caller's
// priority. Refusals are ignored: a priority the account may not take leaves the inherited one.
void ApplyPriority(pid_t pid, TProcessPriority priority) {
    for (const TNiceLevel& level : NiceLevels) {
        if (level.Priority != priority) {
            continue;
        }
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), level.Nice);
        if (level.Idle) {
            sched_param param{};
            ::sched_setscheduler(pid, SCHED_IDLE, &param);
        }
    }
}

// Any process with this id, whoever started it. A zombie's exit status is shown in the last
// field of its stat line to those allowed to trace it, and as 0 to others.
std::optional<TProcessState> SystemState(pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const TFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return std::nullopt;
    }
    char buffer[1024];
    const ssize_t length = ::read(fd.Get(), buffer, sizeof buffer);
    if (length <= 0) {
        return std::nullopt; // it went between the open and the read
    }
    std::string_view line(buffer, static_cast<std::size_t>(length));
    // The command name may hold blanks and parentheses; the fields start after the last ')'.
    auto nameEnd = line.rfind(')');
    if (nameEnd == std::string_view::npos || nameEnd + 2 >= line.size()) {
        return Running();
    }
    std::string_view fields = line.substr(nameEnd + 2);
    if (fields.front() != 'Z' && fields.front() != 'X') {
        return Running();
    }
    constexpr int ExitCodeField = 49; // field 52 of the line, counted from the state
    int field = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < fields.size() && field < ExitCodeField; ++i) {
        if (fields[i] == ' ') {
            ++field;
            start = i + 1;
        }
    }
    if (field < ExitCodeField) {
        return Ended(TEndStatus{});
    }
    return Ended(ExitStatus(std::atoi(std::string(fields.substr(start)).c_str())));
}

} // namespace

std::uint32_t StartProcess(const TProcessStart& start) {
    TChildren* children = nullptr;
    try {
        children = &TChildren::Instance();
    } catch (const std::system_error&) {
        return 0;
    }
    if (start.Program.empty()) {
        return 0;
    }
    auto path = ExecutablePath(start.Program);
    if (!path) {
        return 0;
    }
    // Ours is closed once the program holds its copies.
    const TFd journal = start.OutputTag.empty() ? TFd() : OpenJournalStream(start.OutputTag);
    const int output = journal.Valid() ? journal.Get() : children->NullDevice();
    TSpawnActions actions;
    TSpawnAttributes attributes;
    if (!actions.Streams(children->NullDevice(), output, output) ||
        !actions.WorkingDirectory(start.WorkDir) || !actions.CloseTheRest() ||
        !attributes.Prepare()) {
        return 0;
    }
    std::vector<char*> argv = ArgumentVector(start);
    std::vector<char*> envp = ChildEnvironment(start.KeepDisplay);
    // glibc runs the child on the caller's memory until the exec and returns the exec's
    // failure here, so a program that cannot run is a failed start, not a child that dies.
    pid_t pid = 0;
    if (::posix_spawn(&pid, path->c_str(), actions.Get(), attributes.Get(), argv.data(),
                      envp.data()) != 0) {
        return 0;
    }
    ApplyPriority(pid, start.Priority);
    children->Follow(pid, start.KeepEnd);
    return static_cast<std::uint32_t>(pid);
}

bool FollowProcess(std::uint32_t processId, std::uint32_t owner) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        return false;
    }
    auto pid = static_cast<pid_t>(processId);
    TChildren* children = TChildren::Existing();
    if (children != nullptr) {
        if (auto state = children->PendingState(pid)) {
            return state->Kind == TProcessState::TKind::Running;
        }
    }
    TTakenOver& taken = TTakenOver::Instance();
    if (taken.Follow(pid, owner)) {
        if (children != nullptr) {
            children->ForgetFinished(pid); // the id is another process's now
        }
        return true;
    }
    // Ended at once: with the exit status of the last child of ours that had the id, if any.
    if (children != nullptr && children->FinishedCode(pid)) {
        taken.Forget(pid);
    }
    return false;
}

// Ours first, then the system: an id that a process of ours had stays that process's, however
// the system reuses it. Only one of ours can hold an id: a start or a take-over forgets the rest.
TProcessState QueryProcess(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        return {};
    }
    auto pid = static_cast<pid_t>(processId);
    TChildren* children = TChildren::Existing();
    if (children != nullptr) {
        if (auto state = children->PendingState(pid)) {
            return *state;
        }
    }
    if (auto state = TTakenOver::Instance().State(pid)) {
        return *state;
    }
    if (children != nullptr) {
        if (auto status = children->FinishedCode(pid)) {
            return Ended(*status);
        }
    }
    if (auto state = SystemState(pid)) {
        return *state;
    }
    return {};
}

std::optional<TProcessEnd> TakeProcessEnd(std::uint32_t processId) {
    TChildren* children = TChildren::Existing();
    if (children == nullptr || processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        return TProcessEnd{};
    }
    return children->TakeEnd(static_cast<pid_t>(processId));
}

void SetProcessEndHook(std::function<void()> hook) {
    std::lock_guard lock(hookMutex);
    endHook = std::move(hook);
}

std::string SignalName(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation == nullptr ? std::string{} : "SIG" + std::string(abbreviation);
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

namespace {

// The program file of a process; a file replaced since it started reads with " (deleted)".
std::string ProcessProgram(const std::string& process) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink((process + "/exe").c_str(), target.data(), target.size());
    if (length <= 0) {
        return {};
    }
    target.resize(static_cast<std::size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

// The second word of the process's command line.
std::string FirstArgument(const std::string& process) {
    const TFd fd(::open((process + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
    std::string line(4096, '\0');
    const ssize_t got = fd.Valid() ? ::read(fd.Get(), line.data(), line.size()) : -1;
    line.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t end = line.find('\0');
    return end == std::string::npos ? std::string() : std::string(line.c_str() + end + 1);
}

} // namespace

std::vector<TProgramProcess> ProcessesOf(const std::string& programFile) {
    std::vector<TProgramProcess> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    for (const dirent* entry = ::readdir(proc); entry != nullptr; entry = ::readdir(proc)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == 0 || pid > UINT32_MAX) {
            continue;
        }
        const std::string process = std::string("/proc/") + entry->d_name;
        if (ProcessProgram(process) == programFile) {
            found.push_back({static_cast<std::uint32_t>(pid), FirstArgument(process)});
        }
    }
    ::closedir(proc);
    return found;
}

} // namespace tarvok::platform
