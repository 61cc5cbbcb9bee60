#include "platform/DatagramSlot.h"

#include "platform/Accounts.h"
#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "platform/posix/Descriptor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvok::platform {

namespace {

struct TAddress {
    sockaddr_un Name{};
    socklen_t Length = 0;
};

// A path that does not fit is refused rather than cut, so that two long paths can never alias.
std::optional<TAddress> PathAddress(std::string_view path) {
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path)) {
        return std::nullopt;
    }
    TAddress result;
    result.Name.sun_family = AF_UNIX;
    std::memcpy(result.Name.sun_path, path.data(), path.size());
    result.Length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return result;
}

// A name in an open directory, however long the directory's own path: the kernel resolves the
// descriptor's link in /proc to the directory itself.
std::optional<TAddress> AddressIn(int directory, std::string_view name) {
    return PathAddress("/proc/self/fd/" + std::to_string(directory) + "/" + std::string(name));
}

struct TSplitAddress {
    std::string Directory;
    std::string Name;
};

std::optional<TSplitAddress> Split(std::string_view address) {
    const auto slash = address.find_last_of('/');
    if (slash == std::string_view::npos || slash + 1 == address.size()) {
        return std::nullopt;
    }
    return TSplitAddress{std::string(address.substr(0, slash == 0 ? 1 : slash)),
                         std::string(address.substr(slash + 1))};
}

std::string DirectoryAbove(const std::string& directory) {
    const auto slash = directory.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : directory.substr(0, slash);
}

// How a sender or a prober reaches an address: its path, or a name in its directory held open
// for as long as this lives.
class TReach {
public:
    // Empty, with errno set, when the address cannot be reached at all.
    static std::optional<TReach> Of(std::string_view address) {
        TReach reach;
        if (auto direct = PathAddress(address)) {
            reach.address_ = *direct;
            return reach;
        }
        auto split = Split(address);
        if (!split) {
            errno = EINVAL;
            return std::nullopt;
        }
        reach.directory_.Reset(::open(split->Directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!reach.directory_.Valid()) {
            return std::nullopt;
        }
        auto inside = AddressIn(reach.directory_.Get(), split->Name);
        if (!inside) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        reach.address_ = *inside;
        return reach;
    }

    const TAddress& Address() const { return address_; }

private:
    TFd directory_;
    TAddress address_;
};

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

// --- The slot directory ---

std::mutex hooksMutex;
TSlotCreationHooks hooks;

void CallHook(std::function<void()> TSlotCreationHooks::*which) {
    std::function<void()> hook;
    {
        std::lock_guard lock(hooksMutex);
        hook = hooks.*which;
    }
    if (hook) {
        hook();
    }
}

// The slot directory's lock, held from construction to destruction. Every program that makes,
// replaces or removes a socket file in the directory takes it, and only administrators can open
// the directory to take it.
class TDirectoryLock {
public:
    explicit TDirectoryLock(int directory) : directory_(directory) {
        if (::flock(directory_, LOCK_EX | LOCK_NB) == 0) {
            return;
        }
        CallHook(&TSlotCreationHooks::LockBusy);
        while (::flock(directory_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    TDirectoryLock(const TDirectoryLock&) = delete;
    TDirectoryLock& operator=(const TDirectoryLock&) = delete;
    ~TDirectoryLock() { ::flock(directory_, LOCK_UN); }

private:
    int directory_;
};

bool AsItShouldBe(const struct stat& info, const struct stat& above) {
    return (info.st_mode & 07777) == SlotDirectoryMode && info.st_gid == above.st_gid &&
           (::geteuid() != 0 || info.st_uid == 0);
}

// Entries a directory may have; a slot directory holds three.
constexpr int MaxEntriesLookedAt = 1024;

// What a stranger put into the directory while it was open to strangers: sockets squatting a
// slot's name above all. Their directories are left; nothing of Tarvok's is ever one.
void RemoveStrangers(int directory, const struct stat& above) {
    DIR* listing = ::fdopendir(::dup(directory));
    if (listing == nullptr) {
        return;
    }
    const TDirectoryOwners owners{above.st_uid, above.st_gid};
    int seen = 0;
    for (dirent* entry = ::readdir(listing); entry != nullptr && seen < MaxEntriesLookedAt;
         entry = ::readdir(listing), ++seen) {
        const std::string_view name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." ||
            ::fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            IsAdministrator(info.st_uid, owners)) {
            continue;
        }
        ::unlinkat(directory, entry->d_name, 0);
    }
    ::closedir(listing);
}

// Opens the slot directory, making it when it is missing and setting its owner (root's, when
// root opens it), group and mode right as far as the caller may. Empty, with errno set, when it
// cannot be had.
TFd OpenSlotDirectory(const std::string& path) {
    struct stat above {};
    if (::stat(DirectoryAbove(path).c_str(), &above) != 0) {
        return TFd();
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return TFd();
    }
    TFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!directory.Valid() || ::fstat(directory.Get(), &info) != 0) {
        return TFd();
    }
    if (AsItShouldBe(info, above)) {
        return directory;
    }
    // Refusals are left be: a manager cannot make root's directory its own, and need not.
    const uid_t owner = ::geteuid() == 0 ? 0 : static_cast<uid_t>(-1);
    [[maybe_unused]] int ignored = ::fchown(directory.Get(), owner, above.st_gid);
    ignored = ::fchmod(directory.Get(), SlotDirectoryMode);
    RemoveStrangers(directory.Get(), above);
    return directory;
}

enum class THolder { Nobody, Live, NotASocket };

// Who is behind the file at the name; asked with the directory's lock held.
THolder HolderOf(int directory, const std::string& name) {
    struct stat info {};
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? THolder::Nobody : THolder::Live;
    }
    if (!S_ISSOCK(info.st_mode)) {
        return THolder::NotASocket;
    }
    const TFd probe(NewDatagramSocket());
    const auto address = AddressIn(directory, name);
    if (!probe.Valid() || !address) {
        return THolder::Live; // cannot tell: never take a name that may be held
    }
    if (::connect(probe.Get(), AsSockaddr(*address), address->Length) == 0) {
        return THolder::Live;
    }
    return errno == ECONNREFUSED ? THolder::Nobody : THolder::Live;
}

struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};

std::optional<TFileIdentity> IdentityOf(int directory, const std::string& name) {
    struct stat info {};
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return TFileIdentity{info.st_dev, info.st_ino};
}

} // namespace

struct TDatagramSlot::TImpl {
    std::string Address;
    std::size_t Capacity = 0;
    TFd Directory;
    std::string Name;
    // The socket file as made, so that closing never removes a file that another put there.
    std::optional<TFileIdentity> File;
    TFd Socket;
    // Written once by Stop(); a poll on it is how a blocked reader learns to stop.
    TFd Wake;
    std::atomic<bool> Stopped{false};
    bool InUse = false;
    std::string Failure;

    void Fail(int error) {
        InUse = InUse || error == EADDRINUSE;
        Failure = Address + ": " + ErrorText(error);
        Socket.Reset();
        Wake.Reset();
        Directory.Reset();
    }

    int BindName() {
        const auto address = AddressIn(Directory.Get(), Name);
        if (!address) {
            return ENAMETOOLONG;
        }
        return ::bind(Socket.Get(), AsSockaddr(*address), address->Length) == 0 ? 0 : errno;
    }

    // Binds the name, or replaces a file that nobody is behind; with the lock held.
    int TakeName() {
        int error = BindName();
        if (error != EADDRINUSE) {
            return error;
        }
        switch (HolderOf(Directory.Get(), Name)) {
        case THolder::Live:
            InUse = true;
            return EADDRINUSE;
        case THolder::NotASocket:
            InUse = true;
            return EEXIST;
        case THolder::Nobody:
            break;
        }
        CallHook(&TSlotCreationHooks::FoundStale);
        if (::unlinkat(Directory.Get(), Name.c_str(), 0) != 0 && errno != ENOENT) {
            return errno;
        }
        return BindName();
    }

    void Bind() {
        auto split = Split(Address);
        if (!split) {
            Fail(EINVAL);
            return;
        }
        Name = split->Name;
        Directory = OpenSlotDirectory(split->Directory);
        if (!Directory.Valid()) {
            Fail(errno);
            return;
        }
        Socket.Reset(NewDatagramSocket());
        const int on = 1;
        if (!Socket.Valid() ||
            ::setsockopt(Socket.Get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
            Fail(errno);
            return;
        }
        {
            const TDirectoryLock lock(Directory.Get());
            if (const int error = TakeName(); error != 0) {
                Fail(error);
                return;
            }
            // The administrators send through the group, whatever the umask left.
            if (::fchmodat(Directory.Get(), Name.c_str(), SlotFileMode, 0) != 0) {
                const int error = errno;
                ::unlinkat(Directory.Get(), Name.c_str(), 0);
                Fail(error);
                return;
            }
            File = IdentityOf(Directory.Get(), Name);
        }
        Wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!Wake.Valid()) {
            const int error = errno;
            RemoveFile();
            Fail(error);
        }
    }

    void RemoveFile() {
        if (!Directory.Valid() || !File) {
            return;
        }
        const TDirectoryLock lock(Directory.Get());
        if (IdentityOf(Directory.Get(), Name) == File) {
            ::unlinkat(Directory.Get(), Name.c_str(), 0);
        }
        File.reset();
    }
};

TDatagramSlot::TDatagramSlot(std::string_view address, std::size_t capacity)
    : impl_(std::make_unique<TImpl>()) {
    impl_->Address = address;
    impl_->Capacity = capacity;
    impl_->Bind();
}

TDatagramSlot::~TDatagramSlot() {
    impl_->RemoveFile();
}

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

TSendResult NotSent(int error) {
    switch (error) {
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
    if (errno == EAGAIN) {
        return std::nullopt;
    }
    return NotSent(errno);
}

} // namespace

TSendResult SendDatagram(std::string_view address, std::string_view bytes,
                         std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    const auto reach = TReach::Of(address);
    if (!reach) {
        return NotSent(errno);
    }
    const TAddress& target = reach->Address();
    if (const auto result = SendAtOnce(target, bytes)) {
        return *result;
    }
    TFd fd(NewDatagramSocket());
    if (fd.Get() < 0) {
        return TSendResult::Failed;
    }
    // Connected, the socket's writability follows the receiver's queue, so poll can wait for
    // room instead of the sender spinning on EAGAIN.
    if (::connect(fd.Get(), AsSockaddr(target), target.Length) != 0) {
        return NotSent(errno);
    }
    const auto deadline = Clock::now() + patience;
    for (;;) {
        if (::send(fd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            return TSendResult::Sent;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return NotSent(errno); // the receiver may have gone after the connect
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
    const auto reach = TReach::Of(address);
    if (!reach) {
        return false;
    }
    const TFd probe(NewDatagramSocket());
    return probe.Valid() &&
           ::connect(probe.Get(), AsSockaddr(reach->Address()), reach->Address().Length) == 0;
}

void SetSlotCreationHooks(TSlotCreationHooks replacement) {
    std::lock_guard lock(hooksMutex);
    hooks = std::move(replacement);
}

} // namespace tarvok::platform
