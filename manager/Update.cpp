#include "manager/Update.h"

#include "platform/Files.h"
#include "shared/TaskDef.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

namespace tarvok {

namespace {

constexpr std::size_t BlockLines = 12;
constexpr std::string_view ParametersLine = "\t\tParameters: ";

// The lines of a text; a last line without an end still counts, an end at the very end of the
// text opens no further line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        lines.push_back(text.substr(0, end));
        std::size_t next = end;
        if (next < text.size()) {
            next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        text.remove_prefix(next);
    }
    return lines;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The keyword must be given in upper case; only ASCII letters fold, as in the old programs.
bool ContainsKeyword(std::string_view line, std::string_view keyword) {
    return std::search(line.begin(), line.end(), keyword.begin(), keyword.end(),
                       [](char a, char b) { return Upper(a) == b; }) != line.end();
}

std::string FromSecondCharacter(std::string_view line) {
    return std::string(line.empty() ? line : line.substr(1));
}

std::string ValueOf(std::string_view line) {
    const std::size_t colon = line.find(": ");
    return colon == std::string_view::npos ? FromSecondCharacter(line)
                                           : std::string(line.substr(colon + 2));
}

// Lines of one block; positions past the end of the file read as empty. The list cuts each
// text to its first 100 characters when the task is added.
TTaskDef TaskFromBlock(std::span<const std::string_view> block) {
    const auto line = [block](std::size_t number) {
        return number <= block.size() ? block[number - 1] : std::string_view();
    };
    TTaskDef task;
    task.Priority = NormalPriority;
    task.Name = FromSecondCharacter(line(1));
    task.Command = ValueOf(line(2));
    task.Parameters = ValueOf(line(3));
    task.WorkDir = ValueOf(line(4));
    task.Enabled = ContainsKeyword(line(6), "YES");
    task.Blocking = ContainsKeyword(line(7), "YES");
    task.Visible = ContainsKeyword(line(8), "YES");
    return task;
}

} // namespace

void AddParameterLines(const std::string& oldPath) {
    const std::string text = platform::ReadFile(oldPath);
    const auto lines = SplitLines(text);
    if (std::any_of(lines.begin(), lines.end(),
                    [](std::string_view l) { return ContainsKeyword(l, "PARAMETERS:"); })) {
        return;
    }
    std::string upgraded;
    upgraded.reserve(text.size() + text.size() / 4);
    for (std::string_view l : lines) {
        upgraded.append(l).append("\r\n");
        if (ContainsKeyword(l, "COMMAND:")) {
            upgraded.append(ParametersLine).append("\r\n");
        }
    }
    platform::ReplaceFile(oldPath, upgraded);
}

void ConvertLegacyFile(const std::string& oldPath, const std::string& taskPath) {
    const std::string text = platform::ReadFile(oldPath);
    const auto lines = SplitLines(text);
    const auto body = std::span(lines).subspan(std::min<std::size_t>(1, lines.size()));
    TTaskList list;
    for (std::size_t first = 0; first < body.size(); first += BlockLines) {
        TTaskDef task =
            TaskFromBlock(body.subspan(first, std::min(BlockLines, body.size() - first)));
        list.AddTask(task, true);
    }
    list.SaveToFile(taskPath);
}

} // namespace tarvok
