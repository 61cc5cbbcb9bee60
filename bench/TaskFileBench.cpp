#include "shared/TaskDef.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace tarvok {
namespace {

constexpr int TaskCount = 1000;

// A task file of full-length texts in its own directory, removed when the benchmark ends.
class TBenchFile {
public:
    TBenchFile()
        : dir_(std::filesystem::temp_directory_path() /
               ("tarvok-bench-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
        for (int i = 0; i < TaskCount; ++i) {
            TTaskDef task = TTaskDef::New();
            task.Name = "Task " + std::to_string(i) + std::string(90, 'n');
            task.Command = "/usr/local/bin/" + std::string(85, 'c');
            task.Parameters = std::string(100, 'p');
            task.WorkDir = "/var/lib/" + std::string(91, 'w');
            task.Schedule.DailyEvery = 1;
            task.Schedule.StartDate = EncodeDate(2020, 1, 6);
            list_.AddTask(task, true);
        }
        list_.SaveToFile(Path());
    }
    ~TBenchFile() { std::filesystem::remove_all(dir_); }

    std::string Path() const { return (dir_ / "tarvok.tsk").string(); }
    const TTaskList& List() const { return list_; }

private:
    std::filesystem::path dir_;
    TTaskList list_;
};

void BM_LoadTaskFile(benchmark::State& state) {
    TBenchFile file;
    TTaskList list;
    for (auto _ : state) {
        list.LoadFromFile(file.Path());
        benchmark::DoNotOptimize(list.Count());
    }
}
BENCHMARK(BM_LoadTaskFile)->Unit(benchmark::kMicrosecond);

// Includes the flush to disk that makes the replacement safe, so the figure depends on the disk.
void BM_SaveTaskFile(benchmark::State& state) {
    TBenchFile file;
    for (auto _ : state) {
        file.List().SaveToFile(file.Path());
    }
}
BENCHMARK(BM_SaveTaskFile)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace tarvok
