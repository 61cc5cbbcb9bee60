#include "manager/Scheduler.h"

#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <array>
#include <utility>

namespace tarvok {

namespace {

constexpr const char* CommandWindowText = "COMMAND WINDOW";
constexpr int TimePanel = 0;
constexpr int RunPanel = 1;

// "06-Dec-2026 19:16:20"
std::string StatusTime(TDateTime moment) {
    return DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " ", true);
}

} // namespace

// The manager's side of a run: log lines (written only while the manager schedules), the tree
// instead of "TS"/"TF", boxes for the user's "&Run", and the hand-over in service mode.
class TScheduler::TRunHost final : public TLoggingRunHost {
public:
    TRunHost(TScheduler& scheduler, bool interactive)
        : TLoggingRunHost(scheduler.log_,
                          [&scheduler](bool running, std::int32_t taskId, std::uint32_t processId) {
                              scheduler.SetBlockingState(taskId, processId, running);
                          }),
          scheduler_(scheduler), interactive_(interactive) {}

    void Report(TRunEvent event, const std::string& taskName, std::int32_t taskId,
                std::uint32_t processId) override {
        if (interactive_ && ShownInBox(event)) {
            scheduler_.window_.ShowError(BoxText(event, taskName, taskId));
            return;
        }
        TLoggingRunHost::Report(event, taskName, taskId, processId);
    }
    bool ConfirmRun(const TTaskDef& task) override {
        return !interactive_ || scheduler_.window_.Ask("Run task \"" + task.Name + "\" now?");
    }
    bool HandOver(const TTaskDef& task) override {
        if (!scheduler_.serviceMode_) {
            return false;
        }
        scheduler_.channel_.Send(FormatMessage(TMessageCode::RunTask, task.Id));
        return true;
    }

private:
    // The refusals the user is told of in a box rather than the log.
    static bool ShownInBox(TRunEvent event) {
        return event == TRunEvent::PreviousStillActive || event == TRunEvent::InvalidCommand ||
               event == TRunEvent::InvalidWorkDir;
    }
    static std::string BoxText(TRunEvent event, const std::string& taskName, std::int32_t taskId) {
        if (event == TRunEvent::PreviousStillActive) {
            return FormatLogText("Blocking Task \"%s\" [%d] is running.", {taskName, taskId});
        }
        return RunEventText(event, taskName, taskId);
    }

    TScheduler& scheduler_;
    const bool interactive_;
};

TScheduler::TScheduler(TSetup setup)
    : clock_(setup.Clock), processes_(setup.Processes), tasks_(setup.Tasks),
      table_(setup.ProcessTable), log_(setup.Logger), window_(setup.Window),
      channel_(setup.Channel), steadyNow_(std::move(setup.SteadyNow)), minutes_(clock_.Now()),
      watch_(clock_), ledger_(setup.RunsPath, TRunLedger::TRead::Plain),
      recorder_(ledger_, log_,
                [this](const TRunRecord& run) {
                    window_.NotifyRunFailed(run.TaskId,
                                            FailureNoticeText(run.TaskName, FailureCode(run)));
                }),
      serviceMode_(setup.ServiceMode), looksOnly_(setup.LooksOnly),
      heardFromService_(steadyNow_()) {
    log_.Suppressed = serviceMode_;
    ShowServiceState(serviceMode_ ? TServiceState::Running : TServiceState::Stopped);
    window_.SetStatusText(TimePanel, "Current time: " + StatusTime(clock_.Now()));
    if (looksOnly_) {
        window_.SetStatusText(RunPanel, "");
    } else if (serviceMode_) {
        window_.SetStatusText(RunPanel, CommandWindowText);
    } else {
        ShowNextRun();
    }
}

void TScheduler::OnTimer() {
    if (busy_) {
        tickDue_ = true;
        return;
    }
    busy_ = true;
    Tick();
    busy_ = false;
    RunDeferred();
}

bool TScheduler::DrainMessages() {
    if (busy_) {
        drainDue_ = true;
        return false;
    }
    busy_ = true;
    const bool more = Drain();
    busy_ = false;
    RunDeferred();
    return more;
}

// Neither handler opens a box, so neither can run inside the other; should one ever be called
// from within the other, it runs right after instead.
void TScheduler::RunDeferred() {
    while (tickDue_ || drainDue_) {
        busy_ = true;
        if (std::exchange(tickDue_, false)) {
            Tick();
        }
        if (std::exchange(drainDue_, false)) {
            Drain();
        }
        busy_ = false;
    }
}

void TScheduler::Tick() {
    const TDateTime now = clock_.Now();
    window_.SetStatusText(TimePanel, "Current time: " + StatusTime(now));
    if (looksOnly_) {
        return;
    }
    if (serviceMode_) {
        WatchService();
        RecordEndedRuns(); // those started before the service came
        return;
    }
    // The second's lines reach the file in one rewrite, as a pass of the service's do.
    const TLogBatch batch(log_);
    TRunHost host(*this, false);
    SweepFinished(table_, host, processes_);
    if (minutes_.Pass(now, tasks_, table_, log_,
                      [this](const TTaskDef& task) { RunTask(task, false); })) {
        ShowNextRun();
    }
    RecordEndedRuns();
}

// After the minute's starts, which recording must not hold back.
void TScheduler::RecordEndedRuns() {
    recorder_.Record(watch_.TakeEnded(processes_));
}

// The name as the task list has it now; a task deleted meanwhile is named by its id.
void TScheduler::NotifyFailure(std::int32_t taskId, std::int32_t failureCode) {
    const TTaskDef task = tasks_.FindTask(taskId);
    const std::string name = task.Id == taskId && !task.Name.empty()
                                 ? task.Name
                                 : "Task [" + std::to_string(taskId) + "]";
    window_.NotifyRunFailed(taskId, FailureNoticeText(name, failureCode));
}

bool TScheduler::Drain() {
    std::size_t read = 0;
    for (TSlotMessage message = channel_.Receive(); !message.Text.empty();
         message = channel_.Receive()) {
        HandleServiceMessage(ParseMessage(message.Text), message.SenderUid);
        if (++read == SlotQueueLimit) {
            break;
        }
    }
    // Each "LC" rereads a log of up to 3,000 lines: once for the whole drain is enough, and a
    // pass that writes a thousand lines does not freeze the window for seconds.
    if (logChanged_) {
        logChanged_ = false;
        log_.Reload();
    }
    return read == SlotQueueLimit;
}

void TScheduler::HandleServiceMessage(const TMessage& message, std::uint32_t senderUid) {
    if (!message.Code) {
        return;
    }
    switch (*message.Code) {
    case TMessageCode::LogChanged:
        logChanged_ = true;
        break;
    case TMessageCode::TaskFinished:
        SetBlockingState(message.TaskId, message.ProcessId, false);
        break;
    case TMessageCode::TaskStarted:
        // Followed as the very process the service started: after "SD" the manager's own sweep
        // reports its end, and no process that later gets its id stands in for it.
        TakeOverRun(table_, message.TaskId, message.ProcessId, senderUid, processes_);
        SetBlockingState(message.TaskId, message.ProcessId, true);
        break;
    case TMessageCode::TaskDeleted:
        ForgetTask(message.TaskId);
        break;
    case TMessageCode::TaskFailed:
        NotifyFailure(message.TaskId, static_cast<std::int32_t>(message.ProcessId));
        break;
    case TMessageCode::ServiceRunning:
        HeardFromService(TServiceState::Running);
        break;
    case TMessageCode::ServicePaused:
        HeardFromService(TServiceState::Paused);
        break;
    case TMessageCode::ServiceStopped:
        TakeOver();
        break;
    case TMessageCode::ServiceStarted:
        HandOverToService();
        break;
    default:
        break; // the manager's own requests and anything else: not ours to act on
    }
}

void TScheduler::RunTask(const TTaskDef& task, bool interactive) {
    TRunHost host(*this, interactive);
    tarvok::RunTask(task, table_, host, processes_,
                    {&watch_, interactive ? TRunOrigin::User : TRunOrigin::Minute});
}

void TScheduler::SetBlockingState(std::int32_t taskId, std::uint32_t processId, bool running) {
    TTaskRunEntry* entry = table_.Find(taskId);
    if (entry == nullptr) {
        return;
    }
    entry->ProcessId = running ? processId : 0;
    window_.SetTaskImage(taskId, running ? RunningTaskImage : TaskImage);
}

void TScheduler::ShowServiceState(TServiceState state) {
    struct TShown {
        TServiceState State;
        TServiceLight Light;
        int TrayImage;
        const char* TipNote;
    };
    static constexpr std::array<TShown, 4> shownAs = {{
        {TServiceState::Stopped, TServiceLight::Red, 1, ""},
        {TServiceState::Running, TServiceLight::Green, 3, ""},
        {TServiceState::Paused, TServiceLight::Yellow, 2, ""},
        {TServiceState::Silent, TServiceLight::Red, 1, "The scheduler service does not answer."},
    }};
    for (const TShown& shown : shownAs) {
        if (shown.State == state) {
            window_.ShowServiceState(shown.Light, shown.TrayImage, shown.TipNote);
        }
    }
    shown_ = state;
}

void TScheduler::HandOverToService() {
    // Handed over before the manager stops following them, so no run is lost or started twice.
    for (const TTaskRunEntry& entry : table_.Entries()) {
        if (entry.ProcessId != 0) {
            channel_.Send(FormatMessage(TMessageCode::TaskStarted, entry.TaskId, entry.ProcessId));
        }
    }
    heardFromService_ = steadyNow_();
    ShowServiceState(TServiceState::Running);
    serviceMode_ = true;
    log_.Suppressed = true;
    window_.SetStatusText(RunPanel, CommandWindowText);
}

// The runs the service reported stay followed: the manager's own sweep reports their end.
void TScheduler::TakeOver() {
    ShowServiceState(TServiceState::Stopped);
    minutes_.Restart(clock_.Now());
    ShowNextRun();
    log_.Suppressed = false;
    serviceMode_ = false;
}

void TScheduler::HeardFromService(TServiceState state) {
    heardFromService_ = steadyNow_();
    ShowServiceState(state);
}

// A service that ends without "SD" (killed, crashed) would otherwise leave the manager green
// and idle while nobody starts anything. One that hangs still holds its slot and may still be
// starting tasks, so the manager then only says so.
void TScheduler::WatchService() {
    if (steadyNow_() - heardFromService_ < ServiceSilence) {
        return;
    }
    if (!channel_.SlotExists(ServiceSlotName)) {
        TakeOver();
        log_.Add("The scheduler service ended without notice; the manager schedules by itself.");
    } else if (shown_ != TServiceState::Silent) {
        ShowServiceState(TServiceState::Silent);
    }
}

// The service has deleted the task and saved the file; its process-table entry stays.
void TScheduler::ForgetTask(std::int32_t taskId) {
    const TTaskDef task = tasks_.FindTask(taskId);
    // The service answers an unknown id with 0; that must not take a damaged file's task 0.
    if (task.Id != 0) {
        tasks_.DeleteTask(task);
    }
    window_.RemoveTaskNode(task);
}

void TScheduler::ShowNextRun() {
    window_.SetStatusText(RunPanel, "Next run: " + StatusTime(minutes_.NextDue()));
}

} // namespace tarvok
