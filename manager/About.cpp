#include "manager/About.h"

#include "manager/Graflite.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvok {

namespace {

constexpr int IconSize = 48;

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent), ProgramIcon(new QLabel(this)), lbProgName(new QLabel(this)),
      lbVersion(new QLabel(this)), OKButton(new QPushButton(QStringLiteral("OK"), this)) {
    setWindowTitle(QStringLiteral("About"));
    ProgramIcon->setPixmap(NamedImage(QStringLiteral("tarvok")).pixmap(IconSize, IconSize));

    QFont large = lbProgName->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.8);
    lbProgName->setFont(large);
    QFont bold = lbVersion->font();
    bold.setBold(true);
    lbVersion->setFont(bold);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* heading = new QHBoxLayout;
    heading->addWidget(ProgramIcon);
    heading->addSpacing(IconSize / 3);
    heading->addWidget(lbProgName, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(heading);
    layout->addWidget(lbVersion);
    layout->addWidget(separator);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutBox::FormShow() {
    setWindowTitle(QStringLiteral("About ") + ProgramName);
    lbProgName->setText(ProgramName);
    lbVersion->setText(VersionLine);
}

void TAboutBox::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

} // namespace tarvok
