#include "manager/NextRunsView.h"

#include "manager/Texts.h"
#include "platform/Clock.h"

#include <QEvent>
#include <QFontMetrics>
#include <QStringList>

namespace tarvok {

namespace {

QStringList Shown(const std::vector<std::string>& lines) {
    QStringList shown;
    for (const std::string& line : lines) {
        shown << ShownText(line);
    }
    return shown;
}

// Every kind of line the view can show: starts in the morning and the evening (12-hour formats
// add AM or PM), and each reason for no more.
QStringList EveryKindOfLine() {
    const std::string format = platform::LongTimeFormat();
    const TDateTime wednesday = EncodeDate(2026, 9, 30);
    QStringList lines = Shown(NextRunLines(
        {{wednesday + EncodeTime(10, 58), wednesday + EncodeTime(22, 58)}, TNextRunsEnd::Complete},
        format));
    for (const TNextRunsEnd end : {TNextRunsEnd::Horizon, TNextRunsEnd::ScheduleEnd,
                                   TNextRunsEnd::NoSchedule, TNextRunsEnd::Disabled}) {
        lines << Shown(NextRunLines({{}, end}, format));
        lines << Shown(NextRunLines({{wednesday}, end}, format)).last();
    }
    return lines;
}

} // namespace

TNextRunsView::TNextRunsView(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("NextRuns"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // Read like the read-only text boxes around it: text on the base colour.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setMargin(fontMetrics().averageCharWidth() / 2);
    FitLongestLine();
}

void TNextRunsView::ShowRuns(const TNextRuns& runs) {
    setText(Shown(NextRunLines(runs, platform::LongTimeFormat())).join(u'\n'));
}

void TNextRunsView::ShowHint(const QString& hint) {
    setText(hint);
}

void TNextRunsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        FitLongestLine();
    }
    QLabel::changeEvent(event);
}

// Measured as the label itself would measure its longest text (frame, margin and indent
// included), on a twin of it.
void TNextRunsView::FitLongestLine() {
    const QFontMetrics metrics = fontMetrics();
    QString widest;
    for (const QString& line : EveryKindOfLine()) {
        if (metrics.horizontalAdvance(line) > metrics.horizontalAdvance(widest)) {
            widest = line;
        }
    }
    QLabel twin;
    twin.setFont(font());
    twin.setFrameStyle(frameStyle());
    twin.setMargin(margin());
    twin.setAlignment(alignment());
    twin.setText(QStringList(NextRunsShown, widest).join(u'\n'));
    setMinimumSize(twin.sizeHint());
}

} // namespace tarvok
