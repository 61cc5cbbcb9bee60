// Changing the task list as the task commands do, in the manager and in tarvokctl alike: every
// change is made on a copy, the copy is saved, and only then does it take the list's place, so a
// save that fails changes nothing.
//
//   TTaskList changed = tasks;
//   const std::int32_t id = AddNewTask(changed, record); // record.Id is the new id
//   CommitTaskList(tasks, changed, paths.TaskPath);      // raises TIoError; tasks untouched
#pragma once

#include "shared/TaskDef.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvok {

// Appends the record with the smallest free id, which is written back into it and returned.
std::int32_t AddNewTask(TTaskList& tasks, TTaskDef& record);

// The position of the first task with the id.
std::optional<std::size_t> PositionOfTask(const TTaskList& tasks, std::int32_t id);

// Puts the record in the place of the task at the position, the rest of the list unchanged.
// When another task has come to be there meanwhile, the first task with the record's id is
// replaced instead. False, with nothing changed, when no task has the record's id.
bool ReplaceTask(TTaskList& tasks, std::size_t position, const TTaskDef& record);
bool ReplaceTask(TTaskList& tasks, const TTaskDef& record);

// Saves the changed list to the task file and then makes it the list. Raises TIoError with the
// list left as it was.
void CommitTaskList(TTaskList& tasks, const TTaskList& changed, const std::string& taskPath);

// The task file's list; a missing file is an empty list. Raises TIoError for a file that cannot
// be read whole, so that nothing is ever saved over tasks that were not read.
TTaskList LoadTaskList(const std::string& taskPath);

} // namespace tarvok
