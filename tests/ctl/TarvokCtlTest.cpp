#include "ctl/TarvokCtl.h"

#include "ctl/CtlCommands.h"
#include "tests/FakeProcesses.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tarvok {
namespace {

using Strings = std::vector<std::string>;

// The slots as a test sets them: no service, no manager, unless a row says otherwise.
class TFakeLink final : public TCtlLink {
public:
    bool ServiceRuns() override { return false; }
    bool ManagerRuns() override { return false; }
    bool Send(const std::string& message) override {
        Sent.push_back(message);
        return false;
    }
    std::optional<TServiceRuns> QueryRuns() override { return std::nullopt; }
    TDeleteAnswer DeleteTask(std::int32_t) override { return TDeleteAnswer::NoAnswer; }
    std::optional<TServiceState> ListenForState() override { return std::nullopt; }
    std::vector<std::uint32_t> ForegroundServices() override { return Foreground; }
    std::string ControlForeground(std::uint32_t processId, std::uint32_t control) override {
        Controls.push_back(std::to_string(processId) + " " + std::to_string(control));
        return ForegroundAnswer;
    }

    std::vector<std::uint32_t> Foreground;
    std::string ForegroundAnswer;
    Strings Controls;
    Strings Sent;
};

struct TCtlFixture {
    explicit TCtlFixture(platform::TServiceManager::TSettings settings)
        : Manager(std::move(settings)) {}

    int Run(const Strings& args, bool administrator = true) {
        return RunCtl(args, {.Manager = Manager,
                             .Link = Link,
                             .In = In,
                             .Out = Out,
                             .Err = Err,
                             .Paths = ProgramPathsFor("/nonexistent/tarvokctl"),
                             .Processes = Processes,
                             .Files = SystemPathView(),
                             .Clock = Clock,
                             .Administrator = administrator,
                             .GroupName = "tarvok",
                             .LongTimeFormat = "%H:%M:%S",
                             .FollowPause = {}});
    }

    platform::TServiceManager Manager;
    TFakeLink Link;
    testing_support::TFakeProcesses Processes;
    TFixedClock Clock;
    std::istringstream In;
    std::ostringstream Out;
    std::ostringstream Err;
};

// Each row: the arguments, where the service runs, and what the tool must do with them.
TEST(TarvokCtl, PauseAndContinueReachTheServiceWhereverItRunsAndSayWhyNot) {
    struct TRow {
        Strings Args;
        bool Systemd;
        std::vector<std::uint32_t> Foreground; // services run by hand
        std::string Answer;                    // the manager's or the signal's reason
        int Status;
        Strings Controls; // what reached systemd ("unit code") or a process ("pid code")
        std::string Err;
        bool Administrator = true;
    };
    const TRow rows[] = {
        {{"pause"}, true, {}, "", 0, {"TarvokService.service 2"}, ""},
        {{"continue"}, true, {}, "", 0, {"TarvokService.service 3"}, ""},
        {{"pause"},
         true,
         {},
         "Unit TarvokService.service not loaded.",
         CtlFailed,
         {"TarvokService.service 2"},
         "tarvokctl: cannot pause TarvokService: Unit TarvokService.service not loaded.\n"},
        // Run by hand: signalled directly, systemd or not.
        {{"pause"}, true, {4711}, "", 0, {"4711 2"}, ""},
        {{"continue"}, false, {4711}, "", 0, {"4711 3"}, ""},
        {{"continue"},
         false,
         {4711},
         "Operation not permitted",
         CtlFailed,
         {"4711 3"},
         "tarvokctl: cannot continue TarvokService: Operation not permitted\n"},
        {{"pause"},
         false,
         {},
         "",
         CtlFailed,
         {},
         "tarvokctl: cannot pause TarvokService: systemd is not running here, and no "
         "\"TarvokSvc run\" of /nonexistent/ runs\n"},
        {{"pause"},
         true,
         {},
         "",
         CtlFailed,
         {},
         "tarvokctl: pause: you are not a Tarvok administrator; ask to be added to the group "
         "\"tarvok\", then log in again\n",
         false},
        {{"continue", "now"},
         true,
         {},
         "",
         CtlUsageError,
         {},
         "tarvokctl: continue: takes no operands (see tarvokctl continue --help)\n"},
        {{},
         true,
         {},
         "",
         CtlUsageError,
         {},
         "tarvokctl: no command given (see tarvokctl --help)\n"},
        {{"Pause"},
         true,
         {},
         "",
         CtlUsageError,
         {},
         "tarvokctl: unknown command 'Pause' (see tarvokctl --help)\n"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE((row.Args.empty() ? "(none)" : row.Args.front()) + " " + row.Answer);
        Strings controls;
        TCtlFixture ctl({"/nonexistent", [] { return 0; }, [&] { return row.Systemd; },
                         [](const std::string&) { return 0; },
                         [&](const std::string& unit, std::uint32_t control) {
                             controls.push_back(unit + " " + std::to_string(control));
                             return row.Answer;
                         }});
        ctl.Link.Foreground = row.Foreground;
        ctl.Link.ForegroundAnswer = row.Answer;
        EXPECT_EQ(ctl.Run(row.Args, row.Administrator), row.Status);
        controls.insert(controls.end(), ctl.Link.Controls.begin(), ctl.Link.Controls.end());
        EXPECT_EQ(controls, row.Controls);
        EXPECT_EQ(ctl.Err.str(), row.Err);
        EXPECT_EQ(ctl.Out.str(), "");
    }
}

TEST(TarvokCtl, HelpListsEverySubcommandAndEachHasItsOwn) {
    TCtlFixture ctl(platform::TServiceManager::TSettings{});
    ASSERT_EQ(ctl.Run({"--help"}), 0);
    const std::string help = ctl.Out.str();
    for (const char* command : {"list", "show ID", "enable ID", "disable ID", "delete ID", "run ID",
                                "log", "status", "export", "pause", "continue"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(help.find(std::string("\n  ") + command + " "), std::string::npos) << help;
        const std::string name = std::string(command).substr(0, std::string(command).find(' '));
        ctl.Out.str("");
        EXPECT_EQ(ctl.Run({name, "--help"}, false), 0) << "help needs no rights";
        EXPECT_EQ(ctl.Out.str().rfind("Usage: tarvokctl " + name, 0), 0u) << ctl.Out.str();
    }
    EXPECT_EQ(ctl.Err.str(), "");
}

// The log writer drops lines at the front and adds them at the end; truncating starts anew.
TEST(TarvokCtl, FollowingTheLogPrintsOnlyTheLinesAdded) {
    using Lines = std::deque<std::string>;
    struct TRow {
        const char* Name;
        Lines Before;
        Lines After;
        std::size_t FirstAdded;
    };
    const TRow rows[] = {
        {"nothing new", {"a", "b"}, {"a", "b"}, 2},
        {"one added", {"a", "b"}, {"a", "b", "c"}, 2},
        {"the oldest dropped for a new one", {"a", "b", "c"}, {"b", "c", "d"}, 2},
        {"the same line once more", {"a", "b"}, {"a", "b", "b"}, 2},
        {"two dropped, the same added", {"x", "x", "y"}, {"y", "x", "x"}, 1},
        {"truncated", {"a", "b"}, {"System log truncated."}, 0},
        {"from no log", {}, {"a"}, 0},
        {"to no log", {"a"}, {}, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(ctl::FirstAddedLine(row.Before, row.After), row.FirstAdded);
    }
}

} // namespace
} // namespace tarvok
