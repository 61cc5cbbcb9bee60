// The scheduler thread of the service.
//
// Every pass (on the wall clock's whole and half seconds) it reads the manager's messages and
// acts on them, reports blocking runs that have ended, and at the first pass at or after each
// whole minute tests every enabled task and starts the due ones. It owns the task list, the
// process table, the log writer and the service's slot; nothing else touches them.
//
// It passes only when there is something to do: at the start of the minute due next, on the
// next half second after a message arrives or a run ends, at once when the wall clock was set,
// and every half second while it follows a blocking run. A pass it leaves out would have done
// nothing.
//
// Every run it starts is followed to its end and recorded in the run history (tarvok.runs) by
// the pass that sees it end, after that pass's minute starts; a run that ended badly adds its
// line to the log and is told to the manager ("TE").
//
// A minute whose first pass comes after its first second starts nothing, and nothing catches up
// on minutes missed while paused or asleep: the next test is the next whole minute after the
// last one tested. After the clock is set back, nothing is tested until it reaches that minute
// again.
//
// Only the program directory's administrators are heard: the slot drops everyone else's
// messages, and the thread notes how many in the log at most once a minute. A task file that
// someone else could have written, or in a directory that someone else could have put in place
// of the program directory (platform::ReadTrustedFile, anchored to the directory the service
// started in), is not used at all: the list becomes empty, the file is never rewritten, and
// every reload says why in the log.
#pragma once

#include "platform/Files.h"
#include "service/PausableThread.h"
#include "shared/Clock.h"
#include "shared/Glob.h"
#include "shared/MailSlot.h"
#include "shared/MinuteRule.h"
#include "shared/RunLedger.h"
#include "shared/RunWatch.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarvok {

// The scheduler's link to the manager: its own receiving slot and the manager's.
class TSchedulerChannel {
public:
    virtual ~TSchedulerChannel() = default;
    // Why the channel cannot hear the manager (its slot could not be made), with the slot's
    // path; empty when it can.
    virtual std::string Failure() const { return {}; }
    // The next waiting message with its sender, or an empty text.
    virtual TSlotMessage ReadMessage() = 0;
    virtual void SendToClient(const std::string& message) = 0;
    // To the slot of a tarvokctl process that asked (ReplySlotName of the number). A channel
    // that reaches no other slot answers nobody.
    virtual void SendReply(std::int32_t /*replyTo*/, const std::string& /*message*/) {}
    // How many messages were dropped since the last call because their sender may not control
    // the service. A channel that checks no senders drops none.
    virtual std::size_t TakeRefused() { return 0; }
    // The hook is called, from any thread, whenever a message arrives or is refused.
    virtual void SetArrivalHook(std::function<void()> hook) = 0;
};

// The real channel: owns the slot "TarvokService", keeping only the requests of the program
// directory's administrators, and writes to "TarvokClient". A slot that cannot be made is the
// channel's Failure.
std::unique_ptr<TSchedulerChannel> OpenMailSlotChannel(const std::string& programDir);

// From a wall-clock reading to its next whole or half second, where the thread's passes fall:
// 10:15:40.200 gives 300 ms, 10:15:40.500 gives 500 ms.
TPassClock::duration UntilNextHalfSecond(TDateTime now);

enum class TReloadMode { Rebuild = 0, NewTask = 1, ChangedTask = 2 };

class TTarvokThread final : public TPausableThread {
public:
    struct TSetup {
        TProgramPaths Paths;
        const TClock& Clock;
        TProcessControl& Processes;
        std::unique_ptr<TSchedulerChannel> Channel;
    };

    // Created suspended: logs "Tarvok Service starting!" and loads the task list, but runs no
    // pass until resumed. A channel that cannot hear the manager is logged and raised as
    // std::runtime_error: the service never runs deaf.
    explicit TTarvokThread(TSetup setup);
    // Ends the thread, then logs "Tarvok Service stopped!".
    ~TTarvokThread() override;

    // One pass: every waiting message, then the tick. The pass's log lines are written and
    // announced together when it ends.
    void Poll() override;
    // The sender's account is whose a process handed over with "TS" must be.
    void HandleMessage(const std::string& text, std::uint32_t senderUid);
    void Tick();
    void ReloadTasks(std::int32_t taskId, TReloadMode mode);
    void RunTask(const TTaskDef& task, TRunOrigin origin);

    // Until the pass due next: the next minute to test, or the next note of refused messages;
    // zero while a blocking run is followed.
    TPassClock::duration QuietSpan() const override;

    const TTaskList& Tasks() const { return tasks_; }
    const TProcessTable& ProcessTable() const { return table_; }
    TDateTime NextDue() const { return minutes_.NextDue(); }

protected:
    void Execute() override;
    TPassClock::time_point NextPassAfter(TPassClock::time_point previous,
                                         TPassClock::time_point now) const override;

private:
    void SendToClient(const std::string& message);
    void ConnectClient();
    void AnswerRunsQuery(std::int32_t replyTo);
    void DeleteTask(std::int32_t taskId);
    void TruncateLog();
    enum class TTaskFileLoad { Loaded, Missing, Refused, Unreadable };
    // Fills the list from a trusted task file; logs why when the file is refused or unreadable.
    TTaskFileLoad LoadTaskFile(TTaskList& into);
    void NoteRefusedMessages();
    bool RefusalNotedLately(TDateTime now) const;

    // Declared in reverse order of release: the log writer goes first, the task list last.
    const TProgramPaths paths_;
    const TClock& clock_;
    TProcessControl& processes_;
    TTaskList tasks_;
    TProcessTable table_;
    std::unique_ptr<TSchedulerChannel> channel_;
    TSysLogger log_;
    TLoggingRunHost runHost_;
    TRunWatch watch_;
    TRunLedger ledger_;
    TRunRecorder recorder_;
    TMinuteRule minutes_;
    // The program directory as the service found it: one put in its place later (by someone who
    // may write a directory above) is never trusted.
    std::optional<platform::TDirectoryAnchor> programDir_;
    // The last load found the task file untrusted: no task runs and the file is not rewritten.
    bool taskFileRefused_ = false;
    // Refused messages not yet noted in the log, and when the last note was written.
    std::size_t refused_ = 0;
    TDateTime refusalNoted_ = 0;
};

} // namespace tarvok
