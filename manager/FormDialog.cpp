#include "manager/FormDialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>

namespace tarvok {

void TFormDialog::showEvent(QShowEvent* event) {
    // A window restored by the desktop is not shown anew.
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

QHBoxLayout* TFormDialog::OkCancelRow(QPushButton*& ok, QPushButton*& cancel) {
    ok = new QPushButton(tr("&OK"), this);
    cancel = new QPushButton(tr("&Cancel"), this);
    ok->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

} // namespace tarvok
