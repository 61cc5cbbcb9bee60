#include "shared/NextRuns.h"
#include "shared/ScheDef.h"
#include "tests/shared/RandomSchedules.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace tarvok {
namespace {

// One schedule of each form, so the figure is an average over the branches the service takes.
std::vector<TScheDef> ScheduleMix() {
    TScheDef base;
    base.DailyEvery = 1;
    base.OnceAt = EncodeTime(8, 30);
    base.NoEnd = true;
    base.StartDate = EncodeDate(2020, 1, 6);

    std::vector<TScheDef> mix;
    mix.push_back(base);
    TScheDef weekly = base;
    weekly.Frequency = TFrequency::Weekly;
    weekly.WeeklyEvery = 2;
    weekly.WeekDays = 0x15;
    mix.push_back(weekly);
    TScheDef monthly = base;
    monthly.Frequency = TFrequency::Monthly;
    monthly.MonthDay = 15;
    monthly.MonthlyEvery = 1;
    mix.push_back(monthly);
    TScheDef nth = monthly;
    nth.ByWeekDay = true;
    nth.Occurrence = 4;
    nth.OccWeekDay = 4;
    nth.OccMonthlyEvery = 1;
    mix.push_back(nth);
    TScheDef periodic = base;
    periodic.Trigger = TTrigger::Periodic;
    periodic.EveryCount = 15;
    periodic.EveryUnit = TEveryUnit::Minutes;
    periodic.BetweenStart = EncodeTime(6, 0);
    periodic.BetweenEnd = EncodeTime(22, 0);
    mix.push_back(periodic);
    return mix;
}

void BM_IsDue(benchmark::State& state) {
    const auto mix = ScheduleMix();
    double moment = EncodeDate(2026, 12, 8) + EncodeTime(8, 30);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(IsDue(mix[i], moment));
        i = (i + 1) % mix.size();
        moment += 1.0 / MinutesPerDay;
    }
}
BENCHMARK(BM_IsDue);

void BM_DescribeSchedule(benchmark::State& state) {
    const auto mix = ScheduleMix();
    std::vector<std::string> lines;
    std::size_t i = 0;
    for (auto _ : state) {
        DescribeSchedule(mix[i], lines);
        benchmark::DoNotOptimize(lines.data());
        i = (i + 1) % mix.size();
    }
}
BENCHMARK(BM_DescribeSchedule);

// The next five starts of one schedule, as the schedule editor computes them at each change;
// the figure is the mean over 1,000 random schedules (a fixed seed, the same every run).
void BM_NextFiveRuns(benchmark::State& state) {
    const TDateTime today = EncodeDate(2026, 12, 8);
    std::mt19937_64 random(20261208);
    std::vector<TScheDef> schedules;
    for (int i = 0; i < 1000; ++i) {
        schedules.push_back(testing_support::RandomSchedule(random, today));
    }
    const TDateTime now = today + EncodeTime(10, 15, 30);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(NextRuns(schedules[i], now, 5));
        i = (i + 1) % schedules.size();
    }
}
BENCHMARK(BM_NextFiveRuns);

// The slowest kind: a schedule that never comes, searched to the horizon week by week.
void BM_NextRunsOfAWeeklyScheduleWithoutADay(benchmark::State& state) {
    TScheDef never;
    never.Frequency = TFrequency::Weekly;
    never.WeeklyEvery = 1;
    never.OnceAt = EncodeTime(9, 0);
    never.NoEnd = true;
    never.StartDate = EncodeDate(2026, 1, 1);
    const TDateTime now = EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 30);
    for (auto _ : state) {
        benchmark::DoNotOptimize(NextRuns(never, now, 5));
    }
}
BENCHMARK(BM_NextRunsOfAWeeklyScheduleWithoutADay);

} // namespace
} // namespace tarvok
