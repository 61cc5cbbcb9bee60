// tarvokctl: the terminal tool.
#include "ctl/TarvokCtl.h"
#include "platform/Accounts.h"
#include "platform/Clock.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

// How often a followed log is looked at.
constexpr int FollowIntervalMs = 250;

} // namespace

int main(int argc, char** argv) {
    using namespace tarvok;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const platform::TServiceManager manager;
    const TProgramPaths& paths = ProgramPaths();
    TSlotLink link(paths.ProgramDir);
    const TSystemClock clock;
    const TCtlParts parts{
        .Manager = manager,
        .Link = link,
        .In = std::cin,
        .Out = std::cout,
        .Err = std::cerr,
        .Paths = paths,
        .Processes = SystemProcesses(),
        .Files = SystemPathView(),
        .Clock = clock,
        .Administrator = platform::IsAdministrator(platform::CurrentUserId(), paths.ProgramDir),
        .GroupName = platform::DirectoryGroupName(paths.ProgramDir),
        .LongTimeFormat = platform::LongTimeFormat(),
        .FollowPause =
            [] {
                platform::SleepFor(FollowIntervalMs);
                return true;
            },
    };
    return RunCtl(args, parts);
}
