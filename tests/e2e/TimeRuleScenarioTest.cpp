// The real TarvokSvc when its wall clock changes: at the daylight-saving changes of three time
// zones, each met a few seconds before it comes, and when the clock is set forward and back while
// the service runs. One task is due every minute; the log says at which local minutes it started.
#include "tests/e2e/ServiceHarness.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok::e2e {
namespace {

using testing::ElementsAreArray;

constexpr const char* StartedLine = "Task \"Minutely\" [1] started.";

TDateTime Utc(int year, int month, int day, int hour, int minute, int second) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second);
}

// The stamps of the task's starts so far, local time as the service logs it.
std::vector<std::string> StartStamps(const TServiceHarness& service) {
    std::vector<std::string> stamps;
    for (const std::string& line : service.LogLines()) {
        if (LogMessage(line) == StartedLine) {
            stamps.push_back(LogStamp(line));
        }
    }
    return stamps;
}

class TMinutely {
public:
    // The name is kept short: the marker script's path must fit a task's command.
    TMinutely(const std::string& name, const std::string& timeZone, TDateTime startUtc,
              bool movable = false)
        : service_(name) {
        service_.WriteTasks(
            {MakeTask(1, "Minutely", service_.MarkerScript("minutely"), "", EveryMinute())});
        service_.Start({.FakeStart = startUtc, .TimeZone = timeZone, .MovableClock = movable});
    }

    TServiceHarness& Service() { return service_; }
    // The service's log, for failure messages.
    std::string Log() const {
        std::string log;
        for (const std::string& line : service_.LogLines()) {
            log += "\n  " + line;
        }
        return log;
    }

    // Waits until the task has started `count` times in all.
    bool WaitForStarts(std::size_t count) {
        return service_.WaitUntil([&] {
            return StartStamps(service_).size() >= count &&
                   service_.Runs("minutely") >= static_cast<int>(count);
        });
    }
    // Waits until the service's clock has shown the moment (UTC) for a while: the passes of its
    // first second are over.
    bool WaitPast(TDateTime momentUtc) {
        return service_.WaitUntil(
            [&] { return service_.ProgramNow() >= momentUtc + EncodeTime(0, 0, 1, 500); });
    }

private:
    TServiceHarness service_;
};

template <class TRow>
std::string RowName(const testing::TestParamInfo<TRow>& row) {
    return row.param.Name;
}

// Without tzdata the service would quietly run in UTC.
bool ZoneInstalled(const std::string& zone) {
    return std::filesystem::exists("/usr/share/zoneinfo/" + zone);
}

// Spring: the clock moves on from the last second before the change to the first after the gap.
struct TSpring {
    const char* Name;
    const char* Zone;
    TDateTime ChangeUtc;
    const char* FirstAfterGap; // the first local minute after the gap, as stamped
};

void PrintTo(const TSpring& row, std::ostream* out) {
    *out << row.Zone;
}

class SpringForward : public testing::TestWithParam<TSpring> {};

TEST_P(SpringForward, FirstMinuteAfterTheGapStartsAndNoneInItDoes) {
    const TSpring& row = GetParam();
    ASSERT_TRUE(ZoneInstalled(row.Zone)) << row.Zone << ": tzdata is missing";
    TMinutely minutely(std::string("spring-") + row.Name, row.Zone,
                       row.ChangeUtc - EncodeTime(0, 0, 3));
    ASSERT_TRUE(minutely.WaitForStarts(1)) << minutely.Log();
    ASSERT_TRUE(minutely.WaitPast(row.ChangeUtc));
    EXPECT_THAT(StartStamps(minutely.Service()), ElementsAreArray({row.FirstAfterGap}));
    EXPECT_EQ(minutely.Service().Runs("minutely"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, SpringForward,
    testing::Values(
        TSpring{"Berlin", "Europe/Berlin", Utc(2026, 3, 29, 1, 0, 0), "29-Mar-2026 - 03:00:00"},
        TSpring{"NewYork", "America/New_York", Utc(2026, 3, 8, 7, 0, 0), "08-Mar-2026 - 03:00:00"},
        TSpring{"LordHowe", "Australia/Lord_Howe", Utc(2026, 10, 3, 15, 30, 0),
                "04-Oct-2026 - 02:30:00"}),
    RowName<TSpring>);

// Autumn: the local minutes before the change come round again. The service first meets the
// repeated span's first minute, then the clock is set to just before the change; after the change
// that minute comes again and must not start the task, nor must one in the middle of the span
// (reached by setting the clock forward), while the first minute after the repeated span starts
// it as usual.
struct TAutumn {
    const char* Name;
    const char* Zone;
    TDateTime ChangeUtc;
    TDateTime RepeatedUtc; // the first time the repeated span's first minute comes
    const char* Repeated;  // that minute, as stamped
    const char* After;     // the first minute after the repeated span, as stamped
};

void PrintTo(const TAutumn& row, std::ostream* out) {
    *out << row.Zone;
}

class AutumnBack : public testing::TestWithParam<TAutumn> {};

TEST_P(AutumnBack, RepeatedMinutesStartOnlyTheFirstTime) {
    const TAutumn& row = GetParam();
    ASSERT_TRUE(ZoneInstalled(row.Zone)) << row.Zone << ": tzdata is missing";
    const TDateTime fewSeconds = EncodeTime(0, 0, 3);
    TMinutely minutely(std::string("autumn-") + row.Name, row.Zone, row.RepeatedUtc - fewSeconds,
                       true);
    TServiceHarness& service = minutely.Service();
    ASSERT_TRUE(minutely.WaitForStarts(1)) << minutely.Log();

    service.SetClock(row.ChangeUtc - fewSeconds);
    ASSERT_TRUE(minutely.WaitPast(row.ChangeUtc));
    EXPECT_EQ(StartStamps(service).size(), 1u) << "the repeated minute started again";
    // Nor does a minute further into the repeated span.
    const TDateTime repeatedSpan = row.ChangeUtc - row.RepeatedUtc;
    service.SetClock(row.ChangeUtc + repeatedSpan / 2 - fewSeconds);
    ASSERT_TRUE(minutely.WaitPast(row.ChangeUtc + repeatedSpan / 2));
    EXPECT_EQ(StartStamps(service).size(), 1u) << "a repeated minute started";

    service.SetClock(row.ChangeUtc + repeatedSpan - fewSeconds);
    ASSERT_TRUE(minutely.WaitForStarts(2));
    EXPECT_THAT(StartStamps(service), ElementsAreArray({row.Repeated, row.After}));
    EXPECT_EQ(service.Runs("minutely"), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, AutumnBack,
    testing::Values(
        TAutumn{"Berlin", "Europe/Berlin", Utc(2026, 10, 25, 1, 0, 0), Utc(2026, 10, 25, 0, 0, 0),
                "25-Oct-2026 - 02:00:00", "25-Oct-2026 - 03:00:00"},
        TAutumn{"NewYork", "America/New_York", Utc(2026, 11, 1, 6, 0, 0), Utc(2026, 11, 1, 5, 0, 0),
                "01-Nov-2026 - 01:00:00", "01-Nov-2026 - 02:00:00"},
        TAutumn{"LordHowe", "Australia/Lord_Howe", Utc(2026, 4, 4, 15, 0, 0),
                Utc(2026, 4, 4, 14, 30, 0), "05-Apr-2026 - 01:30:00", "05-Apr-2026 - 02:00:00"}),
    RowName<TAutumn>);

// Set by hand while the service runs (in UTC): back to before a minute that ran, back an hour,
// back a day, then forward to the minute after the one that ran, forward an hour and forward a
// day. Each time the clock lands two seconds before a whole minute.
TEST(ClockSet, BackSkipsTheMinutesThatRanAndForwardSkipsTheMinutesJumpedOver) {
    const TDateTime twoSeconds = EncodeTime(0, 0, 2);
    TMinutely minutely("clockset", "UTC", Utc(2026, 12, 8, 10, 16, 0) - twoSeconds, true);
    TServiceHarness& service = minutely.Service();
    ASSERT_TRUE(minutely.WaitForStarts(1)) << minutely.Log();

    struct TStep {
        const char* Name;
        TDateTime NextMinute; // the clock is set two seconds before it
        bool Starts;
    };
    const TStep steps[] = {
        {"back to before 10:16, which ran", Utc(2026, 12, 8, 10, 16, 0), false},
        {"back an hour", Utc(2026, 12, 8, 9, 17, 0), false},
        {"back a day", Utc(2026, 12, 7, 9, 18, 0), false},
        {"forward to the minute due next", Utc(2026, 12, 8, 10, 17, 0), true},
        {"forward an hour", Utc(2026, 12, 8, 11, 18, 0), true},
        {"forward a day", Utc(2026, 12, 9, 11, 19, 0), true},
    };
    std::size_t started = 1;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        service.SetClock(step.NextMinute - twoSeconds);
        if (step.Starts) {
            ASSERT_TRUE(minutely.WaitForStarts(++started));
        } else {
            ASSERT_TRUE(minutely.WaitPast(step.NextMinute));
            ASSERT_EQ(StartStamps(service).size(), started);
        }
    }
    EXPECT_THAT(StartStamps(service),
                ElementsAreArray({"08-Dec-2026 - 10:16:00", "08-Dec-2026 - 10:17:00",
                                  "08-Dec-2026 - 11:18:00", "09-Dec-2026 - 11:19:00"}));
    EXPECT_EQ(service.Runs("minutely"), 4);
}

} // namespace
} // namespace tarvok::e2e
