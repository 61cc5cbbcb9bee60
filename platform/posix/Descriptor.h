// An open file descriptor owned by one object, closed when the object goes. Internal to the
// POSIX implementation.
//
//   TFd fd(::open(path, O_RDONLY | O_CLOEXEC));
//   if (!fd.Valid()) ...       // errno still holds the open's failure
#pragma once

#include <unistd.h>
#include <utility>

namespace tarvok::platform {

class TFd {
public:
    explicit TFd(int fd = -1) noexcept : fd_(fd) {}
    TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }

    int Get() const noexcept { return fd_; }
    bool Valid() const noexcept { return fd_ >= 0; }

    // Closes the descriptor held, if any, and takes another. A failing close is not seen here:
    // use Close where it matters.
    void Reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

    // Closes now and answers close's result, so that a write the close reports as lost is seen.
    int Close() noexcept { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

} // namespace tarvok::platform
