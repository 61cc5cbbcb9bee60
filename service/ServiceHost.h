// The service around the scheduler thread: its entry point, its control handler and its events.
//
// ServiceMain runs on the dispatcher's service thread: it registers ServiceHandler, reports the
// service starting and running, creates the scheduler thread and then, once per pass (500 ms),
// follows the state that the handler sets: it resumes or holds the thread and tells the manager
// "SS" (once, on the pass that first resumes the thread), "SR" (running) or "SP" (paused). It
// also tells the thread when the wall clock was set, which the thread, resting until its next
// minute, would not notice by itself. After a stop it ends the thread, reports the service
// stopped and sends "SD".
//
// ServiceHandler runs on the dispatcher's own thread, from the moment it is registered. The two
// share only single-word values. The current state is written by both: ServiceMain moves it on
// during start-up only from the state it set itself (a compare-and-swap), so a stop or pause that
// came meanwhile stays the state; the handler sets the stop request before it reports the stop.
#pragma once

#include "platform/EventLog.h"
#include "platform/ServiceControl.h"
#include "service/PassTimer.h"
#include "service/SchedulerThread.h"
#include "service/SvcLog.h"
#include "shared/Protocol.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvok {

inline constexpr const char* ServiceDisplayName = "Tarvok Scheduler 1.0";

// Own process, may interact with the desktop.
inline constexpr std::uint32_t ServiceType = 0x110;
inline constexpr std::uint32_t AcceptStopPauseContinue = 3;
inline constexpr std::uint32_t AcceptStopPauseContinueShutdown = 7;
inline constexpr std::uint32_t StopWaitHintMs = 1500;
// The exit code of a service that failed for a reason of its own (its service-specific code
// says which): the scheduler thread could not be made.
inline constexpr std::uint32_t ServiceSpecificError = 1066;

// Sends one status message to the manager; false when it did not arrive (nobody listens).
using TSendToManager = std::function<bool(const std::string& message)>;

// Milliseconds on a monotonic clock, wrapping at 2^32.
using TTickCount = std::function<std::uint32_t()>;
std::uint32_t SystemTickCount();

// True when the wall clock was set since the previous call.
using TClockSetCheck = std::function<bool()>;
TClockSetCheck SystemClockSetCheck();

struct TServiceHostParts {
    platform::TServiceControl& Control;
    platform::TEventLog& Events;
    TSendToManager SendToManager;
    TCreateSchedulerThread CreateThread;
    TPassPacer& Pacer; // one wait per pass of the status loop
    TTickCount TickCount = SystemTickCount;
    TClockSetCheck ClockWasSet = SystemClockSetCheck(); // asked once per pass
};

// The status record's raw form, as it travels with every event.
using TStatusBytes = std::array<std::uint8_t, 28>;
TStatusBytes StatusBytes(const platform::TServiceStatus& status);

class TServiceHost {
public:
    explicit TServiceHost(TServiceHostParts parts);

    void ServiceMain();
    void ServiceHandler(std::uint32_t control);
    // Writes one event, the current status record attached; never fails visibly.
    void ReportServiceEvent(TEventId id, const std::vector<std::string>& insertions = {});

    platform::TServiceStatus Status() const;
    bool StopRequested() const { return stopRequested_; }

private:
    int ReportStatus();
    void ReportStatusOrLog();
    void RunStatusLoop(TSchedulerThread& thread);
    void EndThread(std::unique_ptr<TSchedulerThread>& thread);

    TServiceHostParts parts_;

    // Moves a field shared with the handler on from `from`, unless the handler has written it
    // since.
    static void Advance(std::atomic<std::uint32_t>& field, std::uint32_t from, std::uint32_t to);

    // The status record, field by field. Both sides write the current state and the controls
    // accepted (ServiceMain through Advance until the service runs); every other field is
    // written by one side.
    std::atomic<std::uint32_t> serviceType_{0};
    std::atomic<std::uint32_t> currentState_{0};
    std::atomic<std::uint32_t> controlsAccepted_{0};
    std::atomic<std::uint32_t> exitCode_{0};
    std::atomic<std::uint32_t> specificExitCode_{0};
    std::atomic<std::uint32_t> checkPoint_{0};
    std::atomic<std::uint32_t> waitHint_{0};

    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint32_t> pauseTick_{0};
};

} // namespace tarvok
