// The service manager as a service and its installer see it.
//
// A service program hands its entry point to TServiceDispatcher::Run, which succeeds only when
// the service manager started the program. The entry point runs on a thread of its own; it
// registers a control handler and reports its status. Controls reach the handler on the thread
// that called Run. Installation places and removes the service's definition.
//
//   TServiceDispatcher dispatcher;
//   int error = dispatcher.Run("TarvokService", [&] {
//       dispatcher.RegisterHandler("TarvokService", [](std::uint32_t control) { ... });
//       dispatcher.SetStatus(status);   // ... until the service has stopped
//   });
//
// Failures are error numbers (0 = success) of the system's kind; their text is
// ErrorText(error) (platform/ErrorText.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarvok::platform {

namespace ServiceState {
inline constexpr std::uint32_t Stopped = 1;
inline constexpr std::uint32_t StartPending = 2;
inline constexpr std::uint32_t StopPending = 3;
inline constexpr std::uint32_t Running = 4;
inline constexpr std::uint32_t Paused = 7;
} // namespace ServiceState

namespace ServiceControlCode {
inline constexpr std::uint32_t Stop = 1;
inline constexpr std::uint32_t Pause = 2;
inline constexpr std::uint32_t Continue = 3;
inline constexpr std::uint32_t Interrogate = 4;
inline constexpr std::uint32_t Shutdown = 5;
} // namespace ServiceControlCode

// The service status record: seven 32-bit fields in this order.
struct TServiceStatus {
    std::uint32_t ServiceType = 0;
    std::uint32_t CurrentState = 0;
    std::uint32_t ControlsAccepted = 0;
    std::uint32_t ExitCode = 0;
    std::uint32_t ServiceSpecificExitCode = 0;
    std::uint32_t CheckPoint = 0;
    std::uint32_t WaitHint = 0; // milliseconds

    friend bool operator==(const TServiceStatus&, const TServiceStatus&) = default;
};

using TControlHandler = std::function<void(std::uint32_t control)>;

// What a running service asks of the service manager.
class TServiceControl {
public:
    virtual ~TServiceControl() = default;
    virtual int RegisterHandler(const std::string& serviceName, TControlHandler handler) = 0;
    virtual int SetStatus(const TServiceStatus& status) = 0;
};

// The dispatcher of the machine's service manager. Stop, pause, continue and interrogate
// arrive as the Stop, Pause, Continue and Interrogate codes.
class TServiceDispatcher final : public TServiceControl {
public:
    // Runs serviceMain on a thread of its own and delivers controls to the handler it registers,
    // on the calling thread, until serviceMain returns. Fails at once, without calling
    // serviceMain, when the service manager did not start the program. Must be called before
    // the program starts any thread of its own: the controls are taken from every thread's
    // signal mask for as long as it runs.
    int Run(const std::string& serviceName, const std::function<void()>& serviceMain);
    // As Run, for a service run by hand in the foreground (a container's entry point, a trial
    // in a terminal): it runs whether or not the service manager started the program, the same
    // signals are its controls, and a status that no service manager takes is no failure.
    int RunInForeground(const std::string& serviceName, const std::function<void()>& serviceMain);

    // Only the service being run may register, and only while it runs.
    int RegisterHandler(const std::string& serviceName, TControlHandler handler) override;
    int SetStatus(const TServiceStatus& status) override;

private:
    int Dispatch(const std::string& serviceName, const std::function<void()>& serviceMain);
    void Wake();

    std::atomic<bool> foreground_{false};
    std::mutex mutex_;
    std::string serviceName_;
    TControlHandler handler_;
    std::atomic<int> wakeFd_{-1};
};

// The definition of a service to install.
struct TServiceDefinition {
    std::string Name;
    std::string DisplayName;
    std::string ProgramPath; // full path, started without arguments
};

// The service manager as seen by an installer and an administrator's tools: the place of the
// service definitions and the manager's steps on them, all replaceable so tests touch none.
class TServiceManager {
public:
    struct TSettings {
        std::string UnitDirectory;
        std::function<int()> Reload; // error number
        std::function<bool()> Runs;  // whether this machine runs the service manager at all
        // Takes back what enabling the unit made (its start at boot); error number.
        std::function<int(const std::string& unit)> Disable;
        // Delivers a control to the unit's main process alone; empty, or the manager's reason.
        std::function<std::string(const std::string& unit, std::uint32_t control)> Control;
    };
    // The machine's own service manager.
    static TSettings SystemSettings();

    explicit TServiceManager(TSettings settings = SystemSettings());

    // Whether this machine runs the service manager at all.
    bool Runs() const;
    // 0 when the service manager runs and its definitions may be written here.
    int Open() const;
    // EEXIST when a definition of that name is already in place; nothing is left behind by a
    // failure, whether writing or reloading failed.
    int CreateService(const TServiceDefinition& service) const;
    // ENOENT when no such service is installed.
    int OpenService(const std::string& name) const;
    // Disables the service first, so that nothing of it is left to start at boot; a failure to
    // disable leaves the definition in place.
    int DeleteService(const std::string& name) const;
    // Pause and Continue go to the running service's main process only, never to the programs
    // it started. Empty on success, else why not, in the service manager's words.
    std::string ControlService(const std::string& name, std::uint32_t control) const;

    std::string DefinitionFile(const std::string& name) const;

private:
    TSettings settings_;
};

// Delivers a control to a service run by hand in the foreground (platform/Process.h finds it),
// as its dispatcher takes it. Empty on success, else why not.
std::string ControlForegroundService(std::uint32_t processId, std::uint32_t control);

} // namespace tarvok::platform
