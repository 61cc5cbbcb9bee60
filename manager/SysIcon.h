// The manager's icon in the desktop's notification area, with the menu a press on it pops up.
//
// The icon is added only when it has an image and the desktop has a notification area; while
// there is none, AddIcon does nothing and can be called again when one appears. A left or right
// button press pops TrayMenu up at the mouse position; every other event on the icon (a double
// click, a middle click) is ignored, so a double click opens the menu once, through its press.
//
//   TSysTrayIcon tray(trayAvailable);
//   tray.SetTip("Tarvok! 2.0.0.1");
//   tray.SetIcon(NamedImage("TRAY_RED"));
//   tray.TrayMenu = menu;
//   tray.AddIcon();
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class QMenu;

namespace tarvok {

class TSysTrayIcon final : public QObject {
    Q_OBJECT
public:
    // Longer tips are cut: the notification area of the original desktop held no more.
    static constexpr int MaxTipLength = 63;

    // trayAvailable answers whether the desktop has a notification area now.
    explicit TSysTrayIcon(std::function<bool()> trayAvailable, QObject* parent = nullptr);
    // Takes the icon out of the notification area.
    ~TSysTrayIcon() override;

    void SetTip(const QString& text);
    QString Tip() const { return tip_; }
    void SetIcon(const QIcon& icon);
    // Adds the icon unless it is shown already, has no image, or there is no notification area.
    // True when it is shown afterwards.
    bool AddIcon();
    void RemoveIcon();
    // A passing notification beside the icon; nothing while the icon is not shown. A click on
    // it emits MessageClicked.
    void ShowMessage(const QString& title, const QString& text);
    bool Shown() const { return shown_; }

    // Not owned; the menu a press pops up, none: nothing pops up.
    QMenu* TrayMenu = nullptr;

    // A mouse event on the icon, as the desktop reports it.
    void Activated(QSystemTrayIcon::ActivationReason reason);

signals:
    // The user clicked the last notification shown.
    void MessageClicked();

private:
    std::function<bool()> trayAvailable_;
    QSystemTrayIcon icon_;
    QString tip_;
    bool hasImage_ = false;
    bool shown_ = false;
};

} // namespace tarvok
