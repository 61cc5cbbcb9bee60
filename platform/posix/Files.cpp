#include "platform/Files.h"

#include "platform/Accounts.h"
#include "platform/ErrorText.h"
#include "platform/posix/Descriptor.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvok::platform {

namespace {

[[noreturn]] void ThrowErrno(const std::string& path) {
    throw TIoError(path, ErrorText(errno));
}

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Fresh from the kernel each time: a generator's state would be shared by forked processes,
// which would then all try the same names, and a name that can be guessed can be planted.
std::string RandomSuffix() {
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned char bytes[10] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        ThrowErrno("getrandom");
    }
    std::string suffix(sizeof bytes, '0');
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        suffix[i] = digits[bytes[i] % (sizeof(digits) - 1)];
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
    const bool known = ::stat(DirectoryOf(path).c_str(), &directory) == 0;
    if (known) {
        // Only root or a member may hand the file to the group; otherwise it keeps ours.
        [[maybe_unused]] int ignored = ::fchown(fd, static_cast<uid_t>(-1), directory.st_gid);
    }
    struct stat file {};
    if (::fstat(fd, &file) != 0) {
        ThrowErrno(path);
    }
    // A file left in the writer's own group must not be writable by that group: its members
    // need not administer the directory.
    const mode_t mode = known && file.st_gid == directory.st_gid ? 0664 : 0644;
    if (::fchmod(fd, mode) != 0) {
        ThrowErrno(path);
    }
}

std::string ReadAll(int fd, const std::string& path) {
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
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

// Not following a link, and not waiting on a pipe or a terminal that was put at the path.
constexpr int ReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

TTrustedFile Refused(std::string why) {
    return {TTrustedFile::TOutcome::Refused, {}, std::move(why)};
}

// Empty when a file with this status may be trusted in a directory with that status.
std::string Distrust(const struct stat& file, const struct stat& directory) {
    if (!S_ISREG(file.st_mode)) {
        return "it is not a regular file";
    }
    // No link at all only means a save replaced it after it was opened: still the last save.
    if (file.st_nlink > 1) {
        return "it has more than one link";
    }
    if (!IsAdministrator(file.st_uid, TDirectoryOwners{directory.st_uid, directory.st_gid})) {
        return "it is owned by uid " + std::to_string(file.st_uid) +
               ", who does not administer its directory";
    }
    if ((file.st_mode & S_IWOTH) != 0) {
        return "it is writable by others";
    }
    if ((file.st_mode & S_IWGRP) != 0 && file.st_gid != directory.st_gid) {
        return "it is writable by group " + std::to_string(file.st_gid) +
               ", which is not its directory's group";
    }
    return {};
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

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool CanListDirectory(const std::string& path) {
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        return false;
    }
    errno = 0;
    const bool read = ::readdir(directory) != nullptr || errno == 0;
    ::closedir(directory);
    return read;
}

std::string ReadFile(const std::string& path) {
    TFd fd(::open(path.c_str(), ReadFlags));
    if (fd.Get() < 0) {
        ThrowErrno(path);
    }
    return ReadAll(fd.Get(), path);
}

TTrustedFile ReadTrustedFile(const std::string& path) {
    // The directory may be reached through links: it is where the program itself was found.
    const std::string directoryPath = DirectoryOf(path);
    TFd directory(::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat directoryInfo {};
    if (directory.Get() < 0 || ::fstat(directory.Get(), &directoryInfo) != 0) {
        ThrowErrno(directoryPath);
    }
    // Checked first: in such a directory anyone may have planted whatever is at the name.
    if ((directoryInfo.st_mode & S_IWOTH) != 0) {
        return Refused("its directory is writable by others");
    }
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    TFd fd(::openat(directory.Get(), name.c_str(), ReadFlags));
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            return {};
        }
        if (errno == ELOOP) {
            return Refused("it is a symbolic link");
        }
        ThrowErrno(path);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        ThrowErrno(path);
    }
    if (std::string why = Distrust(info, directoryInfo); !why.empty()) {
        return Refused(std::move(why));
    }
    return {TTrustedFile::TOutcome::Trusted, ReadAll(fd.Get(), path), {}};
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
