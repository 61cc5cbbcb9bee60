#include "manager/SchedEd.h"

#include "manager/CountBox.h"
#include "manager/NextRunsView.h"
#include "tests/manager/EditorFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing_support::EditorTest;

QDate Day(int year, int month, int day) {
    return QDate(year, month, day);
}

class SchedEdTest : public EditorTest {
protected:
    // Shows the schedule as the task editor does before each showing.
    void Show(const TScheDef& schedule) {
        editor.Schedule = schedule;
        editor.TaskName = QStringLiteral("Backup");
        editor.FormShow();
    }

    std::vector<std::string> Description(const TScheDef& schedule) const {
        std::vector<std::string> lines;
        DescribeSchedule(schedule, lines);
        return lines;
    }

    TDlgTaskEd editor{prompts, clock};
};

TScheDef Duration(TScheDef s, TDateTime start, std::optional<TDateTime> end) {
    s.StartDate = start;
    s.NoEnd = !end.has_value();
    s.EndDate = end.value_or(0);
    return s;
}

// Every form goes through the editor and comes back as it was, on one editor instance so that
// what an earlier showing left in the controls cannot leak into a later one. A record without an
// end gets today's date as its end date, as every record the editor stores does.
TEST_F(SchedEdTest, EveryScheduleFormRoundTrips) {
    TScheDef daily;
    daily.DailyEvery = 3;
    daily.OnceAt = EncodeTime(8, 30);

    TScheDef weekly;
    weekly.Frequency = TFrequency::Weekly;
    weekly.WeeklyEvery = 2;
    weekly.WeekDays = 0b0010001; // Monday and Friday
    weekly.Trigger = TTrigger::Periodic;
    weekly.EveryCount = 30;
    weekly.EveryUnit = TEveryUnit::Minutes;
    weekly.BetweenStart = EncodeTime(9, 0);
    weekly.BetweenEnd = EncodeTime(17, 0);

    TScheDef byDay;
    byDay.Frequency = TFrequency::Monthly;
    byDay.MonthDay = 15;
    byDay.MonthlyEvery = 3;
    byDay.OnceAt = EncodeTime(23, 59);

    TScheDef lastFriday;
    lastFriday.Frequency = TFrequency::Monthly;
    lastFriday.ByWeekDay = true;
    lastFriday.Occurrence = OccurrenceLast;
    lastFriday.OccWeekDay = 4;
    lastFriday.OccMonthlyEvery = 2;
    lastFriday.Trigger = TTrigger::Periodic;
    lastFriday.EveryCount = 2;
    lastFriday.BetweenStart = EncodeTime(8, 0);
    lastFriday.BetweenEnd = EncodeTime(20, 0);

    TScheDef secondSunday = lastFriday;
    secondSunday.Occurrence = 1;
    secondSunday.OccWeekDay = 6;
    secondSunday.Trigger = TTrigger::Once;
    secondSunday.EveryCount = 0;
    secondSunday.EveryUnit = TEveryUnit::Hours;
    secondSunday.BetweenStart = secondSunday.BetweenEnd = 0;
    secondSunday.OnceAt = EncodeTime(6, 5);

    const TDateTime today = EncodeDate(2026, 3, 10);
    const struct {
        const char* name;
        TScheDef schedule;
        TScheDef expected;
    } rows[] = {
        {"daily, no end", Duration(daily, EncodeDate(2026, 3, 1), {}),
         Duration(daily, EncodeDate(2026, 3, 1), today)},
        {"weekly, periodic, ends",
         Duration(weekly, EncodeDate(2026, 3, 2), EncodeDate(2026, 6, 30)),
         Duration(weekly, EncodeDate(2026, 3, 2), EncodeDate(2026, 6, 30))},
        {"monthly by day, one day",
         Duration(byDay, EncodeDate(2026, 4, 15), EncodeDate(2026, 4, 15)),
         Duration(byDay, EncodeDate(2026, 4, 15), EncodeDate(2026, 4, 15))},
        {"last Friday, no end", Duration(lastFriday, EncodeDate(2026, 1, 1), {}),
         Duration(lastFriday, EncodeDate(2026, 1, 1), today)},
        {"second Sunday, ends",
         Duration(secondSunday, EncodeDate(2025, 12, 31), EncodeDate(2027, 1, 1)),
         Duration(secondSunday, EncodeDate(2025, 12, 31), EncodeDate(2027, 1, 1))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TScheDef expected = row.expected;
        expected.NoEnd = row.schedule.NoEnd;
        Show(row.schedule);
        editor.btOkClick();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        EXPECT_EQ(editor.Schedule, expected);
        EXPECT_EQ(Description(editor.Schedule), Description(row.schedule));
    }
    EXPECT_TRUE(prompts.Shown.empty()) << prompts.LastShown().toStdString();
}

TEST_F(SchedEdTest, UndefinedScheduleShowsDailyOnceAtMidnightAndKeepsTheDuration) {
    TScheDef weekly;
    weekly.Frequency = TFrequency::Weekly;
    weekly.WeeklyEvery = 4;
    weekly.WeekDays = 0b1000000;
    weekly.Trigger = TTrigger::Periodic;
    weekly.EveryCount = 5;
    weekly.BetweenEnd = EncodeTime(10, 0);
    Show(Duration(weekly, EncodeDate(2026, 2, 1), EncodeDate(2026, 2, 28)));

    Show(TScheDef{});
    EXPECT_EQ(editor.pgcOcc->currentIndex(), 0);
    EXPECT_EQ(editor.edDDays->Text(), "1");
    EXPECT_TRUE(editor.rbOneShot->isChecked());
    EXPECT_FALSE(editor.edOTime->isEnabled());
    EXPECT_EQ(editor.dtpOOneShot->time(), QTime(0, 0));
    EXPECT_EQ(editor.windowTitle(), "Schedule Editor [Backup]");
    editor.btOkClick();

    TScheDef expected;
    expected.DailyEvery = 1;
    expected = Duration(expected, EncodeDate(2026, 2, 1), EncodeDate(2026, 2, 28));
    EXPECT_EQ(editor.Schedule, expected);
}

// The boxes take digits only, 0 included; an empty box or a week without a day is refused with
// a box, and the record and the dialog stay as they were. The next runs follow each change
// (the clock says 10 March 2026, 12:34).
TEST_F(SchedEdTest, CountBoxesAndWeekDaysAreCheckedBeforeTheRecordIsTouched) {
    TScheDef shown;
    shown.DailyEvery = 2;
    shown = Duration(shown, EncodeDate(2026, 3, 1), {});
    Show(shown);
    const auto firstRun = [&] { return editor.lbNextRuns->text().split(u'\n').first(); };
    EXPECT_EQ(firstRun(), "Wed 11-Mar-2026 00:00:00");

    editor.edDDays->SetText(QString());
    QTest::keyClicks(editor.edDDays, QStringLiteral("a0b"));
    EXPECT_EQ(editor.edDDays->Text(), "0");

    editor.edDDays->SetText(QString());
    EXPECT_EQ(firstRun(), "No preview: a number is missing.");
    editor.btOkClick();
    EXPECT_EQ(prompts.LastShown(), "Please enter a number in \"Every ... day(s)\".");
    EXPECT_NE(editor.result(), QDialog::Accepted);

    editor.pgcOcc->setCurrentIndex(1);
    editor.edWWeeks->SetValue(1);
    for (QCheckBox* day : editor.cbWDay) {
        day->setChecked(false);
    }
    EXPECT_EQ(firstRun(), "No start within 10 years.");
    editor.cbWDay[4]->setChecked(true);
    EXPECT_EQ(firstRun(), "Fri 13-Mar-2026 00:00:00");
    editor.cbWDay[4]->setChecked(false);
    editor.btOkClick();
    EXPECT_EQ(prompts.LastShown(), "You must specify at least one week day!");
    EXPECT_EQ(editor.Schedule, shown) << "a refused OK changed the record";

    editor.rbMultiShot->setChecked(true);
    editor.edOTime->SetText(QString());
    editor.btOkClick();
    EXPECT_EQ(prompts.LastShown(), "Please enter a number in \"Occurs every\".");

    editor.edOTime->SetValue(0);
    editor.cbWDay[0]->setChecked(true);
    editor.cbWDay[4]->setChecked(true);
    editor.btOkClick();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(editor.Schedule.WeekDays, 17);
    EXPECT_EQ(editor.Schedule.EveryCount, 0);
}

TEST_F(SchedEdTest, CancelGivesBackTheRecordAsShown) {
    Show(TScheDef{});
    editor.btCancelClick();
    EXPECT_EQ(editor.Schedule, TScheDef{}) << "the cleared record shown must not stay";

    TScheDef shown;
    shown.DailyEvery = 5;
    shown = Duration(shown, EncodeDate(2026, 3, 3), EncodeDate(2026, 3, 9));
    Show(shown);
    editor.edDDays->SetText(QString());
    editor.btOkClick();
    editor.edDDays->SetValue(9);
    editor.pgcOcc->setCurrentIndex(2);
    editor.reject();
    EXPECT_EQ(editor.Schedule, shown);
    EXPECT_EQ(editor.result(), QDialog::Rejected);
}

// The pickers correct an order that cannot be, with their messages; End starts from the start
// date; without an end the start may pass the end date silently; times keep whole minutes.
TEST_F(SchedEdTest, PickersCorrectDatesAndTimes) {
    TScheDef periodic;
    periodic.DailyEvery = 1;
    periodic.Trigger = TTrigger::Periodic;
    periodic.EveryCount = 1;
    periodic.BetweenStart = EncodeTime(9, 0);
    periodic.BetweenEnd = EncodeTime(17, 0);
    Show(Duration(periodic, EncodeDate(2026, 3, 10), EncodeDate(2026, 3, 20)));

    editor.dtpDurStart->setDate(Day(2026, 3, 25));
    EXPECT_EQ(prompts.LastShown(), "The starting cannot be greater than the ending date!");
    EXPECT_EQ(editor.dtpDurStart->date(), Day(2026, 3, 20));

    editor.dtpDurEnd->setDate(Day(2026, 3, 5));
    EXPECT_EQ(prompts.LastShown(), "The ending cannot be smaller than the starting date!");
    EXPECT_EQ(editor.dtpDurEnd->date(), Day(2026, 3, 20));

    editor.dtpOStart->setTime(QTime(18, 0));
    EXPECT_EQ(prompts.LastShown(), "The starting time be greater than the ending time!");
    EXPECT_EQ(editor.dtpOStart->time(), QTime(17, 0));

    editor.dtpOStart->setTime(QTime(9, 0));
    editor.dtpOEnd->setTime(QTime(8, 0));
    EXPECT_EQ(prompts.LastShown(), "The ending time be less than the starting time!");
    EXPECT_EQ(editor.dtpOEnd->time(), QTime(9, 0));
    EXPECT_EQ(prompts.Shown.size(), 4u);

    editor.rbDurNoEnd->setChecked(true);
    EXPECT_FALSE(editor.dtpDurEnd->isEnabled());
    editor.dtpDurStart->setDate(Day(2026, 4, 1));
    EXPECT_EQ(prompts.Shown.size(), 4u) << "no message without an end";
    editor.rbDurEnd->setChecked(true);
    EXPECT_EQ(editor.dtpDurEnd->date(), Day(2026, 4, 1));
    EXPECT_TRUE(editor.dtpDurEnd->isEnabled());

    editor.rbOneShot->setChecked(true);
    editor.dtpOOneShot->setTime(QTime(10, 15, 42, 300));
    EXPECT_EQ(editor.dtpOOneShot->time(), QTime(10, 15));
}

// Each radio button enables its own controls and disables the other side's.
TEST_F(SchedEdTest, RadioButtonsEnableTheirControls) {
    Show(TScheDef{});
    const auto enabled = [](std::initializer_list<QWidget*> widgets) {
        std::string states;
        for (QWidget* widget : widgets) {
            states += widget->isEnabled() ? '1' : '0';
        }
        return states;
    };
    const auto monthly = [&] {
        return enabled(
            {editor.edMDay, editor.edMDayOfMonth, editor.cbMOcc, editor.cbMDay, editor.edMMonth});
    };
    const auto trigger = [&] {
        return enabled({editor.dtpOOneShot, editor.edOTime, editor.cbOTimeUnit, editor.dtpOStart,
                        editor.dtpOEnd});
    };
    EXPECT_EQ(monthly(), "11000");
    EXPECT_EQ(trigger(), "10000");
    editor.rbM2->setChecked(true);
    editor.rbMultiShot->setChecked(true);
    EXPECT_EQ(monthly(), "00111");
    EXPECT_EQ(trigger(), "01111");
    editor.rbM1->setChecked(true);
    editor.rbOneShot->setChecked(true);
    EXPECT_EQ(monthly(), "11000");
    EXPECT_EQ(trigger(), "10000");
}

} // namespace
} // namespace tarvok
