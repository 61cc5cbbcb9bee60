// The schedule editor: one task's schedule (TScheDef) on three frequency pages, its trigger and
// its duration.
//
// The task editor owns one for its whole life, hands it the schedule and the task name before
// each showing, and reads Schedule back after OK. Between showings it keeps what its controls
// showed, so controls the schedule does not set keep their contents.
//
// The handlers are public and named after the controls, so tests drive the dialog as the user
// would: set a control, call its handler, press btOkClick.
//
// Under the controls it shows the schedule's next starts after the clock's "now", as they stand
// after every change of a control.
//
//   TDlgTaskEd editor(prompts, clock);
//   editor.Schedule = task.Schedule;
//   editor.TaskName = "Backup";
//   if (prompts.Run(editor) == QDialog::Accepted) task.Schedule = editor.Schedule;
#pragma once

#include "manager/FormDialog.h"
#include "shared/Clock.h"
#include "shared/ScheDef.h"

#include <cstdint>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;

namespace tarvok {

class TCountBox;
class TNextRunsView;
class TPrompts;

class TDlgTaskEd final : public TFormDialog {
    Q_OBJECT
public:
    TDlgTaskEd(TPrompts& prompts, const TClock& clock, QWidget* parent = nullptr);

    // In before showing; out after OK. Changed by nothing but a successful OK.
    TScheDef Schedule;
    QString TaskName;

    // Fills the controls from Schedule; runs whenever the dialog is shown.
    void FormShow() override;
    void UpdateCaption();
    // Checks every box the chosen form needs, then builds Schedule afresh and closes with OK. A
    // box left empty, or a weekly schedule without a day, gets its error box and leaves Schedule
    // and the dialog as they were.
    void btOkClick();
    void btCancelClick();

    void rbOneShotClick();
    void rbMultiShotClick();
    void rbM1Click();
    void rbM2Click();
    void rbDurEndClick();
    void rbDurNoEndClick();
    void dtpDurStartChange();
    void dtpDurEndChange();
    void dtpOStartChange();
    void dtpOEndChange();
    void FilterTime();
    // The next starts of the schedule as the controls stand, or a hint while a count box is
    // empty.
    void UpdateNextRuns();

    void reject() override;

    QGroupBox* gbOccurrence;
    QTabWidget* pgcOcc;
    TCountBox* edDDays;
    TCountBox* edWWeeks;
    QCheckBox* cbWDay[7]; // cbWMon .. cbWSun
    QRadioButton* rbM1;
    TCountBox* edMDay;
    TCountBox* edMDayOfMonth;
    QRadioButton* rbM2;
    QComboBox* cbMOcc;
    QComboBox* cbMDay;
    TCountBox* edMMonth;
    QRadioButton* rbOneShot;
    QTimeEdit* dtpOOneShot;
    QRadioButton* rbMultiShot;
    TCountBox* edOTime;
    QComboBox* cbOTimeUnit;
    QTimeEdit* dtpOStart;
    QTimeEdit* dtpOEnd;
    QGroupBox* gbDuration;
    QDateEdit* dtpDurStart;
    QRadioButton* rbDurEnd;
    QDateEdit* dtpDurEnd;
    QRadioButton* rbDurNoEnd;
    QGroupBox* gbNextRuns;
    TNextRunsView* lbNextRuns;
    QPushButton* btOk;
    QPushButton* btCancel;

private:
    void BuildControls();
    void Connect();
    void ConnectNextRuns();
    void ShowTrigger(const TScheDef& schedule);
    void ShowFrequency(const TScheDef& schedule);
    // The first count box the chosen form needs that is empty, with the name of its field.
    std::optional<QString> EmptyCountBox() const;
    std::uint8_t CheckedDays() const;
    TScheDef Edited() const;
    // What OK would store, checks apart; nothing while a count box is empty.
    std::optional<TScheDef> Previewed() const;

    TPrompts& prompts_;
    const TClock& clock_;
    TScheDef shown_; // as it was when the dialog was shown, given back by Cancel
};

} // namespace tarvok
