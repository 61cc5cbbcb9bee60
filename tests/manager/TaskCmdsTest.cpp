#include "manager/TaskCmds.h"

#include "manager/Edit.h"
#include "manager/TaskProp.h"
#include "tests/manager/EditorFixture.h"

#include <QLineEdit>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::EditorTest;

TTaskDef Task(std::int32_t id, const std::string& name) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = "/bin/true";
    return task;
}

std::vector<std::int32_t> Ids(const TTaskList& tasks) {
    std::vector<std::int32_t> ids;
    for (std::size_t i = 0; i < tasks.Count(); ++i) {
        ids.push_back(tasks.GetTask(i).Id);
    }
    return ids;
}

class TaskCmdsTest : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        Reset();
        commands_ = std::make_unique<TTaskCommands>(
            tasks, table, TaskPath(), prompts, clock, paths,
            TTaskCommandHooks{[this] { return serviceMode; },
                              [this](TMessageCode code, std::int32_t id) {
                                  sent.push_back(FormatMessage(code, id));
                              },
                              [this](bool hold) {
                                  ticks.push_back((hold ? "hold after " : "release after ") +
                                                  std::to_string(prompts.Asked.size()) +
                                                  " questions");
                              }});
    }

    // Three tasks with ids 1, 2 and 4, saved, none running.
    void Reset() {
        tasks.Clear();
        for (TTaskDef task : {Task(1, "Backup"), Task(2, "Mail"), Task(4, "Report")}) {
            tasks.AddTask(task, false);
        }
        table.Rebuild(tasks);
        tasks.SaveToFile(TaskPath());
    }

    std::string TaskPath() const { return Path("tarvok.tsk"); }

    TTaskList Saved() const {
        TTaskList saved;
        saved.LoadFromFile(TaskPath());
        return saved;
    }

    // The task editor answered by typing a name and OK.
    void EditorAnswers(const QString& name) {
        prompts.OnRun = [name](QDialog& dialog) {
            auto& editor = dynamic_cast<TDlgEdit&>(dialog);
            editor.FormShow();
            editor.edTaskName->setText(name);
            editor.accept();
            return QDialog::Accepted;
        };
    }

    TTaskList tasks;
    TProcessTable table;
    bool serviceMode = false;
    std::vector<std::string> sent;
    std::vector<std::string> ticks;
    // Made once the test directory exists.
    std::unique_ptr<TTaskCommands> commands_;
    TTaskCommands& commands() { return *commands_; }
};

// The commands through the window are tested with it (TaskCommandsWindowTest); here what the
// window does not reach: an edit whose task moved or went while the editor was open, a delete
// refused while its blocking run goes on, the run entry shown in the properties.
TEST_F(TaskCmdsTest, EditFindsItsTaskByIdAndKeepsTheRunEntryName) {
    serviceMode = true;
    EditorAnswers("Mail weekly");
    ASSERT_TRUE(commands().EditTask(nullptr, 1, tasks.GetTask(1)));
    EXPECT_EQ(Saved().GetTask(1).Name, "Mail weekly");
    EXPECT_EQ(table.Find(2)->TaskName, "Mail") << "the run entry keeps the name it was made with";
    EXPECT_THAT(sent, ElementsAre("TM 2"));

    TTaskDef report = tasks.GetTask(2);
    report.Name = "Report daily";
    ASSERT_TRUE(commands().ReplaceTask(nullptr, 0, report)); // another task is at 0 now
    EXPECT_EQ(tasks.GetTask(0).Name, "Backup");
    EXPECT_EQ(tasks.GetTask(2).Name, "Report daily");

    ASSERT_FALSE(commands().ReplaceTask(nullptr, 2, Task(9, "Gone")));
    EXPECT_EQ(prompts.LastShown(),
              "Task \"Gone\" [9] no longer exists; the changes were not saved.");
    EXPECT_EQ(Ids(tasks), (std::vector<std::int32_t>{1, 2, 4}));
}

TEST_F(TaskCmdsTest, DeleteIsRefusedWhileTheBlockingRunGoesOn) {
    table.Find(1)->ProcessId = 4711;
    prompts.Answers = {true};
    EXPECT_EQ(commands().DeleteSelectedTask(nullptr, tasks.GetTask(0)), TDeleteOutcome::Refused);
    EXPECT_EQ(prompts.LastShown(), "Blocking Task \"Backup\" [1] is running.");
    EXPECT_TRUE(prompts.Asked.empty());
    EXPECT_THAT(ticks, ElementsAre("hold after 0 questions", "release after 0 questions"));
    EXPECT_EQ(tasks.Count(), 3u);
}

// Whatever the command, a save that fails leaves the list, the process table and the file as they
// were, tells the service nothing and says what failed and why.
TEST_F(TaskCmdsTest, FailedSaveChangesNothing) {
    serviceMode = true;
    std::filesystem::remove(TaskPath());
    std::filesystem::create_directory(TaskPath()); // a file cannot replace a directory
    const std::string why = "Could not save the task file \"" + TaskPath() +
                            "\": Is a directory\r\nNothing was changed.";
    const std::vector<TTaskRunEntry> entries = table.Entries();

    TTaskDef added = Task(0, "New");
    EXPECT_FALSE(commands().AddTask(nullptr, added));
    EXPECT_EQ(added.Id, 0);
    EXPECT_EQ(prompts.LastShown().toStdString(), why);
    EXPECT_FALSE(commands().ReplaceTask(nullptr, 0, Task(1, "Renamed")));
    EXPECT_FALSE(commands().RemoveTask(nullptr, tasks.GetTask(0)));
    EXPECT_EQ(prompts.Shown.size(), 3u);
    EXPECT_EQ(prompts.LastShown().toStdString(), why);
    EXPECT_EQ(Ids(tasks), (std::vector<std::int32_t>{1, 2, 4}));
    EXPECT_EQ(tasks.GetTask(0).Name, "Backup");
    EXPECT_EQ(table.Entries(), entries);
    EXPECT_THAT(sent, IsEmpty());
}

TEST_F(TaskCmdsTest, PropertiesShowTheRunOfTheTaskOrNone) {
    table.Find(4)->ProcessId = 4711;
    table.Remove(2);
    std::vector<TTaskRunEntry> shown;
    prompts.OnRun = [&shown](QDialog& dialog) {
        shown.push_back(dynamic_cast<TDlgTaskProps&>(dialog).RunState);
        return QDialog::Rejected;
    };
    commands().ShowTaskProperties(nullptr, tasks.GetTask(2));
    commands().ShowTaskProperties(nullptr, tasks.GetTask(1));
    EXPECT_THAT(shown, ElementsAre(TTaskRunEntry{"Report", 4, 4711}, TTaskRunEntry{}));
}

} // namespace
} // namespace tarvok
