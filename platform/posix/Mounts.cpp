#include "platform/Mounts.h"

#include "platform/Files.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace tarvok::platform {

namespace {

constexpr std::string_view MountTablePath = "/proc/self/mountinfo";

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// The kernel writes a blank, tab, line feed or backslash in a path as "\" and three octal digits.
std::string Unescape(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            text.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                             (field[i + 3] - '0')));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<TMount> ParseLine(std::string_view line) {
    const std::vector<std::string_view> fields = SplitOn(line, ' ');
    // Six fixed fields, the optional ones, "-", then type, source and super options.
    const auto separator = std::find(fields.begin() + std::min<std::size_t>(6, fields.size()),
                                     fields.end(), std::string_view("-"));
    if (fields.size() < 10 || separator == fields.end() || fields.end() - separator < 4) {
        return std::nullopt;
    }
    const auto id = Number(fields[0]);
    const auto parentId = Number(fields[1]);
    if (!id || !parentId || fields[3].empty() || fields[4].empty()) {
        return std::nullopt;
    }
    return TMount{*id,
                  *parentId,
                  Unescape(fields[3]),
                  Unescape(fields[4]),
                  Unescape(separator[1]),
                  Unescape(separator[2])};
}

// Path components with "." and empty ones dropped and ".." taking the one before it away.
std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> components;
    for (std::string_view part : SplitOn(path, '/')) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
            continue;
        }
        components.emplace_back(part);
    }
    return components;
}

std::string Joined(const std::vector<std::string>& components, std::size_t from = 0) {
    std::string path;
    for (std::size_t i = from; i < components.size(); ++i) {
        path += '/';
        path += components[i];
    }
    return path;
}

enum class TShareKind { Smb, Nfs };

// A network-form path taken apart: the server and the components after it ("//fs1/sales/a" is
// fs1 with sales, a; "fs1:/export/a" is fs1 with export, a).
struct TNetworkPath {
    TShareKind Kind = TShareKind::Smb;
    std::string Server;
    std::vector<std::string> Components;

    std::string Text() const {
        return Kind == TShareKind::Smb
                   ? "//" + Server + Joined(Components)
                   : Server + ":" + (Components.empty() ? "/" : Joined(Components));
    }
};

std::optional<TNetworkPath> ParseNetworkPath(std::string_view path) {
    if (path.size() > 2 && path.starts_with("//") && path[2] != '/') {
        const std::size_t slash = path.find('/', 2);
        return TNetworkPath{TShareKind::Smb, std::string(path.substr(2, slash - 2)),
                            slash == std::string_view::npos ? std::vector<std::string>()
                                                            : Components(path.substr(slash))};
    }
    const std::size_t slash = path.find('/');
    if (slash != std::string_view::npos && slash > 1 && path[slash - 1] == ':') {
        return TNetworkPath{TShareKind::Nfs, std::string(path.substr(0, slash - 1)),
                            Components(path.substr(slash))};
    }
    return std::nullopt;
}

// The network name of what a mount shows at its mount point, automounted or not. A mount is a
// share when its source names one: "//server/share" (SMB, and anything mounted the same way) or
// "server:/export" (NFS, sshfs). An SMB source names the share and perhaps a directory in it,
// while Root is the shown directory counted from the share (not "/" when a directory of the
// share was mounted or bound), so the name is the share followed by Root. An NFS source names
// the exported directory, from which a bind mount's Root counts.
std::optional<TNetworkPath> ShareOf(const TMount& mount) {
    auto share = ParseNetworkPath(mount.Source);
    if (!share || mount.FsType == "autofs") {
        return std::nullopt;
    }
    const std::vector<std::string> root = Components(mount.Root);
    if (root.empty()) {
        return share;
    }
    if (share->Kind == TShareKind::Smb) {
        share->Components.resize(std::min<std::size_t>(share->Components.size(), 1));
    }
    share->Components.insert(share->Components.end(), root.begin(), root.end());
    return share;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// How many components of the path the share covers, or nothing when the path is not on it.
std::optional<std::size_t> Covered(const TNetworkPath& share, const TNetworkPath& path) {
    if (share.Kind != path.Kind || !SameLetters(share.Server, path.Server) ||
        share.Components.size() > path.Components.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < share.Components.size(); ++i) {
        const bool anyCase = share.Kind == TShareKind::Smb && i == 0;
        if (anyCase ? !SameLetters(share.Components[i], path.Components[i])
                    : share.Components[i] != path.Components[i]) {
            return std::nullopt;
        }
    }
    return share.Components.size();
}

bool Automounted(const TMount& mount, const std::vector<TMount>& table) {
    return std::ranges::any_of(table, [&mount](const TMount& other) {
        return other.FsType == "autofs" &&
               (other.Id == mount.ParentId || other.MountPoint == mount.MountPoint);
    });
}

// A mount hidden by a later one on the same mount point cannot be reached.
bool Shadowed(const TMount& mount, const std::vector<TMount>& table) {
    const auto self = std::ranges::find(table, mount);
    return std::any_of(
        self == table.end() ? self : self + 1, table.end(),
        [&mount](const TMount& later) { return later.MountPoint == mount.MountPoint; });
}

bool IsUnder(std::string_view path, std::string_view mountPoint) {
    if (mountPoint == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

std::string CleanLocal(std::string_view path) {
    std::string absolute(path);
    if (!path.starts_with('/')) {
        std::error_code error;
        absolute = (std::filesystem::current_path(error) / std::string(path)).string();
    }
    const std::string clean = Joined(Components(absolute));
    return clean.empty() ? "/" : clean;
}

} // namespace

std::vector<TMount> ParseMountTable(std::string_view text) {
    std::vector<TMount> mounts;
    for (std::string_view line : SplitOn(text, '\n')) {
        if (auto mount = ParseLine(line)) {
            mounts.push_back(std::move(*mount));
        }
    }
    return mounts;
}

std::vector<TMount> MountTable() {
    return ParseMountTable(ReadFile(std::string(MountTablePath)));
}

bool IsNetworkPath(std::string_view path) {
    return ParseNetworkPath(path).has_value();
}

std::string NetworkRoot(const TMount& mount, const std::vector<TMount>& table) {
    if (Automounted(mount, table)) {
        return {};
    }
    const auto share = ShareOf(mount);
    return share ? share->Text() : std::string();
}

std::optional<TMount> MountOf(std::string_view path, const std::vector<TMount>& table) {
    const TMount* found = nullptr;
    for (const TMount& mount : table) {
        if (IsUnder(path, mount.MountPoint) &&
            (found == nullptr || mount.MountPoint.size() >= found->MountPoint.size())) {
            found = &mount;
        }
    }
    return found ? std::optional<TMount>(*found) : std::nullopt;
}

std::string NetworkForm(std::string_view path, const std::vector<TMount>& table) {
    if (const auto network = ParseNetworkPath(path)) {
        return network->Text();
    }
    const std::string local = CleanLocal(path);
    const auto mount = MountOf(local, table);
    if (!mount) {
        return local;
    }
    const std::string root = NetworkRoot(*mount, table);
    if (root.empty()) {
        return local;
    }
    const std::size_t rest = mount->MountPoint == "/" ? 0 : mount->MountPoint.size();
    return root + local.substr(rest);
}

std::string NetworkForm(std::string_view path) {
    if (IsNetworkPath(path)) {
        return NetworkForm(path, {});
    }
    try {
        return NetworkForm(path, MountTable());
    } catch (const TIoError&) {
        return NetworkForm(path, {});
    }
}

std::optional<std::string> LocalPath(std::string_view path, const std::vector<TMount>& table) {
    const auto network = ParseNetworkPath(path);
    if (!network) {
        return std::string(path);
    }
    const TMount* best = nullptr;
    std::size_t bestCovered = 0;
    for (const TMount& mount : table) {
        const auto share = ShareOf(mount);
        const auto covered = share ? Covered(*share, *network) : std::nullopt;
        if (covered && (best == nullptr || *covered > bestCovered) && !Shadowed(mount, table)) {
            best = &mount;
            bestCovered = *covered;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    const std::string rest = Joined(network->Components, bestCovered);
    if (best->MountPoint == "/") {
        return rest.empty() ? "/" : rest;
    }
    return best->MountPoint + rest;
}

std::optional<std::string> LocalPath(std::string_view path) {
    if (!IsNetworkPath(path)) {
        return std::string(path);
    }
    try {
        return LocalPath(path, MountTable());
    } catch (const TIoError&) {
        return std::nullopt;
    }
}

} // namespace tarvok::platform
