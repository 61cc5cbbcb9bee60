// The run history: how every run either program started has ended, kept in "tarvok.runs" beside
// the task file.
//
// The file is text, one run per line, oldest first, each line ended by LF, its fields separated
// by tabs and the task's name last:
//
//   2026-12-08 12:30:00.004<TAB>2026-12-08 12:30:04.112<TAB>3<TAB>4711<TAB>exit
//   2<TAB>minute<TAB>Backup
//
// The outcome is "exit <code>", "signal <number>" or "not started". Lines are only ever added
// at the end, each with one write, so a program killed while writing leaves at most one torn last
// line, which readers skip like any line that does not parse. Once the file holds a tenth more
// runs than RunsKept, the writer replaces it with its newest RunsKept runs.
//
//   TRunLedger ledger(paths.RunsPath, TRunLedger::TRead::Trusted);
//   ledger.Append({{.Started = s, .Ended = e, .TaskId = 3, .TaskName = "Backup",
//                   .ProcessId = 4711, .End = TRunEnd::Exited, .Code = 2}});
//   for (const TRunRecord& run : ReadRunHistory(paths.RunsPath)) ...
#pragma once

#include "shared/Time.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

inline constexpr std::size_t RunsKept = 10000;
// A longer line is no run line: names are short, and a reader never takes in more than
// RunsKept lines of this length.
inline constexpr std::size_t MaxRunLineLength = 1024;

enum class TRunEnd : std::uint8_t {
    Exited,     // Code holds the exit code
    Signalled,  // Code holds the number of the signal that ended it
    NotStarted, // the start failed; Ended is the moment it did
};

// What started the run.
enum class TRunOrigin : std::uint8_t {
    Minute,  // the minute test found the task due
    User,    // someone asked this program directly: the manager's "&Run", tarvokctl run
    Request, // the service was asked with "TR"
};

struct TRunRecord {
    TDateTime Started = 0;
    TDateTime Ended = 0;
    std::int32_t TaskId = 0;
    std::string TaskName;
    std::uint32_t ProcessId = 0; // 0 when it did not start
    TRunEnd End = TRunEnd::Exited;
    std::int32_t Code = 0;
    TRunOrigin Origin = TRunOrigin::Minute;

    friend bool operator==(const TRunRecord&, const TRunRecord&) = default;
};

// A non-zero exit code, a signal, or a failed start.
bool RunFailed(const TRunRecord& run);

// The run's line without its line end. Control characters in the name are shown as '?'.
std::string FormatRunLine(const TRunRecord& run);
// Nothing for a line that is not exactly what FormatRunLine writes.
std::optional<TRunRecord> ParseRunLine(std::string_view line);
// The runs of a file's content, oldest first; lines that do not parse are left out.
std::vector<TRunRecord> ParseRunLines(std::string_view content);

// How a failed run ended, in the short form messages carry: the exit code, or minus the signal's
// number; 0 for a run that did not fail or did not start.
std::int32_t FailureCode(const TRunRecord& run);
// "exit code 2", "signal SIGKILL" (the name given by signalName, else the number); what follows
// "failed: " in the log and what a notification shows in brackets.
std::string FailureCodeText(std::int32_t code, std::string_view signalName = {});
// The log line of a run that ended with a non-zero exit code or a signal:
//   Task "Backup" [3] failed: exit code 2 after 4.1 s.
std::string RunFailureLogText(const TRunRecord& run, std::string_view signalName = {});

// The runs of a file, oldest first, as a reader takes them: at most its last RunsKept lines.
// Nothing when no file is at the path; raises platform::TIoError when one is there but cannot be
// read.
std::vector<TRunRecord> ReadRunHistory(const std::string& path);

// The tag a run's output carries in the system journal, by which one task's output is listed:
// "tarvok-task-3" (journalctl -t tarvok-task-3).
std::string RunOutputTag(std::int32_t taskId);

// Adds runs to a history file. An instance is used by one thread at a time; two programs may
// append to the same file, each line lands whole.
class TRunLedger {
public:
    // Trusted: before the file's runs are copied into a shortened file, it is read as the task
    // file is by a privileged program (platform::ReadTrustedFile); a file that fails the checks is
    // started afresh instead. Plain: read as any reader does.
    enum class TRead : std::uint8_t { Plain, Trusted };

    TRunLedger(std::string path, TRead read);

    // Appends the runs, one line each, with a single write; then shortens the file when it has
    // grown past its limit. Raises platform::TIoError with the path when the file cannot be
    // written; the runs are then not recorded.
    void Append(std::span<const TRunRecord> runs);

    const std::string& Path() const { return path_; }

private:
    void CountLines();
    void Shorten();

    std::string path_;
    TRead read_;
    std::optional<std::size_t> lines_; // counted on the first append
    bool tornEnd_ = false;
};

} // namespace tarvok
