#include "manager/Update.h"

#include "platform/Files.h"
#include "shared/TaskDef.h"
#include "tests/TempDir.h"

#include <random>

namespace tarvok {
namespace {

using platform::TIoError;

class Update : public testing_support::TempDirTest {
protected:
    std::string OldPath() const { return Path("tarvok.crn"); }
    std::string TaskPath() const { return Path("tarvok.tsk"); }

    TTaskList Converted() {
        ConvertLegacyFile(OldPath(), TaskPath());
        TTaskList list;
        if (platform::FileExists(TaskPath())) {
            list.LoadFromFile(TaskPath());
        }
        return list;
    }
};

// One task block as the old programs wrote it; without parameters (null) as before 1.0.0.29.
std::string Block(const std::string& name, const std::string& command, const char* parameters,
                  const char* enabled = "No", const char* blocking = "No",
                  const char* visible = "No") {
    std::string block = "*" + name + "\r\n\tCommand: " + command + "\r\n";
    if (parameters) {
        block += "\t\tParameters: " + std::string(parameters) + "\r\n";
    }
    return block + "\tWorkDir: /tmp\r\n\tSchedule: daily\r\n\tEnabled: " + enabled +
           "\r\n\tBlocking: " + blocking + "\r\n\tVisible: " + visible +
           "\r\n\t-\r\n\t-\r\n\t-\r\n\t-\r\n";
}

const std::string Header = "Tarvok cron file\r\n";

TEST_F(Update, AddsAParametersLineAfterEveryCommandLine) {
    Write(OldPath(), Header + Block("one", "/bin/a", nullptr) + "\tcommand: lower\nlast");
    AddParameterLines(OldPath());
    EXPECT_EQ(Read(OldPath()), Header + Block("one", "/bin/a", "") +
                                   "\tcommand: lower\r\n\t\tParameters: \r\nlast\r\n");
    EXPECT_EQ(EntriesInDir(), 1u) << "the temporary file was left behind";
}

TEST_F(Update, LeavesALaterFormFileByteForByte) {
    for (const std::string& text :
         {Header + Block("one", "/bin/a", "-v"), std::string("x\nparameters:\rCOMMAND: c\n\n")}) {
        SCOPED_TRACE(text);
        Write(OldPath(), text);
        AddParameterLines(OldPath());
        EXPECT_EQ(Read(OldPath()), text);
    }
}

TEST_F(Update, ConvertsEveryBlockIntoANumberedTask) {
    Write(OldPath(), Header + Block("Backup", "/bin/tar", "-v", "YES", "no", "yes") +
                         Block("Mail", "/bin/mail", "-v", "xyesx", "Yes", "Nope"));
    const TTaskList list = Converted();
    ASSERT_EQ(list.Count(), 2u);

    TTaskDef first = TTaskDef{};
    first.Id = 1;
    first.Name = "Backup";
    first.Command = "/bin/tar";
    first.Parameters = "-v";
    first.WorkDir = "/tmp";
    first.Enabled = true;
    first.Visible = true;
    first.Priority = 2;
    EXPECT_EQ(list.GetTask(0), first);

    const TTaskDef second = list.GetTask(1);
    EXPECT_EQ(second.Id, 2);
    EXPECT_EQ(second.Name, "Mail");
    EXPECT_TRUE(second.Enabled);
    EXPECT_TRUE(second.Blocking);
    EXPECT_FALSE(second.Visible);
    EXPECT_FALSE(IsDefined(second.Schedule));
}

TEST_F(Update, ValuesAreTakenByPositionAndCut) {
    const std::string longCommand(150, 'c');
    Write(OldPath(), Header + "*" + std::string(120, 'n') + "\r\nCommand: " + longCommand +
                         "\r\nno colon here\r\nWorkDir: a: b\r\n");
    const TTaskList list = Converted();
    ASSERT_EQ(list.Count(), 1u);
    const TTaskDef task = list.GetTask(0);
    EXPECT_EQ(task.Name, std::string(100, 'n'));
    EXPECT_EQ(task.Command, std::string(100, 'c'));
    EXPECT_EQ(task.Parameters, "o colon here");
    EXPECT_EQ(task.WorkDir, "a: b");
    EXPECT_FALSE(task.Enabled) << "lines past the end of the file read as empty";
}

TEST_F(Update, WritesNoTaskFileWithoutTasks) {
    Write(TaskPath(), "old task file");
    for (const std::string& text : {Header, std::string("header only"), std::string()}) {
        SCOPED_TRACE(text);
        Write(OldPath(), text);
        EXPECT_EQ(Converted().Count(), 0u);
        EXPECT_FALSE(platform::FileExists(TaskPath()));
    }
}

TEST_F(Update, FailuresRaiseAndReplaceNothing) {
    EXPECT_THROW(AddParameterLines(OldPath()), TIoError);
    EXPECT_THROW(ConvertLegacyFile(OldPath(), TaskPath()), TIoError);
    EXPECT_EQ(EntriesInDir(), 0u);

    const std::string old = Header + Block("one", "/bin/a", "-v");
    Write(OldPath(), old);
    std::filesystem::create_directories(TaskPath() + "/inside");
    EXPECT_THROW(ConvertLegacyFile(OldPath(), TaskPath()), TIoError);
    EXPECT_EQ(Read(OldPath()), old);
    EXPECT_TRUE(std::filesystem::is_directory(TaskPath() + "/inside"));
    EXPECT_EQ(EntriesInDir(), 2u) << "a temporary file was left behind";
}

// Any text converts: one task per started block of 12 lines, ids in order, texts cut.
TEST_F(Update, RandomTextConvertsSafely) {
    std::mt19937 random(1026);
    const std::string alphabet = "aYeS: \t\r\n\r\nxCOMMAND:";
    for (int file = 0; file < 150; ++file) {
        std::string text(random() % 3000, ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        Write(OldPath(), text);
        const TTaskList list = Converted();
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TTaskDef task = list.GetTask(i);
            ASSERT_EQ(task.Id, static_cast<std::int32_t>(i + 1));
            ASSERT_EQ(task.Priority, 2);
            for (const std::string* t :
                 {&task.Name, &task.Command, &task.Parameters, &task.WorkDir}) {
                ASSERT_LE(t->size(), TaskTextMax);
                ASSERT_EQ(t->find_first_of("\r\n"), std::string::npos);
            }
        }
    }
}

} // namespace
} // namespace tarvok
