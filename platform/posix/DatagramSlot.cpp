#include "platform/DatagramSlot.h"

#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "platform/posix/Descriptor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvok::platform {

namespace {

struct TAddress {
    sockaddr_un Name{};
    socklen_t Length = 0;
};

// The abstract namespace: a leading NUL, then the address bytes, no terminator. An address that
// does not fit is refused rather than cut, so that two long addresses can never alias.
std::optional<TAddress> AbstractAddress(std::string_view address) {
    static_assert(sizeof(sockaddr_un::sun_path) == MaxAddressLength + 1);
    if (address.empty() || address.size() > MaxAddressLength) {
        return std::nullopt;
    }
    TAddress result;
    result.Name.sun_family = AF_UNIX;
    std::memcpy(result.Name.sun_path + 1, address.data(), address.size());
    result.Length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.size());
    return result;
}

const sockaddr* AsSockaddr(const TAddress& address) {
    return reinterpret_cast<const sockaddr*>(&address.Name);
}

int NewDatagramSocket() {
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Room for the credentials and for descriptors a sender may attach uninvited; those are closed
// at once. Descriptors beyond this room are discarded by the kernel.
constexpr std::size_t ControlSize = CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int) * 16);

void TakeControl(msghdr& message, TDatagram& datagram) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET) {
            continue;
        }
        const std::size_t payload = header->cmsg_len - CMSG_LEN(0);
        if (header->cmsg_type == SCM_CREDENTIALS && payload >= sizeof(ucred)) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            datagram.Sender = TSenderCredentials{credentials.uid, credentials.gid, credentials.pid};
        } else if (header->cmsg_type == SCM_RIGHTS) {
            for (std::size_t i = 0; i < payload / sizeof(int); ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                ::close(fd);
            }
        }
    }
}

} // namespace

struct TDatagramSlot::TImpl {
    std::string Address;
    std::size_t Capacity = 0;
    TFd Socket;
    // Written once by Stop(); a poll on it is how a blocked reader learns to stop.
    TFd Wake;
    std::atomic<bool> Stopped{false};
    bool InUse = false;
    std::string Failure;

    void Fail(int error) {
        InUse = error == EADDRINUSE;
        Failure = ErrorText(error);
        Socket.Reset();
        Wake.Reset();
    }

    void Bind() {
        auto address = AbstractAddress(Address);
        if (!address) {
            Fail(ENAMETOOLONG);
            return;
        }
        Socket.Reset(NewDatagramSocket());
        const int on = 1;
        if (Socket.Get() < 0 ||
            ::setsockopt(Socket.Get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
            ::bind(Socket.Get(), AsSockaddr(*address), address->Length) != 0) {
            Fail(errno);
            return;
        }
        Wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (Wake.Get() < 0) {
            Fail(errno);
        }
    }
};

TDatagramSlot::TDatagramSlot(std::string_view address, std::size_t capacity)
    : impl_(std::make_unique<TImpl>()) {
    impl_->Address = address;
    impl_->Capacity = capacity;
    impl_->Bind();
}

TDatagramSlot::~TDatagramSlot() = default;

bool TDatagramSlot::Bound() const {
    return impl_->Socket.Get() >= 0;
}

bool TDatagramSlot::InUse() const {
    return impl_->InUse;
}

const std::string& TDatagramSlot::Failure() const {
    return impl_->Failure;
}

bool TDatagramSlot::WaitForDatagram() {
    if (!Bound()) {
        return false;
    }
    while (!impl_->Stopped.load()) {
        pollfd watched[2] = {{impl_->Socket.Get(), POLLIN, 0}, {impl_->Wake.Get(), POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw TIoError(impl_->Address, ErrorText(errno));
        }
        if (watched[1].revents != 0) {
            return false;
        }
        // An error condition counts too: TryReceive then reports it instead of a busy loop here.
        if (watched[0].revents != 0) {
            return true;
        }
    }
    return false;
}

std::optional<TDatagram> TDatagramSlot::TryReceive() {
    if (!Bound()) {
        return std::nullopt;
    }
    TDatagram datagram;
    datagram.Bytes.resize(impl_->Capacity);
    alignas(cmsghdr) char control[ControlSize];
    iovec vector{datagram.Bytes.data(), datagram.Bytes.size()};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;

    ssize_t length = -1;
    do {
        // MSG_TRUNC makes the call answer the datagram's real length, however long it was.
        length =
            ::recvmsg(impl_->Socket.Get(), &message, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    } while (length < 0 && errno == EINTR);
    if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        throw TIoError(impl_->Address, ErrorText(errno));
    }
    datagram.Length = static_cast<std::size_t>(length);
    datagram.Bytes.resize(std::min(datagram.Length, impl_->Capacity));
    TakeControl(message, datagram);
    return datagram;
}

void TDatagramSlot::Stop() {
    impl_->Stopped.store(true);
    if (impl_->Wake.Get() >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(impl_->Wake.Get(), &one, sizeof one);
    }
}

namespace {

// The socket a thread sends from, kept for the thread's life: the service tells the manager its
// state twice a second and announces every log line, and a socket made and closed per message
// was most of what those cost. It is not connected, so each send goes to whoever owns the
// address at that moment, and a receiver that went and came back is found again.
int ThreadSender() {
    thread_local TFd sender;
    if (sender.Get() < 0) {
        sender.Reset(NewDatagramSocket());
    }
    return sender.Get();
}

// Sent from the thread's socket without waiting; nothing when the receiver's queue is full (or
// no socket could be had), so the caller waits for room another way.
std::optional<TSendResult> SendAtOnce(const TAddress& target, std::string_view bytes) {
    const int sender = ThreadSender();
    if (sender < 0) {
        return std::nullopt;
    }
    ssize_t sent = -1;
    do {
        sent = ::sendto(sender, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                        AsSockaddr(target), target.Length);
    } while (sent < 0 && errno == EINTR);
    if (sent >= 0) {
        return TSendResult::Sent;
    }
    switch (errno) {
    case EAGAIN:
        return std::nullopt;
    case ECONNREFUSED:
    case ENOENT:
    case ECONNRESET:
    case ENOTCONN:
    case EPIPE:
        return TSendResult::NoReceiver;
    default:
        return TSendResult::Failed;
    }
}

} // namespace

TSendResult SendDatagram(std::string_view address, std::string_view bytes,
                         std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    auto target = AbstractAddress(address);
    if (!target) {
        return TSendResult::Failed;
    }
    if (const auto result = SendAtOnce(*target, bytes)) {
        return *result;
    }
    TFd fd(NewDatagramSocket());
    if (fd.Get() < 0) {
        return TSendResult::Failed;
    }
    // Connected, the socket's writability follows the receiver's queue, so poll can wait for
    // room instead of the sender spinning on EAGAIN.
    if (::connect(fd.Get(), AsSockaddr(*target), target->Length) != 0) {
        return errno == ECONNREFUSED || errno == ENOENT ? TSendResult::NoReceiver
                                                        : TSendResult::Failed;
    }
    const auto deadline = Clock::now() + patience;
    for (;;) {
        if (::send(fd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            return TSendResult::Sent;
        }
        switch (errno) {
        case EINTR:
            continue;
        case EAGAIN:
            break;
        case ECONNREFUSED: // the receiver went away after the connect
        case ECONNRESET:
        case ENOTCONN:
        case EPIPE:
            return TSendResult::NoReceiver;
        default:
            return TSendResult::Failed;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return TSendResult::Full;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        pollfd watched{fd.Get(), POLLOUT, 0};
        ::poll(&watched, 1, static_cast<int>(wait));
    }
}

bool AddressInUse(std::string_view address) {
    auto target = AbstractAddress(address);
    if (!target) {
        return false;
    }
    TFd fd(NewDatagramSocket());
    return fd.Get() >= 0 && ::bind(fd.Get(), AsSockaddr(*target), target->Length) != 0 &&
           errno == EADDRINUSE;
}

} // namespace tarvok::platform
