// The subcommands of tarvokctl behind its table (ctl/TarvokCtl.cpp), and what they share: the
// parsed command line, failing with one line, the task file and the service's runs.
#pragma once

#include "ctl/TarvokCtl.h"
#include "shared/Protocol.h"
#include "shared/TaskDef.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::ctl {

// A subcommand's command line: its operands in order, and its options by name ("--json",
// "-n"); a flag maps to an empty text.
struct TCall {
    const TCtlParts& Parts;
    std::vector<std::string> Operands;
    std::map<std::string, std::string> Options;

    bool Has(const std::string& option) const { return Options.contains(option); }
    const std::string& Value(const std::string& option) const { return Options.at(option); }
};

// Writes "tarvokctl: why" on the error stream; returns the status.
int Fail(const TCtlParts& parts, int status, const std::string& why);

// The task file's tasks; false, after saying why, when the file cannot be read.
bool LoadTasks(const TCtlParts& parts, TTaskList& tasks);

// The task file's tasks and the one whose id the operand gives; nothing, after saying why, when
// the file cannot be read or no task has that id. The status to end with goes to `status`.
struct TTaskOfCall {
    TTaskList Tasks;
    TTaskDef Task;
};
std::optional<TTaskOfCall> TaskOfCall(const TCall& call, int& status);

// "Backup" [3], as the log names a task, safe for a terminal.
std::string Shown(const TTaskDef& task);

// Saves the changed list as the manager does (shared/TaskEdits.h) and makes it the list; false,
// after saying why, with nothing changed.
bool Commit(const TCtlParts& parts, TTaskList& tasks, const TTaskList& changed);

// Tells the service, when one runs, as the manager would.
void Tell(const TCtlParts& parts, TMessageCode code, std::int32_t taskId);

// What the service says of its blocking runs.
struct TRunsView {
    bool ServiceRuns = false;
    // Empty when no service runs; nothing when it runs but did not answer, or when the user may
    // not ask (the service listens to administrators only).
    std::optional<TServiceRuns> Runs;
};
TRunsView AskRuns(const TCtlParts& parts);

// Where the lines a log writer added begin in the new log: the writer drops lines at the front
// and adds them at the end; a log truncated or replaced is new from its first line.
std::size_t FirstAddedLine(const std::deque<std::string>& before,
                           const std::deque<std::string>& after);

int List(const TCall& call);
int Show(const TCall& call);
int Enable(const TCall& call);
int Disable(const TCall& call);
int Delete(const TCall& call);
int Run(const TCall& call);
int Export(const TCall& call);
int Add(const TCall& call);
int Edit(const TCall& call);
int Import(const TCall& call);
int Log(const TCall& call);
int Status(const TCall& call);
int Pause(const TCall& call);
int Continue(const TCall& call);

} // namespace tarvok::ctl
