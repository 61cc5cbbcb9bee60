#include "shared/ProcPrio.h"

#include "shared/Letters.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvok {

namespace {

using platform::TProcessPriority;

struct TPriorityRow {
    std::uint8_t Code;
    std::string_view Name;
    std::string_view Item; // as the task editor lists it
    int Position;          // in the task editor's list
    TProcessPriority Process;
};

constexpr std::array<TPriorityRow, 4> PriorityRows{{
    {0, "High", "High", 1, TProcessPriority::High},
    {1, "Realtime", "Real Time", 0, TProcessPriority::Realtime},
    {NormalPriority, "Normal", "Normal", 2, TProcessPriority::Normal},
    {3, "Low", "Low", 3, TProcessPriority::Low},
}};

// The editor's list is built position by position, so every position must be taken once.
constexpr bool PositionsFillTheList() {
    for (int position = 0; position < static_cast<int>(PriorityRows.size()); ++position) {
        if (std::ranges::count(PriorityRows, position, &TPriorityRow::Position) != 1) {
            return false;
        }
    }
    return true;
}
static_assert(PositionsFillTheList());

const TPriorityRow* RowOfCode(int code) {
    auto row = std::ranges::find_if(PriorityRows, [code](const auto& r) { return r.Code == code; });
    return row == PriorityRows.end() ? nullptr : &*row;
}

const TPriorityRow* RowAtPosition(int position) {
    auto row = std::ranges::find_if(PriorityRows,
                                    [position](const auto& r) { return r.Position == position; });
    return row == PriorityRows.end() ? nullptr : &*row;
}

} // namespace

std::string PriorityName(int code) {
    const TPriorityRow* row = RowOfCode(code);
    return row ? std::string(row->Name) : std::string();
}

std::optional<std::uint8_t> PriorityFromName(std::string_view name) {
    const auto row = std::ranges::find_if(
        PriorityRows, [&](const TPriorityRow& r) { return SameLetters(r.Name, name); });
    if (row == PriorityRows.end()) {
        return std::nullopt;
    }
    return row->Code;
}

std::vector<std::string> PriorityItems() {
    std::vector<std::string> items;
    for (int position = 0; position < static_cast<int>(PriorityRows.size()); ++position) {
        items.emplace_back(RowAtPosition(position)->Item);
    }
    return items;
}

std::uint8_t PriorityFromPosition(int position) {
    const TPriorityRow* row = RowAtPosition(position);
    return row ? row->Code : NormalPriority;
}

std::optional<int> PositionOfPriority(int code) {
    const TPriorityRow* row = RowOfCode(code);
    return row ? std::optional<int>(row->Position) : std::nullopt;
}

TProcessPriority ProcessPriorityOf(int code) {
    const TPriorityRow* row = RowOfCode(code);
    return row ? row->Process : TProcessPriority::Inherited;
}

} // namespace tarvok
