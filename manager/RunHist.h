// The run history window: every recorded run, newest first, with its start, task, duration,
// result and what started it; failed runs marked by a red lamp and a red result. A combo box
// narrows the list to one task. The selected run's output is read from the journal in the
// background and shown below the list, or why it cannot be.
//
// The window is made once and shown again on every request. While it is shown it follows the
// history file: each change to it (an append, the rewrite that shortens it) rereads the file.
//
//   TFrmRunHistory history(paths.RunsPath, ReadRunOutput, window);
//   history.ShowTask(3);   // Backup [3]'s runs; 0: all tasks
//   history.show();
#pragma once

#include "platform/Files.h"
#include "platform/Journal.h"
#include "shared/RunLedger.h"

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QPlainTextEdit;
class QThread;
class QTreeWidget;

namespace tarvok {

// Reads one run's output; runs on a thread of its own, never on the window's.
using TRunOutputReader = std::function<platform::TJournalText(const TRunRecord&)>;

class TFrmRunHistory final : public QWidget {
    Q_OBJECT
public:
    enum TColumn { ColStarted, ColTask, ColDuration, ColResult, ColOrigin, ColumnCount };
    // The result of a failed run; dark enough to read on a white list.
    static inline const QColor FailureColour{0xB0, 0x00, 0x00};

    TFrmRunHistory(std::string runsPath, TRunOutputReader readOutput, QWidget* parent = nullptr);
    // Waits for a reading of output that is going on (at most its time limit).
    ~TFrmRunHistory() override;

    // Rereads the history file when it is not what was last read.
    void Reload();
    // Narrows the list to the task's runs; 0 shows all tasks' runs.
    void ShowTask(std::int32_t taskId);
    std::int32_t ShownTask() const;
    // Selects the top row, the newest run listed, which shows its output.
    void SelectNewest();
    // The runs listed, top row first.
    const std::vector<TRunRecord>& ShownRuns() const { return shown_; }

    QComboBox* cbTask;
    QTreeWidget* lvRuns;
    QLabel* lblStatus;
    QPlainTextEdit* moOutput;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FileChanged();
    void FillTaskFilter();
    void FillList();
    void RunChosen();
    void ReadOutputOf(const TRunRecord& run);
    void OutputRead();
    void ShowOutput(const platform::TJournalText& text);

    std::string runsPath_;
    TRunOutputReader readOutput_;
    std::vector<TRunRecord> runs_; // oldest first, as read
    std::vector<TRunRecord> shown_;
    std::string problem_;
    std::optional<platform::TFileStamp> stamp_;
    bool read_ = false;
    QFileSystemWatcher* watcher_;
    bool reloadQueued_ = false;
    // One reading at a time; a run chosen meanwhile waits and only the last one waiting counts.
    QThread* reader_ = nullptr;
    std::optional<TRunRecord> reading_;
    std::optional<TRunRecord> waiting_;
    platform::TJournalText readText_;
};

} // namespace tarvok
