// The file version a program carries in its own file, read from the file on disk.
//
// Programs are stamped at build time (cmake/VersionNote.cmake) with four 16-bit parts, Major
// first. The reader trusts nothing in the file: one that is not a little-endian program file,
// lacks the stamp, or is truncated or damaged simply has no version.
//
//   auto parts = ReadVersionNote("/opt/tarvok/tarvok"); // {2, 0, 0, 1}
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvok::platform {

// Major, Minor, Release, Build.
using TVersionParts = std::array<std::uint16_t, 4>;

// The stamped version, or none when the file carries none (directories and other non-regular
// files included). Raises TIoError when the file cannot be opened or read.
std::optional<TVersionParts> ReadVersionNote(const std::string& path);

} // namespace tarvok::platform
