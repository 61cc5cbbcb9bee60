// Local datagram endpoints named by a text address: what the mail slots stand on.
//
// One send is one datagram, delivered whole or not at all, in the order sent from one sender.
// An address belongs to one receiving endpoint at a time and is freed when that endpoint is
// closed or its process dies. On Linux an address is a name in the abstract unix-socket
// namespace, which is per network namespace; addresses longer than MaxAddressLength never bind
// and never receive (they are refused, not cut, so two long names cannot meet).
//
//     TDatagramSlot slot("\\\\.\\mailslot\\tarvokclient", 64);
//     while (slot.WaitForDatagram())
//         while (auto datagram = slot.TryReceive()) ...
//
// Each datagram comes with the kernel's word on who sent it, which a sender cannot forge
// without privileges.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok::platform {

inline constexpr std::size_t MaxAddressLength = 107;

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
    ~TDatagramSlot();
    TDatagramSlot(const TDatagramSlot&) = delete;
    TDatagramSlot& operator=(const TDatagramSlot&) = delete;

    bool Bound() const;
    // True when the address was already bound by another endpoint.
    bool InUse() const;
    // The system's reason for a failed creation; empty when bound.
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
    Failed,     // any other failure, an unusable address included
};

// Sends one datagram. While the receiver's queue is full it waits for room at most `patience`
// (zero: not at all); it never waits for anything else. Each sending thread keeps one socket
// of its own for its sends (closed on exec and when the thread ends).
TSendResult SendDatagram(std::string_view address, std::string_view bytes,
                         std::chrono::milliseconds patience);

// True when an endpoint is bound at the address. Answers by binding it for a moment, so a
// creation racing with the test can fail.
bool AddressInUse(std::string_view address);

} // namespace tarvok::platform
