// The status lamp: a 17 by 17 control that draws one of the named 15 by 15 lamp images inside a
// one-pixel margin, in one of eight colours, lit or dark, plain or inside a dark ring (heavy).
//
//   TGraphicLight light(parent);     // green, dark, plain
//   light.SetDarkLite(false);
//   light.SetActiveLight(TActiveLight::alRed);   // draws "RED"
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

namespace tarvok {

// In stored order, 0 to 7.
enum class TActiveLight { alRed, alBlue, alGreen, alYellow, alMangenta, alGray, alCyan, alWhite };

// The image of a lamp: "RED", "DARK_RED", "RED_LITE", "DARK_RED_LITE", ...; dark white is
// "BLACK" in the plain style. Empty for a colour outside the eight.
QString LampName(TActiveLight light, bool dark, bool heavy);

// A named image of the program's resources (lamps, tray and tree images), with its double-size
// drawing for screens scaled to 200 %. A null icon for a name the resources do not hold.
QIcon NamedImage(const QString& name);

class TGraphicLight final : public QWidget {
    Q_OBJECT
public:
    static constexpr int LightSize = 17;
    static constexpr int LampSize = 15;

    explicit TGraphicLight(QWidget* parent = nullptr);

    TActiveLight ActiveLight() const { return activeLight_; }
    bool DarkLite() const { return darkLite_; }
    bool HeavyLite() const { return heavyLite_; }
    // Each repaints only when the value changes.
    void SetActiveLight(TActiveLight value);
    void SetDarkLite(bool value);
    void SetHeavyLite(bool value);

    // The name of the image drawn now.
    QString Lamp() const { return LampName(activeLight_, darkLite_, heavyLite_); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TActiveLight activeLight_ = TActiveLight::alGreen;
    bool darkLite_ = true;
    bool heavyLite_ = false;
};

} // namespace tarvok
