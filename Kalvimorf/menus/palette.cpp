#include "menus/palette.h"

#include <QGuiApplication>
#include <QLocale>
#include <QPalette>

namespace Theme {

namespace {

QColor rgb(int r, int g, int b, double alpha = 1)
{
    return QColor::fromRgbF(float(r / 255.0), float(g / 255.0), float(b / 255.0), float(alpha));
}

QColor white(double level, double alpha)
{
    return QColor::fromRgbF(float(level), float(level), float(level), float(alpha));
}

QColor byMode(WheelMode mode, QColor convert, QColor tools, QColor actions)
{
    switch (mode) {
    case WheelMode::convert: return convert;
    case WheelMode::tools: return tools;
    case WheelMode::actions: return actions;
    }
    return convert;
}

QColor accentForMode(WheelMode) { return accent(); }
QColor whiteForMode(WheelMode) { return Qt::white; }
QColor paper(WheelMode) { return rgb(244, 241, 234); }
QColor ink(WheelMode) { return rgb(20, 20, 20); }
// Classic keeps the mode colours for its accents only.
QColor classicDarkMetal(WheelMode m) { return byMode(m, rgb(200, 164, 100), rgb(192, 138, 104), rgb(157, 179, 160)); }
QColor classicLightMetal(WheelMode m) { return byMode(m, rgb(156, 122, 60), rgb(154, 100, 70), rgb(95, 125, 102)); }
// Stage fills the highlight with the mode's own colour.
QColor stageDark(WheelMode m) { return byMode(m, rgb(255, 46, 126), rgb(255, 194, 61), rgb(47, 216, 168)); }
QColor stageLight(WheelMode m) { return byMode(m, rgb(224, 24, 106), rgb(242, 169, 0), rgb(22, 168, 128)); }
QColor stageSelText(WheelMode m) { return byMode(m, Qt::white, rgb(27, 16, 48), rgb(27, 16, 48)); }

}

QColor standardBlue() { return rgb(0, 122, 255); }

QString displayLabel(const QString& label, const Palette& palette, WheelMode mode)
{
    if (!palette.naturalCase || mode == WheelMode::convert)
        return label;
    QString text = QLocale(QLocale::Portuguese, QLocale::Brazil).toLower(label);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    text.replace(QStringLiteral("airdrop"), QStringLiteral("AirDrop"), Qt::CaseInsensitive);
    return text;
}

QColor accent()
{
    if (QGuiApplication::platformName() == "offscreen" || !qGuiApp)
        return standardBlue();
    const auto highlight = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    return highlight.isValid() ? highlight : standardBlue();
}

Palette palette(bool dark, AppTheme theme)
{
    switch (theme) {
    case AppTheme::macos:
        return dark ? Palette{white(1, 0.03), white(1, 0.1), white(1, 0.92), white(1, 0.06), white(1, 0.95),
                   white(1, 0.55), white(1, 0.25), 0.35, false, 0, QFont::Medium, Palette::TitleDesign::standard, true,
                   true, accentForMode, accentForMode, whiteForMode}
                    : Palette{white(1, 0.22), white(0, 0.07), white(0, 0.82), white(1, 0.45), white(0, 0.88),
                        white(0, 0.5), white(0, 0.18), 0.18, false, 0, QFont::Medium, Palette::TitleDesign::standard,
                        true, true, accentForMode, accentForMode, whiteForMode};
    case AppTheme::classic:
        return dark ? Palette{rgb(28, 28, 28, 0.96), rgb(52, 49, 44), rgb(221, 215, 201), rgb(20, 20, 20),
                   rgb(244, 241, 234), rgb(154, 147, 132), rgb(90, 86, 78), 0.42, true, 0.9, QFont::DemiBold,
                   Palette::TitleDesign::standard, false, false, classicDarkMetal, paper, ink}
                    : Palette{rgb(244, 241, 234, 0.97), rgb(220, 213, 198), rgb(58, 55, 48), rgb(251, 249, 244),
                        rgb(20, 20, 20), rgb(110, 103, 90), rgb(201, 193, 176), 0.22, true, 0.9, QFont::DemiBold,
                        Palette::TitleDesign::standard, false, false, classicLightMetal, ink, paper};
    case AppTheme::stage:
        return dark ? Palette{rgb(36, 22, 61, 0.95), rgb(27, 16, 48), rgb(255, 247, 238), rgb(27, 16, 48),
                   rgb(255, 247, 238), rgb(201, 184, 232), rgb(74, 58, 102), 0.40, false, 0.2, QFont::ExtraBold,
                   Palette::TitleDesign::rounded, false, false, stageDark, stageDark, stageSelText}
                    : Palette{rgb(255, 247, 238, 0.97), rgb(233, 220, 245), rgb(27, 16, 48), Qt::white, rgb(27, 16, 48),
                        rgb(91, 75, 120), rgb(216, 204, 234), 0.20, false, 0.2, QFont::ExtraBold,
                        Palette::TitleDesign::rounded, false, false, stageLight, stageLight, stageSelText};
    }
    return palette(dark, AppTheme::macos);
}

}
