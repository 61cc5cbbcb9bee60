#include "manager/Edit.h"

#include "manager/NextRunsView.h"
#include "manager/SchedEd.h"
#include "manager/TaskProp.h"
#include "manager/Texts.h"
#include "manager/UncDirs.h"
#include "tests/manager/EditorFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing_support::EditorTest;
namespace fs = std::filesystem;

std::string Repeat(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TTaskDef Existing(std::int32_t id, bool blocking, std::uint8_t priority) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = "Backup";
    task.Command = "/usr/bin/backup";
    task.Blocking = blocking;
    task.Priority = priority;
    return task;
}

class EditTest : public EditorTest {
protected:
    TDlgEdit editor{prompts, clock, paths};
};

TEST_F(EditTest, CaptionAndOkFollowTheNameAndTheCommand) {
    const struct {
        std::int32_t id;
        const char* name;
        const char* command;
        const char* caption;
        bool complete;
    } rows[] = {
        {0, "", "", "Insert a new task", false},
        {0, " \t", "/bin/true", " \t", false},
        {0, "Backup", "", "Backup", false},
        {0, "Backup", "\x01 ", "Backup", false},
        {0, "Backup", "/bin/true", "Backup", true},
        {7, "Backup", "/bin/true", "Backup [7]", true},
        {7, "50%2 off", "/bin/true", "50%2 off [7]", true},
        {7, "", "/bin/true", " [7]", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name + std::string("|") + row.command);
        editor.Task = TTaskDef::New();
        editor.Task.Id = row.id;
        editor.FormShow();
        editor.edTaskName->setText(row.name);
        editor.edCommand->setText(row.command);
        EXPECT_EQ(editor.windowTitle(), row.caption);
        EXPECT_EQ(editor.btOk->isEnabled(), row.complete);
        EXPECT_EQ(editor.btSchedule->isEnabled(), row.complete);
    }
}

// A task that is not blocking is shown and stored as Normal; a blocking one keeps its priority,
// and a code without a name is kept under the list's own selection.
TEST_F(EditTest, PriorityListMapsToCodes) {
    const struct {
        bool blocking;
        std::uint8_t stored;
        const char* shown;
        std::uint8_t saved;
    } rows[] = {
        {false, 0, "Normal", 2}, {true, 0, "High", 0},   {true, 1, "Real Time", 1},
        {true, 3, "Low", 3},     {true, 9, "Normal", 9},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        TDlgEdit dialog(prompts, clock, paths);
        dialog.Task = Existing(3, row.blocking, row.stored);
        dialog.FormShow();
        EXPECT_EQ(dialog.cbxPriority->currentText(), row.shown);
        dialog.accept();
        EXPECT_EQ(dialog.Task.Priority, row.saved);
    }
    QStringList items;
    for (int position = 0; position < editor.cbxPriority->count(); ++position) {
        items << editor.cbxPriority->itemText(position);
    }
    EXPECT_EQ(items, QStringList({"Real Time", "High", "Normal", "Low"}));
    const std::uint8_t codes[] = {1, 0, 2, 3, 2, 2};
    const int positions[] = {0, 1, 2, 3, 4, -1};
    for (std::size_t i = 0; i < std::size(codes); ++i) {
        editor.cbxPriorityChange(positions[i]);
        EXPECT_EQ(editor.Task.Priority, codes[i]) << "position " << positions[i];
    }
}

// Texts are cut at 100 bytes, never inside a character; a text another writer cut inside one
// shows with a replacement character.
TEST_F(EditTest, TextsAreCutAtCharacterBoundaries) {
    const struct {
        std::string text;
        std::string stored;
    } rows[] = {
        {Repeat("a", 150), Repeat("a", 100)},
        {Repeat("\u00e9", 60), Repeat("\u00e9", 50)},
        {"xx" + Repeat("\u20ac", 40), "xx" + Repeat("\u20ac", 32)},
        {"x" + Repeat("\U0001F600", 30), "x" + Repeat("\U0001F600", 24)},
        {"short", "short"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CutUtf8(row.text, TaskTextMax), row.stored) << row.text;
    }

    editor.Task = Existing(3, false, 2);
    editor.Task.Parameters = "caf\xC3";
    editor.FormShow();
    EXPECT_EQ(editor.edParameters->text(), QStringLiteral("caf\uFFFD"));
    editor.edTaskName->setText(QString::fromStdString(Repeat("\u00e9", 60)));
    editor.reject();
    EXPECT_EQ(editor.Task.Name, Repeat("\u00e9", 50));
    EXPECT_EQ(editor.Task.Parameters, "caf\uFFFD");
}

TEST_F(EditTest, CommandBrowseTakesOnlyAProgramAndStoresItsNetworkForm) {
    const std::string program = MakeFile("share/tools/run.sh", fs::perms::owner_all);
    const std::string notProgram = MakeFile("notes.txt", fs::perms::owner_read);
    editor.Task = Existing(3, false, 2);
    editor.FormShow();

    prompts.ChosenFiles = {QString::fromStdString(notProgram), QString::fromStdString(program),
                           std::nullopt};
    editor.btCommandClick();
    EXPECT_EQ(editor.edCommand->text(), "/usr/bin/backup");
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_TRUE(prompts.LastShown().contains(QString::fromStdString(notProgram)));

    editor.btCommandClick();
    EXPECT_EQ(editor.edCommand->text(), "//fs1/sales/tools/run.sh");

    editor.btCommandClick(); // cancelled
    EXPECT_EQ(editor.edCommand->text(), "//fs1/sales/tools/run.sh");
    ASSERT_EQ(prompts.OpenRequests.size(), 3u);
    EXPECT_EQ(prompts.OpenRequests[0].StartDirectory, "/usr/bin/");
    EXPECT_EQ(prompts.OpenRequests[2].StartDirectory, QString::fromStdString(Path("share/tools")))
        << "the dialog starts where the share is mounted";
}

TEST_F(EditTest, WorkingDirectoryFallsBackToTheCommandsDirectory) {
    editor.Task = Existing(3, false, 2);
    editor.Task.Command = "//fs1/sales/tools/run.sh";
    editor.FormShow();

    editor.btDirClick(); // chooser cancelled
    EXPECT_EQ(editor.edWorkDir->text(), "//fs1/sales/tools/");

    prompts.OnRun = [&](QDialog& dialog) {
        auto& chooser = dynamic_cast<TDlgDirSelect&>(dialog);
        chooser.FormShow();
        EXPECT_TRUE(chooser.rbUNC->isChecked()) << "a network start opens in network mode";
        EXPECT_EQ(chooser.edPath->text(), "//fs1/sales/tools");
        chooser.btOkClick();
        return chooser.result();
    };
    editor.btDirClick();
    EXPECT_EQ(editor.edWorkDir->text(), "//fs1/sales/tools");

    editor.btClearWDirClick();
    editor.accept();
    EXPECT_EQ(editor.Task.WorkDir, "");
}

TEST_F(EditTest, ScheduleButtonTakesTheEditedScheduleOnlyOnOk) {
    editor.Task = Existing(3, false, 2);
    editor.FormShow();
    EXPECT_EQ(editor.memSchedule->toPlainText(),
              "No frequency yet defined!\nNo trigger yet defined!\nNo duration yet defined!");

    editor.btScheduleClick(); // cancelled
    EXPECT_EQ(editor.Task.Schedule, TScheDef{});

    editor.edTaskName->setText("Nightly");
    prompts.OnRun = [&](QDialog& dialog) {
        auto& schedule = dynamic_cast<TDlgTaskEd&>(dialog);
        schedule.FormShow();
        EXPECT_EQ(schedule.windowTitle(), "Schedule Editor [Nightly]");
        schedule.pgcOcc->setCurrentIndex(1);
        schedule.cbWDay[2]->setChecked(true);
        schedule.btOkClick();
        return schedule.result();
    };
    editor.btScheduleClick();
    EXPECT_EQ(editor.Task.Schedule.Frequency, TFrequency::Weekly);
    EXPECT_EQ(editor.Task.Schedule.WeekDays, 4);
    EXPECT_TRUE(editor.memSchedule->toPlainText().startsWith("The task runs every week on "
                                                             "Wednesday. \n"));
}

// The next start follows the clock the dialog is given (10 March 2026, 12:34).
TEST_F(EditTest, PropertiesShowTheTaskAndItsRun) {
    TScheDef daily;
    daily.DailyEvery = 1;
    daily.OnceAt = EncodeTime(13, 0);
    daily.NoEnd = true;
    daily.StartDate = EncodeDate(2026, 3, 1);
    const struct {
        std::uint8_t priority;
        std::uint32_t processId;
        const char* priorityName;
        bool running;
        const char* processText;
        bool enabled;
        TScheDef schedule;
        const char* nextStart;
    } rows[] = {
        {2, 0, "Normal", false, "", true, {}, "No schedule defined."},
        {1, 4711, "Realtime", true, "4711", true, daily, "Tue 10-Mar-2026 13:00:00"},
        {9, 0, "", false, "", false, daily, "None: the task is disabled."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.priorityName);
        TDlgTaskProps properties(clock);
        properties.Task = Existing(12, true, row.priority);
        properties.Task.Name = "Caf\xC3";
        properties.Task.Enabled = row.enabled;
        properties.Task.Schedule = row.schedule;
        properties.RunState = {"Caf", 12, row.processId};
        properties.FormShow();
        EXPECT_EQ(properties.lbNextRuns->text().split(u'\n').first(), row.nextStart);
        EXPECT_EQ(properties.edTID->text(), "12");
        EXPECT_EQ(properties.edName->text(), QStringLiteral("Caf\uFFFD"));
        EXPECT_EQ(properties.edPriority->text(), row.priorityName);
        EXPECT_EQ(properties.cbRunning->isChecked(), row.running);
        EXPECT_EQ(properties.edProcID->text(), row.processText);
        EXPECT_TRUE(properties.cbBlocking->isChecked());
    }
}

} // namespace
} // namespace tarvok
