// Reading one tag's lines back from the system journal, as journalctl lists them.
//
// The journal is asked through journalctl run as a child process, so the manager needs no
// journal library and reads exactly what a user would see with the same rights. The child is
// given a time limit and its output a size limit; it never outlives the call.
//
//   const TJournalText text = ReadJournal({.Tag = "tarvok-task-3",
//                                          .Since = "2026-12-08 12:30:00",
//                                          .Until = "2026-12-08 12:30:06"});
//   if (text.Available) show(text.Text); else show(text.Reason);
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarvok::platform {

struct TJournalQuery {
    std::string Tag; // the lines' SYSLOG_IDENTIFIER
    // Local date-times "YYYY-MM-DD HH:MM:SS", both ends included.
    std::string Since;
    std::string Until;
    // The newest lines in the range that are listed at most.
    int MaxLines = 2000;
    // Found by the search path when it holds no '/'.
    std::string Program = "journalctl";
    int TimeLimitMs = 5000;
    // Beyond this, what was read is kept and the rest left out.
    std::size_t MaxBytes = 1 << 20;
};

// The command line that lists the query's lines, program first.
std::vector<std::string> JournalArguments(const TJournalQuery& query);

struct TJournalText {
    bool Available = false;
    std::string Text{};   // the lines, when Available; empty when none were recorded
    std::string Reason{}; // why not, otherwise: "journalctl was not found", its own complaint, ...
    bool Cut = false;     // MaxBytes was reached
};

TJournalText ReadJournal(const TJournalQuery& query);

} // namespace tarvok::platform
