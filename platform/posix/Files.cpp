#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarvok::platform {

namespace {

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

[[noreturn]] void ThrowErrno(const std::string& path) {
    throw TIoError(path, ErrorText(errno));
}

// Closes a descriptor on every path out of a function.
class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    // Closes now, so that a failing close is seen by the caller.
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RandomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(10, '0');
    for (char& c : suffix) {
        c = digits[generator() % (sizeof(digits) - 1)];
    }
    return suffix;
}

void WriteAll(int fd, std::string_view content, const std::string& path) {
    while (!content.empty()) {
        ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno(path);
        }
        content.remove_prefix(static_cast<size_t>(written));
    }
}

// Creates a fresh temporary file beside the target; O_EXCL and O_NOFOLLOW so that nothing
// planted at that name can redirect the write.
std::pair<int, std::string> CreateTemporaryBeside(const std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = path + ".tmp-" + RandomSuffix();
        int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
        if (fd >= 0) {
            return {fd, temporary};
        }
        if (errno != EEXIST) {
            ThrowErrno(path);
        }
    }
    throw TIoError(path, ErrorText(EEXIST));
}

// Mode 0664 whatever the umask, and the directory's group so that its members share the file.
void ShareWithDirectoryGroup(int fd, const std::string& path) {
    struct stat directory {};
    if (::stat(DirectoryOf(path).c_str(), &directory) == 0) {
        // Only root or a member may hand the file to the group; otherwise it keeps ours.
        [[maybe_unused]] int ignored = ::fchown(fd, static_cast<uid_t>(-1), directory.st_gid);
    }
    if (::fchmod(fd, 0664) != 0) {
        ThrowErrno(path);
    }
}

} // namespace

TIoError::TIoError(std::string path, std::string reason)
    : std::runtime_error(path + ": " + reason), path_(std::move(path)), reason_(std::move(reason)) {
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ReadFile(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        ThrowErrno(path);
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno(path);
        }
        if (got == 0) {
            return content;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
}

void ReplaceFile(const std::string& path, std::string_view content, TFlush flush) {
    auto [rawFd, temporary] = CreateTemporaryBeside(path);
    TFd fd(rawFd);
    try {
        ShareWithDirectoryGroup(fd.Get(), path);
        WriteAll(fd.Get(), content, path);
        if ((flush == TFlush::ToDisk && ::fsync(fd.Get()) != 0) || fd.Close() != 0) {
            ThrowErrno(path);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            ThrowErrno(path);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        ThrowErrno(path);
    }
}

std::string ProgramFile() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0) {
        ThrowErrno("/proc/self/exe");
    }
    return std::string(buffer, static_cast<size_t>(length));
}

} // namespace tarvok::platform
