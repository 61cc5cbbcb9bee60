// What the manager asks about the system it runs on and about program files: the platform kind
// (it offers its service features only on the NT kind) and the file version of a program.
//
//   FileVersionText(platform::ProgramFile()); // "2.0.0.1", or "" for an unstamped file
#pragma once

#include <cstdint>
#include <string>

namespace tarvok {

struct TFileVersion {
    bool Valid = false; // the file carries a version
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;
};

// Platform kinds as GetWinPlatform answers them.
constexpr int PlatformWin9x = 0;
constexpr int PlatformNt = 1;
constexpr int PlatformWin32s = 2;
constexpr int PlatformUnknown = 3;

// The kind of a platform identifier as the system's version query reports it.
int PlatformKind(int platformId);

// The kind of the platform this program runs on; Linux answers PlatformNt.
int GetWinPlatform();

// The file's version; Valid false (all parts 0) when it has none or cannot be read.
TFileVersion GetFileVersion(const std::string& path);

// "Major.Minor.Release.Build" in decimal, or "" when the file has no version.
std::string FileVersionText(const std::string& path);

} // namespace tarvok
