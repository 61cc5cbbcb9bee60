// Writes a task file of one enabled blocking task due at every minute of every day, for the
// test that runs the service under a real systemd:
//
//   systemd_test_task <task file> <name> <command> <parameters>
#include "shared/TaskDef.h"
#include "tests/e2e/ServiceHarness.h"

#include <iostream>

int main(int argc, char** argv) {
    using namespace tarvok;
    if (argc != 5) {
        std::cerr << "usage: systemd_test_task <task file> <name> <command> <parameters>\n";
        return 2;
    }
    TScheDef everyMinute;
    everyMinute.Frequency = TFrequency::Daily;
    everyMinute.Trigger = TTrigger::Periodic;
    everyMinute.DailyEvery = 1;
    everyMinute.EveryCount = 1;
    everyMinute.EveryUnit = TEveryUnit::Minutes;
    everyMinute.BetweenStart = EncodeTime(0, 0);
    everyMinute.BetweenEnd = EncodeTime(23, 59, 59);
    everyMinute.NoEnd = true;
    everyMinute.StartDate = EncodeDate(2000, 1, 1);

    TTaskList tasks;
    TTaskDef task = e2e::MakeTask(1, argv[2], argv[3], argv[4], everyMinute, true);
    tasks.AddTask(task, false);
    tasks.SaveToFile(argv[1]);
    return 0;
}
