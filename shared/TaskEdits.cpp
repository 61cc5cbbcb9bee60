#include "shared/TaskEdits.h"

#include "platform/Files.h"

namespace tarvok {

std::int32_t AddNewTask(TTaskList& tasks, TTaskDef& record) {
    return tasks.AddTask(record, true);
}

std::optional<std::size_t> PositionOfTask(const TTaskList& tasks, std::int32_t id) {
    for (std::size_t position = 0; position < tasks.Count(); ++position) {
        if (tasks.GetTask(position).Id == id) {
            return position;
        }
    }
    return std::nullopt;
}

bool ReplaceTask(TTaskList& tasks, std::size_t position, const TTaskDef& record) {
    std::optional<std::size_t> at = position;
    if (position >= tasks.Count() || tasks.GetTask(position).Id != record.Id) {
        at = PositionOfTask(tasks, record.Id);
    }
    if (!at) {
        return false;
    }
    // Appended without an id of its own, swapped into the old one's place, the old one dropped
    // from the end: the list cuts the texts as it stores them.
    TTaskDef copy = record;
    tasks.AddTask(copy, false);
    tasks.Exchange(*at, tasks.Count() - 1);
    tasks.DeleteAt(tasks.Count() - 1);
    return true;
}

bool ReplaceTask(TTaskList& tasks, const TTaskDef& record) {
    const std::optional<std::size_t> at = PositionOfTask(tasks, record.Id);
    return at && ReplaceTask(tasks, *at, record);
}

void CommitTaskList(TTaskList& tasks, const TTaskList& changed, const std::string& taskPath) {
    changed.SaveToFile(taskPath);
    tasks = changed;
}

TTaskList LoadTaskList(const std::string& taskPath) {
    TTaskList tasks;
    if (platform::FileExists(taskPath)) {
        tasks.LoadFromFile(taskPath);
    }
    return tasks;
}

} // namespace tarvok
