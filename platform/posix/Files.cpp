#include "platform/Files.h"

#include "platform/Accounts.h"
#include "platform/ErrorText.h"
#include "platform/posix/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

// Up to `limit` bytes from where the descriptor stands.
std::string ReadAll(int fd, const std::string& path, std::size_t limit = std::string::npos) {
    std::string content;
    char buffer[65536];
    while (content.size() < limit) {
        ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit - content.size()));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno(path);
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

// Not following a link, and not waiting on a pipe or a terminal that was put at the path.
constexpr int ReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

TTrustedFile Refused(std::string why) {
    return {TTrustedFile::TOutcome::Refused, {}, std::move(why)};
}

constexpr const char* AccessAcl = "system.posix_acl_access";
constexpr const char* DefaultAcl = "system.posix_acl_default";

// The ACL's entries as the kernel hands them out: a version word, then (tag, permissions, id)
// in little-endian order.
constexpr std::size_t AclHeaderSize = 4;
constexpr std::size_t AclEntrySize = 8;
constexpr std::uint16_t AclUser = 0x02;
constexpr std::uint16_t AclGroupObject = 0x04;
constexpr std::uint16_t AclGroup = 0x08;
constexpr std::uint16_t AclOther = 0x20;
constexpr std::uint16_t AclWrite = 0x02;

std::uint32_t LittleEndian(const unsigned char* bytes, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = value << 8 | bytes[i - 1];
    }
    return value;
}

// Who outside the administrators an ACL lets write: "uid 65534", "group 100", "others"; empty
// when nobody. An object whose system keeps no ACLs has none.
std::string AclWriter(int fd, const char* which, const TDirectoryOwners& owners,
                      std::uint32_t ownGroup) {
    std::vector<unsigned char> acl(1024);
    ssize_t size = ::fgetxattr(fd, which, acl.data(), acl.size());
    if (size < 0 && errno == ERANGE) {
        acl.resize(
            static_cast<std::size_t>(std::max<ssize_t>(::fgetxattr(fd, which, nullptr, 0), 0)));
        size = ::fgetxattr(fd, which, acl.data(), acl.size());
    }
    if (size < 0) {
        return errno == ENODATA || errno == ENOTSUP ? std::string() : "an ACL that cannot be read";
    }
    const auto length = static_cast<std::size_t>(size);
    for (std::size_t at = AclHeaderSize; at + AclEntrySize <= length; at += AclEntrySize) {
        const auto tag = static_cast<std::uint16_t>(LittleEndian(&acl[at], 2));
        const auto permissions = static_cast<std::uint16_t>(LittleEndian(&acl[at + 2], 2));
        const std::uint32_t id = LittleEndian(&acl[at + 4], 4);
        if ((permissions & AclWrite) == 0) {
            continue;
        }
        if (tag == AclUser && !IsAdministrator(id, owners)) {
            return "uid " + std::to_string(id);
        }
        if ((tag == AclGroupObject || tag == AclGroup) &&
            (tag == AclGroup ? id : ownGroup) != owners.Group) {
            return "group " + std::to_string(tag == AclGroup ? id : ownGroup);
        }
        if (tag == AclOther) {
            return "others";
        }
    }
    return {};
}

// Why anyone but the administrators may write the directory, or put something in its place;
// empty when nobody may. A directory above the program directory must be an administrator's,
// or root's and sticky, where nobody may rename what is not theirs.
std::string DirectoryWriter(int fd, const struct stat& info, const TDirectoryOwners& owners,
                            bool above) {
    if (above) {
        if (!IsAdministrator(info.st_uid, owners)) {
            return "is owned by uid " + std::to_string(info.st_uid) +
                   ", who is not an administrator";
        }
        if (info.st_uid == 0 && (info.st_mode & S_ISVTX) != 0) {
            return {};
        }
    }
    if ((info.st_mode & S_IWOTH) != 0) {
        return "is writable by others";
    }
    if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != owners.Group) {
        return "is writable by group " + std::to_string(info.st_gid);
    }
    if (std::string writer = AclWriter(fd, AccessAcl, owners, info.st_gid); !writer.empty()) {
        return "is writable by " + writer + " through an ACL";
    }
    if (std::string writer = AclWriter(fd, DefaultAcl, owners, info.st_gid); !writer.empty()) {
        return "passes write access on to " + writer + " through a default ACL";
    }
    return {};
}

std::string PathOf(int fd) {
    char buffer[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : link;
}

// Bounds the walk up: a path holds at most this many directories.
constexpr int MaxLevels = PATH_MAX / 2;

// Why a directory above the program directory lets a non-administrator in; empty when none does.
// Walked through "..", so it is the opened directory's own line of ancestors.
std::string DistrustAbove(int directory, struct stat below, const TDirectoryOwners& owners) {
    TFd above(::openat(directory, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < MaxLevels; ++level) {
        struct stat info {};
        if (!above.Valid() || ::fstat(above.Get(), &info) != 0) {
            ThrowErrno(PathOf(directory) + "/..");
        }
        if (info.st_dev == below.st_dev && info.st_ino == below.st_ino) {
            return {}; // the root is its own parent
        }
        if (std::string why = DirectoryWriter(above.Get(), info, owners, true); !why.empty()) {
            return "the directory " + PathOf(above.Get()) + " above it " + why;
        }
        below = info;
        above.Reset(::openat(above.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return {};
}

// Empty when a file with this status may be trusted in a directory with that status.
std::string Distrust(int fd, const struct stat& file, const struct stat& directory) {
    if (!S_ISREG(file.st_mode)) {
        return "it is not a regular file";
    }
    // No link at all only means a save replaced it after it was opened: still the last save.
    if (file.st_nlink > 1) {
        return "it has more than one link";
    }
    const TDirectoryOwners owners{directory.st_uid, directory.st_gid};
    if (!IsAdministrator(file.st_uid, owners)) {
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
    if (std::string writer = AclWriter(fd, AccessAcl, owners, file.st_gid); !writer.empty()) {
        return "it is writable by " + writer + " through an ACL";
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

std::optional<TFileStamp> FileStamp(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return TFileStamp{
        static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
        static_cast<std::uint64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::string ReadFile(const std::string& path) {
    TFd fd(::open(path.c_str(), ReadFlags));
    if (fd.Get() < 0) {
        ThrowErrno(path);
    }
    return ReadAll(fd.Get(), path);
}

TDirectoryAnchor AnchorDirectory(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        ThrowErrno(directory);
    }
    return {info.st_dev, info.st_ino};
}

TFileTail ReadFileTail(const std::string& path, std::size_t limit) {
    TFd fd(::open(path.c_str(), ReadFlags));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
        ThrowErrno(path);
    }
    TFileTail tail;
    const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
    if (S_ISREG(info.st_mode) && size > limit) {
        if (::lseek(fd.Get(), static_cast<off_t>(size - limit), SEEK_SET) < 0) {
            ThrowErrno(path);
        }
        tail.Whole = false;
    }
    tail.Content = ReadAll(fd.Get(), path, limit);
    return tail;
}

TTrustedFile ReadTrustedFile(const std::string& path,
                             const std::optional<TDirectoryAnchor>& anchor) {
    // The directory may be reached through links: it is where the program itself was found.
    const std::string directoryPath = DirectoryOf(path);
    TFd directory(::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat directoryInfo {};
    if (directory.Get() < 0 || ::fstat(directory.Get(), &directoryInfo) != 0) {
        ThrowErrno(directoryPath);
    }
    if (anchor &&
        (anchor->Device != directoryInfo.st_dev || anchor->Inode != directoryInfo.st_ino)) {
        return Refused("its directory has been replaced by another");
    }
    const TDirectoryOwners owners{directoryInfo.st_uid, directoryInfo.st_gid};
    // Checked first: in such a directory anyone may have planted whatever is at the name.
    if (std::string why = DirectoryWriter(directory.Get(), directoryInfo, owners, false);
        !why.empty()) {
        return Refused("its directory " + why);
    }
    if (std::string why = DistrustAbove(directory.Get(), directoryInfo, owners); !why.empty()) {
        return Refused(std::move(why));
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
    if (std::string why = Distrust(fd.Get(), info, directoryInfo); !why.empty()) {
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

void AppendToFile(const std::string& path, std::string_view content) {
    TFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid() && errno != ENOENT && errno != ELOOP) {
        ThrowErrno(path);
    }
    struct stat info {};
    if (fd.Valid() && ::fstat(fd.Get(), &info) != 0) {
        ThrowErrno(path);
    }
    // Appending to a second name of another file, or to a fifo or a device, would write there.
    if (!fd.Valid() || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        ReplaceFile(path, content, TFlush::Lazily);
        return;
    }
    // One write: another program's lines land before or after this one, never inside it.
    const ssize_t written = ::write(fd.Get(), content.data(), content.size());
    if (written < 0) {
        ThrowErrno(path);
    }
    if (static_cast<std::size_t>(written) != content.size()) {
        throw TIoError(path, "the disk took only part of the write");
    }
    if (fd.Close() != 0) {
        ThrowErrno(path);
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
