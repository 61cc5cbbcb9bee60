#include "ctl/CtlLink.h"

#include "platform/Process.h"
#include "platform/ServiceControl.h"
#include "shared/Letters.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace tarvok {

namespace {

using TDeadline = std::chrono::steady_clock::time_point;

// Hands a slot's messages to one reader that waits for them, each wait ending at a deadline.
class TSlotReader {
public:
    explicit TSlotReader(TMailSlot& slot) : slot_(slot) {
        slot_.SetArrivalHook([this] {
            std::lock_guard lock(mutex_);
            ++arrivals_;
            arrived_.notify_all();
        });
    }
    ~TSlotReader() { slot_.SetArrivalHook(nullptr); }
    TSlotReader(const TSlotReader&) = delete;
    TSlotReader& operator=(const TSlotReader&) = delete;

    // The next message the test accepts; nothing once the deadline has passed.
    std::optional<TMessage> Next(TDeadline deadline,
                                 const std::function<bool(const TMessage&)>& wanted) {
        for (;;) {
            std::size_t seen = 0;
            {
                std::lock_guard lock(mutex_);
                seen = arrivals_;
            }
            for (std::string text = slot_.ReadMessage(); !text.empty();
                 text = slot_.ReadMessage()) {
                if (const TMessage message = ParseMessage(text); wanted(message)) {
                    return message;
                }
            }
            std::unique_lock lock(mutex_);
            if (!arrived_.wait_until(lock, deadline, [&] { return arrivals_ != seen; })) {
                return std::nullopt;
            }
        }
    }

private:
    TMailSlot& slot_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::size_t arrivals_ = 0;
};

bool Is(const TMessage& message, TMessageCode code) {
    return message.Code == code;
}

TDeadline After(std::chrono::milliseconds patience) {
    return std::chrono::steady_clock::now() + patience;
}

} // namespace

TSlotLink::TSlotLink(std::string programDir, TLinkPatience patience)
    : programDir_(std::move(programDir)), patience_(patience) {}

bool TSlotLink::ServiceRuns() {
    return SlotExists(ServiceSlotName);
}

bool TSlotLink::ManagerRuns() {
    return SlotExists(ClientSlotName);
}

bool TSlotLink::Send(const std::string& message) {
    return SendSlotMessage(ServiceSlotName, message);
}

std::optional<TServiceRuns> TSlotLink::QueryRuns() {
    const auto number = static_cast<std::int32_t>(platform::CurrentProcessId());
    TMailSlot replies(ReplySlotName(number));
    if (replies.CreationFailed()) {
        return std::nullopt;
    }
    TSlotReader reader(replies);
    if (!Send(FormatMessage(TMessageCode::RunsQuery, number))) {
        return std::nullopt;
    }
    const TDeadline deadline = After(patience_.Answer);
    TServiceRuns runs;
    const auto answer = [](const TMessage& m) {
        return Is(m, TMessageCode::TaskStarted) || Is(m, TMessageCode::RunsQueryEnd);
    };
    while (const auto message = reader.Next(deadline, answer)) {
        if (Is(*message, TMessageCode::RunsQueryEnd)) {
            // One sender's messages arrive in order: fewer runs than it counted means some
            // were lost on the way, and the answer cannot be trusted.
            if (static_cast<std::size_t>(message->TaskId) != runs.size()) {
                return std::nullopt;
            }
            return runs;
        }
        runs[message->TaskId] = message->ProcessId;
    }
    return std::nullopt;
}

TDeleteAnswer TSlotLink::DeleteTask(std::int32_t taskId) {
    TMailSlot client(ClientSlotName);
    if (client.CreationFailed()) {
        // A manager holds the slot and gets the answer. The service handles one sender's
        // messages in the order they came, so its answer to a later question means "TD" is done.
        if (!Send(FormatMessage(TMessageCode::DeleteTask, taskId))) {
            return TDeleteAnswer::NoAnswer;
        }
        return QueryRuns() ? TDeleteAnswer::Handled : TDeleteAnswer::NoAnswer;
    }
    TSlotReader reader(client);
    if (!Send(FormatMessage(TMessageCode::DeleteTask, taskId))) {
        return TDeleteAnswer::NoAnswer;
    }
    const auto deleted = reader.Next(After(patience_.Answer), [](const TMessage& m) {
        return Is(m, TMessageCode::TaskDeleted);
    });
    if (!deleted) {
        return TDeleteAnswer::NoAnswer;
    }
    return deleted->TaskId == taskId ? TDeleteAnswer::Deleted : TDeleteAnswer::Declined;
}

std::optional<TServiceState> TSlotLink::ListenForState() {
    TMailSlot client(ClientSlotName);
    if (client.CreationFailed()) {
        return std::nullopt;
    }
    TSlotReader reader(client);
    const auto status = reader.Next(After(patience_.Listen), [](const TMessage& m) {
        return Is(m, TMessageCode::ServiceStarted) || Is(m, TMessageCode::ServiceRunning) ||
               Is(m, TMessageCode::ServicePaused);
    });
    if (!status) {
        return std::nullopt;
    }
    return Is(*status, TMessageCode::ServicePaused) ? TServiceState::Paused
                                                    : TServiceState::Running;
}

std::vector<std::uint32_t> TSlotLink::ForegroundServices() {
    std::vector<std::uint32_t> services;
    for (const platform::TProgramProcess& process :
         platform::ProcessesOf(programDir_ + "TarvokSvc")) {
        if (SameLetters(process.FirstArgument, "run")) {
            services.push_back(process.ProcessId);
        }
    }
    return services;
}

std::string TSlotLink::ControlForeground(std::uint32_t processId, std::uint32_t control) {
    return platform::ControlForegroundService(processId, control);
}

} // namespace tarvok
