// The pace of the service's loops: one pass every interval on the monotonic clock.
//
// Pass times stay on the grid set by the first one, however long a pass takes; a pass that
// comes late is not made up for by a burst of passes, the next one simply waits for the next
// grid point.
#pragma once

#include "platform/WakeEvent.h"

#include <chrono>
#include <optional>

namespace tarvok {

using TPassClock = std::chrono::steady_clock;

// The first grid point later than now, the grid running from the previous pass in steps of
// interval.
//   NextPassDue(t, 500ms, t + 100ms)  == t + 500ms
//   NextPassDue(t, 500ms, t + 1200ms) == t + 1500ms   (t + 1000ms was missed)
TPassClock::time_point NextPassDue(TPassClock::time_point previous, TPassClock::duration interval,
                                   TPassClock::time_point now);

// Tells whether the wall clock was set between two readings, each a look at the wall clock and
// the monotonic one taken together: left alone, both move alike.
class TWallClockWatch {
public:
    // False for the first reading.
    bool WasSet(std::chrono::system_clock::time_point wall, TPassClock::time_point monotonic);

private:
    // Far above what lies between two readings taken together, even on a busy machine, and below
    // anything a scheduler timed to the minute would mind.
    static constexpr std::chrono::milliseconds Tolerance{100};
    std::optional<std::chrono::nanoseconds> offset_;
};

// What a loop waits on between two passes.
class TPassPacer {
public:
    virtual ~TPassPacer() = default;
    // Returns when the next pass is due, or at once after Interrupt.
    virtual void Wait() = 0;
    // Ends the current wait and every later one; from any thread.
    virtual void Interrupt() = 0;
};

// Wait is for one thread, Interrupt for any.
class TIntervalPacer final : public TPassPacer {
public:
    explicit TIntervalPacer(TPassClock::duration interval) : interval_(interval) {}
    void Wait() override;
    void Interrupt() override { interrupted_.Raise(); }

private:
    const TPassClock::duration interval_;
    TPassClock::time_point due_{};
    bool started_ = false;
    platform::TWakeEvent interrupted_;
};

} // namespace tarvok
