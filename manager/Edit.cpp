#include "manager/Edit.h"

#include "manager/Prompts.h"
#include "manager/SchedEd.h"
#include "manager/Texts.h"
#include "manager/UncDirs.h"
#include "shared/PathView.h"
#include "shared/ProcPrio.h"
#include "shared/TaskRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvok {

namespace {

// Shows a text field of the record; read-only ones still let the user scroll and copy.
QLineEdit* TextBox(QWidget* parent, bool readOnly = false) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(readOnly);
    box->setMinimumWidth(box->fontMetrics().averageCharWidth() * 56);
    return box;
}

// A button as small as its text, beside the box it acts on.
QToolButton* SmallButton(const QString& text, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    return button;
}

} // namespace

TDlgEdit::TDlgEdit(TPrompts& prompts, const TClock& clock, const TPathView& paths, QWidget* parent)
    : TFormDialog(parent), prompts_(prompts), paths_(paths) {
    setObjectName(QStringLiteral("TDlgEdit"));
    setWindowTitle(tr("Add / Edit task"));
    SchedEditor = new TDlgTaskEd(prompts, clock, this);
    BuildControls();
    cbxPriority->setCurrentIndex(*PositionOfPriority(NormalPriority));
    Task.Priority = NormalPriority;
}

void TDlgEdit::BuildControls() {
    edTaskName = TextBox(this);
    edCommand = TextBox(this, true);
    btCommand = SmallButton(QStringLiteral("..."), this);
    edParameters = TextBox(this);
    edWorkDir = TextBox(this, true);
    btDir = SmallButton(QStringLiteral("..."), this);
    btClearWDir = SmallButton(QStringLiteral("X"), this);

    auto* texts = new QGridLayout;
    const auto addRow = [this, texts](const QString& label, QWidget* field,
                                      std::initializer_list<QWidget*> buttons) {
        const int row = texts->rowCount();
        texts->addWidget(new QLabel(label, this), row, 0);
        texts->addWidget(field, row, 1);
        int column = 2;
        for (QWidget* button : buttons) {
            texts->addWidget(button, row, column++);
        }
    };
    addRow(tr("Task name"), edTaskName, {});
    addRow(tr("Command line"), edCommand, {btCommand});
    addRow(tr("Arguments"), edParameters, {});
    addRow(tr("Working directory"), edWorkDir, {btDir, btClearWDir});
    texts->setColumnStretch(1, 1);

    auto* attributes = new QGroupBox(tr("Task attributes"), this);
    cbEnable = new QCheckBox(tr("Enabled"), attributes);
    cbBlocking = new QCheckBox(tr("Blocking"), attributes);
    cbVisible = new QCheckBox(tr("Visible"), attributes);
    auto* attributeRow = new QHBoxLayout(attributes);
    attributeRow->addWidget(cbEnable);
    attributeRow->addWidget(cbBlocking);
    attributeRow->addWidget(cbVisible);

    auto* priority = new QGroupBox(tr("Task priority"), this);
    cbxPriority = new QComboBox(priority);
    for (const std::string& item : PriorityItems()) {
        cbxPriority->addItem(QString::fromStdString(item));
    }
    auto* priorityRow = new QHBoxLayout(priority);
    priorityRow->addWidget(cbxPriority);

    auto* switches = new QHBoxLayout;
    switches->addWidget(attributes, 1);
    switches->addWidget(priority);

    auto* schedule = new QGroupBox(tr("Task schedule"), this);
    memSchedule = new QPlainTextEdit(schedule);
    memSchedule->setReadOnly(true);
    memSchedule->setTabChangesFocus(true);
    // Three lines and room for one of them to wrap.
    const int lines = memSchedule->fontMetrics().lineSpacing();
    memSchedule->setMinimumHeight(lines * 5);
    memSchedule->setMaximumHeight(lines * 7);
    btSchedule = new QPushButton(tr("Edit &Schedule"), schedule);
    btSchedule->setAutoDefault(false);
    btSchedule->setEnabled(false);
    auto* scheduleBox = new QVBoxLayout(schedule);
    scheduleBox->addWidget(memSchedule);
    scheduleBox->addWidget(btSchedule, 0, Qt::AlignRight);

    QHBoxLayout* buttons = OkCancelRow(btOk, btCancel);
    btOk->setEnabled(false);

    auto* form = new QVBoxLayout(this);
    form->addLayout(texts);
    form->addLayout(switches);
    form->addWidget(schedule);
    form->addLayout(buttons);

    connect(edTaskName, &QLineEdit::textChanged, this, &TDlgEdit::Validate);
    connect(edCommand, &QLineEdit::textChanged, this, &TDlgEdit::Validate);
    connect(btCommand, &QToolButton::clicked, this, &TDlgEdit::btCommandClick);
    connect(btDir, &QToolButton::clicked, this, &TDlgEdit::btDirClick);
    connect(btClearWDir, &QToolButton::clicked, this, &TDlgEdit::btClearWDirClick);
    connect(btSchedule, &QPushButton::clicked, this, &TDlgEdit::btScheduleClick);
    connect(cbxPriority, &QComboBox::activated, this, &TDlgEdit::cbxPriorityChange);
    connect(btOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TDlgEdit::FormShow() {
    if (Task.Id == 0) {
        setWindowTitle(tr("Insert a new task"));
        Task.Priority = NormalPriority;
    } else {
        setWindowTitle(ShownText(TaskCaption(Task)));
        if (!Task.Blocking) {
            Task.Priority = NormalPriority;
        }
    }
    SchedEditor->Schedule = Task.Schedule;
    edTaskName->setText(ShownText(Task.Name));
    edCommand->setText(ShownText(Task.Command));
    edParameters->setText(ShownText(Task.Parameters));
    edWorkDir->setText(ShownText(Task.WorkDir));
    cbEnable->setChecked(Task.Enabled);
    cbBlocking->setChecked(Task.Blocking);
    cbVisible->setChecked(Task.Visible);
    Validate();
    edTaskName->setFocus();
    if (const auto position = PositionOfPriority(Task.Priority)) {
        cbxPriority->setCurrentIndex(*position);
    }
    ShowSchedule();
}

void TDlgEdit::ShowSchedule() {
    memSchedule->setPlainText(ScheduleLines(Task.Schedule).join(u'\n'));
}

void TDlgEdit::Validate() {
    const QString name = edTaskName->text();
    if (Task.Id != 0) {
        setWindowTitle(QStringLiteral("%1 [%2]").arg(name, QString::number(Task.Id)));
    } else {
        // Until a name is typed the dialog says what it is for.
        setWindowTitle(name.isEmpty() ? tr("Insert a new task") : name);
    }
    const bool complete = HasText(name.toStdString()) && HasText(edCommand->text().toStdString());
    btOk->setEnabled(complete);
    btSchedule->setEnabled(complete);
}

QString TDlgEdit::CommandDirectory() const {
    const QString command = edCommand->text();
    const qsizetype slash = command.lastIndexOf(u'/');
    return slash < 0 ? QString() : command.left(slash + 1);
}

void TDlgEdit::btCommandClick() {
    const auto start = paths_.LocalPath(CommandDirectory().toStdString());
    const auto chosen = prompts_.OpenFile(this, {tr("Command line"),
                                                 start ? QString::fromStdString(*start) : QString(),
                                                 {tr("All files (*)")}});
    if (!chosen) {
        return;
    }
    if (!paths_.IsExecutableFile(chosen->toStdString())) {
        prompts_.Show(this, TBoxKind::Error,
                      tr("\"%1\" is not a program file you may run, so the scheduler could not "
                         "start it.")
                          .arg(*chosen));
        return;
    }
    edCommand->setText(QString::fromStdString(paths_.NetworkForm(chosen->toStdString())));
}

void TDlgEdit::btDirClick() {
    const QString start = edWorkDir->text().isEmpty() ? CommandDirectory() : edWorkDir->text();
    TDlgDirSelect chooser(prompts_, paths_, this);
    chooser.Directory = start;
    prompts_.Run(chooser);
    edWorkDir->setText(chooser.Selected ? chooser.Directory : start);
}

void TDlgEdit::btClearWDirClick() {
    edWorkDir->clear();
}

void TDlgEdit::btScheduleClick() {
    SchedEditor->TaskName = edTaskName->text();
    if (prompts_.Run(*SchedEditor) != QDialog::Accepted) {
        return;
    }
    Task.Schedule = SchedEditor->Schedule;
    ShowSchedule();
}

void TDlgEdit::cbxPriorityChange(int position) {
    Task.Priority = PriorityFromPosition(position);
}

void TDlgEdit::FormClose() {
    Task.Name = StoredText(edTaskName->text());
    Task.Command = StoredText(edCommand->text());
    Task.Parameters = StoredText(edParameters->text());
    Task.WorkDir = StoredText(edWorkDir->text());
    Task.Enabled = cbEnable->isChecked();
    Task.Blocking = cbBlocking->isChecked();
    Task.Visible = cbVisible->isChecked();
}

void TDlgEdit::done(int result) {
    FormClose();
    QDialog::done(result);
}

} // namespace tarvok
