// The system log: its last lines, and following it.
#include "ctl/CtlCommands.h"
#include "platform/Files.h"
#include "shared/SysLog.h"

#include <charconv>

namespace tarvok::ctl {

namespace {

// The log's lines as a logger reads them, none while there is no log; nothing, and why, when it
// cannot be read now.
std::optional<std::deque<std::string>> ReadLog(const TCtlParts& parts, std::string& why) {
    try {
        return ReadLogLines(parts.Paths.LogPath);
    } catch (const platform::TIoError& error) {
        why = error.what();
        return std::nullopt;
    }
}

void Print(const TCtlParts& parts, const std::deque<std::string>& lines, std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
        parts.Out << PrintableText(lines[i]) << '\n';
    }
    parts.Out.flush();
}

} // namespace

// The writer keeps the newest lines: a new log is the old one with lines dropped at the front
// and added at the end. The longest tail of the old log that the new one starts with is what
// both share; a log truncated or replaced shares nothing, and all of it is new.
std::size_t FirstAddedLine(const std::deque<std::string>& before,
                           const std::deque<std::string>& after) {
    for (std::size_t dropped = 0; dropped < before.size(); ++dropped) {
        const std::size_t kept = before.size() - dropped;
        if (kept <= after.size() &&
            std::equal(before.begin() + static_cast<std::ptrdiff_t>(dropped), before.end(),
                       after.begin())) {
            return kept;
        }
    }
    return 0;
}

int Log(const TCall& call) {
    const TCtlParts& parts = call.Parts;
    std::size_t last = SIZE_MAX;
    if (call.Has("-n")) {
        const std::string& text = call.Value("-n");
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), last);
        if (error != std::errc() || end != text.data() + text.size()) {
            return Fail(parts, CtlUsageError,
                        "log: -n takes a number of lines, not '" + PrintableText(text) + "'");
        }
    }
    std::string why;
    const auto read = ReadLog(parts, why);
    if (!read) {
        return Fail(parts, CtlFailed, "cannot read the log: " + why);
    }
    std::deque<std::string> lines = *read;
    Print(parts, lines, lines.size() - std::min(last, lines.size()));
    if (!call.Has("-f")) {
        return 0;
    }
    // The log is replaced whole at every line: a look that cannot read it is tried again.
    while (parts.FollowPause && parts.FollowPause()) {
        std::optional<std::deque<std::string>> now = ReadLog(parts, why);
        if (now && *now != lines) {
            Print(parts, *now, FirstAddedLine(lines, *now));
            lines = std::move(*now);
        }
    }
    return 0;
}

} // namespace tarvok::ctl
