#include "platform/WakeEvent.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarvok::platform {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
              "the futex word is the atomic itself");

// The steady clock is CLOCK_MONOTONIC, which is what an absolute futex wait counts in.
timespec MonotonicTime(std::chrono::steady_clock::time_point moment) {
    const auto sinceStart = moment.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceStart);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(sinceStart - seconds).count())};
}

std::uint32_t* Word(std::atomic<std::uint32_t>& flag) {
    return reinterpret_cast<std::uint32_t*>(&flag);
}

} // namespace

void TWakeEvent::Raise() {
    raised_.store(1, std::memory_order_release);
    ::syscall(SYS_futex, Word(raised_), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

bool TWakeEvent::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    const timespec until = MonotonicTime(deadline);
    while (!Raised()) {
        // Sleeps only while the word is still 0, so a raise between the test and the call
        // is never missed.
        if (::syscall(SYS_futex, Word(raised_), FUTEX_WAIT_BITSET_PRIVATE, 0u, &until, nullptr,
                      FUTEX_BITSET_MATCH_ANY) != 0 &&
            errno == ETIMEDOUT) {
            break;
        }
    }
    return Raised();
}

} // namespace tarvok::platform
