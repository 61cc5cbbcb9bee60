// The system log writer: the whole log in memory, one time-stamped line per Add, the file
// rewritten after every line and reread on request.
//
// The file is plain text, one line per entry, each ended by CR LF, oldest first; nothing else.
// Both programs keep a logger on the same file and only one of them writes at a time (the other
// is Suppressed): the file is shared by that protocol, not by locks. Every rewrite replaces the
// file atomically, so a reader sees the previous log or the new one, never a torn one, even when
// the writer is killed. The rewrite is not flushed to disk: a wait for the disk per line would
// bound how many tasks a minute can start, and a power cut may at worst lose the newest lines.
//
//   TSysLogger log(programDir + "tarvok.log", clock);
//   log.NamedMonth = true;
//   log.LimitLines = true;
//   log.MaxLines = LogMaxLines;
//   log.AddFmt("Task \"%s\" [%d] started.", "Backup", 3);
//   // file: 06-Dec-2026 - 19:16:20 : Task "Backup" [3] started.<CR><LF>
//
// An instance is used by one thread at a time.
#pragma once

#include "shared/Clock.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok {

// The lines both programs keep, and the longest line the log holds: a longer message is cut.
// Reading a log file takes at most what that many of the longest lines fill, so a planted huge
// file costs no more than a full log; of a longer file the last lines are read.
inline constexpr std::int32_t LogMaxLines = 3000;
inline constexpr std::size_t MaxLogLineLength = 1024;
inline constexpr std::size_t LogReadLimit = LogMaxLines * (MaxLogLineLength + 2);

// The on-screen mirror of the log (the manager's message list). The logger keeps it in step
// with its lines but does not own it.
class TLogDisplay {
public:
    virtual ~TLogDisplay() = default;
    virtual std::size_t Count() const = 0;
    virtual void Append(const std::string& line) = 0;
    virtual void DeleteFirst() = 0;
    virtual void Clear() = 0;
    // Selects the last item and at once no item: the newest line scrolls into view and nothing
    // stays highlighted.
    virtual void SelectLastThenNone() = 0;
};

// One argument of a printf-style log text: a text or an integer. Anything else (floating point,
// bool, a single char, other pointers) does not compile.
class TLogArg {
public:
    TLogArg(std::string_view text) : text_(text) {}
    TLogArg(const std::string& text) : text_(text) {}
    // A null pointer reads as an empty text.
    TLogArg(const char* text) : text_(text != nullptr ? text : "") {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) TLogArg(T number)
        : text_(std::to_string(number)) {}

    // The text, or the number in decimal.
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// Fills "%s" (a text) and "%d" (a decimal integer) in the printf manner; "%%" is a percent sign.
// Safe for any pairing: a directive given the other kind of argument shows that argument as it
// is, a directive without an argument stays as written, an unknown directive is copied, and
// surplus arguments are ignored.
//   FormatLogText("Task \"%s\" [%d] started.", {"Backup", 3})  ->  Task "Backup" [3] started.
std::string FormatLogText(std::string_view format, std::initializer_list<TLogArg> args);

// The text with every control character shown as '?': a name or a command can then neither end
// a line early nor forge one, in the log or on a terminal.
std::string PrintableText(std::string_view text);

// The lines of a log file's content: split at CR LF, a bare LF accepted too, a last line
// without a line end kept. Lines are otherwise taken as they are.
std::deque<std::string> SplitLogLines(std::string_view content);

// The lines of a log file as a logger reads them: at most its last LogReadLimit bytes, without
// the line they begin inside, each line cut to MaxLogLineLength. Nothing when no file is at the
// path; raises platform::TIoError when one is there but cannot be read.
std::deque<std::string> ReadLogLines(const std::string& path);

class TSysLogger {
public:
    // Waits between two read attempts of Reload; tests pass one that does not sleep.
    using TRetryWait = std::function<void(int milliseconds)>;

    static constexpr int ReloadAttempts = 5;
    static constexpr int ReloadRetryMs = 100;

    // Loads the file when there is one (a single attempt; Lines stays empty when it fails).
    // The display is filled only by Reload.
    TSysLogger(std::string fileName, const TClock& clock, TRetryWait retryWait = {});
    TSysLogger(const TSysLogger&) = delete;
    TSysLogger& operator=(const TSysLogger&) = delete;
    // Writes nothing and leaves the display alone.
    ~TSysLogger() = default;

    // Called after every line that Add stored, once the file has been rewritten.
    std::function<void()> OnLineAdded;
    // Called with the path and the reason when a rewrite of the file fails, once for each run
    // of failures: the next one is told after a rewrite that succeeded.
    std::function<void(const std::string& reason)> OnWriteFailed;
    // While true, Add does nothing at all.
    bool Suppressed = false;
    // Stamp style: "06-Dec-2026 - 19:16:20" when true, "06/12/2026 - 19:16:20" when false.
    bool NamedMonth = false;
    const std::string FileName;
    // The line most recently composed by Add.
    std::string LastLine;
    // When true, Add keeps only the newest MaxLines lines in memory, on the display and in the
    // file; a MaxLines below 1 keeps none.
    bool LimitLines = false;
    std::int32_t MaxLines = 300;
    // The whole log, oldest first.
    std::deque<std::string> Lines;
    // Not owned; detach it before it goes away.
    TLogDisplay* Display = nullptr;
    // When true, Add rewrites the file after each line.
    bool WriteFile = true;

    // Stamps and stores one line: "<stamp> : <message>", cut to MaxLogLineLength. Control
    // characters in the message become '?', so no message can break a line or forge another. A
    // rewrite that fails keeps the line in memory and on the display; the next successful rewrite
    // writes it.
    void Add(std::string_view message);

    template <typename... TArgs>
    void AddFmt(std::string_view format, const TArgs&... args) {
        if (!Suppressed) {
            Add(FormatLogText(format, {TLogArg(args)...}));
        }
    }

    // Rereads the file into Lines (up to ReloadAttempts tries, ReloadRetryMs apart; Lines is
    // empty when every one fails or there is no file) and refills the display.
    void Reload();

    // Lines added between BeginBatch and EndBatch reach the file together: the outermost
    // EndBatch rewrites it once and then calls OnLineAdded once for each of them, in order. A
    // pass that starts a thousand tasks so pays for one rewrite of a full log, not a thousand,
    // and whoever is told of a line still finds it in the file. Reload and Truncate write what
    // is pending first, so they act on the same file as without a batch.
    void BeginBatch();
    void EndBatch();

    // Cuts the file down to its last `keep` lines; a count below 1 deletes the file. Always ends
    // with Reload, so memory and display mirror the file. Raises platform::TIoError when the
    // file could not be deleted, read or rewritten (after the Reload): the caller must not
    // report a truncation that did not happen.
    void Truncate(int keep);

private:
    std::string TimeStamp() const;
    void TrimToLimit();
    void RefillDisplay();
    // Rewrites the file from Lines; a failure is dropped, as Add's contract says.
    void SaveLines();
    void WriteLines(const std::deque<std::string>& lines) const;
    // One read attempt: the lines, or nothing when the read failed.
    std::optional<std::deque<std::string>> TryLoad() const;
    void KeepLastLines(std::size_t keep);

    // Writes what a batch holds back, if anything.
    void WritePending();

    const TClock& clock_;
    TRetryWait retryWait_;
    int batchDepth_ = 0;
    bool unwritten_ = false;      // lines of the open batch are not in the file yet
    std::size_t unannounced_ = 0; // lines of the open batch OnLineAdded has not been called for
    bool writeFailing_ = false;   // the last rewrite failed and OnWriteFailed was told
};

// Holds the logger's lines back for as long as it lives (BeginBatch/EndBatch).
//   { const TLogBatch batch(log); ...many Adds... }   // one rewrite, then the notifications
class TLogBatch {
public:
    explicit TLogBatch(TSysLogger& log) : log_(log) { log_.BeginBatch(); }
    ~TLogBatch() { log_.EndBatch(); }
    TLogBatch(const TLogBatch&) = delete;
    TLogBatch& operator=(const TLogBatch&) = delete;

private:
    TSysLogger& log_;
};

} // namespace tarvok
