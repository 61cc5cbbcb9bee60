// A worker thread that runs one pass of work per interval and can be held between passes.
//
// Created suspended: nothing runs before the first Resume. A hold takes effect at the top of the
// loop, between two passes: a pass in progress finishes first, and a held thread holds nothing
// that another thread could wait for. Termination ends the loop at the same place.
//
// A worker that knows it has nothing to do for a while says so (QuietSpan) and skips the passes
// of that span; Wake brings the next pass back to the next point of the grid. An idle thread
// then costs no wake-up at all, rather than one per interval.
//
//   class TWorker : public TPausableThread {
//       void Poll() override { ... one pass ... }
//   };
//
// A derived class that owns what Poll uses must end the thread (Terminate, WaitFor) before its
// own members go; the base destructor does so too, but only after they are gone.
#pragma once

#include "service/PassTimer.h"
#include "service/SchedulerThread.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace tarvok {

class TPausableThread : public TSchedulerThread {
public:
    explicit TPausableThread(TPassClock::duration interval = std::chrono::milliseconds(500));
    ~TPausableThread() override;
    TPausableThread(const TPausableThread&) = delete;
    TPausableThread& operator=(const TPausableThread&) = delete;

    void Resume() override;
    void Hold() override;
    void Terminate() override;
    void WaitFor() override;
    // Something for the thread to do came up: its next pass is the next one on the grid, however
    // long it meant to rest. From any thread; a held thread sees to it once released.
    void Wake() { Request(TWake::OnGrid); }
    // A pass at once: what the rest was timed by has moved. A minute's first second is short.
    void WallClockSet() override { Request(TWake::AtOnce); }

protected:
    // The thread's body. The default runs Poll once per pass until termination is requested;
    // an override that does more keeps the loop as `while (NextPass()) ...`.
    virtual void Execute();
    virtual void Poll() = 0;
    // When the pass after the one due at `previous` is due, seen at `now` (on resuming, both are
    // the resume time). The default keeps a steady grid of intervals.
    virtual TPassClock::time_point NextPassAfter(TPassClock::time_point previous,
                                                 TPassClock::time_point now) const;
    // Called on the thread each time it comes to rest in a hold, before it waits.
    virtual void OnHeld() {}
    // Asked on the thread after each pass: how long from now it may go without a pass unless
    // woken. Zero (the default) keeps every pass of the grid; a span ending between two grid
    // points is met by a pass at its end.
    virtual TPassClock::duration QuietSpan() const { return TPassClock::duration::zero(); }

    // Rests while held, then waits until the next pass is due. False once termination has been
    // requested, whether the thread was waiting, held or working meanwhile.
    bool NextPass();
    bool Terminated() const;

private:
    enum class TWake : std::uint8_t { None, OnGrid, AtOnce }; // in rising urgency
    void Request(TWake wake);

    const TPassClock::duration interval_;
    TPassClock::time_point due_{};
    TPassClock::time_point lastPass_{}; // where the grid stands
    bool started_ = false;
    bool held_ = false;
    bool terminated_ = false;
    bool passed_ = false; // a pass ran since the thread last asked how long to rest; its own
    TWake woken_ = TWake::None;
    // When the pass that answers a wake is due, once the thread has seen the wake.
    std::optional<TPassClock::time_point> wokenDue_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

} // namespace tarvok
