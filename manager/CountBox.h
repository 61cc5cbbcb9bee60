// A count box: an edit box that takes digits only, with up and down arrows that keep to a range.
// Typed text may leave the range (0, or more than the arrows reach); it is taken as typed, and
// an empty box has no value.
//
//   TCountBox every(1, 999);
//   every.SetValue(3);
//   every.Value();   // 3; nothing when the user emptied the box
#pragma once

#include <QAbstractSpinBox>
#include <optional>

namespace tarvok {

class TCountBox final : public QAbstractSpinBox {
    Q_OBJECT
public:
    TCountBox(int lowest, int highest, QWidget* parent = nullptr);

    std::optional<int> Value() const;
    void SetValue(int value);
    // The typed text, as it stands.
    QString Text() const;
    void SetText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    // Room for the highest count and a digit more.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The text changed, typed or set.
    void TextChanged();

protected:
    StepEnabled stepEnabled() const override;

private:
    int lowest_;
    int highest_;
};

} // namespace tarvok
