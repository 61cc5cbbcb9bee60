#include "manager/SysIcon.h"

#include <QCursor>
#include <QMenu>

namespace tarvok {

TSysTrayIcon::TSysTrayIcon(std::function<bool()> trayAvailable, QObject* parent)
    : QObject(parent), trayAvailable_(std::move(trayAvailable)) {
    connect(&icon_, &QSystemTrayIcon::activated, this, &TSysTrayIcon::Activated);
    connect(&icon_, &QSystemTrayIcon::messageClicked, this, &TSysTrayIcon::MessageClicked);
}

TSysTrayIcon::~TSysTrayIcon() {
    RemoveIcon();
}

void TSysTrayIcon::SetTip(const QString& text) {
    tip_ = text.left(MaxTipLength);
    icon_.setToolTip(tip_);
}

void TSysTrayIcon::SetIcon(const QIcon& icon) {
    hasImage_ = !icon.isNull();
    icon_.setIcon(icon);
}

bool TSysTrayIcon::AddIcon() {
    if (!shown_ && hasImage_ && trayAvailable_()) {
        icon_.show();
        shown_ = true;
    }
    return shown_;
}

void TSysTrayIcon::RemoveIcon() {
    if (shown_) {
        icon_.hide();
        shown_ = false;
    }
}

void TSysTrayIcon::ShowMessage(const QString& title, const QString& text) {
    if (shown_) {
        icon_.showMessage(title, text, QSystemTrayIcon::Warning);
    }
}

void TSysTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    // Trigger is the left button's press, Context the right one's.
    const bool press = reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context;
    if (press && TrayMenu != nullptr) {
        TrayMenu->popup(QCursor::pos());
    }
}

} // namespace tarvok
