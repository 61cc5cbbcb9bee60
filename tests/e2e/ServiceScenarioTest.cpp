// The real TarvokSvc under a pretend systemd and a pretend manager, its wall clock started just
// before a minute so that the minute's due test comes within seconds.
#include "platform/ServiceControl.h"
#include "shared/Protocol.h"
#include "tests/e2e/ServiceHarness.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarvok::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::MatchesRegex;
using namespace std::chrono_literals;

TDateTime At(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second);
}

std::string TestName() {
    return testing::UnitTest::GetInstance()->current_test_info()->name();
}

bool IsStatus(const std::string& message) {
    return message == "SS" || message == "SR" || message == "SP";
}

std::vector<std::string> StatusMessages(const std::vector<std::string>& messages) {
    std::vector<std::string> status;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(status), IsStatus);
    return status;
}

std::vector<std::string> WithCode(const std::vector<std::string>& messages, std::string_view code) {
    std::vector<std::string> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [code](const std::string& message) { return message.starts_with(code); });
    return found;
}

std::uint32_t ProcessIdOf(const std::string& message) {
    return ParseMessage(message).ProcessId;
}

// Every log line is announced with "LC" after it is written; once as many have arrived as the
// log has lines, whatever the scheduler sent before its last line has arrived too.
bool AllLinesAnnounced(TServiceHarness& service) {
    return service.WaitUntil(
        [&] { return WithCode(service.MessageTexts(), "LC").size() >= service.LogLines().size(); });
}

void ExpectStoppedCleanly(TServiceHarness& service) {
    EXPECT_EQ(service.WaitForExit(), 0);
    EXPECT_TRUE(service.WaitForNotify("STATUS=Stopped"));
    ASSERT_FALSE(service.LogMessages().empty());
    EXPECT_EQ(service.LogMessages().back(), "Tarvok Service stopped!");
    EXPECT_EQ(service.MessageTexts().back(), "SD");
    EXPECT_EQ(service.ReadFile("stdout") + service.ReadFile("stderr"), "");
}

TEST(ServiceRun, StartsTheFirstWholeMinuteAndFollowsABlockingRun) {
    TServiceHarness service(TestName());
    service.WriteTasks({
        MakeTask(1, "Early", service.MarkerScript("early"), "", DailyAt(10, 15)),
        MakeTask(2, "Blocker", "/bin/sleep", "120", DailyAt(10, 16), true),
        MakeTask(3, "OnTime", service.MarkerScript("ontime"), "", DailyAt(10, 16)),
    });
    service.Start({.FakeStart = At(10, 15, 56)});
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));
    ASSERT_TRUE(service.WaitForMessage("SS"));
    // The program's own wall clock, not this machine's, stamps its log.
    ASSERT_FALSE(service.LogLines().empty());
    EXPECT_THAT(LogStamp(service.LogLines().front()), MatchesRegex("08-Dec-2026 - 10:15:5[6-9]"));

    // Started on request before the minute, still running when it comes round.
    ASSERT_TRUE(service.Send("TR 2"));
    const auto started = service.WaitForMessage(
        [](const std::string& message) { return message.starts_with("TS 2 "); });
    ASSERT_TRUE(started);
    const std::uint32_t blocker = ProcessIdOf(service.MessageTexts()[*started]);
    ASSERT_NE(blocker, 0u);

    const auto onTime = service.WaitForLogLine("Task \"OnTime\" [3] started.");
    ASSERT_TRUE(onTime);
    EXPECT_EQ(LogStamp(*onTime), "08-Dec-2026 - 10:16:00");
    EXPECT_TRUE(service.WaitUntil([&] { return service.Runs("ontime") == 1; }));
    EXPECT_EQ(service.Runs("early"), 0);
    EXPECT_THAT(service.LogMessages(),
                ElementsAre("Tarvok Service starting!", "Task list (re)loaded",
                            "Tarvok Service running!", "Blocking task \"Blocker\" [2] started.",
                            "Blocking task \"Blocker\" [2] is still active.",
                            "Task \"OnTime\" [3] started."));

    // Its end is seen by the next pass, not by the next minute's test.
    ::kill(static_cast<pid_t>(blocker), SIGTERM);
    const auto finished = service.WaitForLogLine("Blocking task \"Blocker\" [2] finished.");
    ASSERT_TRUE(finished);
    EXPECT_THAT(LogStamp(*finished), MatchesRegex("08-Dec-2026 - 10:16:.."));
    EXPECT_TRUE(service.WaitForMessage("TF 2 " + std::to_string(blocker)));
    EXPECT_EQ(WithCode(service.MessageTexts(), "TS").size(), 1u);

    service.Signal(SIGTERM);
    ExpectStoppedCleanly(service);
    const std::vector<std::string> status = StatusMessages(service.MessageTexts());
    ASSERT_GE(status.size(), 3u) << "a pass every 500 ms";
    EXPECT_EQ(status.front(), "SS");
    EXPECT_EQ(std::count(status.begin() + 1, status.end(), "SR"), std::ssize(status) - 1);
}

TEST(ServiceRun, AnswersTheManagersMessages) {
    TServiceHarness service(TestName());
    const TScheDef never = DailyAt(3, 0); // not within the few seconds this takes
    service.WriteTasks({
        MakeTask(1, "Sleeper", "/bin/sleep", "120", never, true),
        MakeTask(2, "Marker", service.MarkerScript("marker"), "", never),
        MakeTask(3, "Spare", service.MarkerScript("spare"), "", never, true),
    });
    service.Start({.FakeStart = At(10, 15, 10)});
    ASSERT_TRUE(service.WaitForMessage("SS"));

    // A client connecting while nothing blocking runs.
    ASSERT_TRUE(service.Send("CR"));
    ASSERT_TRUE(service.WaitForLogLine("Client has connected."));
    ASSERT_TRUE(AllLinesAnnounced(service));
    EXPECT_THAT(WithCode(service.MessageTexts(), "TS"), IsEmpty());

    // Runs on request; an unknown id reaches the launcher as the empty task.
    ASSERT_TRUE(service.Send("TR 2"));
    ASSERT_TRUE(service.Send("TR 42"));
    EXPECT_TRUE(service.WaitForLogLine("Task \"Marker\" [2] started."));
    EXPECT_TRUE(service.WaitForLogLine("Invalid command in task \"\" [0]."));
    EXPECT_TRUE(service.WaitUntil([&] { return service.Runs("marker") == 1; }));
    ASSERT_TRUE(service.Send("TR 1"));
    const auto started = service.WaitForMessage(
        [](const std::string& message) { return message.starts_with("TS 1 "); });
    ASSERT_TRUE(started);
    const std::string sleeper = std::to_string(ProcessIdOf(service.MessageTexts()[*started]));

    // A changed task keeps its run followed; an unknown new one gets no entry.
    service.WriteTasks({
        MakeTask(1, "Sleeper renamed", "/bin/sleep", "120", never, true),
        MakeTask(2, "Marker", service.MarkerScript("marker"), "", never),
        MakeTask(3, "Spare", service.MarkerScript("spare"), "", never, true),
    });
    ASSERT_TRUE(service.Send("TM 1"));
    ASSERT_TRUE(service.Send("TN 99"));
    // The manager hands over runs; only tasks with an entry take them.
    ASSERT_TRUE(service.Send("TS 99 " + sleeper));
    ASSERT_TRUE(service.Send("TS 3 " + sleeper));
    const std::size_t beforeConnect = service.Messages().size();
    ASSERT_TRUE(service.Send("CR"));
    ASSERT_TRUE(service.WaitUntil([&] {
        const auto messages = service.LogMessages();
        return std::count(messages.begin(), messages.end(), "Client has connected.") == 2;
    }));
    ASSERT_TRUE(AllLinesAnnounced(service));
    EXPECT_THAT(WithCode(service.MessageTexts(beforeConnect), "TS"),
                ElementsAre("TS 1 " + sleeper, "TS 3 " + sleeper));
    const auto reloads = service.LogMessages();
    EXPECT_EQ(std::count(reloads.begin(), reloads.end(), "Task list (re)loaded"), 3);

    // The entry kept the name it was made with.
    ::kill(std::stoi(sleeper), SIGTERM);
    EXPECT_TRUE(service.WaitForLogLine("Blocking task \"Sleeper\" [1] finished."));
    EXPECT_TRUE(service.WaitForLogLine("Blocking task \"Spare\" [3] finished."));
    EXPECT_TRUE(service.WaitForMessage("TF 1 " + sleeper));
    EXPECT_TRUE(service.WaitForMessage("TF 3 " + sleeper));

    // Deleting an unknown id saves the file as it was.
    const std::string taskFile = service.ReadFile("tarvok.tsk");
    ASSERT_TRUE(service.Send("TD 77"));
    ASSERT_TRUE(service.WaitForMessage("TX 0"));
    EXPECT_EQ(service.ReadFile("tarvok.tsk"), taskFile);
    ASSERT_TRUE(service.Send("TD 2"));
    ASSERT_TRUE(service.WaitForMessage("TX 2"));
    TTaskList left;
    left.LoadFromFile(service.Path("tarvok.tsk"));
    ASSERT_EQ(left.Count(), 2u);
    EXPECT_EQ(left.GetTask(0).Id, 1);
    EXPECT_EQ(left.GetTask(1).Id, 3);

    ASSERT_TRUE(service.Send("LT"));
    const auto truncated = service.WaitForLogLine("System log truncated.");
    ASSERT_TRUE(truncated);
    EXPECT_THAT(service.LogLines(), ElementsAre(*truncated));

    service.Signal(SIGTERM);
    ExpectStoppedCleanly(service);
}

// Without its slot the service would run deaf to the manager: it says why and ends as failed,
// for systemd to start it again.
TEST(ServiceRun, ASlotItCannotMakeEndsItAsFailed) {
    TServiceHarness service(TestName());
    const TMailSlot holder(ServiceSlotName); // another program holds the name
    ASSERT_FALSE(holder.CreationFailed()) << holder.Failure();
    service.Start();
    EXPECT_EQ(service.WaitForExit(), 1);
    EXPECT_THAT(service.NotifyMessages(), testing::Not(testing::Contains(HasSubstr("READY=1"))));
    EXPECT_THAT(service.LogMessages(),
                ElementsAre("Tarvok Service starting!",
                            "The service's slot could not be made (" + SlotPath(ServiceSlotName) +
                                ": Address already in use); the service ends."));
    EXPECT_EQ(service.ReadFile("stdout") + service.ReadFile("stderr"), "");
}

// A log it cannot write is no reason to stop scheduling, but no reason for silence either: the
// journal (the service's standard error under systemd) hears of it, once.
TEST(ServiceRun, ALogItCannotWriteIsToldToTheJournalOnce) {
    TServiceHarness service(TestName());
    std::filesystem::create_directory(service.Path("tarvok.log"));
    service.Start();
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));
    ASSERT_TRUE(service.Send("CR"));
    ASSERT_TRUE(service.Send("CD"));
    // "starting", "running", "connected", "disconnected"
    EXPECT_TRUE(
        service.WaitUntil([&] { return WithCode(service.MessageTexts(), "LC").size() >= 4; }));
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(), 0);
    EXPECT_EQ(service.ReadFile("stderr"), "The system log cannot be written: " +
                                              service.Path("tarvok.log") + ": Is a directory\n");
}

TEST(ServiceRun, PauseHoldsTheSchedulerAcrossAMinuteAndAStopThereEndsIt) {
    TServiceHarness service(TestName());
    service.WriteTasks(
        {MakeTask(1, "OnTime", service.MarkerScript("ontime"), "", DailyAt(10, 16))});
    service.Start({.FakeStart = At(10, 15, 57)});
    ASSERT_TRUE(service.WaitForMessage("SS"));
    ASSERT_TRUE(service.WaitForLogLine("Tarvok Service running!"));

    service.Signal(SIGUSR1);
    ASSERT_TRUE(service.WaitForNotify("STATUS=Paused"));
    const auto paused = service.WaitForMessage("SP");
    ASSERT_TRUE(paused);
    // Held: a message waits in the slot, and the minute goes by untested.
    ASSERT_TRUE(service.Send("CR"));
    ASSERT_TRUE(service.WaitUntil([&] { return service.ProgramNow() >= At(10, 16, 2); }, 15s));
    EXPECT_THAT(service.LogMessages(), testing::Not(testing::Contains("Client has connected.")));
    const std::vector<std::string> whilePaused = service.MessageTexts(*paused);
    EXPECT_GE(std::count(whilePaused.begin(), whilePaused.end(), "SP"), 4) << "one every pass";
    EXPECT_THAT(StatusMessages(whilePaused), testing::Each("SP"));

    // Continued right after a pass: the next pass releases the scheduler and still says "SP".
    const auto lastPaused = service.WaitForMessage("SP", service.Messages().size());
    ASSERT_TRUE(lastPaused);
    service.Signal(SIGUSR2);
    const auto running = service.WaitForMessage("SR", *lastPaused + 1);
    ASSERT_TRUE(running);
    const std::vector<std::string> resuming = service.MessageTexts(*lastPaused + 1);
    EXPECT_THAT(StatusMessages({resuming.begin(), resuming.begin() + (*running - *lastPaused)}),
                ElementsAre("SP", "SR"));
    const auto connected = service.WaitForLogLine("Client has connected.");
    ASSERT_TRUE(connected);
    EXPECT_GE(LogStamp(*connected), "08-Dec-2026 - 10:16:02");
    EXPECT_EQ(service.Runs("ontime"), 0);
    EXPECT_THAT(service.LogMessages(),
                testing::Not(testing::Contains("Task \"OnTime\" [1] started.")));

    // Stopped while held: no further pass reads the waiting message.
    const std::size_t beforePause = service.Messages().size();
    service.Signal(SIGUSR1);
    const auto pausedAgain = service.WaitForMessage("SP", beforePause);
    ASSERT_TRUE(pausedAgain);
    auto nthPause = [&](int n) {
        return service.WaitUntil([&] {
            const auto messages = service.MessageTexts(*pausedAgain);
            return std::count(messages.begin(), messages.end(), "SP") >= n;
        });
    };
    ASSERT_TRUE(nthPause(2));
    ASSERT_TRUE(service.Send("CD"));
    ASSERT_TRUE(nthPause(4));
    service.Signal(SIGTERM);
    EXPECT_TRUE(service.WaitForNotify("STOPPING=1\nEXTEND_TIMEOUT_USEC=1500000\nSTATUS=Stopping"));
    ExpectStoppedCleanly(service);
    EXPECT_THAT(service.LogMessages(), testing::Not(testing::Contains("Client has disconnected.")));
    EXPECT_THAT(StatusMessages(service.MessageTexts(*pausedAgain)), testing::Each("SP"));
    EXPECT_EQ(WithCode(service.MessageTexts(), "SS").size(), 1u);
}

TEST(ServiceInstall, WithoutSystemdTheServiceControlManagerCannotBeOpened) {
    // A private /run hides a running systemd from the program, so it never reaches /etc.
    if (!PrivateRunAvailable() && platform::TServiceManager::SystemSettings().Runs()) {
        GTEST_SKIP() << "this machine runs systemd: installing would change it";
    }
    struct TRow {
        const char* Argument;
        std::string Failure;
    };
    const TRow rows[] = {
        {"INSTALL", "Failed to open Service Control Manager. Error was 'No such process'"},
        {"u", "Failed to open Service control Manager. Error was 'No such process'"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Argument);
        TServiceHarness service(TestName() + row.Argument);
        service.Start({.Arguments = {row.Argument}});
        EXPECT_EQ(service.WaitForExit(), 1) << "a failure ends with a failing status";
        std::string expected;
        if (std::string_view(row.Argument) == "INSTALL") {
            expected = "Installing service...\nPath to service module is " +
                       std::filesystem::canonical(service.Path("TarvokSvc")).string() + "\n";
        }
        EXPECT_EQ(service.ReadFile("stdout"),
                  expected + row.Failure +
                      "\nsystemd is not running on this machine: run the service in the "
                      "foreground with \"TarvokSvc run\" instead.\n");
        EXPECT_EQ(service.ReadFile("stderr"), "");
    }
}

} // namespace
} // namespace tarvok::e2e
