// The slot's arrivals reach the scheduler on the window thread, a burst in one drain, and a
// late arrival after the window is gone does nothing.
#include "manager/SchedTimers.h"

#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"
#include "tests/manager/FakeSchedulerWindow.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace tarvok {
namespace {

using namespace std::chrono_literals;

// A slot filled and rung from another thread, as the slot's reader thread does; it notes the
// thread of every read.
class TThreadedChannel final : public TManagerChannel {
public:
    void Deliver(const std::string& message) {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex_);
            inbox_.push_back(message);
            hook = hook_;
        }
        if (hook) {
            hook();
        }
    }
    TSlotMessage Receive() override {
        std::lock_guard lock(mutex_);
        readers_.push_back(std::this_thread::get_id());
        if (inbox_.empty()) {
            ++drains_;
            return {};
        }
        TSlotMessage message{inbox_.front(), 0};
        inbox_.pop_front();
        return message;
    }
    bool SlotExists(std::string_view) override { return true; }
    TSlotOpening OpenClientSlot() override { return TSlotOpening::Opened; }
    void CloseClientSlot() override {}
    bool Send(std::string_view) override { return true; }
    void SetArrivalHook(std::function<void()> hook) override {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    std::function<void()> Hook() {
        std::lock_guard lock(mutex_);
        return hook_;
    }
    int Drains() {
        std::lock_guard lock(mutex_);
        return drains_;
    }
    bool AllReadOn(std::thread::id thread) {
        std::lock_guard lock(mutex_);
        return std::all_of(readers_.begin(), readers_.end(),
                           [thread](std::thread::id id) { return id == thread; });
    }

private:
    std::mutex mutex_;
    std::deque<std::string> inbox_;
    std::function<void()> hook_;
    std::vector<std::thread::id> readers_;
    int drains_ = 0;
};

class SchedTimersTest : public testing_support::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        log_ = std::make_unique<TSysLogger>(Path("tarvok.log"), clock_);
        TTaskDef task = testing_support::DailyJob(1, "Backup", true);
        tasks_.AddTask(task, false);
        table_.Rebuild(tasks_);
        scheduler_ = std::make_unique<TScheduler>(TScheduler::TSetup{
            clock_, processes_, tasks_, table_, *log_, window_, channel_, serviceMode_});
    }

    // Handles the window thread's events until the condition holds; false after 10 s.
    static bool ProcessEventsUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    TFixedClock clock_{EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 40)};
    testing_support::TFakeProcesses processes_;
    TTaskList tasks_;
    TProcessTable table_;
    testing_support::TFakeSchedulerWindow window_;
    std::unique_ptr<TSysLogger> log_;
    TThreadedChannel channel_;
    bool serviceMode_ = true;
    std::unique_ptr<TScheduler> scheduler_;
};

TEST_F(SchedTimersTest, ABurstFromTheSlotsThreadIsDrainedOnceOnTheWindowThread) {
    TSchedulerTimers timers(*scheduler_, clock_);
    timers.Start(true);
    std::thread slotThread([this] {
        for (int i = 0; i < 500; ++i) {
            channel_.Deliver(i % 2 == 0 ? "TS 1 4711" : "TF 1 4711");
        }
        channel_.Deliver("TS 1 4712");
    });
    slotThread.join();
    ASSERT_TRUE(ProcessEventsUntil([this] { return table_.Find(1)->ProcessId == 4712; }));
    EXPECT_TRUE(channel_.AllReadOn(std::this_thread::get_id()));
    EXPECT_EQ(channel_.Drains(), 1) << "every arrival of the burst posted a drain of its own";
}

TEST_F(SchedTimersTest, AnArrivalAfterTheTimersAreGoneDoesNothing) {
    std::function<void()> lateHook;
    {
        TSchedulerTimers timers(*scheduler_, clock_);
        timers.Start(true);
        lateHook = channel_.Hook();
        ASSERT_TRUE(ProcessEventsUntil([this] { return channel_.Drains() == 1; }));
    }
    EXPECT_FALSE(channel_.Hook()) << "the slot still calls into the timers";
    channel_.Deliver("TS 1 4711");
    lateHook();
    QCoreApplication::processEvents();
    EXPECT_EQ(channel_.Drains(), 1);
    EXPECT_EQ(table_.Find(1)->ProcessId, 0u);
}

} // namespace
} // namespace tarvok
