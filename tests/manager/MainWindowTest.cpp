#include "manager/Help.h"
#include "manager/Main.h"
#include "manager/SysIcon.h"
#include "shared/Protocol.h"
#include "tests/manager/MainWindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

using testing_support::MainWindowTest;
using testing_support::Monday;
using testing_support::Task;

TEST_F(MainWindowTest, StartBranchesDecideModeLightIconAndPanel) {
    struct Row {
        const char* what;
        int platformKind;
        std::set<std::string, std::less<>> owned;
        TSlotOpening clientOpening;
        bool instanceOk;
        bool serviceMode;
        int icon;
        TActiveLight light;
        bool lightShown;
        const char* panel1;
        bool clientOpen;
    };
    const Row rows[] = {
        {"no service",
         PlatformNt,
         {},
         TSlotOpening::Opened,
         true,
         false,
         TrayRedImage,
         TActiveLight::alRed,
         true,
         "Next run: 07-Dec-2026 10:16:00",
         true},
        {"service runs",
         PlatformNt,
         {"TarvokService"},
         TSlotOpening::Opened,
         true,
         true,
         TrayGreenImage,
         TActiveLight::alGreen,
         true,
         "COMMAND WINDOW",
         true},
        {"another manager",
         PlatformNt,
         {"TarvokClient", "TarvokService"},
         TSlotOpening::Opened,
         false,
         false,
         TrayRedImage,
         TActiveLight::alRed,
         true,
         "",
         false},
        {"slot taken while starting",
         PlatformNt,
         {},
         TSlotOpening::Taken,
         false,
         false,
         TrayRedImage,
         TActiveLight::alRed,
         true,
         "",
         false},
        {"slots out of reach (no administrator, as the system sees it)",
         PlatformNt,
         {},
         TSlotOpening::OutOfReach,
         true,
         false,
         TrayClockImage,
         TActiveLight::alRed,
         false,
         "",
         false},
        {"platform without service",
         PlatformWin9x,
         {"TarvokService"},
         TSlotOpening::Opened,
         true,
         false,
         TrayClockImage,
         TActiveLight::alBlue,
         false,
         "Next run: 07-Dec-2026 10:16:00",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(Path("tarvok.log"));
        channel_ = {};
        channel_.Owned = row.owned;
        channel_.ClientOpening = row.clientOpening;
        prompts_ = {};
        {
            auto window = Open({.PlatformKind = row.platformKind});
            EXPECT_EQ(window->InstanceOk, row.instanceOk);
            EXPECT_EQ(window->ServiceMode, row.serviceMode);
            EXPECT_EQ(window->StateIconIndex(), row.icon);
            EXPECT_EQ(window->glSvcStatus->ActiveLight(), row.light);
            EXPECT_EQ(!window->glSvcStatus->isHidden(), row.lightShown);
            EXPECT_EQ(window->StatusPanel(1).toStdString(), row.panel1);
            EXPECT_EQ(channel_.ClientOpen, row.clientOpen);
            EXPECT_EQ(window->Timers != nullptr && window->Timers->Ticking(), row.instanceOk);
            EXPECT_EQ(window->Timers != nullptr && window->Timers->ReadsMessages(),
                      row.instanceOk && row.platformKind == 1);
            if (row.instanceOk) {
                EXPECT_EQ(window->StatusPanel(0), "Current time: 07-Dec-2026 10:15:42");
                EXPECT_TRUE(prompts_.Shown.empty());
            } else {
                EXPECT_EQ(prompts_.LastShown(), "An instance of Tarvok! (command window) is "
                                                "already running.\r\nThe program will end.");
                EXPECT_EQ(prompts_.Shown.back().Kind, TBoxKind::Warning);
            }
        }
        // The service writes the log while it runs; an instance that ends at once writes
        // nothing; the others open and close their run.
        const bool writes = row.instanceOk && !row.serviceMode;
        const std::vector<std::string> run = {"System started.", "System stopped.", "."};
        EXPECT_EQ(LogMessages(), writes ? run : std::vector<std::string>());
        EXPECT_EQ(channel_.Sent,
                  row.serviceMode ? std::vector<std::string>{"CD"} : std::vector<std::string>{});
        EXPECT_FALSE(channel_.ClientOpen) << "the slot outlived the window";
    }
}

TEST_F(MainWindowTest, CommandLineOptionsIgnoreLetterCaseAndStrangers) {
    struct Row {
        std::vector<std::string> arguments;
        bool quitOnClose;
        bool showAtStart;
    };
    const Row rows[] = {
        {{}, false, false},
        {{"-M"}, true, false},
        {{"x", "-D", "--d"}, false, true},
        {{"-d", "-m"}, true, true},
    };
    for (const Row& row : rows) {
        auto window = Open({.Arguments = row.arguments});
        EXPECT_EQ(window->QuitOnClose, row.quitOnClose) << testing::PrintToString(row.arguments);
        EXPECT_EQ(window->ShowAtStart, row.showAtStart) << testing::PrintToString(row.arguments);
    }
}

TEST_F(MainWindowTest, StartShowsHidesOrMinimisesAndConnectsOnce) {
    channel_.Owned = {"TarvokService"};
    {
        auto window = Open({.Arguments = {"-d"}});
        window->Start();
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->TrayIcon->Shown());
        window->MIFileExitClick(); // hides
        EXPECT_FALSE(window->isVisible());
        window->pmTrayOpenClick();
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(channel_.Sent, std::vector<std::string>{"CR"});
    }
    channel_.Sent.clear();
    {
        auto window = Open();
        window->Start();
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(window->TrayIcon->Shown());
        EXPECT_EQ(channel_.Sent, std::vector<std::string>{"CR"});
    }
    // Without a notification area the window is never hidden into nothing.
    tray_ = false;
    auto window = Open();
    window->Start();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->TrayIcon->Shown());
    tray_ = true; // one appears
    window->WatchTray();
    EXPECT_TRUE(window->TrayIcon->Shown());
}

TEST_F(MainWindowTest, TreeShowsEachTaskWithItsDetailsAndFindsNodesById) {
    TTaskDef backup = Task(3, "Backup");
    backup.Parameters = "--all";
    backup.WorkDir = "/srv";
    backup.Blocking = true;
    backup.Priority = 0;
    backup.Schedule.DailyEvery = 1;
    backup.Schedule.OnceAt = EncodeTime(2, 30);
    backup.Schedule.NoEnd = true;
    backup.Schedule.StartDate = EncodeDate(2026, 12, 1);
    TTaskDef copy = Task(7, "Copy [3] files");
    copy.Enabled = false;
    copy.Visible = false;
    copy.Priority = 0; // not blocking: no priority shown
    WriteTasks({copy, backup});

    auto window = Open();
    const QTreeWidgetItem* root = window->RootNode();
    ASSERT_EQ(window->TT->topLevelItemCount(), 1);
    EXPECT_EQ(root->text(0), "SCHEDULED TASKS");
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->text(0), "Copy [3] files [7]");
    EXPECT_EQ(root->child(1)->text(0), "Backup [3]");
    EXPECT_THAT(Texts(root->child(1)),
                ElementsAre("Command: /usr/bin/Backup", "Parameters: --all",
                            "Working directory: /srv", "Attributes", "Enabled: Yes",
                            "Blocking: Yes", "Visible: Yes", "Priority: High", "Schedule",
                            "Frequency: The task runs every day.",
                            "Trigger: The event will be triggered once at 02:30:00.",
                            "Duration: This task starts on 01-Dec-2026 and never ends."));
    EXPECT_THAT(Texts(root->child(0)).mid(4, 4),
                ElementsAre("Enabled: No", "Blocking: No", "Visible: No", "Priority: ---"));
    EXPECT_EQ(TFrmMain::NodeImage(root), TreeRootImage);
    EXPECT_EQ(TFrmMain::NodeImage(root->child(0)), TreeTaskImage);
    EXPECT_EQ(TFrmMain::NodeImage(root->child(1)->child(3)->child(2)), TreeDetailImage);

    // Found by the id kept with the node, whatever brackets the name holds.
    EXPECT_EQ(window->FindTaskNode(copy), root->child(0));
    EXPECT_EQ(window->FindTaskNode(backup), root->child(1));
    EXPECT_EQ(window->FindTaskNode(Task(4, "Gone")), nullptr);
    EXPECT_THAT(LogMessages(), ElementsAre("System started.", "Task list (re)loaded"));
}

TEST_F(MainWindowTest, TreeUpdatesKeepTheRunningMarkOfTheProcessTable) {
    WriteTasks({Task(1, "One"), Task(2, "Two")});
    auto window = Open();
    window->ProcessTable.Find(1)->ProcessId = 4711;
    window->SetNodeImage(window->FindTaskNode(Task(1, "One")), TreeRunningImage);

    TTaskDef three = Task(3, "Three");
    window->Tasks.AddTask(three, false);
    window->ProcessTable.Append(three);
    window->UpdateTaskTree(three, TTreeMode::Add);
    TTaskDef renamed = Task(1, "Renamed");
    window->UpdateTaskTree(renamed, TTreeMode::Refresh);

    const QTreeWidgetItem* root = window->RootNode();
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(root->child(0)->text(0), "Renamed [1]");
    EXPECT_EQ(root->child(2)->text(0), "Three [3]");
    EXPECT_EQ(TFrmMain::NodeImage(root->child(0)), TreeRunningImage);
    EXPECT_EQ(TFrmMain::NodeImage(root->child(2)), TreeTaskImage);

    window->TT->setCurrentItem(root->child(1));
    ASSERT_NE(window->SelectedNode, nullptr);
    window->Tasks.DeleteTask(Task(2, "Two"));
    window->UpdateTaskTree(Task(2, "Two"), TTreeMode::Remove);
    EXPECT_EQ(root->childCount(), 2);
    // The selection is taken again from what the tree now selects.
    ASSERT_NE(window->SelectedNode, nullptr);
    EXPECT_EQ(window->SelectedNode, root->child(window->SelectedIndex));
    EXPECT_EQ(window->SelectedTask.Id, 3);
}

TEST_F(MainWindowTest, SelectionEnablesTheTaskCommandsByMouseAndKeyboard) {
    WriteTasks({Task(5, "Five"), Task(9, "Nine")});
    auto window = Open();
    const std::vector<QAction*> commands = {
        window->pmiDelete,    window->pmiEdit,   window->pmiRun,     window->pmiProperties,
        window->MITaskDelete, window->MITaskRun, window->MITaskEdit, window->MITaskProperties};
    const auto enabled = [&] {
        return std::count_if(commands.begin(), commands.end(),
                             [](QAction* command) { return command->isEnabled(); });
    };
    window->Start();
    EXPECT_EQ(enabled(), 0);
    EXPECT_TRUE(window->MITaskNew->isEnabled());

    QTreeWidgetItem* root = window->RootNode();
    window->TT->setCurrentItem(root->child(1));
    EXPECT_EQ(enabled(), 8);
    EXPECT_EQ(window->SelectedIndex, 1);
    EXPECT_EQ(window->SelectedTask.Id, 9);
    window->TT->setCurrentItem(root->child(1)->child(3)->child(0)); // a detail line
    EXPECT_EQ(enabled(), 0);
    EXPECT_EQ(window->SelectedNode, nullptr);
    // The keyboard moves the selection as the mouse does: commands follow what is shown.
    window->TT->setFocus();
    window->TT->setCurrentItem(root->child(0));
    EXPECT_EQ(window->SelectedTask.Id, 5);
    window->TT->setCurrentItem(root);
    EXPECT_EQ(enabled(), 0);
}

TEST_F(MainWindowTest, ShutdownAsksWhatTheSituationNeeds) {
    struct Row {
        const char* what;
        bool serviceRuns;
        bool blockingRuns;
        std::vector<std::string> arguments;
        std::deque<bool> answers;
        std::vector<QString> asked;
        bool ended;
    };
    const QString blocking = "There are still active blocking tasks.\r\nQuit anyway?";
    const QString quit = "Do you really want to quit?";
    const Row rows[] = {
        {"blocking run, yes", false, true, {}, {true}, {blocking}, true},
        {"blocking run, no", false, true, {"-m"}, {false}, {blocking}, false},
        {"service follows the run", true, true, {}, {true}, {quit}, true},
        {"plain, no", false, false, {}, {false}, {quit}, false},
        {"-m asks nothing", false, false, {"-m"}, {}, {}, true},
    };
    WriteTasks({Task(1, "One")});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        channel_ = {};
        if (row.serviceRuns) {
            channel_.Owned = {"TarvokService"};
        }
        prompts_ = {};
        prompts_.Answers = row.answers;
        auto window = Open({.Arguments = row.arguments});
        window->Start();
        window->ProcessTable.Find(1)->ProcessId = row.blockingRuns ? 4711 : 0;
        int ended = 0;
        QObject::connect(window.get(), &TFrmMain::Ended, [&ended] { ++ended; });
        window->pmTrayQuitClick();
        EXPECT_EQ(prompts_.Asked, row.asked);
        EXPECT_EQ(ended, row.ended ? 1 : 0);
    }
}

TEST_F(MainWindowTest, ClosingHidesUnlessMinusMOrTheSessionEnds) {
    for (const bool quitOnClose : {false, true}) {
        auto window = Open({.Arguments = quitOnClose ? std::vector<std::string>{"-m", "-d"}
                                                     : std::vector<std::string>{"-d"}});
        window->Start();
        int ended = 0;
        QObject::connect(window.get(), &TFrmMain::Ended, [&ended] { ++ended; });
        EXPECT_EQ(window->close(), quitOnClose);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(ended, quitOnClose ? 1 : 0);
        window->EndSession();
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(prompts_.Asked.empty());
    }
}

TEST_F(MainWindowTest, TruncatingTheLogOwnOrThroughTheService) {
    for (const bool serviceRuns : {false, true}) {
        SCOPED_TRACE(serviceRuns ? "service" : "own");
        Write(Path("tarvok.log"), "07-Dec-2026 - 10:00:00 : Old line.\r\n");
        channel_ = {};
        if (serviceRuns) {
            channel_.Owned = {"TarvokService"};
        }
        auto window = Open();
        const std::vector<std::string> before = LogMessages();
        prompts_.Answers = {false, true};
        window->MILogTruncateClick(); // No
        EXPECT_EQ(LogMessages(), before);
        window->MILogTruncateClick(); // Yes
        EXPECT_EQ(prompts_.Asked.back(), "Do you really want to clear the system log?");
        if (serviceRuns) {
            // The service empties the log; until then nothing changes here.
            EXPECT_EQ(channel_.Sent, std::vector<std::string>{"LT"});
            EXPECT_EQ(LogMessages(), before);
            EXPECT_EQ(window->mMessages->count(), 1);
        } else {
            EXPECT_THAT(LogMessages(), ElementsAre("System log truncated."));
            EXPECT_EQ(window->mMessages->count(), 1);
            EXPECT_TRUE(channel_.Sent.empty());
        }
    }
}

// "&Run" and the service's messages reach the scheduler through the window, and what it
// decides shows there.
TEST_F(MainWindowTest, RunAndTheServicesMessagesGoThroughTheWindow) {
    TTaskDef task = Task(1, "One");
    task.Command = "/bin/true";
    WriteTasks({task});
    channel_.Owned = {"TarvokService"};
    auto window = Open();
    window->Start();
    window->TT->setCurrentItem(window->RootNode()->child(0));
    prompts_.Answers = {true};
    window->pmiRun->trigger();
    EXPECT_EQ(prompts_.Asked.back(), "Run task \"One\" now?");
    EXPECT_THAT(channel_.Sent, ElementsAre("CR", "TR 1"));

    channel_.Inbox = {"TS 1 4711", "SD"};
    channel_.Arrived();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !window->ServiceMode; }));
    EXPECT_EQ(TFrmMain::NodeImage(window->RootNode()->child(0)), TreeRunningImage);
    EXPECT_EQ(window->StateIconIndex(), TrayRedImage);
    EXPECT_EQ(window->glSvcStatus->ActiveLight(), TActiveLight::alRed);
    EXPECT_EQ(window->StatusPanel(1), "Next run: 07-Dec-2026 10:16:00");
}

TEST_F(MainWindowTest, ReadOnlyUserSeesEverythingAndChangesNothing) {
    Write(Path("tarvok.log"), "07-Dec-2026 - 10:00:00 : Old line.\r\n");
    WriteTasks({Task(1, "One")});
    auto window = Open({.Administrator = false});
    ASSERT_EQ(prompts_.Shown.size(), 1u);
    EXPECT_EQ(prompts_.Shown[0].Kind, TBoxKind::Warning);
    EXPECT_THAT(prompts_.Shown[0].Text.toStdString(), testing::HasSubstr("group \"tarvok\""));
    window->Start();
    EXPECT_EQ(window->RootNode()->childCount(), 1);
    EXPECT_EQ(window->mMessages->item(1)->text().section(" : ", 1), "System started.");

    prompts_.Answers = {true, true};
    window->MILogTruncateClick();
    EXPECT_TRUE(window->RefuseTaskChange());
    EXPECT_TRUE(prompts_.Asked.empty());
    ASSERT_EQ(prompts_.Shown.size(), 3u);
    EXPECT_EQ(prompts_.Shown[1].Kind, TBoxKind::Error);
    EXPECT_EQ(prompts_.Shown[1].Text, prompts_.Shown[2].Text);
    EXPECT_FALSE(window->SendToService("TN 1"));
    EXPECT_TRUE(channel_.Sent.empty());
    window.reset();
    EXPECT_THAT(LogMessages(), ElementsAre("Old line."));
}

TEST_F(MainWindowTest, UnreadableTaskFileStartsEmptyRefusesChangesUntilItIsRead) {
    Write(Path("tarvok.tsk"), std::string(TaskDefSize + 10, '\0'));
    auto window = Open();
    ASSERT_EQ(prompts_.Shown.size(), 1u);
    EXPECT_EQ(prompts_.Shown[0].Kind, TBoxKind::Error);
    EXPECT_THAT(prompts_.Shown[0].Text.toStdString(),
                testing::StartsWith("The task file could not be read: " + Path("tarvok.tsk")));
    EXPECT_EQ(LogMessages().back(), prompts_.Shown[0].Text.toStdString());
    EXPECT_EQ(window->RootNode()->childCount(), 0);
    EXPECT_EQ(window->Tasks.Count(), 0u);
    EXPECT_TRUE(window->Timers->Ticking());
    EXPECT_TRUE(window->RefuseTaskChange());
    EXPECT_THAT(prompts_.LastShown().toStdString(),
                testing::StartsWith("The task file could not be read, so tasks cannot be "
                                    "changed until it can:"));

    WriteTasks({Task(1, "One"), Task(2, "Two")});
    EXPECT_TRUE(ProcessEventsUntil([&] { return !window->TasksUnreadable(); }));
    EXPECT_EQ(window->RootNode()->childCount(), 2);
    EXPECT_EQ(window->ProcessTable.Count(), 2u);
    EXPECT_FALSE(window->RefuseTaskChange());
}

// tarvokctl (or the service) saved the task list: the window shows it, keeps the runs it follows
// and keeps the selection on its task while that task is there.
TEST_F(MainWindowTest, ATaskFileSavedElsewhereIsShownWithTheSelectionKept) {
    WriteTasks({Task(1, "One"), Task(2, "Two"), Task(3, "Three")});
    auto window = Open();
    window->ProcessTable.Find(2)->ProcessId = 4711;
    window->TT->setCurrentItem(window->RootNode()->child(1));
    ASSERT_EQ(window->SelectedTask.Id, 2);
    const auto loads = [this] {
        const std::vector<std::string> messages = LogMessages();
        return std::count(messages.begin(), messages.end(), "Task list (re)loaded");
    };

    WriteTasks({Task(4, "Four"), Task(2, "Renamed"), Task(3, "Three")});
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return window->RootNode()->child(0)->text(0) == "Four [4]"; }));
    EXPECT_EQ(window->RootNode()->childCount(), 3);
    EXPECT_EQ(window->RootNode()->child(1)->text(0), "Renamed [2]");
    EXPECT_EQ(window->SelectedIndex, 1);
    EXPECT_EQ(window->SelectedTask.Name, "Renamed");
    EXPECT_TRUE(window->RootNode()->child(1)->isSelected());
    EXPECT_EQ(window->ProcessTable.Find(2)->ProcessId, 4711u);
    EXPECT_EQ(TFrmMain::NodeImage(window->RootNode()->child(1)), TreeRunningImage);
    EXPECT_EQ(loads(), 2);

    WriteTasks({Task(4, "Four"), Task(3, "Three")});
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->RootNode()->childCount() == 2; }));
    EXPECT_EQ(window->SelectedNode, nullptr) << "its task is gone";
    EXPECT_EQ(window->ProcessTable.Find(2), nullptr);
    EXPECT_EQ(loads(), 3);

    std::filesystem::remove(Path("tarvok.tsk")); // the last task deleted elsewhere
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->RootNode()->childCount() == 0; }));
    EXPECT_EQ(window->Tasks.Count(), 0u);
    EXPECT_FALSE(window->RefuseTaskChange());
}

TEST_F(MainWindowTest, LegacyFileIsUpgradedOnceOrRefusedWhole) {
    const std::string legacy = "Tarvok 1.0.0.26\r\n"
                               ">Old job\r\n\t\tCommand: /bin/true\r\n\t\tDirectory: /tmp\r\n"
                               "x\r\n\t\tEnabled: YES\r\n\t\tBlocking: no\r\n\t\tVisible: yes\r\n"
                               "x\r\nx\r\nx\r\nx\r\n";
    Write(Path("tarvok.crn"), legacy);
    {
        auto window = Open();
        ASSERT_EQ(prompts_.Shown.size(), 1u);
        EXPECT_EQ(prompts_.LastShown(),
                  "Tarvok task files have been upgraded.\r\nPlease have a look at the system log.");
        EXPECT_EQ(window->RootNode()->child(0)->text(0), "Old job [1]");
        EXPECT_THAT(LogMessages(),
                    ElementsAre("System started.", "Upgrading the cron file 1.0.0.26 --> 1.0.0.29",
                                "Upgrading the cron file 1.0.0.29 --> 2.0.0.xx",
                                "The OLD cron file has been saved as TARVOK.CRO",
                                "YOU MUST EDIT THE SCHEDULES OF THE TASKS!",
                                "Task list (re)loaded"));
        EXPECT_FALSE(std::filesystem::exists(Path("tarvok.crn")));
        EXPECT_THAT(Read(Path("tarvok.cro")), testing::HasSubstr("\t\tParameters: \r\n"));
    }

    // An old file that cannot be read leaves tasks unchangeable: a saved task would make the
    // task file, and the old tasks would never be taken over.
    std::filesystem::remove(Path("tarvok.tsk"));
    Write(Path("elsewhere.crn"), legacy);
    std::filesystem::create_symlink(Path("elsewhere.crn"), Path("tarvok.crn"));
    prompts_ = {};
    auto window = Open();
    EXPECT_THAT(prompts_.LastShown().toStdString(),
                testing::StartsWith("The task file could not be read: " + Path("tarvok.crn")));
    EXPECT_FALSE(std::filesystem::exists(Path("tarvok.tsk")));
    EXPECT_TRUE(window->RefuseTaskChange());
}

TEST_F(MainWindowTest, AboutBoxAndLogViewerOpenOnceWithTheirEntriesDisabled) {
    Write(Path("tarvok.log"), "07-Dec-2026 - 10:00:00 : Old line.\r\n");
    auto window = Open();
    EXPECT_EQ(window->windowTitle().section(" - ", 0, 0),
              QStringLiteral("Tarvok! [%1]").arg(PROJECT_VERSION));

    struct TSeen {
        QString Caption;
        QStringList Texts;
        std::vector<bool> Enabled;
    } seen;
    const auto inspect = [&seen](std::vector<QAction*> entries) {
        QTimer::singleShot(0, [&seen, entries] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            seen.Caption = dialog->windowTitle();
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                seen.Texts << label->text();
            }
            for (QAction* entry : entries) {
                seen.Enabled.push_back(entry->isEnabled());
            }
            dialog->close();
        });
    };
    inspect({window->miHelpAbout, window->pmTrayAbout});
    window->ShowAboutBox();
    EXPECT_EQ(seen.Caption, "About Tarvok!");
    EXPECT_TRUE(seen.Texts.contains("Tarvok!"));
    EXPECT_TRUE(seen.Texts.contains(QStringLiteral("Version %1").arg(PROJECT_VERSION)));
    EXPECT_THAT(seen.Enabled, ElementsAre(false, false));
    EXPECT_TRUE(window->miHelpAbout->isEnabled() && window->pmTrayAbout->isEnabled());

    seen = {};
    inspect({window->MILogView, window->pmTrayViewLog});
    window->ShowLogViewer();
    EXPECT_EQ(seen.Caption, QString::fromStdString("Tarvok log (" + Path("tarvok.log") + ")"));
    EXPECT_THAT(seen.Enabled, ElementsAre(false, false));
    EXPECT_TRUE(window->MILogView->isEnabled() && window->pmTrayViewLog->isEnabled());
}

TEST_F(MainWindowTest, HelpNeedsBothFilesAndShowsTheContents) {
    auto window = Open();
    std::filesystem::copy_file(HELP_DIR "/tarvok.hlp", Path("tarvok.hlp"));
    window->Contents1Click(); // no contents file
    EXPECT_EQ(prompts_.LastShown(), "Help file and/or Content file missing.");
    EXPECT_EQ(window->HelpWindow(), nullptr);

    std::filesystem::copy_file(HELP_DIR "/tarvok.cnt", Path("tarvok.cnt"));
    window->Contents1Click();
    ASSERT_NE(window->HelpWindow(), nullptr);
    EXPECT_TRUE(window->HelpWindow()->isVisible());
    EXPECT_EQ(window->HelpWindow()->windowTitle(), "Tarvok help");
    EXPECT_EQ(prompts_.Shown.size(), 1u);
}

} // namespace
} // namespace tarvok
