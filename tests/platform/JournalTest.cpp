#include "platform/Journal.h"

#include "tests/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvok::platform {
namespace {

using testing_support::TempDirTest;

class JournalTest : public TempDirTest {
protected:
    // A journalctl that behaves as the shell text says.
    std::string FakeJournal(const std::string& body) {
        const std::string path = Path("journalctl");
        Write(path, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
};

TEST_F(JournalTest, TellsTheLinesOrWhyThereAreNone) {
    struct TRow {
        const char* Name;
        std::string Body; // empty: no program at all
        bool Available;
        std::string Text;
        std::string Reason;
        bool Cut = false;
    };
    const TRow rows[] = {
        {"its arguments come through whole", R"(printf '%s|' "$@"; echo)", true,
         "-t|tarvok-task-3|--since|2026-12-08 12:30:00|--until|2026-12-08 12:30:06|-n|2000|-o|"
         "short-iso|--no-pager|\n",
         ""},
        {"its markers are no output", "echo '-- No entries --'", true, "", ""},
        {"lines stay, markers go",
         "echo '-- Boot 1 --'; echo '2026-12-08T12:30:01+0000 h tarvok-task-3[9]: disk full'", true,
         "2026-12-08T12:30:01+0000 h tarvok-task-3[9]: disk full\n", ""},
        {"nothing listed and a complaint",
         "echo '-- No entries --'; echo 'No journal files were found.' >&2", false, "",
         "No journal files were found."},
        {"a failure tells its complaint on one line",
         "echo 'Failed to open:' >&2; echo '  Permission denied' >&2; exit 1", false, "",
         "Failed to open: Permission denied"},
        {"a silent failure tells its code", "exit 4", false, "", " ended with exit code 4"},
        {"a hang is cut short", "exec sleep 30", false, "", " gave no answer in time"},
        {"too much is cut at a whole line", "yes 'line of output' | head -c 300000", true, "", "",
         true},
        {"no program", "", false, "", " was not found"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TJournalQuery query{.Tag = "tarvok-task-3",
                            .Since = "2026-12-08 12:30:00",
                            .Until = "2026-12-08 12:30:06",
                            .Program = row.Body.empty() ? Path("missing") : FakeJournal(row.Body),
                            .TimeLimitMs = 300,
                            .MaxBytes = 100'000};
        const TJournalText text = ReadJournal(query);
        EXPECT_EQ(text.Available, row.Available);
        EXPECT_EQ(text.Cut, row.Cut);
        if (row.Cut) {
            EXPECT_LE(text.Text.size(), query.MaxBytes);
            EXPECT_EQ(text.Text.back(), '\n');
        } else {
            EXPECT_EQ(text.Text, row.Text);
        }
        EXPECT_TRUE(text.Reason.ends_with(row.Reason)) << text.Reason;
    }
}

} // namespace
} // namespace tarvok::platform
