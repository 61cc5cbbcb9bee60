// The task editor: a task's name, command, arguments, working directory, attributes, priority
// and, through its schedule editor, its schedule.
//
// It edits a copy of one task record and never touches the task list, the task file or the
// service: the caller puts the record in, runs the dialog and takes Task back only after OK.
// Texts are cut to what a task record holds when the dialog closes. OK and "Edit &Schedule" are
// enabled only while the name and the command are filled in.
//
//   TDlgEdit editor(prompts, clock, SystemPathView(), window);
//   editor.Task = TTaskDef::New();          // Id 0: a new task
//   if (prompts.Run(editor) == QDialog::Accepted) Save(editor.Task);
#pragma once

#include "manager/FormDialog.h"
#include "shared/Clock.h"
#include "shared/TaskDef.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace tarvok {

class TDlgTaskEd;
class TPathView;
class TPrompts;

class TDlgEdit final : public TFormDialog {
    Q_OBJECT
public:
    TDlgEdit(TPrompts& prompts, const TClock& clock, const TPathView& paths,
             QWidget* parent = nullptr);

    TTaskDef Task;
    TDlgTaskEd* SchedEditor;

    // Fills the controls from Task; runs whenever the dialog is shown.
    void FormShow() override;
    void Validate();
    // Takes only a regular file the user may execute; any other is refused with a box naming
    // it. The command is stored in its network form.
    void btCommandClick();
    // The chosen directory, or, when the chooser is cancelled, the one it started from.
    void btDirClick();
    void btClearWDirClick();
    void btScheduleClick();
    void cbxPriorityChange(int position);
    // Copies the texts and attributes into Task; runs whenever the dialog closes.
    void FormClose();

    void done(int result) override;

    QLineEdit* edTaskName;
    QLineEdit* edCommand;
    QToolButton* btCommand;
    QLineEdit* edParameters;
    QLineEdit* edWorkDir;
    QToolButton* btDir;
    QToolButton* btClearWDir;
    QCheckBox* cbEnable;
    QCheckBox* cbBlocking;
    QCheckBox* cbVisible;
    QComboBox* cbxPriority;
    QPlainTextEdit* memSchedule;
    QPushButton* btSchedule;
    QPushButton* btOk;
    QPushButton* btCancel;

private:
    void BuildControls();
    void ShowSchedule();
    // The directory part of the command, with its trailing slash; empty without a command.
    QString CommandDirectory() const;

    TPrompts& prompts_;
    const TPathView& paths_;
};

} // namespace tarvok
