#include "service/ServiceHost.h"

#include "service/TarvokSvc.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tarvok {
namespace {

using Strings = std::vector<std::string>;
namespace Code = platform::ServiceControlCode;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// Everything the host does, in order, as one list of short lines.
struct TFakes : platform::TServiceControl, platform::TEventLog, TPassPacer {
    Strings Timeline;
    int RegisterError = 0;
    std::vector<int> StatusErrors; // by call, 0 beyond the list
    std::size_t StatusCalls = 0;
    bool ThreadFails = false;
    std::vector<std::vector<std::uint32_t>> Script; // controls arriving after each pass
    std::size_t Pass = 0;
    std::vector<std::uint32_t> Ticks;
    std::size_t TickCalls = 0;
    std::vector<bool> ClockSets; // by pass, false beyond the list
    Strings Events;
    bool Interrupted = false;
    struct TSnapshot {
        platform::TServiceStatus Status;
        platform::TServiceStatus Reported;
        std::size_t Reports;
        bool StopRequested;
    };
    std::vector<TSnapshot> Snapshots; // after each pass's controls
    platform::TServiceStatus LastReported;
    TServiceHost Host{{*this, *this,
                       [this](const std::string& message) {
                           Timeline.push_back("send " + message);
                           return true;
                       },
                       [this] { return CreateThread(); }, *this,
                       [this] { return TickCalls < Ticks.size() ? Ticks[TickCalls++] : 0u; },
                       [this] { return Pass < ClockSets.size() && ClockSets[Pass]; }}};

    int RegisterHandler(const std::string& name, platform::TControlHandler handler) override {
        EXPECT_EQ(name, "TarvokService");
        EXPECT_TRUE(handler);
        return RegisterError;
    }
    int SetStatus(const platform::TServiceStatus& status) override {
        Timeline.push_back("status " + std::to_string(status.CurrentState));
        LastReported = status;
        const std::size_t call = StatusCalls++;
        return call < StatusErrors.size() ? StatusErrors[call] : 0;
    }
    void Report(const platform::TEvent& event) override {
        EXPECT_EQ(event.Source, "TarvokService");
        std::string line = "event " + Hex(event.Id);
        for (const platform::TEventField& field : event.Fields) {
            line += " " + field.Value;
        }
        Timeline.push_back(line);
        Events.push_back(line);
    }
    void Wait() override {
        if (Pass == Script.size()) {
            ADD_FAILURE() << "the status loop ran past its script";
            Host.ServiceHandler(Code::Stop);
            return;
        }
        const std::size_t reportsBefore = StatusCalls;
        for (std::uint32_t control : Script[Pass++]) {
            Host.ServiceHandler(control);
        }
        Snapshots.push_back(
            {Host.Status(), LastReported, StatusCalls - reportsBefore, Host.StopRequested()});
    }
    void Interrupt() override { Interrupted = true; }

    struct TThread : TSchedulerThread {
        explicit TThread(Strings& timeline) : timeline_(timeline) {}
        ~TThread() override { timeline_.push_back("destroy"); }
        void Resume() override { timeline_.push_back("resume"); }
        void Hold() override { timeline_.push_back("hold"); }
        void Terminate() override { timeline_.push_back("terminate"); }
        void WaitFor() override { timeline_.push_back("wait"); }
        void WallClockSet() override { timeline_.push_back("clock set"); }
        Strings& timeline_;
    };
    std::unique_ptr<TSchedulerThread> CreateThread() {
        if (ThreadFails) {
            throw std::runtime_error("no slot");
        }
        Timeline.push_back("create");
        return std::make_unique<TThread>(Timeline);
    }
};

const Strings Start = {"status 2", "create", "status 4", "event 40000001"};
const Strings End = {"status 3",       "terminate", "wait",   "destroy",
                     "event 40000005", "status 1",  "send SD"};

Strings Concat(std::initializer_list<Strings> parts) {
    Strings all;
    for (const Strings& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(ServiceMain, StatusMessagesFollowTheStateOnEveryPass) {
    struct TRow {
        const char* Name;
        std::vector<std::vector<std::uint32_t>> Script;
        Strings Passes;
        std::vector<bool> ClockSets = {};
    };
    const TRow rows[] = {
        {"runs then stops", {{}, {}, {Code::Stop}}, {"resume", "send SS", "send SR", "send SR"}},
        {"the thread hears of a clock set on the pass that notices it, paused or not",
         {{}, {Code::Pause}, {}, {Code::Stop}},
         {"resume", "send SS", "send SR", "clock set", "event 80000002", "status 7", "hold",
          "send SP", "send SP", "clock set"},
         {false, true, false, true}},
        {"paused, continued: one more SP, then SR",
         {{}, {Code::Pause}, {}, {Code::Continue}, {}, {Code::Stop}},
         {"resume", "send SS", "send SR", "event 80000002", "status 7", "hold", "send SP",
          "send SP", "event 40000003 2000", "status 4", "resume", "send SP", "send SR"}},
        {"stopped while paused: no pass, no resume",
         {{}, {Code::Pause}, {Code::Stop}},
         {"resume", "send SS", "send SR", "event 80000002", "status 7", "hold", "send SP"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TFakes fakes;
        fakes.Script = row.Script;
        fakes.Ticks = {1000, 3000};
        fakes.ClockSets = row.ClockSets;
        fakes.Host.ServiceMain();
        EXPECT_EQ(fakes.Timeline, Concat({Start, row.Passes, End}));
        EXPECT_EQ(fakes.Pass, row.Script.size());
        EXPECT_TRUE(fakes.Interrupted) << "the stop did not cut the wait short";
    }
}

TEST(ServiceMain, FailuresEndItWithTheirEvent) {
    struct TRow {
        const char* Name;
        int RegisterError;
        std::vector<int> StatusErrors;
        bool ThreadFails;
        Strings Timeline;
    };
    const TRow rows[] = {
        {"handler not registered", ENOENT, {}, false, {"event c0000009 No such file or directory"}},
        {"start pending not reported",
         0,
         {EIO},
         false,
         {"status 2", "event c0000008 Input/output error"}},
        {"running not reported: number, not text",
         0,
         {0, EIO},
         false,
         {"status 2", "create", "status 4", "destroy", "event c0000008 5"}},
        {"thread cannot be created: the reason goes with the event",
         0,
         {},
         true,
         {"status 2", "event c0000004 no slot", "status 1"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TFakes fakes;
        fakes.RegisterError = row.RegisterError;
        fakes.StatusErrors = row.StatusErrors;
        fakes.ThreadFails = row.ThreadFails;
        fakes.Host.ServiceMain();
        EXPECT_EQ(fakes.Timeline, row.Timeline);
        // Only a thread that cannot be made ends the service as failed, to be started again.
        EXPECT_EQ(fakes.Host.Status().ExitCode, row.ThreadFails ? ServiceSpecificError : 0u);
    }
}

TEST(ServiceHandler, ControlsChangeTheStatusAndWriteTheirEvents) {
    struct TRow {
        const char* Name;
        std::vector<std::uint32_t> Controls; // delivered while the service runs
        std::vector<std::uint32_t> Ticks;
        Strings Events;
        std::uint32_t State;
        std::uint32_t Accepted;
        std::uint32_t WaitHint;
    };
    const TRow rows[] = {
        {"stop", {Code::Stop}, {}, {}, 3, 3, 1500},
        {"interrogate adds shutdown", {Code::Interrogate}, {}, {}, 4, 7, 0},
        {"shutdown is unexpected", {Code::Shutdown}, {}, {"event c0000007 5"}, 4, 3, 0},
        {"unknown code", {200}, {}, {"event c0000007 200"}, 4, 3, 0},
        {"pause", {Code::Pause}, {1000}, {"event 80000002"}, 7, 3, 0},
        {"paused across the tick wrap",
         {Code::Pause, Code::Continue},
         {0xFFFFFF00u, 0x100},
         {"event 80000002", "event 40000003 512"},
         4,
         3,
         0},
        {"second pause keeps the first start",
         {Code::Pause, Code::Pause, Code::Continue},
         {1000, 1700},
         {"event 80000002", "event 40000003 700"},
         4,
         3,
         0},
        {"continue without a pause", {Code::Continue}, {5000}, {}, 4, 3, 0},
        {"stopping ignores pause and continue",
         {Code::Stop, Code::Pause, Code::Continue},
         {},
         {},
         3,
         3,
         1500},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TFakes fakes;
        fakes.Script = {row.Controls, {Code::Stop}};
        fakes.Ticks = row.Ticks;
        fakes.Host.ServiceMain();
        ASSERT_FALSE(fakes.Snapshots.empty());
        const TFakes::TSnapshot& after = fakes.Snapshots.front();
        EXPECT_EQ(after.Status.CurrentState, row.State);
        EXPECT_EQ(after.Status.ControlsAccepted, row.Accepted);
        EXPECT_EQ(after.Status.WaitHint, row.WaitHint);
        EXPECT_EQ(after.Reported, after.Status) << "the report lags behind the control";
        EXPECT_EQ(after.Reports, row.Controls.size()) << "one report per control";
        EXPECT_EQ(after.StopRequested, row.State == 3);
        const Strings handlerEvents(fakes.Events.begin() + 1, fakes.Events.end() - 1);
        EXPECT_EQ(handlerEvents, row.Events);
    }
}

TEST(ServiceHandler, FailedReportIsAnEventWithTheSystemText) {
    TFakes fakes;
    fakes.StatusErrors = {0, 0, EACCES};
    fakes.Script = {{Code::Interrogate}, {Code::Stop}};
    fakes.Host.ServiceMain();
    EXPECT_EQ(fakes.Events[1], "event c0000008 Permission denied");
}

// The dispatcher as it really runs: a stop arrives on a thread of its own while ServiceMain is
// still starting, and the handler is held inside its status report until ServiceMain has made
// its next move, the worst moment for a start-up that overwrites the state.
struct TStopDuringStart : platform::TServiceControl, platform::TEventLog, TPassPacer {
    enum class TMoment { HandlerRegistered, ThreadCreated };
    TMoment DeliverAt = TMoment::ThreadCreated;

    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<std::uint32_t> Reported; // every state reported, in order
    std::thread Dispatcher;
    inline static thread_local bool OnDispatcher = false;
    bool HandlerReporting = false;
    bool MainReportedSince = false;
    bool HandlerDone = false;
    bool Interrupted = false;

    Strings Ignored; // what the scheduler thread is asked to do
    TServiceHost Host{{*this, *this, [](const std::string&) { return true; },
                       [this] {
                           if (DeliverAt == TMoment::ThreadCreated) {
                               DeliverStop();
                           }
                           return std::make_unique<TFakes::TThread>(Ignored);
                       },
                       *this, [] { return 0u; }, [] { return false; }}};

    // Waits for what another thread does; the bound only turns a hang into a failure.
    void Await(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done) {
        if (!Changed.wait_for(lock, std::chrono::seconds(10), done)) {
            ADD_FAILURE() << "the other thread never came";
        }
    }

    // Returns once the handler has set the state and is reporting it.
    void DeliverStop() {
        Dispatcher = std::thread([this] {
            OnDispatcher = true;
            Host.ServiceHandler(Code::Stop);
            std::lock_guard lock(Mutex);
            HandlerDone = true;
            Changed.notify_all();
        });
        std::unique_lock lock(Mutex);
        Await(lock, [this] { return HandlerReporting; });
    }

    int RegisterHandler(const std::string&, platform::TControlHandler) override {
        if (DeliverAt == TMoment::HandlerRegistered) {
            DeliverStop();
        }
        return 0;
    }
    int SetStatus(const platform::TServiceStatus& status) override {
        std::unique_lock lock(Mutex);
        Reported.push_back(status.CurrentState);
        if (OnDispatcher) {
            HandlerReporting = true;
            Changed.notify_all();
            Await(lock, [this] { return MainReportedSince; });
        } else if (HandlerReporting) {
            MainReportedSince = true;
            Changed.notify_all();
        }
        return 0;
    }
    void Report(const platform::TEvent&) override {}
    void Wait() override {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [this] { return Interrupted; });
    }
    void Interrupt() override {
        std::lock_guard lock(Mutex);
        Interrupted = true;
        Changed.notify_all();
    }
};

TEST(ServiceMain, AStopDuringStartIsNeitherLostNorOverwritten) {
    using TMoment = TStopDuringStart::TMoment;
    struct TRow {
        const char* Name;
        TMoment DeliverAt;
        std::vector<std::uint32_t> Reported;
    };
    const TRow rows[] = {
        {"as soon as the handler is registered", TMoment::HandlerRegistered, {3, 3, 3, 1}},
        {"while the scheduler thread is created", TMoment::ThreadCreated, {2, 3, 3, 1}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TStopDuringStart fakes;
        fakes.DeliverAt = row.DeliverAt;
        std::thread serviceMain([&] { fakes.Host.ServiceMain(); });
        {
            std::unique_lock lock(fakes.Mutex);
            fakes.Await(lock, [&] { return fakes.HandlerDone; });
        }
        fakes.Dispatcher.join();
        EXPECT_TRUE(fakes.Host.StopRequested()) << "the stop was lost";
        if (!fakes.Host.StopRequested()) {
            fakes.Host.ServiceHandler(Code::Stop); // a second stop, so that the test ends
        }
        serviceMain.join();
        EXPECT_EQ(fakes.Reported, row.Reported);
    }
}

TEST(RunService, StartedByHandWritesTheDispatcherFailureOnly) {
    ::unsetenv("NOTIFY_SOCKET");
    TFakes fakes;
    platform::TServiceDispatcher dispatcher;
    EXPECT_EQ(RunService(dispatcher, fakes.Host), 0);
    EXPECT_EQ(fakes.Timeline, (Strings{"event c000000a " + std::to_string(ENOTCONN)}));
}

} // namespace
} // namespace tarvok
