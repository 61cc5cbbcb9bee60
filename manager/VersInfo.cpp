#include "manager/VersInfo.h"

#include "platform/Files.h"
#include "platform/VersionNote.h"

namespace tarvok {

namespace {

struct TPlatformRow {
    int PlatformId;
    int Kind;
};

constexpr TPlatformRow PlatformRows[] = {
    {1, PlatformWin9x},  // VER_PLATFORM_WIN32_WINDOWS
    {2, PlatformNt},     // VER_PLATFORM_WIN32_NT
    {0, PlatformWin32s}, // VER_PLATFORM_WIN32s
};

// Linux has what the NT family offered the manager: a service manager to host the scheduler
// and slots to reach it by. So it reports itself as that family.
constexpr int HostPlatformId = 2;

// A file that cannot be read has no version to show, as one without the note.
// Returning from inside the try block, rather than assigning an optional declared before it:
// g++ 12 at -O2 drops that optional's empty state on the path through the handler.
std::optional<platform::TVersionParts> ReadParts(const std::string& path) {
    try {
        return platform::ReadVersionNote(path);
    } catch (const platform::TIoError&) {
        return std::nullopt;
    }
}

} // namespace

int PlatformKind(int platformId) {
    for (const auto& row : PlatformRows) {
        if (row.PlatformId == platformId) {
            return row.Kind;
        }
    }
    return PlatformUnknown;
}

int GetWinPlatform() {
    return PlatformKind(HostPlatformId);
}

TFileVersion GetFileVersion(const std::string& path) {
    const auto parts = ReadParts(path);
    if (!parts) {
        return {};
    }
    return {true, (*parts)[0], (*parts)[1], (*parts)[2], (*parts)[3]};
}

std::string FileVersionText(const std::string& path) {
    const TFileVersion version = GetFileVersion(path);
    if (!version.Valid) {
        return {};
    }
    return std::to_string(version.Major) + '.' + std::to_string(version.Minor) + '.' +
           std::to_string(version.Release) + '.' + std::to_string(version.Build);
}

} // namespace tarvok
