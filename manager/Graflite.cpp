#include "manager/Graflite.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <array>

// The images live in a static library, whose resource registration the linker would drop: it
// is called here, outside any namespace, as Qt's macro needs.
static void RegisterImages() {
    Q_INIT_RESOURCE(images);
}

namespace tarvok {

namespace {

struct TLampNames {
    TActiveLight Light;
    const char* Lit;
    const char* Dark;
    const char* LitHeavy;
    const char* DarkHeavy;
};

constexpr std::array<TLampNames, 8> LampTable{{
    {TActiveLight::alRed, "RED", "DARK_RED", "RED_LITE", "DARK_RED_LITE"},
    {TActiveLight::alBlue, "BLUE", "DARK_BLUE", "BLUE_LITE", "DARK_BLUE_LITE"},
    {TActiveLight::alGreen, "GREEN", "DARK_GREEN", "GREEN_LITE", "DARK_GREEN_LITE"},
    {TActiveLight::alYellow, "YELLOW", "DARK_YELLOW", "YELLOW_LITE", "DARK_YELLOW_LITE"},
    {TActiveLight::alMangenta, "MANGENTA", "DARK_MANGENTA", "MANGENTA_LITE", "DARK_MANGENTA_LITE"},
    {TActiveLight::alGray, "GRAY", "DARK_GRAY", "GRAY_LITE", "DARK_GRAY_LITE"},
    {TActiveLight::alCyan, "CYAN", "DARK_CYAN", "CYAN_LITE", "DARK_CYAN_LITE"},
    {TActiveLight::alWhite, "WHITE", "BLACK", "WHITE_LITE", "DARK_WHITE_LITE"},
}};

} // namespace

QString LampName(TActiveLight light, bool dark, bool heavy) {
    for (const TLampNames& names : LampTable) {
        if (names.Light == light) {
            return QString::fromLatin1(heavy ? (dark ? names.DarkHeavy : names.LitHeavy)
                                             : (dark ? names.Dark : names.Lit));
        }
    }
    return {};
}

QIcon NamedImage(const QString& name) {
    // Loaded once per name: the light repaints often and the tree asks for its four images per
    // node.
    static QHash<QString, QIcon> loaded;
    static const bool registered = (RegisterImages(), true);
    (void)registered;
    const auto found = loaded.constFind(name);
    if (found != loaded.constEnd()) {
        return *found;
    }
    const QString path = QStringLiteral(":/images/%1.png").arg(name);
    QIcon icon;
    if (!name.isEmpty() && QFile::exists(path)) {
        // Both drawings, whatever the scale at loading time: a screen may be scaled later.
        icon.addFile(path);
        icon.addFile(QStringLiteral(":/images/%1@2x.png").arg(name));
    }
    loaded.insert(name, icon);
    return icon;
}

TGraphicLight::TGraphicLight(QWidget* parent) : QWidget(parent) {
    setFixedSize(LightSize, LightSize);
}

void TGraphicLight::SetActiveLight(TActiveLight value) {
    if (value != activeLight_) {
        activeLight_ = value;
        repaint();
    }
}

void TGraphicLight::SetDarkLite(bool value) {
    if (value != darkLite_) {
        darkLite_ = value;
        update();
    }
}

void TGraphicLight::SetHeavyLite(bool value) {
    if (value != heavyLite_) {
        heavyLite_ = value;
        update();
    }
}

void TGraphicLight::paintEvent(QPaintEvent*) {
    const QIcon lamp = NamedImage(Lamp());
    if (lamp.isNull()) {
        return;
    }
    QPainter painter(this);
    lamp.paint(&painter, QRect(1, 1, LampSize, LampSize));
}

} // namespace tarvok
