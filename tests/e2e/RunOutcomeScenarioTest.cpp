// What the real TarvokSvc leaves of runs that end badly: history lines, log lines, "TE" to the
// manager's slot, and the runs' output in a journal the test plays.
#include "shared/Protocol.h"
#include "shared/RunLedger.h"
#include "tests/e2e/ServiceHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvok::e2e {
namespace {

using testing::UnorderedElementsAre;

// Listens where the journal takes output streams and keeps what each stream brought, by the
// identifier on its first line.
class TJournalStreams {
public:
    explicit TJournalStreams(const std::string& dir) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = dir + "/stdout";
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0) {
            throw std::runtime_error("cannot listen at " + path);
        }
    }
    ~TJournalStreams() { ::close(listener_); }

    // Accepts and reads every stream until each has ended, for as long as the patience lasts.
    std::map<std::string, std::string> Collect(std::size_t streams) {
        std::map<std::string, std::string> byTag;
        const auto deadline = TSteadyClock::now() + DefaultPatience;
        for (std::size_t i = 0; i < streams && TSteadyClock::now() < deadline; ++i) {
            pollfd ready{listener_, POLLIN, 0};
            if (::poll(&ready, 1, 10'000) != 1) {
                break;
            }
            const int stream = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            std::string text;
            char buffer[4096];
            for (ssize_t got; (got = ::read(stream, buffer, sizeof buffer)) > 0;) {
                text.append(buffer, static_cast<std::size_t>(got));
            }
            ::close(stream);
            byTag[text.substr(0, text.find('\n'))] = text;
        }
        return byTag;
    }

private:
    int listener_ = -1;
};

std::vector<std::string> Failures(const std::vector<std::string>& messages) {
    std::vector<std::string> found;
    for (const std::string& message : messages) {
        if (message.starts_with("TE ")) {
            found.push_back(message);
        }
    }
    return found;
}

TEST(RunOutcomeScenario, AnExitCodeAndASignalLeaveHistoryLogMessagesAndOutput) {
    if (!PrivateRunAvailable()) {
        GTEST_SKIP() << "no private /run here for a journal of the test's own";
    }
    TServiceHarness service("RunOutcome");
    const std::string journal = service.Path("journal");
    std::filesystem::create_directory(journal);
    TJournalStreams streams(journal);
    service.WriteTasks(
        {MakeTask(1, "Three", service.WriteScript("three.sh", "echo out; echo err >&2; exit 3"), "",
                  DailyAt(10, 16)),
         MakeTask(2, "Killed", service.WriteScript("killed.sh", "echo bye; kill -KILL $$"), "",
                  DailyAt(10, 16))});
    service.Start(
        {.FakeStart = EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 58), .JournalDir = journal});

    const auto first =
        service.WaitForMessage([](const std::string& m) { return m.starts_with("TE"); });
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(service.WaitUntil([&] { return Failures(service.MessageTexts()).size() == 2; }));
    EXPECT_THAT(Failures(service.MessageTexts()), UnorderedElementsAre("TE 1 3", "TE 2 -9"));

    const auto output = streams.Collect(2);
    EXPECT_EQ(output.at("tarvok-task-1"), "tarvok-task-1\n\n6\n1\n0\n0\n0\nout\nerr\n");
    EXPECT_EQ(output.at("tarvok-task-2"), "tarvok-task-2\n\n6\n1\n0\n0\n0\nbye\n");

    // Past the two moments: "1\t4711\texit 3\tminute\tThree".
    constexpr std::size_t MomentsWidth = 48;
    std::vector<std::string> history;
    for (const TRunRecord& run : ReadRunHistory(service.Path("tarvok.runs"))) {
        EXPECT_GE(run.Ended, run.Started);
        history.push_back(FormatRunLine(run).substr(MomentsWidth));
    }
    EXPECT_THAT(history, UnorderedElementsAre(
                             testing::MatchesRegex("1\t[1-9][0-9]*\texit 3\tminute\tThree"),
                             testing::MatchesRegex("2\t[1-9][0-9]*\tsignal 9\tminute\tKilled")));

    std::vector<std::string> failed;
    for (const std::string& message : service.LogMessages()) {
        if (message.find("failed:") != std::string::npos) {
            failed.push_back(message);
        }
    }
    EXPECT_THAT(failed,
                UnorderedElementsAre(
                    testing::MatchesRegex("Task \"Three\" \\[1\\] failed: exit code 3 after "
                                          "[0-9]+\\.[0-9] s\\."),
                    testing::MatchesRegex("Task \"Killed\" \\[2\\] failed: signal SIGKILL "
                                          "after [0-9]+\\.[0-9] s\\.")));

    // A peer that knows no "TE" ignores it: the service, sent one, goes on as before.
    const std::size_t before = service.MessageTexts().size();
    ASSERT_TRUE(service.Send("TE 1 3"));
    ASSERT_TRUE(service.Send("CR"));
    EXPECT_TRUE(service.WaitForLogLine("Client has connected."));
    EXPECT_TRUE(Failures(service.MessageTexts(before)).empty());
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(), 0);
}

} // namespace
} // namespace tarvok::e2e
