#include "shared/WinSh.h"

#include "platform/Process.h"
#include "shared/ProcPrio.h"

namespace tarvok {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Inside double quotes a backslash escapes only these; before anything else it is literal.
bool EscapableInDoubleQuotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

} // namespace

std::optional<std::vector<std::string>> SplitParameters(std::string_view parameters) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false; // a word has begun, even if only with an empty quote
    const std::size_t size = parameters.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = parameters[i];
        if (IsBlank(c)) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '\\') {
            if (i + 1 == size) {
                word += c;
            } else if (parameters[++i] != '\n') {
                word += parameters[i];
            }
        } else if (c == '\'') {
            auto close = parameters.find('\'', i + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            word.append(parameters.substr(i + 1, close - i - 1));
            i = close;
        } else if (c == '"') {
            for (++i; i < size && parameters[i] != '"'; ++i) {
                if (parameters[i] == '\\' && i + 1 < size &&
                    EscapableInDoubleQuotes(parameters[i + 1])) {
                    if (parameters[++i] != '\n') {
                        word += parameters[i];
                    }
                } else {
                    word += parameters[i];
                }
            }
            if (i == size) {
                return std::nullopt;
            }
        } else {
            word += c;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::uint32_t LaunchProcess(const std::string& command, const std::string& parameters,
                            const std::string& workDir, std::uint8_t priority,
                            std::uint16_t showWindow, const TLaunchOptions& options) {
    auto arguments = SplitParameters(parameters);
    if (!arguments) {
        return 0;
    }
    platform::TProcessStart start;
    start.Program = command;
    start.Arguments = std::move(*arguments);
    start.WorkDir = workDir;
    start.Priority = ProcessPriorityOf(priority);
    start.KeepDisplay = showWindow != SwHide;
    start.OutputTag = options.OutputTag;
    start.KeepEnd = options.KeepEnd;
    return platform::StartProcess(start);
}

std::uint32_t GetProcessExitCode(std::uint32_t processId) {
    platform::TProcessState state = platform::QueryProcess(processId);
    switch (state.Kind) {
    case platform::TProcessState::TKind::Running:
        return StillActive;
    case platform::TProcessState::TKind::Ended:
        return state.ExitCode;
    case platform::TProcessState::TKind::Unknown:
        break;
    }
    return 0;
}

} // namespace tarvok
