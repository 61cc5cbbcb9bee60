#include "service/PassTimer.h"

namespace tarvok {

TPassClock::time_point NextPassDue(TPassClock::time_point previous, TPassClock::duration interval,
                                   TPassClock::time_point now) {
    const auto elapsed = now - previous;
    if (elapsed < interval) {
        return previous + interval;
    }
    return previous + (elapsed / interval + 1) * interval;
}

bool TWallClockWatch::WasSet(std::chrono::system_clock::time_point wall,
                             TPassClock::time_point monotonic) {
    const auto offset = wall.time_since_epoch() - monotonic.time_since_epoch();
    const bool set = offset_ && std::chrono::abs(offset - *offset_) > Tolerance;
    offset_ = offset;
    return set;
}

void TIntervalPacer::Wait() {
    const auto now = TPassClock::now();
    due_ = started_ ? NextPassDue(due_, interval_, now) : now + interval_;
    started_ = true;
    interrupted_.WaitUntil(due_);
}

} // namespace tarvok
