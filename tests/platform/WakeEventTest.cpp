#include "platform/WakeEvent.h"

#include <gtest/gtest.h>
#include <thread>

namespace tarvok::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WakeEvent, WaitsOutItsDeadlineUnlessRaised) {
    TWakeEvent event;
    const auto deadline = Clock::now() + 50ms;
    EXPECT_FALSE(event.WaitUntil(deadline));
    EXPECT_GE(Clock::now(), deadline);
    EXPECT_FALSE(event.WaitUntil(Clock::now() - 1s)) << "a deadline gone by";
}

TEST(WakeEvent, ARaiseFromAnotherThreadEndsTheWaitAndEveryLaterOne) {
    TWakeEvent event;
    std::thread raiser([&] {
        std::this_thread::sleep_for(20ms);
        event.Raise();
    });
    // An hour: only the raise can end it in the test's time.
    EXPECT_TRUE(event.WaitUntil(Clock::now() + 1h));
    raiser.join();
    EXPECT_TRUE(event.Raised());
    EXPECT_TRUE(event.WaitUntil(Clock::now() + 1h));
}

} // namespace
} // namespace tarvok::platform
