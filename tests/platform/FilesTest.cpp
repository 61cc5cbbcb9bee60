#include "platform/Files.h"

#include "tests/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarvok::platform {
namespace {

namespace fs = std::filesystem;

using FilesTest = testing_support::TempDirTest;

TEST_F(FilesTest, ReplaceWritesContentWithSharedModeAndLeavesNoTemporary) {
    for (const TFlush flush : {TFlush::ToDisk, TFlush::Lazily}) {
        SCOPED_TRACE(flush == TFlush::ToDisk ? "to disk" : "lazily");
        const std::string path = Path(flush == TFlush::ToDisk ? "tarvok.tsk" : "tarvok.log");
        ReplaceFile(path, "first", flush);
        ReplaceFile(path, std::string("second\0with nul", 15), flush);
        EXPECT_EQ(ReadFile(path), std::string("second\0with nul", 15));

        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0664u);
        RemoveFile(path);
        EXPECT_EQ(EntriesInDir(), 0u) << "a temporary file was left behind";
    }
}

TEST_F(FilesTest, FailedReplaceKeepsTheOldFileAndCarriesThePath) {
    const std::string path = Path("target");
    fs::create_directory(path); // renaming a file over a directory fails
    try {
        ReplaceFile(path, "data");
        FAIL() << "no error raised";
    } catch (const TIoError& error) {
        EXPECT_EQ(error.Path(), path);
        EXPECT_FALSE(error.Reason().empty());
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
    }
    EXPECT_TRUE(DirectoryExists(path));
    EXPECT_EQ(EntriesInDir(), 1u) << "the temporary file was left behind";

    EXPECT_THROW(ReplaceFile(Path("missing-dir/file"), "data"), TIoError);
    EXPECT_THROW(ReplaceFile(path, "data", TFlush::Lazily), TIoError);
    EXPECT_EQ(EntriesInDir(), 1u) << "the temporary file was left behind";
}

TEST_F(FilesTest, ReadMissingFileRaisesWithSystemText) {
    try {
        ReadFile(Path("absent"));
        FAIL() << "no error raised";
    } catch (const TIoError& error) {
        EXPECT_EQ(error.Reason(), "No such file or directory");
    }
}

TEST_F(FilesTest, ExistenceRemovalAndProgramFile) {
    const std::string file = Path("file");
    EXPECT_FALSE(FileExists(file));
    ReplaceFile(file, "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_TRUE(DirectoryExists(dir_.string()));
    EXPECT_FALSE(FileExists(dir_.string()));
    RemoveFile(file);
    EXPECT_FALSE(FileExists(file));
    EXPECT_NO_THROW(RemoveFile(file));
    EXPECT_EQ(fs::path(ProgramFile()).filename(), "platform_tests");
}

} // namespace
} // namespace tarvok::platform
