// tarvokctl, the terminal tool for Tarvok's administrators: one table of subcommands, each with
// its help line.
//
//   tarvokctl pause       the service starts no task until it continues; running tasks go on
//   tarvokctl continue
//   tarvokctl --help
//
// Exit status 0 on success; otherwise one line on the error stream, "tarvokctl: ...", and 1 when
// the command failed or 2 when it was not understood.
#pragma once

#include "platform/ServiceControl.h"

#include <ostream>
#include <span>
#include <string>

namespace tarvok {

inline constexpr int CtlFailed = 1;
inline constexpr int CtlUsageError = 2;

struct TCtlParts {
    const platform::TServiceManager& Manager;
    std::ostream& Out;
    std::ostream& Err;
};

// args excludes the program name.
int RunCtl(std::span<const std::string> args, const TCtlParts& parts);

} // namespace tarvok
