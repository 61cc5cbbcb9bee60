// The manager's scheduling and its following of the service: the work of the main window's
// timers, without the window.
//
// Two ways of working, told by ServiceMode:
//   - own scheduling: every second the manager reports its blocking runs that have ended, and at
//     each minute it starts the due tasks by the rule the service follows (shared/MinuteRule.h);
//     status panel 1 shows "Next run: %s";
//   - service mode: the service schedules, starts and logs; the manager is its command window.
//     It hands "&Run" to the service ("TR"), marks running blocking tasks from the service's
//     reports and rereads the log when the service wrote to it; panel 1 shows "COMMAND WINDOW".
// "SS" hands the manager's running blocking tasks to the service and switches to service mode;
// "SD" takes scheduling back from the next whole minute on. A service that falls silent for
// ServiceSilence is taken for ended when its slot is gone; while its slot is still there it is
// shown as not answering, and nothing is started twice.
//
// Everything runs on the window thread: OnTimer at each whole second of the wall clock,
// DrainMessages whenever the manager's slot has something (manager/SchedTimers.h drives both).
// Neither opens a box, and neither runs inside the other.
//
// Every run the manager starts itself is followed to its end, in both ways of working, and
// recorded in the run history; one that ends badly is logged (while the manager logs) and shown
// as a notification, as is each failure the service reports ("TE").
//
//   TScheduler scheduler({clock, SystemProcesses(), tasks, table, logger, window, channel,
//                         serviceMode});
//   scheduler.RunTask(selectedTask, true);    // "&Run"
#pragma once

#include "manager/Channel.h"
#include "shared/Clock.h"
#include "shared/MinuteRule.h"
#include "shared/Protocol.h"
#include "shared/RunLedger.h"
#include "shared/RunWatch.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarvok {

enum class TServiceLight { Red, Green, Yellow };

// What the scheduling needs of the main window.
class TSchedulerWindow {
public:
    virtual ~TSchedulerWindow() = default;
    // Status panel 0 (the current time) or 1 (next run, or "COMMAND WINDOW").
    virtual void SetStatusText(int panel, const std::string& text) = 0;
    // The light glSvcStatus and the notification-area icon, image trayImage of ImgList. A
    // non-empty tipNote is shown with the icon's tip; an empty one restores the usual tip.
    virtual void ShowServiceState(TServiceLight light, int trayImage,
                                  const std::string& tipNote) = 0;
    // The image of the task's node in the tree; nothing when the task has no node.
    virtual void SetTaskImage(std::int32_t taskId, int image) = 0;
    // UpdateTaskTree in mode remove: the task's node goes, if there is one, and the selection
    // is taken anew in any case.
    virtual void RemoveTaskNode(const TTaskDef& task) = 0;
    // A run of the task ended badly; text says how, e.g. "Backup failed (exit code 2)". Shown
    // without interrupting anyone: a notification from the icon, not a box.
    virtual void NotifyRunFailed(std::int32_t taskId, const std::string& text) = 0;
    // A confirmation box with Yes and No; true on Yes.
    virtual bool Ask(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
};

// Tree images of a task's node.
inline constexpr int TaskImage = 1;
inline constexpr int RunningTaskImage = 3;

// How long the service may go without "SR" or "SP" before the manager looks whether it ended.
// It sends one of them every half second.
inline constexpr std::chrono::seconds ServiceSilence{3};

class TScheduler {
public:
    using TSteadyNow = std::function<std::chrono::steady_clock::time_point()>;

    struct TSetup {
        const TClock& Clock;
        TProcessControl& Processes;
        TTaskList& Tasks;
        TProcessTable& ProcessTable;
        TSysLogger& Logger;
        TSchedulerWindow& Window;
        TManagerChannel& Channel;
        // The flag the window's commands obey too. Its value at construction is the start-up's
        // finding: true when the service's slot was there.
        bool& ServiceMode;
        // Measures the service's silence; a clock that can be set would hide or invent it.
        TSteadyNow SteadyNow = [] { return std::chrono::steady_clock::now(); };
        // The manager cannot reach the slots, so it cannot tell whether a service runs: it shows
        // the time and starts nothing by itself, lest it start every task beside the service.
        bool LooksOnly = false;
        // The run history the manager's own runs are recorded in (tarvok.runs).
        std::string RunsPath = {};
    };

    // Shows the state it starts in (light, icon, both panels) and waits for the next whole
    // minute.
    explicit TScheduler(TSetup setup);
    TScheduler(const TScheduler&) = delete;
    TScheduler& operator=(const TScheduler&) = delete;

    // Once a second: the clock panel; in own scheduling the sweep of blocking runs and, once the
    // clock has reached NextRun, the minute test; in service mode the watch on the service.
    void OnTimer();
    // Handles every waiting message in arrival order; when "LC" was among them, rereads the log
    // once after all the others. Reads at most SlotQueueLimit messages: true when it stopped
    // there, and more may wait.
    bool DrainMessages();
    // Runs a task now. interactive: the user's "&Run", with its question and error boxes;
    // otherwise the minute tick's run, which only logs. In service mode the task goes to the
    // service ("TR") once its checks pass.
    void RunTask(const TTaskDef& task, bool interactive);
    // Records whether the task's blocking process runs and marks its node; nothing when the
    // process table has no entry for the task.
    void SetBlockingState(std::int32_t taskId, std::uint32_t processId, bool running);

    bool ServiceMode() const { return serviceMode_; }
    TDateTime NextRun() const { return minutes_.NextDue(); }
    TManagerChannel& Channel() { return channel_; }

private:
    enum class TServiceState { Stopped, Running, Paused, Silent };
    class TRunHost;

    void Tick();
    bool Drain();
    void RunDeferred();
    // The sender's account is whose a process handed over with "TS" must be.
    void HandleServiceMessage(const TMessage& message, std::uint32_t senderUid);
    void ShowServiceState(TServiceState state);
    void HandOverToService();
    void TakeOver();
    void HeardFromService(TServiceState state);
    void WatchService();
    void ForgetTask(std::int32_t taskId);
    void ShowNextRun();
    void RecordEndedRuns();
    void NotifyFailure(std::int32_t taskId, std::int32_t failureCode);

    const TClock& clock_;
    TProcessControl& processes_;
    TTaskList& tasks_;
    TProcessTable& table_;
    TSysLogger& log_;
    TSchedulerWindow& window_;
    TManagerChannel& channel_;
    TSteadyNow steadyNow_;
    TMinuteRule minutes_;
    TRunWatch watch_;
    TRunLedger ledger_;
    TRunRecorder recorder_;
    bool& serviceMode_;
    const bool looksOnly_;
    TServiceState shown_ = TServiceState::Stopped;
    std::chrono::steady_clock::time_point heardFromService_;
    // Set while a tick or a drain runs; a call that comes meanwhile is noted and run after it.
    bool busy_ = false;
    bool tickDue_ = false;
    bool drainDue_ = false;
    bool logChanged_ = false;
};

} // namespace tarvok
