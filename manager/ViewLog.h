// The log viewer: the system log file in a scrollable, read-only text window, reread on F5 and
// saved elsewhere on request.
//
// The path is shown and used exactly as given: file names are case-sensitive here. Saving over
// the log itself is refused, whatever name leads to it (a link, "..", another spelling).
//
//   TDlgViewLog viewer(prompts, parent);
//   viewer.FileName = "/opt/tarvok/tarvok.log";
//   viewer.exec();           // caption "Tarvok log (/opt/tarvok/tarvok.log)"
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

class QAction;
class QPlainTextEdit;

namespace tarvok {

class TPrompts;

class TDlgViewLog final : public QDialog {
    Q_OBJECT
public:
    explicit TDlgViewLog(TPrompts& prompts, QWidget* parent = nullptr);

    // Set by the opener before the viewer is shown.
    QString FileName;

    // Loads the file into the window, or the one line "ERROR: Could not open file <path>" when
    // it cannot be read; runs when the viewer is shown and on "&Refresh".
    void FormShow();
    // Asks where to save a copy of the lines shown, each ended by CR LF.
    void Saveas1Click();
    void Exit1Click() { close(); }

    // The lines shown, as read from the file.
    const std::vector<std::string>& Lines() const { return lines_; }

    QPlainTextEdit* Memo1;
    QAction* Refresh1;
    QAction* Saveas1;
    QAction* Exit1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TPrompts& prompts_;
    std::vector<std::string> lines_;
};

// True when both paths lead to the same file: the same file system entry, or, where the first
// does not exist yet, the same path once made absolute and cleaned of "." and "..".
bool SameFile(const std::string& a, const std::string& b);

} // namespace tarvok
