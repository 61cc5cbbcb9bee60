#include "manager/CountBox.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>

namespace tarvok {

namespace {

// Nine digits always fit the stored 32-bit count.
constexpr qsizetype MaxDigits = 9;

} // namespace

TCountBox::TCountBox(int lowest, int highest, QWidget* parent)
    : QAbstractSpinBox(parent), lowest_(lowest), highest_(highest) {
    lineEdit()->setMaxLength(MaxDigits);
    SetValue(lowest);
    connect(lineEdit(), &QLineEdit::textChanged, this, &TCountBox::TextChanged);
}

std::optional<int> TCountBox::Value() const {
    bool ok = false;
    const int value = Text().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void TCountBox::SetValue(int value) {
    SetText(QString::number(value));
}

QString TCountBox::Text() const {
    return lineEdit()->text();
}

void TCountBox::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void TCountBox::stepBy(int steps) {
    const int from = Value().value_or(lowest_);
    SetValue(std::clamp(from + steps, lowest_, highest_));
}

QValidator::State TCountBox::validate(QString& input, int&) const {
    const bool digitsOnly =
        std::all_of(input.cbegin(), input.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return digitsOnly && input.size() <= MaxDigits ? QValidator::Acceptable : QValidator::Invalid;
}

QSize TCountBox::sizeHint() const {
    ensurePolished();
    const QString widest(QString::number(highest_).size() + 1, u'9');
    // As the spin boxes measure themselves, with 2 pixels for the cursor.
    const QSize text(fontMetrics().horizontalAdvance(widest) + 2, lineEdit()->sizeHint().height());
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QSize TCountBox::minimumSizeHint() const {
    return sizeHint();
}

QAbstractSpinBox::StepEnabled TCountBox::stepEnabled() const {
    if (!isEnabled() || isReadOnly()) {
        return StepNone;
    }
    const int value = Value().value_or(lowest_);
    StepEnabled enabled = StepNone;
    if (value < highest_) {
        enabled |= StepUpEnabled;
    }
    if (value > lowest_) {
        enabled |= StepDownEnabled;
    }
    return enabled;
}

} // namespace tarvok
