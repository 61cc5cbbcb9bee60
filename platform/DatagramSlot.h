// Local datagram endpoints at socket files: what the mail slots stand on.
//
// An address is the path of a socket file, "<slot directory>/<name>". The slot directory is
// shared by the administrators of the directory that holds it (platform/Accounts.h) and by
// nobody else: it belongs to that directory's group with mode 2770, so the system itself keeps
// everyone else from reaching an address at all. Whoever first makes an endpoint in it creates
// it; root makes it root's, whoever made it, and sets its group and mode right. A slot directory
// found with another owner, group or mode is set right as far as the caller may, and anything
// in it that a non-administrator owns is removed.
//
// One send is one datagram, delivered whole or not at all, in the order sent from one sender.
// An address belongs to one receiving endpoint at a time: its socket file is made when the
// endpoint is, and removed when it is closed. A file left by an endpoint whose process died has
// nobody behind it; the next endpoint made there replaces it. Who makes an endpoint, replaces a
// left-over file or removes a closed one holds the slot directory's lock meanwhile, so two
// programs starting together never both get a name. Addresses too long for the system's socket
// addresses are reached through a descriptor of their directory.
//
//     TDatagramSlot slot("/opt/tarvok/slots/tarvokclient", 64);
//     while (slot.WaitForDatagram())
//         while (auto datagram = slot.TryReceive()) ...
//
// Each datagram comes with the kernel's word on who sent it, which a sender cannot forge
// without privileges.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok::platform {

// The mode a slot directory has, and the mode of the socket files in it.
inline constexpr std::uint32_t SlotDirectoryMode = 02770;
inline constexpr std::uint32_t SlotFileMode = 0660;

struct TSenderCredentials {
    std::uint32_t Uid = 0;
    std::uint32_t Gid = 0;
    std::int32_t Pid = 0;
};

struct TDatagram {
    // At most the slot's capacity; the rest of a longer datagram is discarded by the system.
    std::string Bytes;
    // The datagram's real length, so a caller can tell a cut datagram from a whole one.
    std::size_t Length = 0;
    // Absent only if the system attached none, which a caller should treat as a stranger.
    std::optional<TSenderCredentials> Sender;

    bool Truncated() const { return Length > Bytes.size(); }
};

// The receiving end. Creation never throws: a taken address or any other failure leaves an
// unbound slot that reports why and receives nothing. WaitForDatagram and Stop may be called
// from different threads; TryReceive from any thread, one at a time.
class TDatagramSlot {
public:
    TDatagramSlot(std::string_view address, std::size_t capacity);
    // Removes the socket file, unless it is no longer this endpoint's.
    ~TDatagramSlot();
    TDatagramSlot(const TDatagramSlot&) = delete;
    TDatagramSlot& operator=(const TDatagramSlot&) = delete;

    bool Bound() const;
    // True when a live endpoint holds the address (or something that is not a socket file is
    // there).
    bool InUse() const;
    // The address and the system's reason for a failed creation; empty when bound.
    const std::string& Failure() const;

    // Blocks until a datagram waits or Stop() is called; false once stopped or never bound.
    bool WaitForDatagram();
    // The next waiting datagram without waiting; nullopt when none waits. Throws TIoError only
    // for a failure of the endpoint itself, never because of what a sender sent.
    std::optional<TDatagram> TryReceive();
    // Makes every present and future WaitForDatagram return false.
    void Stop();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

enum class TSendResult {
    Sent,
    NoReceiver, // nothing is bound at the address
    Full,       // the receiver's queue stayed full for the whole patience
    Failed,     // any other failure, no access to the address included
};

// Sends one datagram. While the receiver's queue is full it waits for room at most `patience`
// (zero: not at all); it never waits for anything else. Each sending thread keeps one socket
// of its own for its sends (closed on exec and when the thread ends).
TSendResult SendDatagram(std::string_view address, std::string_view bytes,
                         std::chrono::milliseconds patience);

// True when a live endpoint holds the address. Asks without taking it, so it never gets in the
// way of an endpoint being made. False also where the caller may not reach the address.
bool AddressInUse(std::string_view address);

// For tests that force the moments which decide who gets a name; empty hooks (the default) do
// nothing. Called on the thread making the endpoint.
struct TSlotCreationHooks {
    // Another holds the slot directory's lock; called just before waiting for it.
    std::function<void()> LockBusy;
    // With the lock held, the file at the name was found to have nobody behind it; called just
    // before it is replaced.
    std::function<void()> FoundStale;
};
void SetSlotCreationHooks(TSlotCreationHooks hooks);

} // namespace tarvok::platform
