#include "manager/TaskProp.h"

#include "manager/NextRunsView.h"
#include "manager/RunHist.h"
#include "manager/Texts.h"
#include "shared/ProcPrio.h"
#include "shared/Time.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace tarvok {

namespace {

// Of the last runs' grid: started, duration, result.
constexpr int DurationColumn = 1;

QLineEdit* ShowBox(QWidget* parent, int characters) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setMinimumWidth(box->fontMetrics().averageCharWidth() * characters);
    return box;
}

} // namespace

TDlgTaskProps::TDlgTaskProps(const TClock& clock, QWidget* parent)
    : TFormDialog(parent), clock_(clock) {
    setObjectName(QStringLiteral("TDlgTaskProps"));
    setWindowTitle(tr("Task Properties"));

    auto* texts = new QGridLayout;
    const auto addRow = [this, texts](const QString& label, QLineEdit* box) {
        const int row = texts->rowCount();
        texts->addWidget(new QLabel(label, this), row, 0);
        texts->addWidget(box, row, 1);
        return box;
    };
    edName = addRow(tr("Task name"), ShowBox(this, 48));
    QFont bold = edName->font();
    bold.setBold(true);
    edName->setFont(bold);
    edCline = addRow(tr("Command"), ShowBox(this, 48));
    edArgs = addRow(tr("Arguments"), ShowBox(this, 48));
    edWdir = addRow(tr("Directory"), ShowBox(this, 48));
    texts->setColumnStretch(1, 1);

    // Clicking a box must change nothing: the whole panel is disabled.
    auto* panel = new QWidget(this);
    panel->setEnabled(false);
    edTID = ShowBox(panel, 8);
    cbEnabled = new QCheckBox(tr("Enabled"), panel);
    cbVisible = new QCheckBox(tr("Visible"), panel);
    cbBlocking = new QCheckBox(tr("Blocking"), panel);
    edPriority = ShowBox(panel, 10);
    cbRunning = new QCheckBox(tr("Running"), panel);
    edProcID = ShowBox(panel, 10);
    auto* state = new QGridLayout(panel);
    state->setContentsMargins(0, 0, 0, 0);
    state->addWidget(new QLabel(tr("Task ID"), panel), 0, 0);
    state->addWidget(edTID, 0, 1);
    state->addWidget(cbEnabled, 0, 2);
    state->addWidget(cbVisible, 0, 3);
    state->addWidget(cbBlocking, 0, 4);
    state->addWidget(new QLabel(tr("Priority"), panel), 1, 0);
    state->addWidget(edPriority, 1, 1);
    state->addWidget(cbRunning, 1, 2);
    state->addWidget(new QLabel(tr("Process ID"), panel), 1, 3);
    state->addWidget(edProcID, 1, 4);

    moSched = new QPlainTextEdit(this);
    moSched->setReadOnly(true);
    moSched->setFocusPolicy(Qt::NoFocus);
    // Room for the three lines wrapped once or twice, and no more: the next runs follow.
    moSched->setFixedHeight(
        moSched->fontMetrics().lineSpacing() * 5 +
        2 * (moSched->frameWidth() + static_cast<int>(moSched->document()->documentMargin())));

    auto* form = new QVBoxLayout(this);
    form->addLayout(texts);
    form->addWidget(panel);
    form->addWidget(new QLabel(tr("Schedule"), this));
    form->addWidget(moSched);

    gbNextRuns = new QGroupBox(tr("Next runs"), this);
    lbNextRuns = new TNextRunsView(gbNextRuns);
    auto* nextRuns = new QVBoxLayout(gbNextRuns);
    nextRuns->addWidget(lbNextRuns);
    form->addWidget(gbNextRuns);

    gbRuns = new QGroupBox(tr("Last runs"), this);
    grRuns = new QGridLayout(gbRuns);
    grRuns->setColumnStretch(2, 1);
    form->addWidget(gbRuns);
    form->setSizeConstraint(QLayout::SetFixedSize);
}

void TDlgTaskProps::FormShow() {
    edTID->setText(QString::number(Task.Id));
    edName->setText(ShownText(Task.Name));
    edCline->setText(ShownText(Task.Command));
    edArgs->setText(ShownText(Task.Parameters));
    edWdir->setText(ShownText(Task.WorkDir));
    cbEnabled->setChecked(Task.Enabled);
    cbBlocking->setChecked(Task.Blocking);
    cbVisible->setChecked(Task.Visible);
    edPriority->setText(ShownText(PriorityName(Task.Priority)));
    const bool running = RunState.ProcessId != 0;
    cbRunning->setChecked(running);
    edProcID->setText(running ? QString::number(RunState.ProcessId) : QString());
    moSched->setPlainText(ScheduleLines(Task.Schedule).join(u'\n'));
    lbNextRuns->ShowRuns(NextRunsOfTask(Task, clock_.Now(), NextRunsShown));
    ShowLastRuns();
}

void TDlgTaskProps::ShowLastRuns() {
    while (QLayoutItem* item = grRuns->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto add = [this](const QString& text, int row, int column) {
        auto* label = new QLabel(text, gbRuns);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grRuns->addWidget(label, row, column);
        return label;
    };
    if (!LastRuns.Problem.empty()) {
        add(tr("The run history could not be read: %1")
                .arg(QString::fromStdString(LastRuns.Problem)),
            0, 0)
            ->setWordWrap(true);
        return;
    }
    if (LastRuns.Runs.empty()) {
        add(tr("No runs recorded."), 0, 0);
        return;
    }
    const QStringList headings{tr("Started"), tr("Duration"), tr("Result")};
    for (int column = 0; column < headings.size(); ++column) {
        QLabel* label = add(headings[column], 0, column);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        if (column == DurationColumn) {
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    int row = 1;
    for (const TRunRecord& run : LastRuns.Runs) {
        add(QString::fromStdString(
                DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', run.Started, " ", true)),
            row, 0);
        add(QString::fromStdString(RunDurationText(run)), row, DurationColumn)
            ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QLabel* result = add(QString::fromStdString(RunResultText(run)), row, 2);
        if (RunFailed(run)) {
            QPalette palette = result->palette();
            palette.setColor(QPalette::WindowText, TFrmRunHistory::FailureColour);
            result->setPalette(palette);
        }
        ++row;
    }
}

} // namespace tarvok
