// Which minutes the schedulers test when their wall clock jumps, forward or back, by hand or at a
// daylight-saving change: the service's scheduler thread and the manager scheduling by itself
// follow one rule and must start the same minutes. The thread runs a pass every half second of
// steady time, or rests between the passes it needs as the service lets it; the manager ticks on
// the wall clock's whole seconds. The clock they read is moved once.
#include "manager/Scheduler.h"
#include "service/SvcThd.h"
#include "tests/TempDir.h"
#include "tests/manager/FakeManagerChannel.h"
#include "tests/manager/FakeSchedulerWindow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

constexpr std::int64_t Second = 1000;
constexpr std::int64_t Minute = 60 * Second;
constexpr std::int64_t Hour = 60 * Minute;
constexpr std::int64_t Day = 24 * Hour;
constexpr std::int64_t PassInterval = 500;

constexpr std::int64_t Ms(int hour, int minute, int second = 0, int ms = 0) {
    return hour * Hour + minute * Minute + second * Second + ms;
}

// The clock reading `ms` after midnight of `day` (a whole day), built as the system clock builds
// its readings so that whole minutes compare equal to the thread's NextDue.
TDateTime Reading(TDateTime day, std::int64_t ms) {
    const std::int64_t days = ms >= 0 ? ms / Day : -((-ms + Day - 1) / Day);
    const std::int64_t inDay = ms - days * Day;
    return day + static_cast<double>(days) +
           EncodeTime(static_cast<int>(inDay / Hour), static_cast<int>(inDay % Hour / Minute),
                      static_cast<int>(inDay % Minute / Second), static_cast<int>(inDay % Second));
}

// "08 10:16:00": the day of the month and the time.
std::string Text(TDateTime moment) {
    const std::string text = DateTimeText(TDateOrder::DayMonthYear, '-', ':', moment, " ",
                                          true); // "08-12-2026 10:16:00"
    return text.substr(0, 2) + text.substr(10);
}

// Starts nothing for real: notes the clock's reading at each start.
class TStartRecorder final : public TProcessControl {
public:
    explicit TStartRecorder(const TClock& clock) : clock_(clock) {}
    std::string Starts; // "08 10:16:00, 08 10:17:00"

    std::uint32_t Launch(const TTaskDef&) override {
        Starts += (Starts.empty() ? "" : ", ") + Text(clock_.Now());
        return nextId_++;
    }
    std::uint32_t ExitCode(std::uint32_t) override { return 0; }
    std::optional<platform::TProcessEnd> TakeEnd(std::uint32_t) override { return std::nullopt; }
    bool Follow(std::uint32_t, std::uint32_t) override { return false; }
    bool FileExists(const std::string&) override { return true; }
    bool DirectoryExists(const std::string&) override { return true; }

private:
    const TClock& clock_;
    std::uint32_t nextId_ = 1000;
};

class TSilentChannel final : public TSchedulerChannel {
public:
    TSlotMessage ReadMessage() override { return {}; }
    void SendToClient(const std::string&) override {}
    void SetArrivalHook(std::function<void()>) override {}
};

TTaskDef EveryMinute() {
    TTaskDef task = TTaskDef::New();
    task.Id = 1;
    task.Name = "Minutely";
    task.Command = "/bin/job";
    task.Enabled = true;
    task.Schedule.DailyEvery = 1;
    task.Schedule.Trigger = TTrigger::Periodic;
    task.Schedule.EveryCount = 1;
    task.Schedule.EveryUnit = TEveryUnit::Minutes;
    task.Schedule.BetweenStart = EncodeTime(0, 0);
    task.Schedule.BetweenEnd = EncodeTime(23, 59, 59);
    task.Schedule.NoEnd = true;
    task.Schedule.StartDate = EncodeDate(2026, 1, 1);
    return task;
}

// The service starts at Start; from then on a pass comes every half second. The pass whose
// reading would be at or after JumpAt, and every pass after it, reads the clock moved by JumpBy.
// Passes go on until the moved clock passes Until. All times are milliseconds from midnight of
// Day.
struct TJump {
    const char* Name;
    TDateTime Day;
    std::int64_t Start;
    std::int64_t JumpAt;
    std::int64_t JumpBy;
    std::int64_t Until;
    std::string Started; // the readings at which the task started, day of month and time
};

// Passes every half second of steady time; or only those the thread asks for (QuietSpan), plus
// the pass at once that the service's status loop brings about when it notices the clock was set,
// NoticedAfter ms after the set.
struct TPacing {
    bool Resting = false;
    std::int64_t NoticedAfter = 0;
};

class TimeRuleTest : public testing_support::TempDirTest {
protected:
    // When a service started at the row's Start starts the task through the row's passes.
    std::string RunService(const TJump& row, TPacing pacing = {}) {
        const TProgramPaths paths = ProgramPathsFor(Path("TarvokSvc"));
        TTaskList tasks;
        TTaskDef task = EveryMinute();
        tasks.AddTask(task, false);
        tasks.SaveToFile(paths.TaskPath);

        TFixedClock clock(Reading(row.Day, row.Start));
        TStartRecorder processes(clock);
        TTarvokThread thread(
            TTarvokThread::TSetup{paths, clock, processes, std::make_unique<TSilentChannel>()});
        const std::int64_t noticed = row.JumpAt + pacing.NoticedAfter;
        bool nudged = false;
        // Steady times only grow, and so do the readings before and after the jump: the loop
        // ends once they pass Until.
        for (std::int64_t steady = row.Start + PassInterval;;) {
            const std::int64_t reading = steady >= row.JumpAt ? steady + row.JumpBy : steady;
            if (reading > row.Until) {
                break;
            }
            clock.Set(Reading(row.Day, reading));
            thread.Poll();
            nudged = nudged || steady >= noticed;
            // The next pass on the grid, as the service's wall clock shows it.
            std::int64_t next = steady + PassInterval - Remainder(reading, PassInterval);
            if (pacing.Resting) {
                const std::int64_t quiet =
                    std::chrono::ceil<std::chrono::milliseconds>(thread.QuietSpan()).count();
                next = std::max(next, steady + quiet);
                if (!nudged && noticed < next) {
                    next = noticed;
                }
            }
            steady = next;
        }
        return processes.Starts;
    }

    // When a manager started at the row's Start, scheduling by itself, starts the task. Its
    // timer is set for the next whole second of each tick's reading and fires `lateMs` after it;
    // not retimed, it repeats every second from its last firing instead.
    std::string RunManager(const TJump& row, std::int64_t lateMs, bool retimed = true) {
        TTaskList tasks;
        TTaskDef task = EveryMinute();
        tasks.AddTask(task, false);
        TProcessTable table;
        table.Rebuild(tasks);
        TFixedClock clock(Reading(row.Day, row.Start));
        TStartRecorder processes(clock);
        TSysLogger log(Path("tarvok.log"), clock);
        testing_support::TFakeSchedulerWindow window;
        testing_support::TFakeManagerChannel channel;
        bool serviceMode = false;
        TScheduler manager(
            TScheduler::TSetup{clock, processes, tasks, table, log, window, channel, serviceMode});
        const auto nextTickIn = [&] {
            return (retimed ? MsToNextGridPoint(clock.Now(), Second) : Second) + lateMs;
        };
        for (std::int64_t steady = row.Start + nextTickIn();;) {
            const std::int64_t reading = steady >= row.JumpAt ? steady + row.JumpBy : steady;
            if (reading > row.Until) {
                break;
            }
            clock.Set(Reading(row.Day, reading));
            manager.OnTimer();
            steady += nextTickIn();
        }
        return processes.Starts;
    }

    static std::int64_t Remainder(std::int64_t value, std::int64_t divisor) {
        return (value % divisor + divisor) % divisor;
    }

    // Every pacing of either scheduler must start the same minutes as the service passing every
    // half second.
    void ExpectStarts(const TJump& row) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(RunService(row), row.Started) << "every half second";
        for (const std::int64_t noticedAfter : {0, 1, 250, 499}) {
            EXPECT_EQ(RunService(row, {true, noticedAfter}), row.Started)
                << "resting, the set noticed after " << noticedAfter << " ms";
        }
        for (const std::int64_t late : {0, 1, 250, 499}) {
            EXPECT_EQ(RunManager(row, late), row.Started)
                << "the manager, its timer " << late << " ms late";
        }
    }
};

TEST_F(TimeRuleTest, JumpsForwardSkipEveryMinuteStartThatIsJumpedOver) {
    const TDateTime dec8 = EncodeDate(2026, 12, 8);
    const TJump rows[] = {
        // lands at 10:18:30: 10:18 began during the jump
        {"a minute", dec8, Ms(10, 15, 40), Ms(10, 17, 30), Minute, Ms(10, 20, 0, 500),
         "08 10:16:00, 08 10:17:00, 08 10:19:00, 08 10:20:00"},
        {"an hour", dec8, Ms(10, 15, 40), Ms(10, 17, 30), Hour, Ms(11, 20, 0, 500),
         "08 10:16:00, 08 10:17:00, 08 11:18:00, 08 11:19:00, 08 11:20:00"},
        {"a day", dec8, Ms(10, 15, 40), Ms(10, 17, 30), Day, Ms(24 + 10, 20, 0, 500),
         "08 10:16:00, 08 10:17:00, 09 10:18:00, 09 10:19:00, 09 10:20:00"},
        // lands at 10:19:00.250, in the minute's first second
        {"into a minute's first second", dec8, Ms(10, 15, 40), Ms(10, 17, 30),
         Minute + 30 * Second + 250, Ms(10, 20, 0, 500),
         "08 10:16:00, 08 10:17:00, 08 10:19:00, 08 10:20:00"},
        {"spring, an hour at 02:00 (Europe/Berlin, America/New_York)", EncodeDate(2026, 3, 29),
         Ms(1, 57, 40), Ms(2, 0), Hour, Ms(3, 2, 0, 500),
         "29 01:58:00, 29 01:59:00, 29 03:00:00, 29 03:01:00, 29 03:02:00"},
        {"spring, half an hour at 02:00 (Australia/Lord_Howe)", EncodeDate(2026, 10, 4),
         Ms(1, 57, 40), Ms(2, 0), 30 * Minute, Ms(2, 32, 0, 500),
         "04 01:58:00, 04 01:59:00, 04 02:30:00, 04 02:31:00, 04 02:32:00"},
    };
    for (const TJump& row : rows) {
        ExpectStarts(row);
    }
}

TEST_F(TimeRuleTest, JumpsBackRunEveryMinuteOnceAndNoneAgain) {
    const TDateTime dec8 = EncodeDate(2026, 12, 8);
    const char* eachOnce = "08 10:16:00, 08 10:17:00, 08 10:18:00, 08 10:19:00";
    const TJump rows[] = {
        // lands at 10:16:30: 10:17 comes round again and is skipped
        {"a minute", dec8, Ms(10, 15, 40), Ms(10, 17, 30), -Minute, Ms(10, 19, 0, 500), eachOnce},
        // 09:18 to 10:17 come round again and are skipped
        {"an hour", dec8, Ms(10, 15, 40), Ms(10, 17, 30), -Hour, Ms(10, 19, 0, 500), eachOnce},
        {"a day", dec8, Ms(10, 15, 40), Ms(10, 17, 30), -Day, Ms(10, 19, 0, 500), eachOnce},
        // the pass due at 10:17:00.000 reads 10:16:00.000, a minute that ran already; 10:17 is
        // not lost
        {"a minute, just before a minute began", dec8, Ms(10, 15, 40), Ms(10, 16, 59, 750), -Minute,
         Ms(10, 19, 0, 500), eachOnce},
        // a small step back right after a minute's test: its first second comes again
        {"half a second, right after a minute began", dec8, Ms(10, 15, 40), Ms(10, 17, 0, 250),
         -PassInterval, Ms(10, 19, 0, 500), eachOnce},
        // the second 02:00 to 02:59 are skipped, 03:00 runs once
        {"autumn, an hour at 03:00 (Europe/Berlin)", EncodeDate(2026, 10, 25), Ms(2, 57, 40),
         Ms(3, 0), -Hour, Ms(3, 1, 0, 500), "25 02:58:00, 25 02:59:00, 25 03:00:00, 25 03:01:00"},
        {"autumn, an hour at 02:00 (America/New_York)", EncodeDate(2026, 11, 1), Ms(1, 57, 40),
         Ms(2, 0), -Hour, Ms(2, 1, 0, 500), "01 01:58:00, 01 01:59:00, 01 02:00:00, 01 02:01:00"},
        {"autumn, half an hour at 02:00 (Australia/Lord_Howe)", EncodeDate(2026, 4, 5),
         Ms(1, 57, 40), Ms(2, 0), -30 * Minute, Ms(2, 1, 0, 500),
         "05 01:58:00, 05 01:59:00, 05 02:00:00, 05 02:01:00"},
    };
    for (const TJump& row : rows) {
        ExpectStarts(row);
    }
}

// A timer that repeats every second drifts against the wall clock: firing a millisecond late
// each time, its tick at 10:16:59.999 is followed by one at 10:17:01.000, and 10:17 is lost.
// The manager sets each tick anew from the clock's reading.
TEST_F(TimeRuleTest, TheManagersTickLosesNoMinuteToATimerThatDrifts) {
    const TJump row{
        "no jump", EncodeDate(2026, 12, 8), Ms(10, 16, 58, 998), 2 * Day, 0, Ms(10, 20, 0, 500),
        ""};
    EXPECT_EQ(RunManager(row, 1), "08 10:17:00, 08 10:18:00, 08 10:19:00, 08 10:20:00");
    EXPECT_EQ(RunManager(row, 1, false), "08 10:18:00, 08 10:19:00, 08 10:20:00")
        << "the timer of this test does not drift as a repeating one does";
}

} // namespace
} // namespace tarvok
