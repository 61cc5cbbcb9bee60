#include "shared/RunLedger.h"

#include "platform/Files.h"
#include "shared/SysLog.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvok {

namespace {

constexpr char Tab = '\t';
constexpr std::size_t FieldCount = 7;
// A file is shortened only once it is a tenth over: one rewrite per thousand runs, not per run.
constexpr std::size_t ShortenAt = RunsKept + RunsKept / 10;

constexpr std::array<std::string_view, 3> OriginNames{"minute", "user", "request"};

std::string MomentText(TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    if (!parts) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts->Year,
                  parts->Month, parts->Day, parts->Hour, parts->Minute, parts->Second,
                  parts->Millisecond);
    return text;
}

template <typename T>
std::optional<T> NumberOf(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<TDateTime> MomentOf(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    const std::string copy(text);
    int consumed = 0;
    if (text.size() != 23 ||
        std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%n", &year, &month, &day, &hour,
                    &minute, &second, &ms, &consumed) != 7 ||
        consumed != 23) {
        return std::nullopt;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59 || ms < 0) {
        return std::nullopt;
    }
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, ms);
}

std::string OutcomeText(const TRunRecord& run) {
    switch (run.End) {
    case TRunEnd::Exited:
        return "exit " + std::to_string(run.Code);
    case TRunEnd::Signalled:
        return "signal " + std::to_string(run.Code);
    case TRunEnd::NotStarted:
        break;
    }
    return "not started";
}

bool ReadOutcome(std::string_view text, TRunRecord& run) {
    if (text == "not started") {
        run.End = TRunEnd::NotStarted;
        return true;
    }
    for (const auto& [prefix, end] : {std::pair{std::string_view("exit "), TRunEnd::Exited},
                                      std::pair{std::string_view("signal "), TRunEnd::Signalled}}) {
        if (text.starts_with(prefix)) {
            const auto code = NumberOf<std::int32_t>(text.substr(prefix.size()));
            run.End = end;
            run.Code = code.value_or(0);
            return code.has_value() && *code >= 0;
        }
    }
    return false;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < FieldCount) {
        const auto tab = line.find(Tab);
        if (tab == std::string_view::npos) {
            break;
        }
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line); // the name, which may hold anything but a line end
    return fields;
}

std::size_t CountLineEnds(std::string_view content) {
    return static_cast<std::size_t>(std::ranges::count(content, '\n'));
}

std::string Lines(std::span<const TRunRecord> runs) {
    std::string text;
    for (const TRunRecord& run : runs) {
        text += FormatRunLine(run);
        text += '\n';
    }
    return text;
}

} // namespace

bool RunFailed(const TRunRecord& run) {
    return run.End != TRunEnd::Exited || run.Code != 0;
}

std::string FormatRunLine(const TRunRecord& run) {
    const auto origin = static_cast<std::size_t>(run.Origin);
    std::string line = MomentText(run.Started);
    line += Tab;
    line += MomentText(run.Ended);
    line += Tab + std::to_string(run.TaskId);
    line += Tab + std::to_string(run.ProcessId);
    line += Tab + OutcomeText(run);
    line += Tab;
    line += origin < OriginNames.size() ? OriginNames[origin] : OriginNames[0];
    line += Tab + PrintableText(run.TaskName);
    // A name longer than any task's is cut so that the line is still read.
    if (line.size() > MaxRunLineLength) {
        line.resize(MaxRunLineLength);
    }
    return line;
}

std::optional<TRunRecord> ParseRunLine(std::string_view line) {
    if (line.size() > MaxRunLineLength) {
        return std::nullopt;
    }
    const auto fields = Fields(line);
    if (fields.size() != FieldCount) {
        return std::nullopt;
    }
    TRunRecord run;
    const auto started = MomentOf(fields[0]);
    const auto ended = MomentOf(fields[1]);
    const auto taskId = NumberOf<std::int32_t>(fields[2]);
    const auto processId = NumberOf<std::uint32_t>(fields[3]);
    const auto origin = std::ranges::find(OriginNames, fields[5]);
    if (!started || !ended || !taskId || !processId || origin == OriginNames.end() ||
        !ReadOutcome(fields[4], run) ||
        std::ranges::any_of(fields[6], [](char c) { return c == '\r' || c == '\n'; })) {
        return std::nullopt;
    }
    run.Started = *started;
    run.Ended = *ended;
    run.TaskId = *taskId;
    run.ProcessId = *processId;
    run.Origin = static_cast<TRunOrigin>(origin - OriginNames.begin());
    run.TaskName = std::string(fields[6]);
    return run;
}

std::vector<TRunRecord> ParseRunLines(std::string_view content) {
    std::vector<TRunRecord> runs;
    while (!content.empty()) {
        const auto end = content.find('\n');
        if (auto run = ParseRunLine(content.substr(0, end))) {
            runs.push_back(std::move(*run));
        }
        if (end == std::string_view::npos) {
            break;
        }
        content.remove_prefix(end + 1);
    }
    return runs;
}

std::int32_t FailureCode(const TRunRecord& run) {
    switch (run.End) {
    case TRunEnd::Exited:
        return run.Code;
    case TRunEnd::Signalled:
        return -run.Code;
    case TRunEnd::NotStarted:
        break;
    }
    return 0;
}

std::string FailureCodeText(std::int32_t code, std::string_view signalName) {
    if (code >= 0) {
        return "exit code " + std::to_string(code);
    }
    return "signal " + (signalName.empty() ? std::to_string(-static_cast<std::int64_t>(code))
                                           : std::string(signalName));
}

std::string RunFailureLogText(const TRunRecord& run, std::string_view signalName) {
    const double seconds = std::max(0.0, (run.Ended - run.Started) * 86'400.0);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f", seconds);
    return FormatLogText(
        "Task \"%s\" [%d] failed: %s after %s s.",
        {run.TaskName, run.TaskId, FailureCodeText(FailureCode(run), signalName), duration});
}

std::string RunOutputTag(std::int32_t taskId) {
    return "tarvok-task-" + std::to_string(taskId);
}

std::vector<TRunRecord> ReadRunHistory(const std::string& path) {
    if (!platform::FileStamp(path)) {
        return {};
    }
    const platform::TFileTail tail =
        platform::ReadFileTail(path, RunsKept * (MaxRunLineLength + 1));
    std::string_view content = tail.Content;
    if (!tail.Whole) {
        // The first line was begun before what was read.
        const auto end = content.find('\n');
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    }
    std::vector<TRunRecord> runs = ParseRunLines(content);
    if (runs.size() > RunsKept) {
        runs.erase(runs.begin(), runs.end() - static_cast<std::ptrdiff_t>(RunsKept));
    }
    return runs;
}

TRunLedger::TRunLedger(std::string path, TRead read) : path_(std::move(path)), read_(read) {}

void TRunLedger::Append(std::span<const TRunRecord> runs) {
    if (runs.empty()) {
        return;
    }
    if (!lines_) {
        CountLines();
    }
    // A torn last line left by a program killed while writing must not swallow the first run.
    platform::AppendToFile(path_, (tornEnd_ ? "\n" : "") + Lines(runs));
    tornEnd_ = false;
    *lines_ += runs.size();
    if (*lines_ >= ShortenAt) {
        Shorten();
    }
}

void TRunLedger::CountLines() {
    lines_ = 0;
    try {
        if (platform::FileStamp(path_)) {
            const std::string content = platform::ReadFile(path_);
            lines_ = CountLineEnds(content);
            tornEnd_ = !content.empty() && content.back() != '\n';
        }
    } catch (const platform::TIoError&) {
        // The append that follows meets the same fault and tells it.
    }
}

void TRunLedger::Shorten() {
    std::vector<TRunRecord> runs;
    if (read_ == TRead::Trusted) {
        const platform::TTrustedFile file = platform::ReadTrustedFile(path_);
        // Runs anybody could have written are not copied on: the file starts afresh.
        if (file.Outcome == platform::TTrustedFile::TOutcome::Trusted) {
            runs = ParseRunLines(file.Content);
        }
    } else {
        runs = ParseRunLines(platform::ReadFile(path_));
    }
    const std::size_t keep = std::min(runs.size(), RunsKept);
    const std::span<const TRunRecord> newest(runs.end() - static_cast<std::ptrdiff_t>(keep),
                                             runs.end());
    platform::ReplaceFile(path_, Lines(newest), platform::TFlush::Lazily);
    lines_ = keep;
}

} // namespace tarvok
