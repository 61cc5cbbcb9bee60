// The service manager is systemd: the program runs as a Type=notify unit, its status goes out
// with sd_notify, and the controls arrive as signals which the dispatching thread reads from a
// signalfd and turns into control codes.
#include "platform/ServiceControl.h"

#include "platform/ErrorText.h"
#include "platform/posix/Descriptor.h"
#include "platform/posix/SystemdUnits.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <thread>
#include <unistd.h>

namespace tarvok::platform {

namespace {

struct TSignalControl {
    int Signal;
    std::uint32_t Control;
};

// systemctl stop sends SIGTERM; pause, continue and interrogate are sent by hand
// (systemctl kill -s USR1 TarvokService).
constexpr std::array<TSignalControl, 5> SignalControls = {{
    {SIGTERM, ServiceControlCode::Stop},
    {SIGINT, ServiceControlCode::Stop},
    {SIGUSR1, ServiceControlCode::Pause},
    {SIGUSR2, ServiceControlCode::Continue},
    {SIGHUP, ServiceControlCode::Interrogate},
}};

struct TStateName {
    std::uint32_t State;
    const char* Name;
};

constexpr std::array<TStateName, 5> StateNames = {{
    {ServiceState::Stopped, "Stopped"},
    {ServiceState::StartPending, "Starting"},
    {ServiceState::StopPending, "Stopping"},
    {ServiceState::Running, "Running"},
    {ServiceState::Paused, "Paused"},
}};

sigset_t ControlSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const TSignalControl& entry : SignalControls) {
        sigaddset(&set, entry.Signal);
    }
    return set;
}

std::uint32_t ControlFor(std::uint32_t signal) {
    for (const TSignalControl& entry : SignalControls) {
        if (static_cast<std::uint32_t>(entry.Signal) == signal) {
            return entry.Control;
        }
    }
    return 0;
}

// The first signal of the control: the one a control sent by hand travels as.
int SignalFor(std::uint32_t control) {
    for (const TSignalControl& entry : SignalControls) {
        if (entry.Control == control) {
            return entry.Signal;
        }
    }
    return 0;
}

std::string StateName(std::uint32_t state) {
    for (const TStateName& entry : StateNames) {
        if (entry.State == state) {
            return entry.Name;
        }
    }
    return "State " + std::to_string(state);
}

std::string NotifyText(const TServiceStatus& status) {
    std::string text;
    if (status.CurrentState == ServiceState::Running) {
        text += "READY=1\n";
    }
    if (status.CurrentState == ServiceState::StopPending) {
        text += "STOPPING=1\n";
        if (status.WaitHint != 0) {
            text += "EXTEND_TIMEOUT_USEC=" +
                    std::to_string(static_cast<std::uint64_t>(status.WaitHint) * 1000) + "\n";
        }
    }
    return text + "STATUS=" + StateName(status.CurrentState);
}

// Controls that arrived after the service ended are answered by nobody; they must not hit the
// program with their default action once they are unblocked.
void DiscardPendingControls(const sigset_t& controls) {
    const timespec noWait{};
    for (std::size_t i = 0; i < 2 * SignalControls.size(); ++i) {
        if (::sigtimedwait(&controls, nullptr, &noWait) < 0) {
            return;
        }
    }
}

bool StartedByServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

} // namespace

int TServiceDispatcher::Run(const std::string& serviceName,
                            const std::function<void()>& serviceMain) {
    if (!StartedByServiceManager()) {
        return ENOTCONN;
    }
    return Dispatch(serviceName, serviceMain);
}

int TServiceDispatcher::RunInForeground(const std::string& serviceName,
                                        const std::function<void()>& serviceMain) {
    foreground_ = true;
    const int error = Dispatch(serviceName, serviceMain);
    foreground_ = false;
    return error;
}

int TServiceDispatcher::Dispatch(const std::string& serviceName,
                                 const std::function<void()>& serviceMain) {
    {
        std::lock_guard lock(mutex_);
        if (!serviceName_.empty()) {
            return EBUSY;
        }
        serviceName_ = serviceName;
    }
    const sigset_t controls = ControlSignals();
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &controls, &previous);
    const TFd signalFd(::signalfd(-1, &controls, SFD_CLOEXEC));
    const TFd wakeFd(::eventfd(0, EFD_CLOEXEC));
    const int error = (!signalFd.Valid() || !wakeFd.Valid()) ? errno : 0;

    if (error == 0) {
        wakeFd_ = wakeFd.Get();
        std::atomic<bool> ended{false};
        std::thread service([&] {
            serviceMain();
            ended = true;
            Wake();
        });
        // Signals stay pending until the service has a handler for them.
        for (bool handling = false; !ended;) {
            pollfd fds[2] = {{wakeFd.Get(), POLLIN, 0}, {signalFd.Get(), POLLIN, 0}};
            if (::poll(fds, handling ? 2 : 1, -1) < 0) {
                continue; // EINTR; nothing else can fail with two valid descriptors
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count;
                [[maybe_unused]] ssize_t got = ::read(wakeFd.Get(), &count, sizeof count);
                std::lock_guard lock(mutex_);
                handling = static_cast<bool>(handler_);
            }
            signalfd_siginfo info;
            if (handling && (fds[1].revents & POLLIN) &&
                ::read(signalFd.Get(), &info, sizeof info) == sizeof info) {
                TControlHandler handler;
                {
                    std::lock_guard lock(mutex_);
                    handler = handler_;
                }
                if (std::uint32_t control = ControlFor(info.ssi_signo); control != 0) {
                    handler(control);
                }
            }
        }
        service.join();
        wakeFd_ = -1;
    }

    DiscardPendingControls(controls);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    std::lock_guard lock(mutex_);
    serviceName_.clear();
    handler_ = nullptr;
    return error;
}

int TServiceDispatcher::RegisterHandler(const std::string& serviceName, TControlHandler handler) {
    {
        std::lock_guard lock(mutex_);
        if (serviceName_.empty()) {
            return EINVAL;
        }
        if (serviceName != serviceName_ || !handler) {
            return ENOENT;
        }
        handler_ = std::move(handler);
    }
    Wake();
    return 0;
}

int TServiceDispatcher::SetStatus(const TServiceStatus& status) {
    int result = ::sd_notify(0, NotifyText(status).c_str());
    if (result < 0) {
        return -result;
    }
    // Nobody to notify: an error only for a service that the service manager claims to run.
    return result == 0 && !foreground_ ? ENOTCONN : 0;
}

void TServiceDispatcher::Wake() {
    const int fd = wakeFd_;
    if (fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(fd, &one, sizeof one);
    }
}

// --- Installation ---

namespace {

bool HasControlCharacters(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

// Unit files expand %-specifiers everywhere and split ExecStart into words, with quotes and
// backslash escapes; a path with a blank must stay one word.
std::string UnitEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '%') {
            escaped += "%%";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string ExecStartWord(const std::string& path) {
    std::string word;
    bool quote = false;
    for (char c : UnitEscaped(path)) {
        if (c == '\\' || c == '"') {
            word += '\\';
        }
        quote = quote || c == ' ' || c == '\t' || c == '"' || c == '\'' || c == ';' || c == '\\';
        word += c;
    }
    return quote ? '"' + word + '"' : word;
}

std::string UnitText(const TServiceDefinition& service) {
    // KillMode=process: stopping the service must not kill the tasks it started. A service that
    // fails (its slot could not be made) is started again after a pause, for ever: what stops it
    // is often gone a moment later, and a scheduler that gave up would run no task at all.
    return "[Unit]\n"
           "Description=" +
           UnitEscaped(service.DisplayName) +
           "\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           ExecStartWord(service.ProgramPath) +
           "\n"
           "KillMode=process\n"
           "Restart=on-failure\n"
           "RestartSec=5\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

int WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

// Writes a complete file beside the target and links it into place, so that the target appears
// whole or not at all and an existing one (even a dangling link) is never replaced: EEXIST.
int PlaceNewFile(const std::string& path, const std::string& content) {
    std::string temporary = path + ".XXXXXX";
    TFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return errno;
    }
    int error = ::fchmod(fd.Get(), 0644) != 0 ? errno : WriteAll(fd.Get(), content);
    if (error == 0 && ::fsync(fd.Get()) != 0) {
        error = errno;
    }
    if (fd.Close() != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::link(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    ::unlink(temporary.c_str());
    return error;
}

int ReloadSystemd() {
    sd_bus* bus = nullptr;
    int result = ::sd_bus_open_system(&bus);
    if (result >= 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        result = ::sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                      "org.freedesktop.systemd1.Manager", "Reload", &error, nullptr,
                                      nullptr);
        ::sd_bus_error_free(&error);
        ::sd_bus_flush_close_unref(bus);
    }
    return result < 0 ? -result : 0;
}

} // namespace

TServiceManager::TSettings TServiceManager::SystemSettings() {
    return {"/etc/systemd/system", ReloadSystemd, [] { return ::sd_booted() > 0; },
            systemd::DisableUnit,
            [](const std::string& unit, std::uint32_t control) {
                const int signal = SignalFor(control);
                return signal == 0 ? ErrorText(EINVAL) : systemd::KillMainProcess(unit, signal);
            }};
}

TServiceManager::TServiceManager(TSettings settings) : settings_(std::move(settings)) {}

namespace {

std::string UnitName(const std::string& name) {
    return name + ".service";
}

} // namespace

std::string TServiceManager::DefinitionFile(const std::string& name) const {
    return settings_.UnitDirectory + "/" + UnitName(name);
}

bool TServiceManager::Runs() const {
    return settings_.Runs && settings_.Runs();
}

int TServiceManager::Open() const {
    if (!Runs()) {
        return ESRCH; // the init system is not systemd: there is no service manager to talk to
    }
    return ::access(settings_.UnitDirectory.c_str(), W_OK) == 0 ? 0 : errno;
}

int TServiceManager::CreateService(const TServiceDefinition& service) const {
    if (service.ProgramPath.empty() || service.ProgramPath.front() != '/' ||
        HasControlCharacters(service.ProgramPath) || HasControlCharacters(service.DisplayName)) {
        return EINVAL; // a line break would add directives of its own to a unit run as root
    }
    const std::string path = DefinitionFile(service.Name);
    if (int error = PlaceNewFile(path, UnitText(service)); error != 0) {
        return error;
    }
    if (int error = settings_.Reload(); error != 0) {
        ::unlink(path.c_str());
        return error;
    }
    return 0;
}

int TServiceManager::OpenService(const std::string& name) const {
    struct stat info {};
    return ::lstat(DefinitionFile(name).c_str(), &info) == 0 ? 0 : errno;
}

int TServiceManager::DeleteService(const std::string& name) const {
    if (int error = settings_.Disable(UnitName(name)); error != 0) {
        return error;
    }
    if (::unlink(DefinitionFile(name).c_str()) != 0) {
        return errno;
    }
    return settings_.Reload();
}

std::string ControlForegroundService(std::uint32_t processId, std::uint32_t control) {
    const int signal = SignalFor(control);
    if (signal == 0 || processId == 0 || processId > INT32_MAX) {
        return ErrorText(EINVAL);
    }
    return ::kill(static_cast<pid_t>(processId), signal) == 0 ? std::string() : ErrorText(errno);
}

std::string TServiceManager::ControlService(const std::string& name, std::uint32_t control) const {
    return settings_.Control(UnitName(name), control);
}

} // namespace tarvok::platform
