// The task properties: everything about one task at a glance, read-only, with whether a blocking
// run of it is going on and under which process id, and when it next starts after the clock's
// "now".
//
//   TDlgTaskProps properties(clock, window);
//   properties.Task = selected;
//   properties.RunState = *table.Find(selected.Id);   // or left cleared: not running
//   properties.LastRuns = RecentRunsOf(paths.RunsPath, selected.Id);
//   prompts.Run(properties);
#pragma once

#include "manager/FormDialog.h"
#include "manager/RunTexts.h"
#include "shared/Clock.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;

namespace tarvok {

class TNextRunsView;

class TDlgTaskProps final : public TFormDialog {
    Q_OBJECT
public:
    explicit TDlgTaskProps(const TClock& clock, QWidget* parent = nullptr);

    TTaskDef Task;
    TTaskRunEntry RunState; // cleared: not running
    // The task's newest runs (RecentRunsShown at most), shown under "Last runs".
    TRecentRuns LastRuns;

    // Fills the controls; runs whenever the dialog is shown.
    void FormShow() override;

    QLineEdit* edTID;
    QLineEdit* edName;
    QLineEdit* edCline;
    QLineEdit* edArgs;
    QLineEdit* edWdir;
    QCheckBox* cbEnabled;
    QCheckBox* cbVisible;
    QCheckBox* cbBlocking;
    QLineEdit* edPriority;
    QCheckBox* cbRunning;
    QLineEdit* edProcID;
    QPlainTextEdit* moSched;
    QGroupBox* gbNextRuns;
    TNextRunsView* lbNextRuns;
    QGroupBox* gbRuns;
    // Row 0 holds the headings; each run a row below, its start, duration and result.
    QGridLayout* grRuns;

private:
    void ShowLastRuns();

    const TClock& clock_;
};

} // namespace tarvok
