#include "manager/Edit.h"
#include "tests/manager/MainWindowFixture.h"

#include <QAction>
#include <QLineEdit>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing_support::MainWindowTest;
using testing_support::Task;

class TaskCommandsWindowTest : public MainWindowTest {
protected:
    // The task editor answered by typing a name (and a command for a new task) and OK.
    void EditorTypes(const QString& name) {
        prompts_.OnRun = [name](QDialog& dialog) {
            auto& editor = dynamic_cast<TDlgEdit&>(dialog);
            editor.FormShow();
            editor.edTaskName->setText(name);
            if (editor.edCommand->text().isEmpty()) {
                editor.edCommand->setText(QStringLiteral("/bin/true"));
            }
            editor.accept();
            return QDialog::Accepted;
        };
    }

    static QStringList TaskNodes(const TFrmMain& window) {
        QStringList texts;
        for (int i = 0; i < window.RootNode()->childCount(); ++i) {
            texts << window.RootNode()->child(i)->text(0);
        }
        return texts;
    }

    void Select(TFrmMain& window, int position) {
        window.TT->setCurrentItem(window.RootNode()->child(position));
    }

    std::vector<std::int32_t> SavedIds() const {
        TTaskList saved;
        saved.LoadFromFile(Path("tarvok.tsk"));
        std::vector<std::int32_t> ids;
        for (std::size_t i = 0; i < saved.Count(); ++i) {
            ids.push_back(saved.GetTask(i).Id);
        }
        return ids;
    }
};

// New appends the node of the smallest free id, Edit refreshes the node in place and Delete
// asks with the minute tick held, removes the node and, with the last task, the file.
TEST_F(TaskCommandsWindowTest, CommandsKeepTreeListAndFileInStep) {
    WriteTasks({Task(1, "Backup"), Task(4, "Mail")});
    auto window = Open();

    EditorTypes("Report");
    window->MITaskNew->trigger();
    EXPECT_EQ(TaskNodes(*window), QStringList({"Backup [1]", "Mail [4]", "Report [2]"}));
    EXPECT_EQ(SavedIds(), (std::vector<std::int32_t>{1, 4, 2}));
    EXPECT_EQ(window->ProcessTable.Count(), 3u);

    Select(*window, 1);
    EditorTypes("Mail weekly");
    window->pmiEdit->trigger();
    EXPECT_EQ(TaskNodes(*window), QStringList({"Backup [1]", "Mail weekly [4]", "Report [2]"}));
    EXPECT_EQ(window->SelectedTask.Name, "Mail weekly");
    EXPECT_EQ(window->Tasks.GetTask(1).Name, "Mail weekly");

    bool tickedWhileAsked = true;
    prompts_.WhileAsked = [&] { tickedWhileAsked = window->Timers->Ticking(); };
    prompts_.Answers = {true};
    Select(*window, 0);
    window->MITaskDelete->trigger();
    EXPECT_FALSE(tickedWhileAsked);
    EXPECT_TRUE(window->Timers->Ticking());
    EXPECT_THAT(prompts_.Asked, ElementsAre("Delete task \"Backup\"?"));
    EXPECT_EQ(TaskNodes(*window), QStringList({"Mail weekly [4]", "Report [2]"}));
    EXPECT_EQ(SavedIds(), (std::vector<std::int32_t>{4, 2}));

    for (int left = 2; left > 0; --left) {
        prompts_.Answers = {true};
        Select(*window, 0);
        window->pmiDelete->trigger();
    }
    EXPECT_EQ(window->RootNode()->childCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("tarvok.tsk")));
    EXPECT_TRUE(channel_.Sent.empty());
}

// With the service running every change is told, and a delete only asks the service: the node
// stays until the service answers that it has deleted the task.
TEST_F(TaskCommandsWindowTest, InServiceModeTheServiceIsToldAndDeletes) {
    WriteTasks({Task(1, "Backup")});
    channel_.Owned = {"TarvokService"};
    auto window = Open();
    ASSERT_TRUE(window->ServiceMode);
    channel_.Sent.clear();

    EditorTypes("Report");
    window->pmiInsert->trigger();
    Select(*window, 0);
    EditorTypes("Backup all");
    window->MITaskEdit->trigger();
    prompts_.Answers = {true};
    window->MITaskDelete->trigger();
    EXPECT_THAT(channel_.Sent, ElementsAre("TN 2", "TM 1", "TD 1"));
    EXPECT_EQ(TaskNodes(*window), QStringList({"Backup all [1]", "Report [2]"}));
    EXPECT_EQ(SavedIds(), (std::vector<std::int32_t>{1, 2}));

    channel_.Inbox.push_back("TX 1");
    window->Scheduler->DrainMessages();
    EXPECT_EQ(TaskNodes(*window), QStringList({"Report [2]"}));
}

TEST_F(TaskCommandsWindowTest, ReadOnlyUserChangesNothingButSeesProperties) {
    WriteTasks({Task(1, "Backup")});
    auto window = Open({.Administrator = false});
    prompts_.Shown.clear();
    EditorTypes("Report");
    Select(*window, 0);
    for (QAction* command : {window->MITaskNew, window->MITaskEdit, window->MITaskDelete}) {
        command->trigger();
    }
    EXPECT_EQ(prompts_.Shown.size(), 3u);
    EXPECT_EQ(prompts_.DialogsRun, 0);
    prompts_.OnRun = {};
    window->MITaskProperties->trigger();
    EXPECT_EQ(prompts_.DialogsRun, 1);
    EXPECT_EQ(TaskNodes(*window), QStringList({"Backup [1]"}));
}

// A name another writer cut inside a character shows a replacement character, in the tree and in
// the editor, and an edit stores whole characters.
TEST_F(TaskCommandsWindowTest, NameCutInsideACharacterShowsAReplacement) {
    WriteTasks({Task(1, "Caf\xC3")});
    auto window = Open();
    EXPECT_EQ(TaskNodes(*window), QStringList({QStringLiteral("Caf\uFFFD [1]")}));
    Select(*window, 0);
    QString shown;
    prompts_.OnRun = [&shown](QDialog& dialog) {
        auto& editor = dynamic_cast<TDlgEdit&>(dialog);
        editor.FormShow();
        shown = editor.edTaskName->text();
        editor.accept();
        return QDialog::Accepted;
    };
    window->MITaskEdit->trigger();
    EXPECT_EQ(shown, QStringLiteral("Caf\uFFFD"));
    EXPECT_EQ(window->Tasks.GetTask(0).Name, "Caf\uFFFD");
}

} // namespace
} // namespace tarvok
