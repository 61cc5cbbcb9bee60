#include "service/SvcThd.h"

#include "platform/Files.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>

namespace tarvok {

namespace {

constexpr auto PassInterval = std::chrono::milliseconds(500);
// Refused messages are noted at most this often, so a flood cannot fill the log.
constexpr TDateTime RefusalNoteInterval = 1.0 / 1440;

class TMailSlotChannel final : public TSchedulerChannel {
public:
    explicit TMailSlotChannel(const std::string& programDir)
        : slot_(ServiceSlotName, AdministratorsOf(programDir), [](std::string_view message) {
              const auto code = ParseMessage(message).Code;
              return code && IsServiceRequest(*code);
          }) {}
    std::string Failure() const override { return slot_.Failure(); }
    TSlotMessage ReadMessage() override { return slot_.Receive(); }
    void SendToClient(const std::string& message) override {
        SendSlotMessage(ClientSlotName, message);
    }
    void SendReply(std::int32_t replyTo, const std::string& message) override {
        SendSlotMessage(ReplySlotName(replyTo), message);
    }
    std::size_t TakeRefused() override { return slot_.TakeRefused(); }
    void SetArrivalHook(std::function<void()> hook) override {
        slot_.SetArrivalHook(std::move(hook));
    }

private:
    TMailSlot slot_;
};

} // namespace

std::unique_ptr<TSchedulerChannel> OpenMailSlotChannel(const std::string& programDir) {
    return std::make_unique<TMailSlotChannel>(programDir);
}

TTarvokThread::TTarvokThread(TSetup setup)
    : TPausableThread(PassInterval), paths_(std::move(setup.Paths)), clock_(setup.Clock),
      processes_(setup.Processes), channel_(std::move(setup.Channel)), log_(paths_.LogPath, clock_),
      runHost_(log_,
               [this](bool running, std::int32_t taskId, std::uint32_t processId) {
                   SendToClient(FormatMessage(running ? TMessageCode::TaskStarted
                                                      : TMessageCode::TaskFinished,
                                              taskId, processId));
               }),
      watch_(clock_), ledger_(paths_.RunsPath, TRunLedger::TRead::Trusted),
      recorder_(ledger_, log_,
                [this](const TRunRecord& run) {
                    SendToClient(FormatMessage(TMessageCode::TaskFailed, run.TaskId,
                                               static_cast<std::uint32_t>(FailureCode(run))));
                }),
      // The minute the service starts in is never tested.
      minutes_(clock_.Now()) {
    log_.OnLineAdded = [this] { SendToClient(FormatMessage(TMessageCode::LogChanged)); };
    log_.LimitLines = true;
    log_.MaxLines = LogMaxLines;
    // Lines that cannot reach the file are not lost from sight: the journal hears of it, once.
    log_.OnWriteFailed = [](const std::string& reason) {
        std::cerr << "The system log cannot be written: " << reason << std::endl;
    };
    log_.NamedMonth = true;
    channel_->SetArrivalHook([this] { Wake(); });
    processes_.SetEndHook([this] { Wake(); });
    log_.Add("Tarvok Service starting!");
    if (const std::string failure = channel_->Failure(); !failure.empty()) {
        log_.AddFmt("The service's slot could not be made (%s); the service ends.", failure);
        channel_->SetArrivalHook(nullptr);
        processes_.SetEndHook(nullptr);
        throw std::runtime_error(failure);
    }
    try {
        programDir_ = platform::AnchorDirectory(paths_.ProgramDir);
    } catch (const platform::TIoError&) {
        // Without its directory there is no task file to read either.
    }
    ReloadTasks(0, TReloadMode::Rebuild);
}

TTarvokThread::~TTarvokThread() {
    Terminate();
    WaitFor();
    channel_->SetArrivalHook(nullptr);
    processes_.SetEndHook(nullptr);
    log_.Add("Tarvok Service stopped!");
    log_.OnLineAdded = nullptr;
}

void TTarvokThread::Execute() {
    log_.Add("Tarvok Service running!");
    while (NextPass()) {
        Poll();
    }
}

TPassClock::duration UntilNextHalfSecond(TDateTime now) {
    return std::chrono::milliseconds(MsToNextGridPoint(now, 500));
}

// Passes fall on the wall clock's whole and half seconds, so the first pass of a minute comes
// at its very start rather than anywhere in its first half second.
TPassClock::time_point TTarvokThread::NextPassAfter(TPassClock::time_point /*previous*/,
                                                    TPassClock::time_point now) const {
    return now + UntilNextHalfSecond(clock_.Now());
}

void TTarvokThread::Poll() {
    // The pass's lines reach the log file in one rewrite at its end: a minute that starts a
    // thousand tasks would otherwise rewrite a full log a thousand times.
    const TLogBatch batch(log_);
    for (TSlotMessage message = channel_->ReadMessage(); !message.Text.empty();
         message = channel_->ReadMessage()) {
        HandleMessage(message.Text, message.SenderUid);
    }
    NoteRefusedMessages();
    Tick();
}

TPassClock::duration TTarvokThread::QuietSpan() const {
    if (table_.FollowsAnyRun()) {
        return TPassClock::duration::zero(); // only a look tells whether the run has ended
    }
    const TDateTime now = clock_.Now();
    TDateTime until = minutes_.NextDue();
    if (refused_ > 0) {
        until =
            std::min(until, RefusalNotedLately(now) ? refusalNoted_ + RefusalNoteInterval : now);
    }
    if (until <= now) {
        return TPassClock::duration::zero();
    }
    // Readings come in whole milliseconds; the rounding only undoes the error of the subtraction.
    return std::chrono::milliseconds(std::llround((until - now) * MsPerDay));
}

bool TTarvokThread::RefusalNotedLately(TDateTime now) const {
    // A clock set back must not hold the note back until it catches up again.
    return now >= refusalNoted_ && now < refusalNoted_ + RefusalNoteInterval;
}

void TTarvokThread::NoteRefusedMessages() {
    refused_ += channel_->TakeRefused();
    const TDateTime now = clock_.Now();
    if (refused_ == 0 || RefusalNotedLately(now)) {
        return;
    }
    log_.AddFmt("Dropped %d message(s) from accounts that may not control Tarvok.", refused_);
    refused_ = 0;
    refusalNoted_ = now;
}

void TTarvokThread::Tick() {
    const TDateTime now = clock_.Now();
    SweepFinished(table_, runHost_, processes_);
    minutes_.Pass(now, tasks_, table_, log_,
                  [this](const TTaskDef& task) { RunTask(task, TRunOrigin::Minute); });
    // After the minute's starts, which recording must not hold back.
    recorder_.Record(watch_.TakeEnded(processes_));
}

void TTarvokThread::RunTask(const TTaskDef& task, TRunOrigin origin) {
    tarvok::RunTask(task, table_, runHost_, processes_, {&watch_, origin});
}

void TTarvokThread::HandleMessage(const std::string& text, std::uint32_t senderUid) {
    const TMessage message = ParseMessage(text);
    if (!message.Code) {
        return;
    }
    switch (*message.Code) {
    case TMessageCode::ClientConnected:
        ConnectClient();
        break;
    case TMessageCode::ClientDisconnected:
        log_.Add("Client has disconnected.");
        break;
    case TMessageCode::TaskFinished:
        if (TTaskRunEntry* entry = table_.Find(message.TaskId)) {
            entry->ProcessId = 0;
        }
        break;
    case TMessageCode::TaskStarted:
        TakeOverRun(table_, message.TaskId, message.ProcessId, senderUid, processes_);
        break;
    case TMessageCode::TaskAdded:
        ReloadTasks(message.TaskId, TReloadMode::NewTask);
        break;
    case TMessageCode::TaskChanged:
        ReloadTasks(message.TaskId, TReloadMode::ChangedTask);
        break;
    case TMessageCode::RunTask:
        RunTask(tasks_.FindTask(message.TaskId), TRunOrigin::Request);
        break;
    case TMessageCode::DeleteTask:
        DeleteTask(message.TaskId);
        break;
    case TMessageCode::TruncateLog:
        TruncateLog();
        break;
    case TMessageCode::RunsQuery:
        AnswerRunsQuery(message.TaskId);
        break;
    default:
        break; // the service's own messages and anything else: not ours to act on
    }
}

void TTarvokThread::ConnectClient() {
    for (const TTaskRunEntry& entry : table_.Entries()) {
        if (entry.ProcessId != 0) {
            SendToClient(FormatMessage(TMessageCode::TaskStarted, entry.TaskId, entry.ProcessId));
        }
    }
    log_.Add("Client has connected.");
}

// The same "TS" messages a connecting manager gets, but into the asker's slot and without a log
// line: asking is not connecting, and a script that asks every second must not fill the log.
void TTarvokThread::AnswerRunsQuery(std::int32_t replyTo) {
    if (replyTo <= 0) {
        return;
    }
    std::int32_t answered = 0;
    for (const TTaskRunEntry& entry : table_.Entries()) {
        if (entry.ProcessId != 0) {
            channel_->SendReply(
                replyTo, FormatMessage(TMessageCode::TaskStarted, entry.TaskId, entry.ProcessId));
            ++answered;
        }
    }
    channel_->SendReply(replyTo, FormatMessage(TMessageCode::RunsQueryEnd, answered));
}

// The task leaves the list only once the file without it is saved; a failed save changes
// nothing, so list, file and manager stay in step.
void TTarvokThread::DeleteTask(std::int32_t taskId) {
    // The list of a refused file is empty: saving it would delete a file that is not ours.
    if (taskFileRefused_) {
        SendToClient(FormatMessage(TMessageCode::TaskDeleted, 0));
        return;
    }
    const TTaskDef task = tasks_.FindTask(taskId);
    TTaskList remaining = tasks_;
    if (task.Id != 0) { // an unknown id must not delete a damaged file's task 0
        remaining.DeleteTask(task);
    }
    try {
        remaining.SaveToFile(paths_.TaskPath);
    } catch (const platform::TIoError& error) {
        log_.AddFmt("The task file could not be saved: %s", error.what());
        return;
    }
    tasks_ = std::move(remaining);
    if (task.Id != 0) {
        table_.Remove(task.Id);
    }
    SendToClient(FormatMessage(TMessageCode::TaskDeleted, task.Id));
}

void TTarvokThread::TruncateLog() {
    try {
        log_.Truncate(0);
    } catch (const platform::TIoError& error) {
        log_.AddFmt("The system log could not be truncated: %s", error.what());
        return;
    }
    log_.Add("System log truncated.");
}

TTarvokThread::TTaskFileLoad TTarvokThread::LoadTaskFile(TTaskList& into) {
    try {
        const platform::TTrustedFile file = platform::ReadTrustedFile(paths_.TaskPath, programDir_);
        switch (file.Outcome) {
        case platform::TTrustedFile::TOutcome::Missing:
            return TTaskFileLoad::Missing;
        case platform::TTrustedFile::TOutcome::Refused:
            log_.AddFmt("The task file is not trusted (%s); no task will run from it.",
                        file.Refusal);
            return TTaskFileLoad::Refused;
        case platform::TTrustedFile::TOutcome::Trusted:
            into.LoadFromBytes(file.Content, paths_.TaskPath);
            return TTaskFileLoad::Loaded;
        }
    } catch (const platform::TIoError& error) {
        log_.AddFmt("The task file could not be read: %s", error.what());
    }
    return TTaskFileLoad::Unreadable;
}

void TTarvokThread::ReloadTasks(std::int32_t taskId, TReloadMode mode) {
    TTaskList loaded;
    switch (LoadTaskFile(loaded)) {
    case TTaskFileLoad::Missing:
        return;
    case TTaskFileLoad::Unreadable:
        return; // the tasks in use stay as they were
    case TTaskFileLoad::Refused:
        // Whoever could write the file may have written the tasks loaded before, too.
        tasks_.Clear();
        taskFileRefused_ = true;
        if (mode == TReloadMode::Rebuild) {
            table_.Rebuild(tasks_);
        }
        return;
    case TTaskFileLoad::Loaded:
        break;
    }
    tasks_ = std::move(loaded);
    taskFileRefused_ = false;
    log_.Add("Task list (re)loaded");
    switch (mode) {
    case TReloadMode::Rebuild:
        table_.Rebuild(tasks_);
        break;
    case TReloadMode::NewTask:
        if (const TTaskDef task = tasks_.FindTask(taskId); task.Id > 0) {
            table_.Append(task);
        }
        break;
    case TReloadMode::ChangedTask:
        break;
    }
}

void TTarvokThread::SendToClient(const std::string& message) {
    channel_->SendToClient(message);
}

} // namespace tarvok
