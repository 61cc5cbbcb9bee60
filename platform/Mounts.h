// The file systems mounted in this process's view, and the network names of paths on them.
//
// A path on a network share has a network form that stays valid wherever the share is mounted:
// "//server/share/rest" on an SMB (CIFS) mount, "server:/export/rest" on an NFS (or sshfs)
// mount; a mount is taken for a share when its source names one in that form. Paths are stored
// in that form, and every place that tests or uses a path resolves it back to where the share
// is mounted now; a share that is not mounted makes the path name nothing.
//
//   NetworkForm("/mnt/sales/report.sh");      // "//fs1/sales/report.sh" with //fs1/sales there
//   LocalPath("//fs1/sales/report.sh");       // "/mnt/sales/report.sh"; nothing when unmounted
//   LocalPath("/usr/bin/backup");             // "/usr/bin/backup": other paths pass unchanged
//
// The functions that take a table read no other (tests feed them a recorded one); the others
// read the live table of this process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::platform {

struct TMount {
    int Id = 0;
    int ParentId = 0;
    // The directory of the mounted file system that appears at MountPoint: "/" for the whole
    // of it, a subdirectory for a bind mount of one.
    std::string Root;
    std::string MountPoint;
    std::string FsType; // "ext4", "cifs", "nfs4", "autofs" ...
    std::string Source; // "/dev/sda1", "//fs1/sales", "fs1:/export/home" ...

    friend bool operator==(const TMount&, const TMount&) = default;
};

// The kernel's mount table text (one mount a line: ids, device, root, mount point, options,
// optional fields up to "-", type, source, super options), escaped blanks ("\040") and other
// escapes decoded. Lines that do not have that shape are skipped.
std::vector<TMount> ParseMountTable(std::string_view text);

// The live table of this process. Raises TIoError when it cannot be read.
std::vector<TMount> MountTable();

// True for "//server/share..." and "server:/export...".
bool IsNetworkPath(std::string_view path);

// The network name of a mount's mount point ("//fs1/sales", "fs1:/export/home"), or empty for a
// mount that is not a network share. A share the automounter mounts has none either: its local
// path works whenever it is used, while its network name would resolve only while it happens to
// be mounted.
std::string NetworkRoot(const TMount& mount, const std::vector<TMount>& table);

// The path made absolute and lexically clean ("." and ".." and doubled slashes gone, no trailing
// slash), then rewritten onto the network name of the share it lies on, if any. A path already
// in network form comes back cleaned.
std::string NetworkForm(std::string_view path, const std::vector<TMount>& table);
std::string NetworkForm(std::string_view path);

// Where a network-form path is reached now: the mount point of its share followed by the rest.
// Nothing when no mount of the share is visible. Server names, and the share names of SMB, match
// in any letter case. Any other path comes back as it is.
std::optional<std::string> LocalPath(std::string_view path, const std::vector<TMount>& table);
std::optional<std::string> LocalPath(std::string_view path);

// The mount a local absolute path lies on: the one with the longest mount point above it, the
// last mounted where several share a mount point. Nothing for a relative path or an empty table.
std::optional<TMount> MountOf(std::string_view path, const std::vector<TMount>& table);

} // namespace tarvok::platform
