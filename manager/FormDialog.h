// The base of the manager's dialogs. Like the program's forms they fill their controls from
// their data each time they are shown (FormShow), and those with OK and Cancel share one row of
// buttons.
#pragma once

#include <QDialog>

class QHBoxLayout;
class QPushButton;

namespace tarvok {

class TFormDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

    // Fills the controls; runs whenever the dialog is shown, and tests call it directly.
    virtual void FormShow() = 0;

protected:
    void showEvent(QShowEvent* event) override;
    // "&OK", the default button, and "&Cancel" at the right of a row; the caller connects them.
    QHBoxLayout* OkCancelRow(QPushButton*& ok, QPushButton*& cancel);
};

} // namespace tarvok
