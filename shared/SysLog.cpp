#include "shared/SysLog.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace tarvok {

namespace {

// The lines as the file holds them, built as one buffer so a rewrite is a single write.
std::string JoinLogLines(const std::deque<std::string>& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines) {
        size += line.size() + 2;
    }
    std::string content;
    content.reserve(size);
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    return content;
}

bool NothingAt(const std::string& path) {
    return !platform::FileExists(path) && !platform::DirectoryExists(path);
}

} // namespace

std::string FormatLogText(std::string_view format, std::initializer_list<TLogArg> args) {
    std::string text;
    text.reserve(format.size());
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char directive = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '%' && directive == '%') {
            text += '%';
            ++i;
        } else if (c == '%' && (directive == 's' || directive == 'd') && next != args.end()) {
            text += next->Text();
            ++next;
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

std::deque<std::string> ReadLogLines(const std::string& path) {
    platform::TFileTail tail;
    try {
        tail = platform::ReadFileTail(path, LogReadLimit);
    } catch (const platform::TIoError&) {
        if (NothingAt(path)) {
            return {};
        }
        throw;
    }
    std::string_view content = tail.Content;
    if (!tail.Whole) {
        const std::size_t end = content.find('\n');
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    }
    std::deque<std::string> lines = SplitLogLines(content);
    for (std::string& line : lines) {
        line.resize(std::min(line.size(), MaxLogLineLength));
    }
    return lines;
}

std::string PrintableText(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

std::deque<std::string> SplitLogLines(std::string_view content) {
    std::deque<std::string> lines;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        if (!line.empty() && line.back() == '\r' && end != std::string_view::npos) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    }
    return lines;
}

TSysLogger::TSysLogger(std::string fileName, const TClock& clock, TRetryWait retryWait)
    : FileName(std::move(fileName)), clock_(clock), retryWait_(std::move(retryWait)) {
    if (!retryWait_) {
        retryWait_ = platform::SleepFor;
    }
    if (auto loaded = TryLoad()) {
        Lines = std::move(*loaded);
    }
}

void TSysLogger::Add(std::string_view message) {
    if (Suppressed) {
        return;
    }
    LastLine = TimeStamp() + " : " + PrintableText(message);
    LastLine.resize(std::min(LastLine.size(), MaxLogLineLength));
    Lines.push_back(LastLine);
    if (Display != nullptr) {
        Display->Append(LastLine);
        Display->SelectLastThenNone();
    }
    if (LimitLines) {
        TrimToLimit();
    }
    if (batchDepth_ > 0) {
        unwritten_ = unwritten_ || WriteFile;
        ++unannounced_;
        return;
    }
    if (WriteFile) {
        SaveLines();
    }
    if (OnLineAdded) {
        OnLineAdded();
    }
}

void TSysLogger::BeginBatch() {
    ++batchDepth_;
}

void TSysLogger::EndBatch() {
    if (batchDepth_ == 0 || --batchDepth_ > 0) {
        return;
    }
    WritePending();
    // Counted down before each call, so a hook that adds a line cannot keep this loop going.
    for (std::size_t left = std::exchange(unannounced_, 0); left > 0; --left) {
        if (OnLineAdded) {
            OnLineAdded();
        }
    }
}

void TSysLogger::WritePending() {
    if (unwritten_) {
        unwritten_ = false;
        SaveLines();
    }
}

void TSysLogger::Reload() {
    WritePending();
    Lines.clear();
    for (int attempt = 1; attempt <= ReloadAttempts; ++attempt) {
        if (auto loaded = TryLoad()) {
            Lines = std::move(*loaded);
            break;
        }
        if (attempt < ReloadAttempts) {
            retryWait_(ReloadRetryMs);
        }
    }
    RefillDisplay();
}

void TSysLogger::Truncate(int keep) {
    WritePending();
    std::exception_ptr failure;
    try {
        if (keep < 1) {
            platform::RemoveFile(FileName);
        } else {
            KeepLastLines(static_cast<std::size_t>(keep));
        }
    } catch (const platform::TIoError&) {
        failure = std::current_exception();
    }
    Reload();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::string TSysLogger::TimeStamp() const {
    return NamedMonth
               ? DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', clock_.Now(), " - ", true)
               : DateTimeText(TDateOrder::DayMonthYear, '/', ':', clock_.Now(), " - ", true);
}

void TSysLogger::TrimToLimit() {
    const std::size_t limit = MaxLines > 0 ? static_cast<std::size_t>(MaxLines) : 0;
    if (Lines.size() > limit) {
        Lines.erase(Lines.begin(),
                    Lines.begin() + static_cast<std::ptrdiff_t>(Lines.size() - limit));
    }
    if (Display != nullptr) {
        // Counted once: a display that fails to shrink cannot hold the logger in a loop.
        const std::size_t count = Display->Count();
        for (std::size_t excess = count > limit ? count - limit : 0; excess > 0; --excess) {
            Display->DeleteFirst();
        }
        Display->SelectLastThenNone();
    }
}

void TSysLogger::RefillDisplay() {
    if (Display == nullptr) {
        return;
    }
    Display->Clear();
    for (const std::string& line : Lines) {
        Display->Append(line);
    }
    Display->SelectLastThenNone();
}

void TSysLogger::SaveLines() {
    try {
        WriteLines(Lines);
        writeFailing_ = false;
    } catch (const platform::TIoError& error) {
        // Logging is background work: the lines stay in memory and the next successful rewrite
        // writes them all.
        if (!std::exchange(writeFailing_, true) && OnWriteFailed) {
            OnWriteFailed(error.what());
        }
    }
}

void TSysLogger::WriteLines(const std::deque<std::string>& lines) const {
    platform::ReplaceFile(FileName, JoinLogLines(lines), platform::TFlush::Lazily);
}

std::optional<std::deque<std::string>> TSysLogger::TryLoad() const {
    try {
        return ReadLogLines(FileName);
    } catch (const platform::TIoError&) {
        return std::nullopt;
    }
}

void TSysLogger::KeepLastLines(std::size_t keep) {
    if (NothingAt(FileName)) {
        return;
    }
    std::deque<std::string> lines = ReadLogLines(FileName);
    if (lines.size() > keep) {
        lines.erase(lines.begin(),
                    lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - keep));
    }
    WriteLines(lines);
}

} // namespace tarvok
