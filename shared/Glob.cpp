#include "shared/Glob.h"

#include "platform/Files.h"

namespace tarvok {

TProgramPaths ProgramPathsFor(const std::string& programFile) {
    const auto slash = programFile.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : programFile.substr(0, slash + 1);
    return {
        .ProgramDir = dir,
        .TaskPath = dir + "tarvok.tsk",
        .LogPath = dir + "tarvok.log",
        .RunsPath = dir + "tarvok.runs",
        .LegacyPath = dir + "tarvok.crn",
        .LegacyBackupPath = dir + "tarvok.cro",
        .LegacyTempPath = dir + "tarvok.tmp",
        .HelpPath = dir + "tarvok.hlp",
        .ContentsPath = dir + "tarvok.cnt",
    };
}

const TProgramPaths& ProgramPaths() {
    static const TProgramPaths paths = ProgramPathsFor(platform::ProgramFile());
    return paths;
}

} // namespace tarvok
