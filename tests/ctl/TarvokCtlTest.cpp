#include "ctl/TarvokCtl.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tarvok {
namespace {

using Strings = std::vector<std::string>;

// Each row: the arguments, the manager's answer, and what the tool must do with them.
TEST(TarvokCtl, SubcommandsControlTheServiceAndSayWhyNot) {
    struct TRow {
        Strings Args;
        std::string Answer; // the manager's reason; empty: it did it
        int Status;
        Strings Controls; // unit and code handed to the manager
        std::string Err;
    };
    const TRow rows[] = {
        {{"pause"}, "", 0, {"TarvokService.service 2"}, ""},
        {{"continue"}, "", 0, {"TarvokService.service 3"}, ""},
        {{"pause"},
         "Unit TarvokService.service not loaded.",
         CtlFailed,
         {"TarvokService.service 2"},
         "tarvokctl: cannot pause TarvokService: Unit TarvokService.service not loaded.\n"},
        {{"continue", "now"}, "", CtlUsageError, {}, "tarvokctl: continue takes no arguments\n"},
        {{}, "", CtlUsageError, {}, "tarvokctl: no command given (see tarvokctl --help)\n"},
        {{"Pause"},
         "",
         CtlUsageError,
         {},
         "tarvokctl: unknown command 'Pause' (see tarvokctl --help)\n"},
        {{"--help"}, "", 0, {}, ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Args.empty() ? "(none)" : row.Args.front());
        Strings controls;
        const platform::TServiceManager manager(
            {"/nonexistent", [] { return 0; }, [] { return true; },
             [](const std::string&) { return 0; },
             [&](const std::string& unit, std::uint32_t control) {
                 controls.push_back(unit + " " + std::to_string(control));
                 return row.Answer;
             }});
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunCtl(row.Args, {manager, out, err}), row.Status);
        EXPECT_EQ(controls, row.Controls);
        EXPECT_EQ(err.str(), row.Err);
        if (row.Args != Strings{"--help"}) {
            EXPECT_EQ(out.str(), "");
        }
    }
}

TEST(TarvokCtl, HelpListsEverySubcommand) {
    const platform::TServiceManager manager(platform::TServiceManager::TSettings{});
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunCtl(Strings{"--help"}, {manager, out, err}), 0);
    for (const char* line : {"Usage: tarvokctl COMMAND\n", "\n  pause       Pause the service",
                             "\n  continue    Let a paused", "\n  --help      Show this help.\n"}) {
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n--\n" << out.str();
    }
}

} // namespace
} // namespace tarvok
