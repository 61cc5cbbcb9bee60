// What the service host does with the scheduler thread, and nothing more.
//
// The host creates the thread suspended, resumes it, holds it while the service is paused,
// releases it again, tells it when the wall clock was set, and at the end requests termination,
// waits for it and destroys it. All calls come from the one thread that runs the service entry
// point.
#pragma once

#include <functional>
#include <memory>

namespace tarvok {

class TSchedulerThread {
public:
    virtual ~TSchedulerThread() = default;
    // Starts the thread the first time; afterwards releases a hold.
    virtual void Resume() = 0;
    // The thread comes to rest between two passes of its loop, never inside one; the call does
    // not wait for that.
    virtual void Hold() = 0;
    // Asks the thread to end; a held thread ends without another pass.
    virtual void Terminate() = 0;
    // Returns once the thread has ended (at once when it never started).
    virtual void WaitFor() = 0;
    // The wall clock was set: whatever the thread timed by it must be timed anew.
    virtual void WallClockSet() = 0;
};

// Creates the thread suspended; may raise when the thread cannot do its work.
using TCreateSchedulerThread = std::function<std::unique_ptr<TSchedulerThread>()>;

} // namespace tarvok
