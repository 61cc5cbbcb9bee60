// Files as the system uses them: whole-file reads and atomic whole-file replacement.
//
// Every failure raises TIoError with the path and the system's error text. Replacement never
// leaves a torn file: a reader sees the old content or the new, whatever happens meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvok::platform {

class TIoError : public std::runtime_error {
public:
    TIoError(std::string path, std::string reason);

    const std::string& Path() const { return path_; }
    const std::string& Reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

// True when the path names something that is not a directory (links followed).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// A regular file (links followed) that this process may execute: what a scheduler can start.
bool IsExecutableFile(const std::string& path);
// A directory whose entries this process may list, which a stale network mount or a
// directory without read and search permission is not.
bool CanListDirectory(const std::string& path);

// What tells one content of a file from another without reading it: every replacement makes a
// new file, and a write in place moves its modification time.
struct TFileStamp {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::int64_t ModifiedNs = 0;

    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

// The stamp of what is at the path now (links not followed); nothing when nothing is there.
std::optional<TFileStamp> FileStamp(const std::string& path);

// Never through a symbolic link: a link planted at the path is an error (every save replaces a
// link by a file anyway), so a privileged reader cannot be pointed at another file.
std::string ReadFile(const std::string& path);

// The last `limit` bytes of a file, read as ReadFile reads. Whole when nothing before them was
// left out.
struct TFileTail {
    std::string Content;
    bool Whole = true;
};
TFileTail ReadFileTail(const std::string& path, std::size_t limit);

// What a privileged program found when it read a file it is about to act on.
struct TTrustedFile {
    enum class TOutcome { Trusted, Missing, Refused };
    TOutcome Outcome = TOutcome::Missing;
    std::string Content; // Trusted only
    std::string Refusal; // Refused only: why, e.g. "it is writable by others"
};

// A directory as it was when anchored: whatever is at its path later is measured against it.
struct TDirectoryAnchor {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
};

// Raises TIoError when the directory cannot be looked up.
TDirectoryAnchor AnchorDirectory(const std::string& directory);

// Reads a file only when nobody but its directory's administrators (platform/Accounts.h) can
// have put its content there, nor can put another directory in its directory's place:
// - the file: a regular file with one link, not a symbolic link, owned by an administrator;
// - its directory: not writable by others;
// - every directory above: owned by an administrator, and not writable by others or a group
//   that is not the directory's, unless it is root's and sticky (as /tmp is);
// - the file and the directories: no ACL entry (access, or default for directories) lets anyone
//   but the administrators write; the mask is not applied, as the owner may widen it any time.
// With an anchor, the directory must still be the anchored one. The checks and the read go
// through descriptors, so nothing can be swapped in between. Missing: nothing at all is at the
// path. Raises TIoError when a directory or the file cannot be opened or read for any other
// reason.
TTrustedFile ReadTrustedFile(const std::string& path,
                             const std::optional<TDirectoryAnchor>& anchor = std::nullopt);

// How far a replacement goes before the rename that publishes it.
enum class TFlush : std::uint8_t {
    // The content is on the disk first: after a power cut the file is the old one or the new.
    ToDisk,
    // The content is left to the system's write-back, which saves a wait for the disk.
    // Readers, and a program killed at any moment, still see the old file or the new one; a
    // power cut may lose the newest content.
    Lazily,
};

// Writes the content to a new file beside the target (created exclusively under a random name,
// never through a link), flushes it as asked and renames it over the target, so a link at the
// target is replaced, not followed. The result has mode 0664 and the directory's group; a
// writer that cannot hand the file to that group (not a member) gets 0644 instead, so no group
// outside the directory's ever may write it. On failure the target is untouched and no
// temporary file remains.
void ReplaceFile(const std::string& path, std::string_view content, TFlush flush = TFlush::ToDisk);

// Adds the content at the end of the file in one write, so lines that two programs append land
// whole. A missing file is made as ReplaceFile makes one; so is a new file put in the place of
// anything but a plain file with one name (a link, a second name of another file, a fifo), which
// is thereby left untouched. Not flushed to the disk.
void AppendToFile(const std::string& path, std::string_view content);

// Deletes a file; a missing file is no error.
void RemoveFile(const std::string& path);

// The running program's own file, as an absolute path.
std::string ProgramFile();

} // namespace tarvok::platform
