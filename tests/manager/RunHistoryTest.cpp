#include "manager/RunHist.h"
#include "manager/RunTexts.h"
#include "manager/SysIcon.h"
#include "manager/TaskProp.h"
#include "tests/manager/MainWindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing_support::MainWindowTest;
using testing_support::Task;

const TDateTime Day = EncodeDate(2026, 12, 7);

TRunRecord Ran(std::int32_t taskId, const std::string& name, int minute, double seconds,
               TRunEnd end, std::int32_t code, TRunOrigin origin = TRunOrigin::Minute) {
    const TDateTime started = Day + EncodeTime(10, minute, 0);
    return {.Started = started,
            .Ended = started + seconds / 86'400.0,
            .TaskId = taskId,
            .TaskName = name,
            .ProcessId = end == TRunEnd::NotStarted ? 0u : 1000u + static_cast<unsigned>(minute),
            .End = end,
            .Code = code,
            .Origin = origin};
}

class RunHistoryTest : public MainWindowTest {
protected:
    void WriteRuns(const std::vector<TRunRecord>& runs) {
        std::string text;
        for (const TRunRecord& run : runs) {
            text += FormatRunLine(run) + "\n";
        }
        Write(Path("tarvok.runs"), text);
    }

    static QStringList Column(const QTreeWidget& list, int column) {
        QStringList texts;
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            texts << list.topLevelItem(i)->text(column);
        }
        return texts;
    }

    static std::vector<bool> Marked(const QTreeWidget& list) {
        std::vector<bool> marked;
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            marked.push_back(list.topLevelItem(i)->foreground(TFrmRunHistory::ColResult).color() ==
                             TFrmRunHistory::FailureColour);
        }
        return marked;
    }

    // The texts of the properties' "Last runs", row by row.
    QStringList LastRunsShown(TFrmMain& window, int position) {
        window.TT->setCurrentItem(window.RootNode()->child(position));
        QStringList shown;
        prompts_.OnRun = [&shown](QDialog& dialog) {
            auto& properties = dynamic_cast<TDlgTaskProps&>(dialog);
            properties.FormShow();
            for (int row = 0; row < properties.grRuns->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < properties.grRuns->columnCount(); ++column) {
                    if (QLayoutItem* item = properties.grRuns->itemAtPosition(row, column)) {
                        cells << dynamic_cast<QLabel*>(item->widget())->text();
                    }
                }
                shown << cells.join(u'|');
            }
            return QDialog::Rejected;
        };
        window.MITaskProperties->trigger();
        return shown;
    }
};

// Backup [1] ran six times, Mail [2] twice, in turn; the list shows them newest first.
TEST_F(RunHistoryTest, ListsNewestFirstMarksFailuresFiltersAndFeedsTheProperties) {
    WriteTasks({Task(1, "Backup"), Task(2, "Mail"), Task(3, "Idle")});
    WriteRuns({Ran(1, "Backup", 0, 4.1, TRunEnd::Exited, 0),
               Ran(2, "Mail", 1, 59.96, TRunEnd::Exited, 0, TRunOrigin::User),
               Ran(1, "Backup", 2, 3599.4, TRunEnd::Exited, 2),
               Ran(1, "Backup", 3, 3600, TRunEnd::Signalled, 9, TRunOrigin::Request),
               Ran(2, "Mail", 4, 0.3, TRunEnd::Exited, 1),
               Ran(1, "Backup", 5, 0, TRunEnd::NotStarted, 0),
               Ran(1, "Nightly backup", 6, 12, TRunEnd::Exited, 0),
               Ran(1, "Nightly backup", 7, 65.4, TRunEnd::Exited, 0)});
    auto window = Open();
    window->MILogHistory->trigger();
    TFrmRunHistory* history = window->RunHistory();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());

    struct TRow {
        const char* Started;
        const char* Task;
        const char* Duration;
        const char* Result;
        const char* Origin;
        bool Failed;
    };
    const TRow rows[] = {
        {"07-Dec-2026 10:07:00", "Nightly backup [1]", "1 min 05 s", "ok", "schedule", false},
        {"07-Dec-2026 10:06:00", "Nightly backup [1]", "12.0 s", "ok", "schedule", false},
        {"07-Dec-2026 10:05:00", "Backup [1]", "", "not started", "schedule", true},
        {"07-Dec-2026 10:04:00", "Mail [2]", "0.3 s", "exit code 1", "schedule", true},
        {"07-Dec-2026 10:03:00", "Backup [1]", "1 h 00 min", "signal SIGKILL",
         "user, through the service", true},
        {"07-Dec-2026 10:02:00", "Backup [1]", "59 min 59 s", "exit code 2", "schedule", true},
        {"07-Dec-2026 10:01:00", "Mail [2]", "1 min 00 s", "ok", "user", false},
        {"07-Dec-2026 10:00:00", "Backup [1]", "4.1 s", "ok", "schedule", false},
    };
    QStringList started, tasks, durations, results, origins;
    std::vector<bool> failed;
    for (const TRow& row : rows) {
        started << row.Started;
        tasks << row.Task;
        durations << row.Duration;
        results << row.Result;
        origins << row.Origin;
        failed.push_back(row.Failed);
    }
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColStarted), started);
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColTask), tasks);
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColDuration), durations);
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColResult), results);
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColOrigin), origins);
    EXPECT_EQ(Marked(*history->lvRuns), failed);

    // The filter names each task by its newest run; choosing one lists its runs alone.
    QStringList entries;
    for (int i = 0; i < history->cbTask->count(); ++i) {
        entries << history->cbTask->itemText(i);
    }
    EXPECT_EQ(entries, QStringList({"All tasks", "Nightly backup [1]", "Mail [2]"}));
    history->cbTask->setCurrentIndex(2);
    emit history->cbTask->activated(2);
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColStarted),
              QStringList({"07-Dec-2026 10:04:00", "07-Dec-2026 10:01:00"}));

    // A failure notification's click shows that task's runs.
    history->close();
    window->NotifyRunFailed(1, QStringLiteral("Backup failed (exit code 2)"));
    emit window->TrayIcon->MessageClicked();
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->ShownTask(), 1);
    EXPECT_EQ(history->lvRuns->currentItem(), history->lvRuns->topLevelItem(0));
    EXPECT_EQ(Column(*history->lvRuns, TFrmRunHistory::ColStarted),
              started.mid(0, 3) + started.mid(4, 2) + started.mid(7, 1));

    // The properties show the task's last five runs, or none.
    EXPECT_THAT(LastRunsShown(*window, 0),
                ElementsAre("Started|Duration|Result", "07-Dec-2026 10:07:00|1 min 05 s|ok",
                            "07-Dec-2026 10:06:00|12.0 s|ok", "07-Dec-2026 10:05:00||not started",
                            "07-Dec-2026 10:03:00|1 h 00 min|signal SIGKILL",
                            "07-Dec-2026 10:02:00|59 min 59 s|exit code 2"));
    EXPECT_THAT(LastRunsShown(*window, 2), ElementsAre("No runs recorded."));

    // A run added while the window is open is listed.
    history->ShowTask(0);
    TRunLedger(Path("tarvok.runs"), TRunLedger::TRead::Plain)
        .Append(std::vector{Ran(3, "Idle", 8, 1, TRunEnd::Exited, 0)});
    EXPECT_TRUE(ProcessEventsUntil([&] { return history->lvRuns->topLevelItemCount() == 9; }));
    EXPECT_EQ(history->lvRuns->topLevelItem(0)->text(TFrmRunHistory::ColTask), "Idle [3]");
}

TEST_F(RunHistoryTest, ShowsTheSelectedRunsOutputOrWhyNot) {
    WriteRuns(
        {Ran(1, "Backup", 0, 4.1, TRunEnd::Exited, 0), Ran(1, "Backup", 1, 2, TRunEnd::Exited, 3)});
    readOutput_ = [](const TRunRecord& run) -> platform::TJournalText {
        if (run.Code == 3) {
            return {.Reason = "No journal files were found."};
        }
        return {.Available = true, .Text = "copied 12 files\n"};
    };
    // Anyone may look: a user who is no administrator is refused nothing here.
    auto window = Open({.Administrator = false});
    const std::size_t boxes = prompts_.Shown.size();
    window->pmTrayRunHistory->trigger();
    EXPECT_EQ(prompts_.Shown.size(), boxes);
    TFrmRunHistory& history = *window->RunHistory();
    const struct {
        int Row;
        QString Shown;
    } rows[] = {
        {1, "copied 12 files\n"},
        {0, "Output is not available: No journal files were found."},
    };
    for (const auto& row : rows) {
        history.lvRuns->setCurrentItem(history.lvRuns->topLevelItem(row.Row));
        EXPECT_TRUE(ProcessEventsUntil([&] {
            return history.moOutput->toPlainText() == row.Shown;
        })) << history.moOutput->toPlainText().toStdString();
    }
}

TEST(RunOutputQuery, CoversTheRunsWholeSecondsInLocalTime) {
    const struct {
        TDateTime Started;
        TDateTime Ended;
        const char* Since;
        const char* Until;
    } rows[] = {
        {Day + EncodeTime(12, 30, 0, 4), Day + EncodeTime(12, 30, 4, 112), "2026-12-07 12:30:00",
         "2026-12-07 12:30:06"},
        {Day + EncodeTime(23, 59, 58, 999), Day + EncodeTime(23, 59, 59, 500),
         "2026-12-07 23:59:58", "2026-12-08 00:00:01"},
    };
    for (const auto& row : rows) {
        TRunRecord run;
        run.Started = row.Started;
        run.Ended = row.Ended;
        run.TaskId = 7;
        const platform::TJournalQuery query = RunOutputQuery(run);
        EXPECT_EQ(query.Tag, "tarvok-task-7");
        EXPECT_EQ(query.Since, row.Since);
        EXPECT_EQ(query.Until, row.Until);
    }
}

} // namespace
} // namespace tarvok
