#include "manager/SchedTimers.h"

#include <atomic>
#include <mutex>

namespace tarvok {

namespace {

constexpr std::int64_t TickGridMs = 1000;

} // namespace

// What the slot's reader thread holds on to: it may call the hook after the timers are gone.
struct TSchedulerTimers::TRelay {
    std::mutex Mutex;
    TSchedulerTimers* Timers = nullptr; // under Mutex; none once the timers go
    // A drain is posted and has not begun: arrivals meanwhile need no second one.
    std::atomic<bool> Posted{false};

    void Post() {
        if (Posted.exchange(true)) {
            return;
        }
        std::lock_guard lock(Mutex);
        if (Timers != nullptr) {
            QMetaObject::invokeMethod(
                Timers, [timers = Timers] { timers->Drain(); }, Qt::QueuedConnection);
        }
    }
};

TSchedulerTimers::TSchedulerTimers(TScheduler& scheduler, const TClock& clock, QObject* parent)
    : QObject(parent), scheduler_(scheduler), clock_(clock), relay_(std::make_shared<TRelay>()) {
    relay_->Timers = this;
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

TSchedulerTimers::~TSchedulerTimers() {
    scheduler_.Channel().SetArrivalHook(nullptr);
    std::lock_guard lock(relay_->Mutex);
    relay_->Timers = nullptr;
}

void TSchedulerTimers::Start(bool readMessages) {
    timer_.start(static_cast<int>(MsToNextGridPoint(clock_.Now(), TickGridMs)));
    readsMessages_ = readMessages;
    if (readMessages) {
        scheduler_.Channel().SetArrivalHook([relay = relay_] { relay->Post(); });
        relay_->Post();
    }
}

void TSchedulerTimers::Hold(bool hold) {
    if (hold) {
        tickedBeforeHold_ = timer_.isActive();
        timer_.stop();
    } else if (tickedBeforeHold_) {
        timer_.start(static_cast<int>(MsToNextGridPoint(clock_.Now(), TickGridMs)));
    }
}

void TSchedulerTimers::Tick() {
    timer_.start(static_cast<int>(MsToNextGridPoint(clock_.Now(), TickGridMs)));
    scheduler_.OnTimer();
}

void TSchedulerTimers::Drain() {
    // Cleared first: a message that comes during the drain posts the next one.
    relay_->Posted = false;
    if (scheduler_.DrainMessages()) {
        relay_->Post();
    }
}

} // namespace tarvok
