// The about box: the program's icon and name, its version line and an OK button.
//
//   TAboutBox box(parent);
//   box.ProgramName = "Tarvok!";
//   box.VersionLine = "Version 2.0.0.1";
//   box.exec();            // caption "About Tarvok!"
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace tarvok {

class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Filled by the opener before the box is shown.
    QString ProgramName;
    QString VersionLine;

    // Puts the two texts into the caption and the labels; runs whenever the box is shown.
    void FormShow();

    QLabel* ProgramIcon;
    QLabel* lbProgName;
    QLabel* lbVersion;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace tarvok
