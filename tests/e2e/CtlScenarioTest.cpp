// The real tarvokctl against the real TarvokSvc, both run from the harness's program directory.
#include "shared/Protocol.h"
#include "tests/Spawn.h"
#include "tests/e2e/ServiceHarness.h"

#include <csignal>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace tarvok::e2e {
namespace {

using testing::Contains;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;

constexpr std::uint32_t Nobody = 65534;

TDateTime At(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second);
}

std::string TestName() {
    return testing::UnitTest::GetInstance()->current_test_info()->name();
}

// The process id of the blocking run the service reported for the task.
std::uint32_t WaitForRun(TServiceHarness& service, std::int32_t taskId) {
    const std::string prefix = "TS " + std::to_string(taskId) + " ";
    const auto at = service.WaitForMessage(
        [&](const std::string& message) { return message.starts_with(prefix); });
    return at ? ParseMessage(service.MessageTexts()[*at]).ProcessId : 0;
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(CtlScenario, AnAddedTaskStartsInItsMinute) {
    TServiceHarness service(TestName());
    service.Start({.FakeStart = At(10, 15, 50)});
    ASSERT_TRUE(service.WaitForMessage("SS"));

    const TCtlRun added =
        service.Ctl({"add", "--name", "Report", "--command", service.MarkerScript("report"), "--at",
                     "10:16", "--start", "2026-12-01", "--disabled"});
    EXPECT_EQ(added.ExitCode, 0) << added.Err;
    EXPECT_EQ(added.Out, "Task \"Report\" [1] added.\n");
    const TCtlRun enabled = service.Ctl({"enable", "1"});
    EXPECT_EQ(enabled.ExitCode, 0) << enabled.Err;
    EXPECT_EQ(enabled.Out, "Task \"Report\" [1] enabled.\n");

    const auto started = service.WaitForLogLine("Task \"Report\" [1] started.");
    ASSERT_TRUE(started);
    EXPECT_EQ(LogStamp(*started), "08-Dec-2026 - 10:16:00");
    EXPECT_TRUE(service.WaitUntil([&] { return service.Runs("report") == 1; }));
    EXPECT_EQ(Count(service.LogMessages(), "Task list (re)loaded"), 2u) << "on TN and on TM";
}

TEST(CtlScenario, ABlockingTaskRunsOnceWhileItsRunGoesOn) {
    TServiceHarness service(TestName());
    service.WriteTasks({MakeTask(1, "Sleeper", "/bin/sleep", "120", DailyAt(3, 0), true)});
    service.Start();
    ASSERT_TRUE(service.WaitForMessage("SS"));
    const pid_t follower = service.StartCtl({"log", "-f"}, "follow");
    ASSERT_NE(follower, 0);

    const TCtlRun first = service.Ctl({"run", "1"});
    EXPECT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(first.Out, "Task \"Sleeper\" [1] handed to the service, which starts it now.\n");
    const std::uint32_t sleeper = WaitForRun(service, 1);
    ASSERT_NE(sleeper, 0u);

    const TCtlRun second = service.Ctl({"run", "1"});
    EXPECT_EQ(second.ExitCode, 1);
    EXPECT_EQ(second.Err, "tarvokctl: Blocking Task \"Sleeper\" [1] is running.\n");
    const TCtlRun list = service.Ctl({"list"});
    EXPECT_EQ(list.Out, "ID  NAME     ENABLED  BLOCKING  SCHEDULE                  RUNNING\n"
                        "1   Sleeper  Yes      Yes       The task runs every day.  yes\n");
    const std::string shown = service.Ctl({"show", "1"}).Out;
    EXPECT_THAT(shown, HasSubstr("Running:    Yes\nProcess ID: " + std::to_string(sleeper) + "\n"));
    const std::string start = "[A-Z][a-z]{2} [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4} 03:00:00\n";
    EXPECT_THAT(shown, ContainsRegex("\nNext runs:  " + start + "( {12}" + start + "){4}$"));
    EXPECT_THAT(service.Ctl({"show", "1", "--json"}).Out,
                ContainsRegex("\"next_runs\": \\[\\s*\"[0-9-]{10}T03:00\"(,\\s*\"[0-9-]{10}T03:"
                              "00\"){4}\\s*\\],\\s*\"next_runs_end\": null"));
    EXPECT_EQ(Count(service.LogMessages(), "Blocking task \"Sleeper\" [1] started."), 1u);

    // The follower prints the line the run added, once.
    EXPECT_TRUE(service.WaitUntil(
        [&] { return service.ReadFile("follow.out").find("[1] started.") != std::string::npos; }));
    ::kill(follower, SIGTERM);
    testing_support::WaitForProgram(follower);
    const std::string followed = service.ReadFile("follow.out");
    EXPECT_THAT(followed, StartsWith(service.LogLines().front() + "\n"));
    EXPECT_EQ(followed.find("started."), followed.rfind("started."));
}

// With a manager (the harness holding "TarvokClient") the manager gets "TX"; without one
// tarvokctl holds the slot for the answer itself.
TEST(CtlScenario, DeletesThroughTheServiceWithAndWithoutAManager) {
    for (const bool manager : {true, false}) {
        SCOPED_TRACE(manager ? "a manager runs" : "no manager");
        TServiceHarness service(TestName() + (manager ? "Manager" : "Alone"), {}, manager);
        service.WriteTasks({MakeTask(1, "Sleeper", "/bin/sleep", "60", DailyAt(3, 0), true),
                            MakeTask(2, "Plain", "/bin/true", "", DailyAt(3, 0))});
        service.Start();
        ASSERT_TRUE(service.WaitForLogLine("Tarvok Service running!"));
        ASSERT_EQ(service.Ctl({"run", "1"}).ExitCode, 0);
        ASSERT_TRUE(service.WaitUntil(
            [&] { return service.Ctl({"list"}).Out.find("yes\n") != std::string::npos; }));
        const std::string before = service.ReadFile("tarvok.tsk");

        const TCtlRun refused = service.Ctl({"delete", "1"});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_EQ(refused.Err, "tarvokctl: Blocking Task \"Sleeper\" [1] is running.\n");
        EXPECT_EQ(service.ReadFile("tarvok.tsk"), before);

        const TCtlRun deleted = service.Ctl({"delete", "2"});
        EXPECT_EQ(deleted.ExitCode, 0) << deleted.Err;
        EXPECT_EQ(deleted.Out, "Task \"Plain\" [2] deleted.\n");
        EXPECT_EQ(service.ReadFile("tarvok.tsk"), before.substr(0, TaskDefSize));
        if (manager) {
            EXPECT_TRUE(service.WaitForMessage("TX 2"));
        }
        // The sleeper was started by the service: its pid is in no message the harness kills.
        const TCtlRun show = service.Ctl({"show", "1", "--json"});
        const std::size_t at = show.Out.find("\"process_id\": ");
        ASSERT_NE(at, std::string::npos) << show.Out;
        ::kill(std::stoi(show.Out.substr(at + 14)), SIGKILL);
    }
}

TEST(CtlScenario, RefusalsLeaveTheTaskFileByteForByte) {
    TServiceHarness service(TestName());
    service.WriteTasks({MakeTask(1, "Report", "/bin/true", "", DailyAt(3, 0))});
    service.Start();
    ASSERT_TRUE(service.WaitForMessage("SS"));
    const std::string before = service.ReadFile("tarvok.tsk");
    struct TRow {
        std::vector<std::string> Args;
        std::optional<std::uint32_t> Uid;
        int ExitCode;
        std::string Err;
    };
    const TRow rows[] = {
        {{"enable", "x"}, {}, 2, "ID must be a task id, a whole number above 0, not 'x'"},
        {{"enable", "99"}, {}, 1, "no task has the id 99 (see tarvokctl list)"},
        {{"disable"}, {}, 2, "disable: takes ID and nothing else"},
        {{"delete", "1", "2"}, {}, 2, "delete: takes ID and nothing else"},
        {{"run", "1", "--json"}, {}, 2, "run: unknown option '--json'"},
        {{"list", "--json=yes"}, {}, 2, "list: option '--json' takes no value"},
        {{"log", "-n", "ten"}, {}, 2, "log: -n takes a number of lines, not 'ten'"},
        {{"log", "-n"}, {}, 2, "log: option '-n' needs a value (N)"},
        {{"Enable", "1"}, {}, 2, "unknown command 'Enable'"},
        {{"enable", "1"}, Nobody, 1, "enable: you are not a Tarvok administrator"},
        {{"delete", "1"}, Nobody, 1, "delete: you are not a Tarvok administrator"},
        {{"pause"}, Nobody, 1, "pause: you are not a Tarvok administrator"},
        {{"status"}, Nobody, 1, "status: you are not a Tarvok administrator"},
        {{"add", "--name", "X", "--command", "/bin/true"},
         {},
         2,
         "add: a task needs --at TIME or --every N"},
        {{"add", "--name", "X", "--command", "/nonexistent", "--at", "10:00"},
         {},
         2,
         "add: --command must be a program file you may run"},
        {{"add", "--name", "\t", "--command", "/bin/true", "--at", "10:00"},
         {},
         2,
         "add: --name must be filled in"},
        {{"add", "--name", std::string(101, 'x'), "--command", "/bin/true", "--at", "10:00"},
         {},
         2,
         "add: --name holds at most 100 bytes; this one has 101"},
        {{"edit", "1", "--weekly", "2", "--at", "10:00"},
         {},
         2,
         "edit: --days must name at least one week day"},
        {{"edit", "1", "--every", "1000"},
         {},
         2,
         "edit: --every must be a whole number from 1 to 999"},
        {{"edit", "1", "--monthly", "1", "--day", "32"},
         {},
         2,
         "edit: --day must be a whole number from 1 to 31"},
        {{"edit", "1", "--monthly", "1", "--week", "last"}, {}, 2, "edit: --week needs --weekday"},
        {{"edit", "1", "--every", "2", "--from", "18:00", "--to", "08:00"},
         {},
         2,
         "edit: --to cannot be before the starting time"},
        {{"edit", "1", "--end", "2020-01-01"},
         {},
         2,
         "edit: --end cannot be before the starting date"},
        {{"edit", "1", "--at", "25:00"},
         {},
         2,
         "edit: --at takes a time of day, HH:MM, not '25:00'"},
        {{"edit", "1", "--daily", "1", "--weekly", "1"},
         {},
         2,
         "edit: --daily cannot go with --weekly"},
        {{"edit", "1", "--unit", "minutes"}, {}, 2, "edit: --unit goes with --every"},
        {{"edit", "1", "--priority", "Urgent"},
         {},
         2,
         "edit: --priority takes High, Realtime, Normal or Low, not 'Urgent'"},
        {{"edit", "1", "--workdir", "/nonexistent"},
         {},
         2,
         "edit: --workdir must be an existing directory"},
        {{"import", "/nonexistent.json"}, {}, 1, "import: cannot read /nonexistent.json: "},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Args.front() + (row.Args.size() > 1 ? " " + row.Args[1] : ""));
        const TCtlRun run = service.Ctl(row.Args, row.Uid);
        EXPECT_EQ(run.ExitCode, row.ExitCode);
        EXPECT_THAT(run.Err, StartsWith("tarvokctl: " + row.Err));
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_EQ(service.ReadFile("tarvok.tsk"), before);
    }
    // Looking is for everyone who can read the files; the runs only the service can tell.
    const TCtlRun looked = service.Ctl({"list"}, Nobody);
    EXPECT_EQ(looked.ExitCode, 0) << looked.Err;
    EXPECT_EQ(looked.Out, "ID  NAME    ENABLED  BLOCKING  SCHEDULE                  RUNNING\n"
                          "1   Report  Yes      No        The task runs every day.  -\n");
    EXPECT_EQ(Count(service.LogMessages(), "Task list (re)loaded"), 1u) << "the service was told";
}

// Every record is read and checked before anything is written: one bad record imports nothing.
TEST(CtlScenario, AnImportWithOneBadRecordWritesNothing) {
    TServiceHarness service(TestName());
    service.WriteTasks({MakeTask(1, "Kept", "/bin/true", "", DailyAt(3, 0))});
    service.Start();
    ASSERT_TRUE(service.WaitForMessage("SS"));
    const std::string before = service.ReadFile("tarvok.tsk");
    const std::string good =
        R"({"name": "A", "command": "/bin/true", "schedule": {"daily": {"every": 1},)"
        R"( "once": "03:00", "start": "2026-12-01", "end": null}})";
    const std::string bad =
        R"({"name": "Bad", "command": "/bin/true", "schedule": {"weekly": {"every": 1,)"
        R"( "days": []}, "once": "03:00", "start": "2026-12-01", "end": null}})";
    std::ofstream(service.Path("import.json"), std::ios::trunc)
        << R"({"tasks": [)" << good << ", " << good << ", " << bad << "]}";

    for (const char* add : {"", "--add"}) {
        SCOPED_TRACE(add);
        std::vector<std::string> args = {"import", service.Path("import.json")};
        if (*add != '\0') {
            args.push_back(add);
        }
        const TCtlRun refused = service.Ctl(args);
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_EQ(refused.Err, "tarvokctl: import: " + service.Path("import.json") +
                                   ": task 3 (Bad): schedule.weekly.days must name at least one "
                                   "week day; nothing was imported\n");
        EXPECT_EQ(service.ReadFile("tarvok.tsk"), before);
    }

    // Without the bad record: added beside the kept task, with new ids, and the service told.
    std::ofstream(service.Path("import.json"), std::ios::trunc)
        << R"({"tasks": [)" << good << ", " << good << "]}";
    const TCtlRun added = service.Ctl({"import", "--add", service.Path("import.json")});
    EXPECT_EQ(added.ExitCode, 0) << added.Err;
    EXPECT_EQ(added.Out, "Added 2 tasks.\n");
    const TCtlRun listed = service.Ctl({"list", "--json"});
    for (const char* row : {R"("id": 1,)", R"("id": 2,)", R"("id": 3,)", R"("name": "Kept")"}) {
        EXPECT_THAT(listed.Out, HasSubstr(row));
    }
    EXPECT_TRUE(service.WaitUntil([&] {
        return Count(service.LogMessages(), "Task list (re)loaded") == 3;
    })) << "once at start, once for each TN";

    // What export writes, import takes back as it was.
    const std::string exported = service.Ctl({"export"}).Out;
    std::ofstream(service.Path("import.json"), std::ios::trunc) << exported;
    const std::string saved = service.ReadFile("tarvok.tsk");
    EXPECT_EQ(service.Ctl({"import", service.Path("import.json")}).Out, "Imported 3 tasks.\n");
    EXPECT_EQ(service.ReadFile("tarvok.tsk"), saved);
}

TEST(CtlScenario, ServiceRunByHandStartsATaskPausesAndStopsOnSigterm) {
    TServiceHarness service(TestName());
    service.WriteTasks(
        {MakeTask(1, "Report", service.MarkerScript("report"), "", DailyAt(10, 16))});
    service.Start({.FakeStart = At(10, 15, 55), .Arguments = {"run"}, .ServiceManager = false});
    ASSERT_TRUE(service.WaitForMessage("SS"));
    const TCtlRun status = service.Ctl({"status"});
    EXPECT_EQ(status.Out, "Service: running (run by hand, process " +
                              std::to_string(service.Pid()) + ")\nManager: connected\n");
    EXPECT_TRUE(service.WaitForLogLine("Task \"Report\" [1] started."));
    EXPECT_TRUE(service.WaitUntil([&] { return service.Runs("report") == 1; }));

    std::size_t from = service.Messages().size();
    const TCtlRun paused = service.Ctl({"pause"});
    EXPECT_EQ(paused.ExitCode, 0) << paused.Err;
    ASSERT_TRUE(service.WaitForMessage("SP", from));
    from = service.Messages().size();
    EXPECT_EQ(service.Ctl({"continue"}).ExitCode, 0);
    ASSERT_TRUE(service.WaitForMessage("SR", from));

    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(), 0);
    EXPECT_EQ(service.LogMessages().back(), "Tarvok Service stopped!");
    EXPECT_EQ(service.MessageTexts().back(), "SD");
    EXPECT_THAT(service.NotifyMessages(), IsEmpty());
    if (!PrivateRunAvailable()) {
        GTEST_SKIP() << "no private /run: the events went to this machine's journal";
    }
    // No journal in its /run: the events went to standard error.
    const std::string events = service.ReadFile("stderr");
    for (const char* event : {"TarvokService: Information: The service started successfully.\n",
                              "TarvokService: Warning: The service was paused.\n",
                              "TarvokService: Information: The service was resumed after being "
                              "paused for ",
                              "TarvokService: Information: The service ended successfully.\n"}) {
        EXPECT_THAT(events, HasSubstr(event));
    }
    EXPECT_EQ(service.ReadFile("stdout"), "");
}

} // namespace
} // namespace tarvok::e2e
