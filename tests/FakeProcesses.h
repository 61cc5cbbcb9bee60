// Processes as a test says: which ids run, which files and directories exist, what starts.
#pragma once

#include "shared/TaskRun.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::testing_support {

class TFakeProcesses final : public TProcessControl {
public:
    std::set<std::uint32_t> Running;
    std::set<std::string> Files = {"/bin/job"};
    std::set<std::string> Directories = {"/work"};
    std::uint32_t NextId = 1000; // 0: the next launch fails; otherwise counts up
    std::vector<std::string> Launched;
    // Processes handed over, with the account that handed each over.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Followed;
    // How ended processes ended, until taken; an ended one missing here ended unseen.
    std::map<std::uint32_t, platform::TProcessEnd> Ends;

    // The process ends now, as the platform would tell it.
    void End(std::uint32_t processId, platform::TProcessEnd end) {
        Running.erase(processId);
        Ends[processId] = end;
    }

    std::uint32_t Launch(const TTaskDef& task) override {
        Launched.push_back(task.Name);
        if (NextId == 0) {
            return 0;
        }
        Running.insert(NextId);
        return NextId++;
    }
    std::uint32_t ExitCode(std::uint32_t processId) override {
        return Running.count(processId) ? StillActive : 0;
    }
    bool Follow(std::uint32_t processId, std::uint32_t senderUid) override {
        Followed.emplace_back(processId, senderUid);
        return Running.count(processId) != 0;
    }
    std::optional<platform::TProcessEnd> TakeEnd(std::uint32_t processId) override {
        if (Running.count(processId) != 0) {
            return std::nullopt;
        }
        const auto found = Ends.find(processId);
        const platform::TProcessEnd end =
            found == Ends.end() ? platform::TProcessEnd{} : found->second;
        if (found != Ends.end()) {
            Ends.erase(found);
        }
        return end;
    }
    bool FileExists(const std::string& path) override { return Files.count(path) != 0; }
    bool DirectoryExists(const std::string& path) override { return Directories.count(path) != 0; }
};

// An enabled task the fake processes can start ("/bin/job"), due every day at hour:minute from
// 1 January 2026 on.
inline TTaskDef DailyJob(std::int32_t id, const std::string& name, bool blocking = false,
                         int hour = 10, int minute = 16) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = "/bin/job";
    task.Enabled = true;
    task.Blocking = blocking;
    task.Schedule.DailyEvery = 1;
    task.Schedule.OnceAt = EncodeTime(hour, minute);
    task.Schedule.NoEnd = true;
    task.Schedule.StartDate = EncodeDate(2026, 1, 1);
    return task;
}

} // namespace tarvok::testing_support
