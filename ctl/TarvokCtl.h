// tarvokctl, the terminal tool for Tarvok's administrators: one table of subcommands, each with
// its help line and its own --help.
//
//   tarvokctl list [--json]             the tasks, and which blocking runs are going
//   tarvokctl show ID [--json]          one task, as the manager's properties show it
//   tarvokctl enable ID | disable ID | delete ID | run ID
//   tarvokctl log [-f] [-n N]           the system log
//   tarvokctl status [--json]           the service and the manager
//   tarvokctl export                    the task list as JSON
//   tarvokctl pause | continue          the service (under systemd, or run by hand)
//   tarvokctl --help | COMMAND --help
//
// It changes the task file as the manager does (shared/TaskEdits.h) and tells a running service
// as the manager would ("TN", "TM", "TD"/"TX", "TR"). Only Tarvok's administrators may change
// anything or ask the service (the slots are theirs alone); anyone who can read the files may
// list, show, export and read the log.
//
// Exit status 0 on success; otherwise one line on the error stream, "tarvokctl: ...", and 1 when
// the command failed or 2 when it was not understood.
#pragma once

#include "ctl/CtlLink.h"
#include "platform/ServiceControl.h"
#include "shared/Clock.h"
#include "shared/Glob.h"
#include "shared/PathView.h"
#include "shared/TaskRun.h"

#include <functional>
#include <istream>
#include <ostream>
#include <span>
#include <string>

namespace tarvok {

inline constexpr int CtlFailed = 1;
inline constexpr int CtlUsageError = 2;

struct TCtlParts {
    const platform::TServiceManager& Manager;
    TCtlLink& Link;
    std::istream& In; // what "import -" reads
    std::ostream& Out;
    std::ostream& Err;
    // The program directory of the running tarvokctl: its task file and log.
    TProgramPaths Paths;
    TProcessControl& Processes;
    // How commands and working directories are seen: network forms, executables, directories.
    const TPathView& Files;
    const TClock& Clock;
    // Root, the program directory's owner and its group's members; the group to join if not.
    bool Administrator = true;
    std::string GroupName;
    // How times of day read in schedule descriptions, as the manager shows them.
    std::string LongTimeFormat = "%H:%M:%S";
    // Waits between two looks at the log while following it; false ends the following. The
    // real tool sleeps a moment and goes on until it is interrupted.
    std::function<bool()> FollowPause;
};

// args excludes the program name.
int RunCtl(std::span<const std::string> args, const TCtlParts& parts);

} // namespace tarvok
