#include "service/ServiceHost.h"

#include "platform/ErrorText.h"
#include "shared/RecordBytes.h"

#include <chrono>
#include <exception>

namespace tarvok {

namespace {

using namespace platform::ServiceState;
namespace Code = platform::ServiceControlCode;

} // namespace

std::uint32_t SystemTickCount() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

TClockSetCheck SystemClockSetCheck() {
    return [watch = TWallClockWatch()]() mutable {
        return watch.WasSet(std::chrono::system_clock::now(), TPassClock::now());
    };
}

TStatusBytes StatusBytes(const platform::TServiceStatus& status) {
    TStatusBytes bytes{};
    const std::uint32_t fields[] = {status.ServiceType,
                                    status.CurrentState,
                                    status.ControlsAccepted,
                                    status.ExitCode,
                                    status.ServiceSpecificExitCode,
                                    status.CheckPoint,
                                    status.WaitHint};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        record::Put<std::uint32_t>(bytes, 4 * i, fields[i]);
    }
    return bytes;
}

TServiceHost::TServiceHost(TServiceHostParts parts) : parts_(std::move(parts)) {}

platform::TServiceStatus TServiceHost::Status() const {
    return {serviceType_,      currentState_, controlsAccepted_, exitCode_,
            specificExitCode_, checkPoint_,   waitHint_};
}

void TServiceHost::ReportServiceEvent(TEventId id, const std::vector<std::string>& insertions) {
    const TStatusBytes raw = StatusBytes(Status());
    parts_.Events.Report({ServiceName, EventTypeOf(id), static_cast<std::uint32_t>(id),
                          EventText(id, insertions), EventFields(id, insertions), raw});
}

int TServiceHost::ReportStatus() {
    return parts_.Control.SetStatus(Status());
}

void TServiceHost::ReportStatusOrLog() {
    if (int error = ReportStatus(); error != 0) {
        ReportServiceEvent(TEventId::StatusUpdateFailed, {platform::ErrorText(error)});
    }
}

void TServiceHost::ServiceMain() {
    if (int error = parts_.Control.RegisterHandler(
            ServiceName, [this](std::uint32_t control) { ServiceHandler(control); });
        error != 0) {
        ReportServiceEvent(TEventId::RegisterHandlerFailed, {platform::ErrorText(error)});
        return;
    }

    // The handler may already have had its say: the other fields are still all zero, and a state
    // or the controls it set stay as they are.
    serviceType_ = ServiceType;
    Advance(controlsAccepted_, 0, AcceptStopPauseContinue);
    Advance(currentState_, 0, StartPending);
    if (int error = ReportStatus(); error != 0) {
        ReportServiceEvent(TEventId::StatusUpdateFailed, {platform::ErrorText(error)});
        return;
    }

    std::unique_ptr<TSchedulerThread> thread;
    try {
        thread = parts_.CreateThread();
    } catch (const std::exception& error) {
        // The service cannot work without its thread: it says so and ends as failed, so that
        // the service manager reports it and starts it again.
        ReportServiceEvent(TEventId::FailedToStart, {error.what()});
        exitCode_ = ServiceSpecificError;
        specificExitCode_ = 1;
        currentState_ = Stopped;
        ReportStatusOrLog();
        return;
    }

    // A stop or pause that came while the thread was being created stays the state to report.
    Advance(currentState_, StartPending, Running);
    if (int error = ReportStatus(); error != 0) {
        thread.reset();
        ReportServiceEvent(TEventId::StatusUpdateFailed, {std::to_string(error)});
        return;
    }
    ReportServiceEvent(TEventId::Started);

    RunStatusLoop(*thread);

    EndThread(thread);
    ReportServiceEvent(TEventId::Ended);
    currentState_ = Stopped;
    ReportStatusOrLog();
    parts_.SendToManager(FormatMessage(TMessageCode::ServiceStopped));
}

void TServiceHost::Advance(std::atomic<std::uint32_t>& field, std::uint32_t from,
                           std::uint32_t to) {
    field.compare_exchange_strong(from, to);
}

void TServiceHost::RunStatusLoop(TSchedulerThread& thread) {
    bool held = true; // created suspended: it has not run yet
    bool firstResume = true;
    std::string message; // kept from pass to pass: the pass that resumes after a pause says "SP"
    while (!stopRequested_) {
        const std::uint32_t state = currentState_;
        if (state == Paused) {
            if (!held) {
                thread.Hold();
                held = true;
            }
            message = FormatMessage(TMessageCode::ServicePaused);
        } else if (state == Running) {
            if (held) {
                thread.Resume();
                held = false;
                if (firstResume) {
                    message = FormatMessage(TMessageCode::ServiceStarted);
                    firstResume = false;
                }
            } else {
                message = FormatMessage(TMessageCode::ServiceRunning);
            }
        }
        if (!message.empty()) {
            parts_.SendToManager(message);
        }
        if (parts_.ClockWasSet()) {
            thread.WallClockSet();
        }
        parts_.Pacer.Wait();
    }
}

void TServiceHost::EndThread(std::unique_ptr<TSchedulerThread>& thread) {
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
}

void TServiceHost::ServiceHandler(std::uint32_t control) {
    switch (control) {
    case Code::Stop:
        currentState_ = StopPending;
        exitCode_ = specificExitCode_ = checkPoint_ = 0;
        waitHint_ = StopWaitHintMs;
        // Before the report: ServiceMain, seeing the stop, must find it requested.
        stopRequested_ = true;
        break;
    case Code::Pause:
        // Once stopping, the service stays stopping; a second pause keeps the first one's start.
        if (!stopRequested_ && currentState_ != Paused) {
            pauseTick_ = parts_.TickCount();
            currentState_ = Paused;
            ReportServiceEvent(TEventId::Paused);
        }
        break;
    case Code::Continue:
        // Only a paused service resumes; any other continue would report a pause that never was.
        if (!stopRequested_ && currentState_ == Paused) {
            currentState_ = Running;
            const std::uint32_t pausedMs = parts_.TickCount() - pauseTick_; // wraps like the tick
            ReportServiceEvent(TEventId::Resumed, {std::to_string(pausedMs)});
        }
        break;
    case Code::Interrogate:
        controlsAccepted_ = AcceptStopPauseContinueShutdown;
        break;
    default:
        ReportServiceEvent(TEventId::UnexpectedCode, {std::to_string(control)});
        break;
    }
    ReportStatusOrLog();
    if (stopRequested_) {
        parts_.Pacer.Interrupt();
    }
}

} // namespace tarvok
