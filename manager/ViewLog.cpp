#include "manager/ViewLog.h"

#include "manager/Prompts.h"
#include "platform/Files.h"
#include "shared/SysLog.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <filesystem>

namespace tarvok {

namespace {

// A log of 3,000 lines of about 60 characters reads well at this size; the window may grow.
constexpr int ColumnsShown = 90;
constexpr int RowsShown = 30;

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) {
        return true;
    }
    const auto canonicalA = std::filesystem::weakly_canonical(a, error);
    if (error) {
        return false;
    }
    const auto canonicalB = std::filesystem::weakly_canonical(b, error);
    return !error && canonicalA == canonicalB;
}

TDlgViewLog::TDlgViewLog(TPrompts& prompts, QWidget* parent)
    : QDialog(parent), Memo1(new QPlainTextEdit(this)), prompts_(prompts) {
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    Refresh1 = file->addAction(QStringLiteral("&Refresh"));
    Refresh1->setShortcut(QKeySequence(Qt::Key_F5));
    Saveas1 = file->addAction(QStringLiteral("Save &as"));
    file->addSeparator();
    Exit1 = file->addAction(QStringLiteral("E&xit"));
    connect(Refresh1, &QAction::triggered, this, &TDlgViewLog::FormShow);
    connect(Saveas1, &QAction::triggered, this, &TDlgViewLog::Saveas1Click);
    connect(Exit1, &QAction::triggered, this, &TDlgViewLog::Exit1Click);

    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
    const QFontMetrics metrics(Memo1->font());
    resize(metrics.horizontalAdvance(QLatin1Char('0')) * ColumnsShown,
           metrics.lineSpacing() * RowsShown);
    setSizeGripEnabled(true);
}

void TDlgViewLog::FormShow() {
    Memo1->clear();
    setWindowTitle(QStringLiteral("Tarvok log (%1)").arg(FileName));
    try {
        const std::deque<std::string> lines =
            SplitLogLines(platform::ReadFile(FileName.toStdString()));
        lines_.assign(lines.begin(), lines.end());
    } catch (const platform::TIoError&) {
        lines_ = {(QStringLiteral("ERROR: Could not open file ") + FileName).toStdString()};
    }
    QString text;
    for (const std::string& line : lines_) {
        text += QString::fromStdString(line);
        text += QLatin1Char('\n');
    }
    text.chop(1);
    Memo1->setPlainText(text);
}

void TDlgViewLog::Saveas1Click() {
    const std::optional<QString> chosen =
        prompts_.SaveFile(this, {.Caption = QStringLiteral("Save as"),
                                 .StartDirectory = {},
                                 .Filters = {QStringLiteral("Text files (*.txt)")},
                                 .DefaultExtension = QStringLiteral("txt")});
    if (!chosen) {
        return;
    }
    if (SameFile(chosen->toStdString(), FileName.toStdString())) {
        prompts_.Show(this, TBoxKind::Error, QStringLiteral("Cannot overwtite the original file"));
        return;
    }
    std::string content;
    for (const std::string& line : lines_) {
        content += line;
        content += "\r\n";
    }
    try {
        platform::ReplaceFile(chosen->toStdString(), content);
    } catch (const platform::TIoError& error) {
        prompts_.Show(this, TBoxKind::Error, QString::fromStdString(error.what()));
    }
}

void TDlgViewLog::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

} // namespace tarvok
