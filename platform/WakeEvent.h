// A flag that one thread raises and another waits for, with a deadline on the monotonic clock.
//
// It costs the waiter one call into the system per wait and nothing on the way out, which
// matters to a loop that does little else twice a second.
//
//     TWakeEvent stop;
//     while (!stop.WaitUntil(std::chrono::steady_clock::now() + 500ms)) ... // one pass
//     stop.Raise();                                                          // elsewhere
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarvok::platform {

class TWakeEvent {
public:
    // Raises the flag for good and ends every present and future wait; from any thread.
    void Raise();
    bool Raised() const { return raised_.load(std::memory_order_acquire) != 0; }
    // Returns at the deadline, or earlier once the flag is raised; true when it is raised.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::atomic<std::uint32_t> raised_{0};
};

} // namespace tarvok::platform
