// Mail slots: one-way queues of short text messages between the programs.
//
// A program owns its receiving slot by name. The slots of a program directory live in its
// directory "slots/" (platform/DatagramSlot.h), which only the directory's administrators can
// reach at all; on top of that a slot keeps only the messages of the senders its policy accepts
// (by default those same administrators). Names match whatever their letter case. A message sent
// while nobody owns the name is lost, and so is the queue of a slot when its owner ends. One
// sender's messages arrive in the order sent.
//
//     TMailSlot slot("TarvokClient");
//     for (std::string message = slot.ReadMessage(); !message.empty();
//          message = slot.ReadMessage()) ...
//     SendSlotFmt("TarvokService", "%s %d", "TN", id);
#pragma once

#include "platform/DatagramSlot.h"

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

namespace tarvok {

// Every message of the protocol is far shorter; anything longer is not ours.
inline constexpr std::size_t MaxSlotMessage = 64;
// Messages a slot holds for a reader that has not come round yet; later ones are dropped.
inline constexpr std::size_t SlotQueueLimit = 4096;

// The program directory whose slots this process makes and sends to: the running program's,
// unless UseSlotsOf chose another. With its trailing '/'.
std::string SlotProgramDirectory();

// Makes the process use the slots of another program directory, as a program of that directory
// would: for tests and tools that play one. Call it before any slot is made or used.
void UseSlotsOf(const std::string& programDir);

// The slot's socket file: "slots/" in the program directory and the name in lower case (ASCII
// letters only; other bytes as they are).
//   SlotPath("TarvokService") == "/opt/tarvok/slots/tarvokservice"
std::string SlotPath(std::string_view name);

// Whose messages a slot keeps, judged by the kernel's word on the sender. An empty policy
// accepts nobody.
using TSenderPolicy = std::function<bool(const platform::TSenderCredentials&)>;

// Which messages a slot keeps at all; the others are dropped on arrival, so that a flood of
// what its owner would ignore anyway never crowds out a message that counts.
using TMessageFilter = std::function<bool(std::string_view message)>;

// Root, the directory's owner and the members of its group (platform/Accounts.h), looked up
// for every message.
TSenderPolicy AdministratorsOf(std::string directory);

// A message and the account that sent it, as the system told.
struct TSlotMessage {
    std::string Text; // empty when no message waited
    std::uint32_t SenderUid = 0;
};

// The owner's end. A thread of the slot's own keeps taking messages off the system as they
// arrive, so senders are not held up by an owner that reads only now and then.
//
// Dropped on arrival, without a trace: messages longer than MaxSlotMessage, empty messages
// (also those that are empty once cut at their first zero byte), messages the filter does not
// want and messages beyond SlotQueueLimit. A zero byte ends a message. Dropped and counted
// (TakeRefused): every message from a sender the policy does not accept, or whose sender the system
// did not tell.
class TMailSlot {
public:
    // Accepts the administrators of the slots' program directory.
    explicit TMailSlot(std::string_view name);
    // An empty filter keeps every message.
    TMailSlot(std::string_view name, TSenderPolicy accept, TMessageFilter wanted = {});
    ~TMailSlot();
    TMailSlot(const TMailSlot&) = delete;
    TMailSlot& operator=(const TMailSlot&) = delete;

    // True when the slot could not be made: another owner has it (InUse), or the slots cannot
    // be reached (not an administrator) or made. Such a slot stays usable and never has a
    // message.
    bool CreationFailed() const { return !datagrams_.Bound(); }
    bool InUse() const { return datagrams_.InUse(); }
    // Why the slot could not be made, with its path; empty when it was.
    const std::string& Failure() const { return datagrams_.Failure(); }
    const std::string& Path() const { return path_; }

    // The oldest waiting message, or an empty text when none waits; never waits itself. Every
    // message whose send has returned true is seen here, after the older ones.
    std::string ReadMessage() { return Receive().Text; }
    // ReadMessage with the account that sent the message.
    TSlotMessage Receive();

    // How many messages were refused for their sender since the last call.
    std::size_t TakeRefused() { return refused_.exchange(0); }

    // Called on the slot's own thread whenever messages were queued or refused, so an owner
    // that waits for them need not look every so often. Calls may come while it is being set.
    void SetArrivalHook(std::function<void()> hook);

private:
    void ReadUntilStopped();
    // Moves waiting datagrams from the system into the queue; needs mutex_. True when a
    // message was queued or refused.
    bool Collect(std::size_t limit);

    std::string path_;
    TSenderPolicy accept_;
    TMessageFilter wanted_;
    std::atomic<std::size_t> refused_{0};
    platform::TDatagramSlot datagrams_;
    std::mutex mutex_;
    std::deque<TSlotMessage> queue_;
    std::function<void()> arrived_;
    // Set when the endpoint itself fails; nothing more arrives then.
    std::atomic<bool> broken_{false};
    std::thread reader_;
};

// True when the message was handed to the slot's owner. False, with nothing sent, for an empty
// message, one longer than MaxSlotMessage, a name nobody owns, or an owner whose queue stayed
// full for a short while (its program is stopped or starved).
bool SendSlotMessage(std::string_view name, std::string_view message);

// True when some program owns the slot. False also where the slots cannot be reached.
bool SlotExists(std::string_view name);

namespace slot_format {

template <typename T>
concept SlotInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;
template <typename T>
concept SlotText = std::convertible_to<const T&, std::string_view>;
template <typename T>
concept SlotArgument = SlotInteger<T> || SlotText<T>;

// Declared only: reaching it while checking a format at compile time stops the build.
void FormatDoesNotMatchArguments();

// A format whose directives are checked against the argument types when it is compiled:
// "%s" takes a text, "%d" an integer, "%%" is a percent sign; nothing else is accepted.
template <typename... Args>
class TFormat {
public:
    template <SlotText S>
    consteval TFormat(const S& text) : text_(text) {
        constexpr bool isText[] = {SlotText<Args>..., false};
        std::size_t used = 0;
        for (std::size_t i = 0; i < text_.size(); ++i) {
            if (text_[i] != '%') {
                continue;
            }
            const char directive = i + 1 < text_.size() ? text_[++i] : '\0';
            if (directive == '%') {
                continue;
            }
            if ((directive != 's' && directive != 'd') || used == sizeof...(Args) ||
                isText[used] != (directive == 's')) {
                FormatDoesNotMatchArguments();
            }
            ++used;
        }
        if (used != sizeof...(Args)) {
            FormatDoesNotMatchArguments();
        }
    }
    std::string_view View() const { return text_; }

private:
    std::string_view text_;
};

template <typename T>
std::string Piece(const T& value) {
    if constexpr (SlotInteger<T>) {
        return std::to_string(value);
    } else {
        return std::string(std::string_view(value));
    }
}

// Replaces the directives of a checked format by the pieces, in order.
std::string Substitute(std::string_view format, std::span<const std::string> pieces);

} // namespace slot_format

// Formats the message and sends it like SendSlotMessage. A format that does not fit the
// arguments does not compile.
template <slot_format::SlotArgument... Args>
bool SendSlotFmt(std::string_view name, slot_format::TFormat<std::type_identity_t<Args>...> format,
                 const Args&... args) {
    const std::string pieces[] = {slot_format::Piece(args)..., std::string()};
    return SendSlotMessage(
        name, slot_format::Substitute(format.View(), std::span(pieces, sizeof...(Args))));
}

} // namespace tarvok
