// The real manager (offscreen) and the real service in one program directory, on one fake clock:
// the service starts while the manager runs a blocking task and takes the run over; it stops and
// the manager starts the next minute's task; killed without a word, it is taken over within
// seconds.
#include "tests/Spawn.h"
#include "tests/e2e/ServiceHarness.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace tarvok::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Contains;

TDateTime Utc(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second);
}

// The real tarvok beside the service, on the service's clock, without a display.
class TManager {
public:
    explicit TManager(const TServiceHarness& service) {
        fs::copy_file(TARVOK_BINARY, service.Path("tarvok"), fs::copy_options::overwrite_existing);
        std::vector<std::string> environment = service.FakeClockEnvironment();
        environment.insert(environment.end(),
                           {"TZ=UTC", "QT_QPA_PLATFORM=offscreen", "HOME=/root",
                            "XDG_RUNTIME_DIR=/tmp", "ASAN_OPTIONS=verify_asan_link_order=0"});
        pid_ = testing_support::SpawnProgram({service.Path("tarvok")}, environment,
                                             {.Out = service.Path("manager.out"), .Err = {}});
        if (pid_ == 0) {
            throw std::runtime_error("cannot start tarvok");
        }
    }
    ~TManager() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    TManager(const TManager&) = delete;
    TManager& operator=(const TManager&) = delete;

private:
    pid_t pid_ = 0;
};

// The pids a script has noted, one a line.
std::vector<pid_t> Pids(const TServiceHarness& service, const std::string& name) {
    std::vector<pid_t> pids;
    std::istringstream in(service.ReadFile(name + ".runs"));
    for (pid_t pid = 0; in >> pid;) {
        pids.push_back(pid);
    }
    return pids;
}

class SchedulingScenario : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 && !PrivateRunAvailable()) {
            GTEST_SKIP() << "the service needs a private /run or root here";
        }
    }

    // A blocking task due every minute that notes its pid and runs until it is killed.
    static TTaskDef Hold(const TServiceHarness& service) {
        const std::string script = service.WriteScript(
            "hold.sh", "echo $$ >> '" + service.Path("hold.runs") + "'\nexec sleep 600");
        return MakeTask(1, "Hold", script, "", EveryMinute(), true);
    }
};

TEST_F(SchedulingScenario, TheServiceTakesTheManagersRunOverAndLeavesTheNextMinuteToIt) {
    TServiceHarness service("HandOver", {}, /*ownClientSlot=*/false);
    service.WriteTasks({Hold(service)});
    service.SetClock(Utc(10, 15, 58));
    TManager manager(service);
    ASSERT_TRUE(service.WaitForLogLine("Blocking task \"Hold\" [1] started.")) << "the manager";
    ASSERT_TRUE(service.WaitUntil([&] { return Pids(service, "hold").size() == 1; }));

    // The service starts: the manager hands the run over and stops scheduling.
    service.Start({.FakeStart = service.ProgramNow(), .MovableClock = true});
    ASSERT_TRUE(service.WaitForLogLine("Tarvok Service running!"));
    service.SetClock(Utc(10, 16, 58));
    ASSERT_TRUE(service.WaitForLogLine("Blocking task \"Hold\" [1] is still active."))
        << "the service did not learn of the manager's run";
    EXPECT_EQ(Pids(service, "hold").size(), 1u) << "started a second time";
    ::kill(Pids(service, "hold").front(), SIGKILL);
    ASSERT_TRUE(service.WaitForLogLine("Blocking task \"Hold\" [1] finished."));

    // The service stops: the manager starts the next minute's run itself.
    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit());
    service.SetClock(Utc(10, 17, 58));
    ASSERT_TRUE(service.WaitUntil([&] { return Pids(service, "hold").size() == 2; }));
    const std::vector<std::string> messages = service.LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Blocking task \"Hold\" [1] started."),
              2)
        << "the manager's start after the service stopped is not in the log";
    EXPECT_EQ(messages.front(), "System started.");
    ::kill(Pids(service, "hold").back(), SIGKILL);
}

TEST_F(SchedulingScenario, AServiceKilledWithoutAWordIsTakenOverWithinSeconds) {
    TServiceHarness service("Killed", {}, /*ownClientSlot=*/false);
    service.WriteTasks(
        {MakeTask(2, "Minutely", service.MarkerScript("minutely"), "", EveryMinute())});
    service.Start({.FakeStart = Utc(10, 15, 40), .MovableClock = true});
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));
    TManager manager(service);
    ASSERT_TRUE(service.WaitForLogLine("Client has connected."));

    service.Signal(SIGKILL);
    const auto killed = TSteadyClock::now();
    ASSERT_TRUE(service.WaitForExit());
    // Three seconds of silence, then the next tick; one more for a loaded machine.
    ASSERT_TRUE(service.WaitForLogLine(
        "The scheduler service ended without notice; the manager schedules by itself.", 5s));
    const auto tookOver =
        std::chrono::duration_cast<std::chrono::milliseconds>(TSteadyClock::now() - killed);
    RecordProperty("takeover_ms", static_cast<int>(tookOver.count()));

    service.SetClock(Utc(10, 17, 58));
    ASSERT_TRUE(service.WaitUntil([&] { return service.Runs("minutely") == 1; }));
    EXPECT_THAT(service.LogMessages(), Contains("Task \"Minutely\" [2] started."));
}

} // namespace
} // namespace tarvok::e2e
