#include "shared/MailSlot.h"

#include "platform/Accounts.h"
#include "platform/Files.h"
#include "shared/Glob.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <vector>

namespace tarvok {

namespace {

using namespace std::chrono_literals;

// How long a send may wait for room in a receiver's queue. A running owner's reader thread makes
// room within microseconds, but on a machine with more work than cores it can wait 100 ms for a
// core; a queue that stays full for five times that belongs to a program that is stopped, and
// waiting longer would only stall the sender too.
constexpr auto SendPatience = 500ms;

// Datagrams taken off the system in one go, so that a flood cannot hold the queue's lock long.
constexpr std::size_t CollectBatch = 64;

// Receivers whose queue stayed full for a whole patience. Sends to them do not wait again until
// one gets through, so a stopped peer costs a sender one patience rather than one per message.
class TStalledReceivers {
public:
    bool Contains(const std::string& path) {
        std::lock_guard lock(mutex_);
        return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
    }

    void Set(const std::string& path, bool stalled) {
        std::lock_guard lock(mutex_);
        auto found = std::find(paths_.begin(), paths_.end(), path);
        if (!stalled && found != paths_.end()) {
            paths_.erase(found);
        } else if (stalled && found == paths_.end()) {
            // The programs use three names; the bound only keeps odd callers from growing it.
            if (paths_.size() == MaxRemembered) {
                paths_.erase(paths_.begin());
            }
            paths_.push_back(path);
        }
    }

private:
    static constexpr std::size_t MaxRemembered = 16;
    std::mutex mutex_;
    std::vector<std::string> paths_;
};

TStalledReceivers& StalledReceivers() {
    static TStalledReceivers receivers;
    return receivers;
}

std::mutex slotDirectoryMutex;
std::optional<std::string> slotProgramDirectory;

// Without its own directory a program knows of no administrator but root.
TSenderPolicy ProgramAdministrators() {
    try {
        return AdministratorsOf(SlotProgramDirectory());
    } catch (const platform::TIoError&) {
        return [](const platform::TSenderCredentials& sender) { return sender.Uid == 0; };
    }
}

} // namespace

std::string SlotProgramDirectory() {
    std::lock_guard lock(slotDirectoryMutex);
    if (!slotProgramDirectory) {
        slotProgramDirectory = ProgramPaths().ProgramDir;
    }
    return *slotProgramDirectory;
}

void UseSlotsOf(const std::string& programDir) {
    std::lock_guard lock(slotDirectoryMutex);
    slotProgramDirectory = programDir.ends_with('/') ? programDir : programDir + "/";
}

std::string SlotPath(std::string_view name) {
    std::string path = SlotProgramDirectory() + "slots/";
    for (char c : name) {
        path += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return path;
}

TSenderPolicy AdministratorsOf(std::string directory) {
    return [directory = std::move(directory)](const platform::TSenderCredentials& sender) {
        return platform::IsAdministrator(sender.Uid, directory);
    };
}

TMailSlot::TMailSlot(std::string_view name) : TMailSlot(name, ProgramAdministrators()) {}

TMailSlot::TMailSlot(std::string_view name, TSenderPolicy accept, TMessageFilter wanted)
    : path_(SlotPath(name)), accept_(std::move(accept)), wanted_(std::move(wanted)),
      datagrams_(path_, MaxSlotMessage) {
    if (!datagrams_.Bound()) {
        return;
    }
    try {
        reader_ = std::thread([this] { ReadUntilStopped(); });
    } catch (const std::system_error&) {
        // Without a thread ReadMessage still collects, only with the system's short queue.
    }
}

TMailSlot::~TMailSlot() {
    datagrams_.Stop();
    if (reader_.joinable()) {
        reader_.join();
    }
}

TSlotMessage TMailSlot::Receive() {
    std::lock_guard lock(mutex_);
    // Whatever is queued is older than anything still with the system, so order holds.
    if (queue_.empty()) {
        Collect(CollectBatch);
    }
    if (queue_.empty()) {
        return {};
    }
    TSlotMessage message = std::move(queue_.front());
    queue_.pop_front();
    return message;
}

void TMailSlot::SetArrivalHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    arrived_ = std::move(hook);
}

void TMailSlot::ReadUntilStopped() {
    try {
        while (!broken_ && datagrams_.WaitForDatagram()) {
            std::function<void()> arrived;
            {
                std::lock_guard lock(mutex_);
                if (Collect(CollectBatch)) {
                    arrived = arrived_;
                }
            }
            if (arrived) {
                arrived();
            }
        }
    } catch (const platform::TIoError&) {
        // The endpoint itself failed; what was collected can still be read.
    }
}

bool TMailSlot::Collect(std::size_t limit) {
    bool news = false;
    for (std::size_t i = 0; i < limit && !broken_; ++i) {
        std::optional<platform::TDatagram> datagram;
        try {
            datagram = datagrams_.TryReceive();
        } catch (const platform::TIoError&) {
            broken_ = true;
            return news;
        }
        if (!datagram) {
            return news;
        }
        // Judged before anything else, so that whatever a stranger sends is counted.
        if (!datagram->Sender || !accept_ || !accept_(*datagram->Sender)) {
            ++refused_;
            news = true;
            continue;
        }
        if (datagram->Truncated()) {
            continue;
        }
        std::string message = std::move(datagram->Bytes);
        message.resize(std::min(message.size(), message.find('\0')));
        // An empty message would end a reader's pass with others still waiting behind it.
        if (message.empty() || (wanted_ && !wanted_(message)) || queue_.size() >= SlotQueueLimit) {
            continue;
        }
        queue_.push_back({std::move(message), datagram->Sender->Uid});
        news = true;
    }
    return news;
}

bool SendSlotMessage(std::string_view name, std::string_view message) {
    if (message.empty() || message.size() > MaxSlotMessage) {
        return false;
    }
    const std::string path = SlotPath(name);
    auto& stalled = StalledReceivers();
    const auto patience = stalled.Contains(path) ? 0ms : SendPatience;
    const auto result = platform::SendDatagram(path, message, patience);
    stalled.Set(path, result == platform::TSendResult::Full);
    return result == platform::TSendResult::Sent;
}

bool SlotExists(std::string_view name) {
    return platform::AddressInUse(SlotPath(name));
}

namespace slot_format {

std::string Substitute(std::string_view format, std::span<const std::string> pieces) {
    std::string result;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            result += format[i];
            continue;
        }
        const char directive = format[++i];
        if (directive == '%') {
            result += '%';
        } else if (next < pieces.size()) {
            result += pieces[next++];
        }
    }
    return result;
}

} // namespace slot_format

} // namespace tarvok
