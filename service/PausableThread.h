// A worker thread that runs one pass of work per interval and can be held between passes.
//
// Created suspended: nothing runs before the first Resume. A hold takes effect at the top of the
// loop, between two passes: a pass in progress finishes first, and a held thread holds nothing
// that another thread could wait for. Termination ends the loop at the same place.
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
#include <mutex>
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

    // Rests while held, then waits until the next pass is due. False once termination has been
    // requested, whether the thread was waiting, held or working meanwhile.
    bool NextPass();
    bool Terminated() const;

private:
    const TPassClock::duration interval_;
    TPassClock::time_point due_{};
    bool started_ = false;
    bool held_ = false;
    bool terminated_ = false;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

} // namespace tarvok
