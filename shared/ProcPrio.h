// The process priority codes a task stores: their names, the order in which the task editor
// lists them ("Real Time" comes first although its code is 1) and the priority a process is
// started with.
//
//   PriorityName(1);          // "Realtime"
//   PriorityItems()[0];       // "Real Time"
//   PriorityFromPosition(0);  // 1
//   ProcessPriorityOf(3);     // platform::TProcessPriority::Low
#pragma once

#include "platform/Process.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// The code of a new task and of anything the editor cannot place.
inline constexpr std::uint8_t NormalPriority = 2;

// "High", "Realtime", "Normal" or "Low"; "" for any other code.
std::string PriorityName(int code);

// The code of a name PriorityName gives, in any letter case; none for any other text.
std::optional<std::uint8_t> PriorityFromName(std::string_view name);

// The editor's list items, in list order.
std::vector<std::string> PriorityItems();

// The code of a list position; Normal for a position outside the list.
std::uint8_t PriorityFromPosition(int position);

// The list position of a code; none for a code without a name, so the editor keeps its
// selection.
std::optional<int> PositionOfPriority(int code);

// The priority a process of this code is started with; the caller's own for a code without a
// name.
platform::TProcessPriority ProcessPriorityOf(int code);

} // namespace tarvok
