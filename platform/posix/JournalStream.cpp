#include "platform/posix/JournalStream.h"

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace tarvok::platform {

namespace {

constexpr const char* JournalStreamPath = "/run/systemd/journal/stdout";
// A program that prints a lot must not be slowed by a small buffer while the journal catches up;
// the kernel caps it at what it allows.
constexpr int SendBuffer = 8 * 1024 * 1024;

// Identifier, unit (none), priority (info), level prefixes honoured, and no copies to syslog,
// the kernel log or the console: the header every stream begins with.
std::string Header(const std::string& identifier) {
    std::string header = identifier;
    for (char& c : header) {
        if (c == '\n') {
            c = ' '; // a line end would shift every field after it
        }
    }
    return header + "\n\n6\n1\n0\n0\n0\n";
}

bool ConnectNow(int fd) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, JournalStreamPath, sizeof address.sun_path - 1);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool WriteAll(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// At 3 or above, so that duplicating it onto the standard streams always clears close-on-exec,
// even in a program started with one of them closed.
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

} // namespace

TFd OpenJournalStream(const std::string& identifier) {
    // Not blocking while it connects and writes the header: a journal too busy to accept at once
    // costs the run its output, never the scheduler its start.
    TFd fd(AboveStandardStreams(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)));
    if (!fd.Valid()) {
        return fd;
    }
    ::shutdown(fd.Get(), SHUT_RD);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &SendBuffer, sizeof SendBuffer);
    if (!ConnectNow(fd.Get()) || !WriteAll(fd.Get(), Header(identifier))) {
        return TFd();
    }
    // The program shares this open stream: it writes as to any pipe, waiting when it is full.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return TFd();
    }
    return fd;
}

} // namespace tarvok::platform
