// The text scanner both programs use to take messages and tree captions apart.
//
// Scan walks a small format over an input and fills typed targets in order:
//   "%d" a 32-bit integer, "%f" an extended-precision float, "%s" a text up to the next blank;
//   blanks in the format are passed over; any other format character is a literal, and the input
//   moves to just past its next occurrence.
// Before each field the input's blanks (the space character) are skipped. The scan ends at the
// end of the format, at a "%" followed by a letter other than d, f or s, at a literal that the
// rest of the input lacks, at an empty field, at a field that is not a valid number of the
// target's range, at a target of the wrong kind or a null target, and once every target is
// filled. Targets not reached keep their values, so callers preset them.
//
//   std::string code;
//   std::int32_t taskId = 0, processId = 0;
//   Scan("TX 5", "%s %d %d", {&code, &taskId, &processId});   // 2; processId stays 0
//   Scan("Backup [3]", "[%d", {&taskId});                      // 1; taskId == 3
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tarvok {

// A text field keeps at most this many characters; the rest of the field is passed over.
inline constexpr std::size_t ScanTextMax = 255;

using TScanTarget = std::variant<std::int32_t*, long double*, std::string*>;

// Returns the number of targets filled, from the first on.
std::size_t Scan(std::string_view input, std::string_view format,
                 std::span<const TScanTarget> targets);

inline std::size_t Scan(std::string_view input, std::string_view format,
                        std::initializer_list<TScanTarget> targets) {
    return Scan(input, format, std::span<const TScanTarget>(targets.begin(), targets.size()));
}

} // namespace tarvok
