// The task commands of the main window: new, edit, delete and properties.
//
// They keep the task list, the process table and the task file in step and tell the service;
// the window keeps its tree in step from what they answer. Every change is saved before it is
// made: the change is made on a copy of the list, the copy is saved, and only then does it take
// the list's place. A save that fails therefore changes neither the list nor the process table,
// sends nothing, and says in an error box what failed and why.
//
//   TTaskCommands commands(tasks, table, paths.TaskPath, prompts, clock, SystemPathView(),
//                          {serviceMode, send, holdMinuteTick});
//   if (auto added = commands.NewTask(window)) UpdateTaskTree(*added, TTreeUpdate::Add);
#pragma once

#include "manager/RunTexts.h"
#include "shared/Clock.h"
#include "shared/Protocol.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace tarvok {

class TPathView;
class TPrompts;

struct TTaskCommandHooks {
    // The service runs: it is told of every change and deletes tasks itself.
    std::function<bool()> ServiceMode;
    std::function<void(TMessageCode code, std::int32_t taskId)> Send;
    // True stops the minute tick, false lets it run again: no task may start while the user is
    // asked whether to delete it.
    std::function<void(bool hold)> HoldMinuteTick;
    // The task's newest runs for its properties; none: no runs are shown.
    std::function<TRecentRuns(std::int32_t taskId)> RecentRuns{};
};

enum class TDeleteOutcome {
    Refused,   // its blocking run is going on
    Kept,      // the user said No
    Requested, // the service was asked; it answers "TX" once it has deleted the task
    Removed,   // removed here and saved
    Failed,    // the save failed; nothing changed
};

class TTaskCommands {
public:
    TTaskCommands(TTaskList& tasks, TProcessTable& table, std::string taskPath, TPrompts& prompts,
                  const TClock& clock, const TPathView& paths, TTaskCommandHooks hooks);

    // The task editor on a new record; the added task with its id, or nothing.
    std::optional<TTaskDef> NewTask(QWidget* parent);
    // The task editor on the selected task; the stored record, or nothing.
    std::optional<TTaskDef> EditTask(QWidget* parent, std::size_t position,
                                     const TTaskDef& selected);
    TDeleteOutcome DeleteSelectedTask(QWidget* parent, const TTaskDef& selected);
    void ShowTaskProperties(QWidget* parent, const TTaskDef& selected);

    // The record handling behind the commands. False when the save failed (after its box).
    bool AddTask(QWidget* parent, TTaskDef& record);
    // Replaces the task at the position, or, when another task has come to be there meanwhile,
    // the first one with the record's id; a task that is gone is not brought back.
    bool ReplaceTask(QWidget* parent, std::size_t position, const TTaskDef& record);
    bool RemoveTask(QWidget* parent, const TTaskDef& task);

private:
    // Saves the changed copy and makes it the list; false, with a box, when that failed.
    bool Commit(QWidget* parent, const TTaskList& changed);
    void Tell(TMessageCode code, std::int32_t taskId);

    TTaskList& tasks_;
    TProcessTable& table_;
    std::string taskPath_;
    TPrompts& prompts_;
    const TClock& clock_;
    const TPathView& paths_;
    TTaskCommandHooks hooks_;
};

} // namespace tarvok
