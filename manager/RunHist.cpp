#include "manager/RunHist.h"

#include "manager/Graflite.h"
#include "manager/RunTexts.h"
#include "shared/Time.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

namespace tarvok {

namespace {

constexpr int RowRole = Qt::UserRole;
// A day of runs every few minutes reads well at this size; the window may grow.
constexpr int ColumnsShown = 110;
constexpr int RowsShown = 32;

QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}

bool SameRun(const TRunRecord& a, const TRunRecord& b) {
    return a.Started == b.Started && a.TaskId == b.TaskId && a.ProcessId == b.ProcessId;
}

QTreeWidgetItem* RunItem(const TRunRecord& run, int row) {
    auto* item = new QTreeWidgetItem;
    item->setText(TFrmRunHistory::ColStarted,
                  Qs(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', run.Started, " ", true)));
    item->setText(TFrmRunHistory::ColTask, Qs(RunTaskText(run)));
    item->setText(TFrmRunHistory::ColDuration, Qs(RunDurationText(run)));
    item->setText(TFrmRunHistory::ColResult, Qs(RunResultText(run)));
    item->setText(TFrmRunHistory::ColOrigin, Qs(RunOriginText(run.Origin)));
    item->setTextAlignment(TFrmRunHistory::ColDuration, Qt::AlignRight | Qt::AlignVCenter);
    const bool failed = RunFailed(run);
    item->setIcon(TFrmRunHistory::ColStarted,
                  NamedImage(failed ? QStringLiteral("RED") : QStringLiteral("GREEN")));
    if (failed) {
        item->setForeground(TFrmRunHistory::ColResult, TFrmRunHistory::FailureColour);
    }
    item->setData(TFrmRunHistory::ColStarted, RowRole, row);
    return item;
}

} // namespace

TFrmRunHistory::TFrmRunHistory(std::string runsPath, TRunOutputReader readOutput, QWidget* parent)
    : QWidget(parent, Qt::Window), cbTask(new QComboBox), lvRuns(new QTreeWidget),
      lblStatus(new QLabel), moOutput(new QPlainTextEdit), runsPath_(std::move(runsPath)),
      readOutput_(std::move(readOutput)), watcher_(new QFileSystemWatcher(this)) {
    setWindowTitle(QStringLiteral("Tarvok run history"));
    auto* taskLabel = new QLabel(QStringLiteral("&Task:"));
    taskLabel->setBuddy(cbTask);
    cbTask->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(cbTask, &QComboBox::activated, this,
            [this] { ShowTask(cbTask->currentData().toInt()); });

    lvRuns->setColumnCount(ColumnCount);
    lvRuns->setHeaderLabels({QStringLiteral("Started"), QStringLiteral("Task"),
                             QStringLiteral("Duration"), QStringLiteral("Result"),
                             QStringLiteral("Started by")});
    lvRuns->setRootIsDecorated(false);
    lvRuns->setUniformRowHeights(true);
    lvRuns->setSelectionMode(QAbstractItemView::SingleSelection);
    lvRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRuns->setAlternatingRowColors(true);
    connect(lvRuns, &QTreeWidget::currentItemChanged, this, &TFrmRunHistory::RunChosen);

    moOutput->setReadOnly(true);
    moOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    moOutput->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    moOutput->setPlaceholderText(QStringLiteral("Select a run to see its output."));

    auto* top = new QHBoxLayout;
    top->addWidget(taskLabel);
    top->addWidget(cbTask);
    top->addStretch();
    top->addWidget(lblStatus);
    auto* outputPane = new QWidget;
    auto* outputLayout = new QVBoxLayout(outputPane);
    outputLayout->setContentsMargins(0, 0, 0, 0);
    outputLayout->addWidget(new QLabel(QStringLiteral("Output of the selected run:")));
    outputLayout->addWidget(moOutput);
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(lvRuns);
    splitter->addWidget(outputPane);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter);

    auto* refresh = new QAction(this);
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    connect(refresh, &QAction::triggered, this, [this] {
        read_ = false;
        Reload();
    });
    auto* close = new QAction(this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addActions({refresh, close});

    // The directory as well: the file may not be there yet, and shortening it renames a new
    // one over it.
    watcher_->addPath(QFileInfo(Qs(runsPath_)).absolutePath());
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &TFrmRunHistory::FileChanged);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TFrmRunHistory::FileChanged);

    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * ColumnsShown, metrics.lineSpacing() * RowsShown);
    cbTask->addItem(QStringLiteral("All tasks"), 0);
}

TFrmRunHistory::~TFrmRunHistory() {
    if (reader_ != nullptr) {
        reader_->wait();
        delete reader_;
    }
}

void TFrmRunHistory::showEvent(QShowEvent* event) {
    Reload();
    QWidget::showEvent(event);
}

// Changes come in bursts (a rename, then the directory): one reread after them.
void TFrmRunHistory::FileChanged() {
    const QString path = Qs(runsPath_);
    if (QFileInfo::exists(path) && !watcher_->files().contains(path)) {
        watcher_->addPath(path);
    }
    if (!isVisible() || reloadQueued_) {
        return;
    }
    reloadQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        reloadQueued_ = false;
        Reload();
    });
}

void TFrmRunHistory::Reload() {
    const std::optional<platform::TFileStamp> stamp = platform::FileStamp(runsPath_);
    if (read_ && stamp == stamp_) {
        return;
    }
    read_ = true;
    stamp_ = stamp;
    problem_.clear();
    try {
        runs_ = ReadRunHistory(runsPath_);
    } catch (const platform::TIoError& error) {
        runs_.clear();
        problem_ = error.what();
    }
    const QString path = Qs(runsPath_);
    if (stamp && !watcher_->files().contains(path)) {
        watcher_->addPath(path);
    }
    FillTaskFilter();
    FillList();
}

void TFrmRunHistory::ShowTask(std::int32_t taskId) {
    if (!read_) {
        Reload();
    }
    int index = cbTask->findData(taskId);
    if (index < 0) {
        // A task without runs yet: its entry waits for them.
        cbTask->addItem(QStringLiteral("[%1]").arg(taskId), taskId);
        index = cbTask->count() - 1;
    }
    cbTask->setCurrentIndex(index);
    FillList();
}

void TFrmRunHistory::SelectNewest() {
    lvRuns->setCurrentItem(lvRuns->topLevelItem(0));
}

std::int32_t TFrmRunHistory::ShownTask() const {
    return cbTask->currentData().toInt();
}

// Every task that has runs, by the name of its newest one, in the order of their ids.
void TFrmRunHistory::FillTaskFilter() {
    const std::int32_t shown = ShownTask();
    std::map<std::int32_t, std::string> names;
    for (const TRunRecord& run : runs_) {
        names[run.TaskId] = RunTaskText(run);
    }
    cbTask->clear();
    cbTask->addItem(QStringLiteral("All tasks"), 0);
    for (const auto& [id, name] : names) {
        cbTask->addItem(Qs(name), id);
    }
    const int index = cbTask->findData(shown);
    if (index >= 0) {
        cbTask->setCurrentIndex(index);
    } else {
        cbTask->addItem(QStringLiteral("[%1]").arg(shown), shown);
        cbTask->setCurrentIndex(cbTask->count() - 1);
    }
}

void TFrmRunHistory::FillList() {
    const QTreeWidgetItem* current = lvRuns->currentItem();
    std::optional<TRunRecord> chosen;
    if (current != nullptr) {
        chosen = shown_.at(current->data(ColStarted, RowRole).toUInt());
    }
    shown_ = LastRunsOf(runs_, ShownTask(), runs_.size());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(shown_.size()));
    std::size_t failed = 0;
    QTreeWidgetItem* again = nullptr;
    for (std::size_t row = 0; row < shown_.size(); ++row) {
        items.append(RunItem(shown_[row], static_cast<int>(row)));
        failed += RunFailed(shown_[row]) ? 1 : 0;
        if (chosen && again == nullptr && SameRun(*chosen, shown_[row])) {
            again = items.back();
        }
    }
    const QSignalBlocker quiet(lvRuns); // the output is read again only for another run
    lvRuns->clear();
    lvRuns->addTopLevelItems(items);
    for (int column = 0; column < ColumnCount; ++column) {
        lvRuns->resizeColumnToContents(column);
    }
    lvRuns->setCurrentItem(again);
    if (again == nullptr) {
        moOutput->clear();
    }
    if (!problem_.empty()) {
        lblStatus->setText(QStringLiteral("The run history could not be read: ") + Qs(problem_));
    } else if (shown_.empty()) {
        lblStatus->setText(QStringLiteral("No runs recorded."));
    } else {
        lblStatus->setText(QStringLiteral("%1 runs, %2 failed").arg(shown_.size()).arg(failed));
    }
}

void TFrmRunHistory::RunChosen() {
    const QTreeWidgetItem* current = lvRuns->currentItem();
    if (current == nullptr) {
        moOutput->clear();
        return;
    }
    ReadOutputOf(shown_.at(current->data(ColStarted, RowRole).toUInt()));
}

void TFrmRunHistory::ReadOutputOf(const TRunRecord& run) {
    moOutput->setPlainText(QStringLiteral("Reading the output..."));
    if (reader_ != nullptr) {
        waiting_ = run;
        return;
    }
    reading_ = run;
    reader_ = QThread::create([read = readOutput_, run, &text = readText_] { text = read(run); });
    connect(reader_, &QThread::finished, this, &TFrmRunHistory::OutputRead);
    reader_->start();
}

void TFrmRunHistory::OutputRead() {
    reader_->wait();
    delete reader_;
    reader_ = nullptr;
    if (waiting_) {
        const TRunRecord next = *waiting_;
        waiting_.reset();
        ReadOutputOf(next);
        return;
    }
    const QTreeWidgetItem* current = lvRuns->currentItem();
    if (current != nullptr && reading_ &&
        SameRun(*reading_, shown_.at(current->data(ColStarted, RowRole).toUInt()))) {
        ShowOutput(readText_);
    }
}

void TFrmRunHistory::ShowOutput(const platform::TJournalText& text) {
    if (!text.Available) {
        moOutput->setPlainText(QStringLiteral("Output is not available: ") + Qs(text.Reason));
    } else if (text.Text.empty()) {
        moOutput->setPlainText(QStringLiteral("The run wrote no output."));
    } else {
        moOutput->setPlainText(
            Qs(text.Text) +
            (text.Cut ? QStringLiteral("[only the first part is shown]") : QString()));
    }
}

} // namespace tarvok
