#include "manager/VersInfo.h"

#include "platform/Files.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;

void Put(std::string& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i) & 0xff);
    }
}

void ExpectNoVersion(const std::string& path) {
    const TFileVersion version = GetFileVersion(path);
    EXPECT_FALSE(version.Valid);
    EXPECT_EQ(version.Major + version.Minor + version.Release + version.Build, 0);
    EXPECT_EQ(FileVersionText(path), "");
}

class VersInfoTest : public testing_support::TempDirTest {
protected:
    std::string Write(const char* name, const std::string& content) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }
};

TEST(PlatformKind, MapsEveryPlatformIdentifierAndLinuxAnswersNt) {
    const std::pair<int, int> rows[] = {{1, 0}, {2, 1}, {0, 2}, {3, 3}, {-1, 3}, {148, 3}};
    for (auto [platformId, kind] : rows) {
        SCOPED_TRACE(platformId);
        EXPECT_EQ(PlatformKind(platformId), kind);
    }
    EXPECT_EQ(GetWinPlatform(), PlatformNt);
}

TEST(GetFileVersion, ReadsTheVersionStampedIntoAProgram) {
    // The short fixture is stamped as "65535.1".
    const std::pair<const char*, const char*> rows[] = {{STAMPED_FIXTURE, "10.2.300.4000"},
                                                        {SHORT_FIXTURE, "65535.1.0.0"}};
    for (auto [path, text] : rows) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(GetFileVersion(path).Valid);
        EXPECT_EQ(FileVersionText(path), text);
    }
}

TEST(FileVersionText, ThisProgramCarriesTheProjectVersion) {
    EXPECT_EQ(FileVersionText(platform::ProgramFile()), PROJECT_VERSION);
}

TEST_F(VersInfoTest, FilesWithoutAVersionHaveNone) {
    const std::string paths[] = {
        UNSTAMPED_FIXTURE,           Write("notes.txt", "Tarvok\n10.2.300.4000\n"),
        Write("empty", ""),          dir_.string(),
        (dir_ / "missing").string(), "",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        ExpectNoVersion(path);
    }
}

TEST_F(VersInfoTest, TruncatedOrDamagedCopiesOfAStampedProgramHaveNoVersion) {
    const std::string program = platform::ReadFile(STAMPED_FIXTURE);
    ASSERT_EQ(FileVersionText(Write("copy", program)), "10.2.300.4000");

    for (std::size_t size : {std::size_t{0}, std::size_t{16}, std::size_t{63}, program.size() / 2,
                             program.size() - 1}) {
        SCOPED_TRACE(size);
        ExpectNoVersion(Write("cut", program.substr(0, size)));
    }

    // Name size 7, descriptor size 8, type 1, "Tarvok": one such note in the whole file.
    const std::string note("\7\0\0\0\10\0\0\0\1\0\0\0Tarvok", 18);
    const std::size_t noteAt = program.find(note);
    ASSERT_NE(noteAt, std::string::npos);
    ASSERT_EQ(program.rfind(note), noteAt);
    const std::uint64_t sections =
        static_cast<unsigned char>(program[0x3c]) | static_cast<unsigned char>(program[0x3d]) << 8;
    struct Row {
        const char* what;
        std::size_t offset;
        std::uint64_t value;
        std::size_t width;
    };
    const Row rows[] = {
        {"magic", 1, 'e', 1},
        {"byte order", 5, 2, 1},
        {"section table beyond the end", 0x28, program.size(), 8},
        {"one section more than the file holds", 0x3c, sections + 1, 2},
        {"note descriptor size huge", noteAt + 4, 0xfffffff0, 4},
        {"note of another type", noteAt + 8, 2, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string damaged = program;
        Put(damaged, row.offset, row.value, row.width);
        ExpectNoVersion(Write("damaged", damaged));
    }
}

} // namespace
} // namespace tarvok
