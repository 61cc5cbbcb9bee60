#include "service/PausableThread.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace tarvok {
namespace {

using namespace std::chrono_literals;

TEST(PassTimer, NextPassStaysOnTheGridAndSkipsMissedPasses) {
    struct TRow {
        int NowMs;
        int DueMs;
    };
    const TRow rows[] = {{0, 500},    {100, 500},   {499, 500},
                         {500, 1000}, {1200, 1500}, {10'000, 10'500}};
    const TPassClock::time_point previous{1h};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.NowMs);
        EXPECT_EQ(NextPassDue(previous, 500ms, previous + std::chrono::milliseconds(row.NowMs)),
                  previous + std::chrono::milliseconds(row.DueMs));
    }
}

TEST(WallClockWatch, SeesASetClockButNotTheTwoClocksMovingAlike) {
    using Wall = std::chrono::system_clock;
    const Wall::time_point wall{std::chrono::hours(500'000)};
    const TPassClock::time_point steady{1h};
    TWallClockWatch watch;
    EXPECT_FALSE(watch.WasSet(wall, steady)) << "a first reading has nothing to compare with";
    EXPECT_FALSE(watch.WasSet(wall + 500ms, steady + 500ms));
    // Read a little apart, as a busy machine may.
    EXPECT_FALSE(watch.WasSet(wall + 1030ms, steady + 1000ms));
    EXPECT_FALSE(watch.WasSet(wall + 1500ms, steady + 1530ms));
    EXPECT_TRUE(watch.WasSet(wall + 1h, steady + 2000ms)) << "set forward";
    EXPECT_FALSE(watch.WasSet(wall + 1h + 500ms, steady + 2500ms)) << "once only";
    EXPECT_TRUE(watch.WasSet(wall + 800ms, steady + 3000ms)) << "set back";
    EXPECT_TRUE(watch.WasSet(wall + 1300ms + 200ms, steady + 3500ms)) << "a fifth of a second";
}

TEST(IntervalPacer, KeepsItsGridUntilInterruptedAndThenWaitsNoMore) {
    TIntervalPacer pacer(20ms);
    const auto start = TPassClock::now();
    pacer.Wait();
    pacer.Wait();
    EXPECT_GE(TPassClock::now() - start, 40ms);

    // An hour each, unless the interrupt ends the wait under way and every later one.
    TIntervalPacer slow(1h);
    std::thread stopper([&] {
        std::this_thread::sleep_for(10ms);
        slow.Interrupt();
    });
    slow.Wait();
    stopper.join();
    slow.Wait();
}

// Counts passes and rests; every wait is bounded so that a fault fails instead of hanging.
class TProbe final : public TPausableThread {
public:
    TProbe() : TPausableThread(1ms) {}
    ~TProbe() override {
        Terminate();
        WaitFor();
    }
    bool WaitUntil(const std::function<bool()>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, done);
    }
    int PassCount() {
        std::lock_guard lock(mutex_);
        return Passes;
    }
    std::function<void(int pass)> During;
    int Passes = 0;
    int Rests = 0;
    TPassClock::duration Quiet = TPassClock::duration::zero();

protected:
    void Poll() override {
        int pass;
        {
            std::lock_guard lock(mutex_);
            pass = ++Passes;
        }
        changed_.notify_all();
        if (During) {
            During(pass);
        }
    }
    TPassClock::duration QuietSpan() const override { return Quiet; }
    void OnHeld() override {
        {
            std::lock_guard lock(mutex_);
            ++Rests;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

TEST(PausableThread, HeldBetweenPassesAndEndedWithoutAnotherPass) {
    TProbe probe;
    probe.During = [&](int pass) {
        if (pass == 3) {
            probe.Hold(); // the host holds while a pass is under way
        }
    };
    probe.Resume();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Rests == 1; }));
    EXPECT_EQ(probe.Passes, 3) << "the hold cut a pass short or let another one run";

    probe.Resume();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes >= 5; }));
    probe.Hold();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Rests == 2; }));
    const int passes = probe.Passes;
    probe.Terminate();
    probe.WaitFor();
    EXPECT_EQ(probe.Passes, passes);
}

// With an interval of a millisecond, a tenth of a second without a pass is a hundred left out.
TEST(PausableThread, AQuietThreadPassesOnlyWhenWoken) {
    TProbe probe;
    probe.Quiet = 1h;
    probe.Resume();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(probe.PassCount(), 1) << "passed while it had nothing to do";

    probe.Wake();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes == 2; }));
    probe.WallClockSet();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes == 3; }));
    // Many wakes before it comes round bring one pass, not one each.
    probe.During = [&](int pass) {
        if (pass == 4) {
            for (int i = 0; i < 100; ++i) {
                probe.Wake();
            }
        }
    };
    probe.Wake();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes == 5; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(probe.PassCount(), 5);

    // Held, a wake waits for the release.
    probe.Hold();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Rests == 1; }));
    probe.Wake();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(probe.PassCount(), 5);
    probe.Resume();
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Passes == 6; }));

    // The end does not wait for the hour's rest to run out.
    probe.Terminate();
    probe.WaitFor();
    EXPECT_EQ(probe.Passes, 6);
}

TEST(PausableThread, NeverResumedRunsNothingAndEndsAtOnce) {
    TProbe probe;
    probe.Terminate();
    probe.WaitFor();
    probe.Resume(); // too late: the loop ends before its first pass
    probe.WaitFor();
    EXPECT_EQ(probe.Passes, 0);
}

} // namespace
} // namespace tarvok
