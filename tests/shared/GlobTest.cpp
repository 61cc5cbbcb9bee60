#include "shared/Glob.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

TEST(Glob, FilesLieBesideTheProgramFile) {
    struct Row {
        const char* program;
        const char* dir;
    };
    const Row rows[] = {
        {"/opt/tarvok/bin/TarvokSvc", "/opt/tarvok/bin/"},
        {"/srv/my tasks/v2.0/tarvok", "/srv/my tasks/v2.0/"},
        {"/tarvok", "/"},
        {"bin/tarvok", "bin/"},
        {"tarvok", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program);
        const TProgramPaths paths = ProgramPathsFor(row.program);
        const std::string dir = row.dir;
        EXPECT_EQ(paths.ProgramDir, dir);
        EXPECT_EQ(paths.TaskPath, dir + "tarvok.tsk");
        EXPECT_EQ(paths.LogPath, dir + "tarvok.log");
        EXPECT_EQ(paths.LegacyPath, dir + "tarvok.crn");
        EXPECT_EQ(paths.LegacyBackupPath, dir + "tarvok.cro");
        EXPECT_EQ(paths.LegacyTempPath, dir + "tarvok.tmp");
        EXPECT_EQ(paths.HelpPath, dir + "tarvok.hlp");
        EXPECT_EQ(paths.ContentsPath, dir + "tarvok.cnt");
    }
}

TEST(Glob, TheRunningProgramsDirectoryHoldsItsFiles) {
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    const TProgramPaths& paths = ProgramPaths();
    EXPECT_EQ(paths.ProgramDir, self.parent_path().string() + "/");
    EXPECT_EQ(paths.TaskPath, (self.parent_path() / "tarvok.tsk").string());
    EXPECT_EQ(&ProgramPaths(), &paths) << "computed once for the whole run";
}

} // namespace
} // namespace tarvok
