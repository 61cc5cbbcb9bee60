#include "service/PausableThread.h"

#include <functional>
#include <gtest/gtest.h>

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
    std::function<void(int pass)> During;
    int Passes = 0;
    int Rests = 0;

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
