#include "core/base/appearance.h"
#include "core/base/settings.h"
#include "menus/brivlon_mark.h"
#include "menus/drawing_kit.h"
#include "menus/magic_fireworks.h"
#include "menus/palette.h"
#include "menus/sparkle.h"
#include "menus/status_icon.h"
#include "support/contrast.h"
#include "support/test_support.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

using namespace TestSupport;

namespace {
QColor rgb(int r, int g, int b) { return QColor::fromRgbF(float(r / 255.0), float(g / 255.0), float(b / 255.0)); }

int darkness(const QImage& image, int x, int y) { return 255 - qGray(image.pixel(x, y)); }
}

TEST(Palette, ThemesAndAppearancesAndTheirModeRules)
{
    // Only macOS is glass with natural-case labels.
    EXPECT_TRUE(Theme::palette(true, AppTheme::macos).glass && Theme::palette(false, AppTheme::macos).naturalCase);
    for (bool dark : {false, true})
        for (auto theme : {AppTheme::classic, AppTheme::stage})
            EXPECT_FALSE(Theme::palette(dark, theme).glass || Theme::palette(dark, theme).naturalCase);
    // Classic swaps paper and ink between light and dark; stage gives each mode its own colour.
    const auto light = Theme::palette(false, AppTheme::classic), dark = Theme::palette(true, AppTheme::classic);
    for (auto mode : {WheelMode::convert, WheelMode::tools, WheelMode::actions})
        EXPECT_TRUE(dark.selFill(mode) == light.selText(mode) && light.selFill(mode) == dark.selText(mode));
    const auto stageDark = Theme::palette(true, AppTheme::stage);
    EXPECT_NE(stageDark.selFill(WheelMode::actions), stageDark.selFill(WheelMode::convert));
}

// One rule for the fan and the wheel.
TEST(Palette, NaturalCaseOutsideConvert)
{
    const auto natural = Theme::palette(true, AppTheme::macos);
    EXPECT_EQ(Theme::displayLabel("NA PASTA", natural, WheelMode::actions), "Na pasta");
    EXPECT_EQ(Theme::displayLabel("AIRDROP", natural, WheelMode::actions), "AirDrop");
    EXPECT_EQ(Theme::displayLabel("SEM ÁUDIO", natural, WheelMode::tools), "Sem áudio");
    EXPECT_EQ(Theme::displayLabel("PDF ÚNICO", natural, WheelMode::convert), "PDF ÚNICO");
    EXPECT_EQ(Theme::displayLabel("NA PASTA", Theme::palette(true, AppTheme::stage), WheelMode::actions), "NA PASTA");
}

TEST(Artwork, SparkleAndMarkAreCentredAndFitTheShorterSide)
{
    EXPECT_EQ(Sparkle::path(QRectF(0, 0, 40, 20)).boundingRect(), QRectF(10, 0, 20, 20));

    EXPECT_EQ(BrivlonMark::frame(QRectF(0, 0, 200, 100)), QRectF(50, 0, 100, 100));
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        BrivlonMark::paint(painter, image.rect(), Qt::black);
    }
    // The white sparkle sits on the front card, a little below the middle; nothing outside the
    // square; the back cards lean out to both sides, lighter than the front one.
    EXPECT_EQ(image.pixel(100, 54), qRgba(255, 255, 255, 255));
    EXPECT_EQ(qAlpha(image.pixel(100, 54 - 20)), 255);
    EXPECT_EQ(qAlpha(image.pixel(45, 50)) + qAlpha(image.pixel(155, 50)), 0);
    for (int x : {73, 127})
        EXPECT_NEAR(qAlpha(image.pixel(x, 40)), 89, 3);
}

TEST(Fireworks, StateAtAFixedTime)
{
    const QSizeF canvas(320, 320);
    const auto early = MagicFireworks::frame(0.15, canvas);
    EXPECT_NEAR(early.starSize, 60.5, 0.1);  // overshooting the final 58
    ASSERT_TRUE(early.ring);
    EXPECT_NEAR(early.ring->radius, 75.8, 0.1);
    // Only the outer ring has started, small and near the centre.
    ASSERT_EQ(early.particles.size(), 14u);
    for (const auto& particle : early.particles)  // 116 to 132 from the centre at the end
        EXPECT_TRUE(std::hypot(particle.centre.x() - 160, particle.centre.y() - 160) < 40 && particle.size < 8);

    const auto late = MagicFireworks::frame(2.0, canvas);
    EXPECT_FALSE(late.ring);
    EXPECT_EQ(late.particles.size(), 32u);
    // Falling: the particles sit lower than their flight alone would put them.
    double sumY = 0;
    for (const auto& particle : late.particles)
        sumY += particle.centre.y() - 160;
    EXPECT_GT(sumY / 32, 10);
    EXPECT_TRUE(MagicFireworks::frame(2.3, canvas).empty);
}

TEST(DrawingKit, ShadowsFallInDeviceSpaceAndLayersBlendAsOne)
{
    QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.translate(100, 100);
        painter.rotate(90);  // the offset below must not turn with the shape
        const QRectF square(-30, -30, 60, 60);
        Draw::withShadow(painter, square, {QPointF(0, 12), 6, QColor(0, 0, 0, 200)}, [&](QPainter& p) {
            p.fillRect(square, Qt::white);
        });
    }
    EXPECT_EQ(image.pixel(100, 100), qRgb(255, 255, 255));
    EXPECT_GT(darkness(image, 100, 136), 60);  // below the square
    EXPECT_LT(darkness(image, 136, 100), darkness(image, 100, 136));

    image.fill(Qt::white);
    {
        QPainter painter(&image);
        Draw::layer(painter, QRectF(0, 0, 200, 200), 0.5, [](QPainter& p) {
            p.fillRect(QRectF(20, 20, 100, 100), Qt::black);
            p.fillRect(QRectF(80, 80, 100, 100), Qt::black);
        });
    }
    EXPECT_NEAR(qGray(image.pixel(100, 100)), qGray(image.pixel(40, 40)), 1);
    EXPECT_NEAR(qGray(image.pixel(40, 40)), 128, 2);

    EXPECT_EQ(Draw::blended(QColor(0, 0, 0), 2, QColor(255, 255, 255)), QColor(255, 255, 255));
    EXPECT_EQ(Draw::blended(QColor(0, 100, 200), 0.5, QColor(100, 200, 0)).rgb(), qRgb(50, 150, 100));
}

TEST(RenderModes, StatusIconFromTheCommandLine)
{
    TempDir dir;
    auto render = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--render-status", (dir / "s.png").string()});
        const auto run = runBrivlon(args, 30);
        EXPECT_TRUE(run.exitCode == 0 && run.err.empty()) << run.err;
        return QImage((dir / "s.png").c_str());
    };
    // The front card spans x 23.6–48.4 and, from the top, y 12.4–48.4 of the 72 pixels.
    const auto rest = render({});
    EXPECT_GT(darkness(rest, 36, 44), 240);  // solid card
    EXPECT_LT(darkness(rest, 36, 30), 15);  // the star-shaped hole
    EXPECT_NEAR(darkness(rest, 14, 36), 115, 25);  // a lighter tilted card on each side
    EXPECT_NEAR(darkness(rest, 58, 36), 115, 25);
    EXPECT_EQ(render({"abc"}), rest);

    // A job just started: the outline, and inside it, clear of it, a bar already (rows 38–41).
    for (const char* low : {"0", "0.02", "-1"}) {
        const auto started = render({low});
        EXPECT_GT(darkness(started, 24, 30), 150) << low;  // the outline
        EXPECT_GT(darkness(started, 36, 47), 200) << low;
        EXPECT_LT(darkness(started, 36, 42), 60) << low;  // the gap above the outline
        EXPECT_GT(darkness(started, 36, 39), 200) << low;  // the bar
        EXPECT_LT(darkness(started, 36, 35), 15) << low;
        EXPECT_LT(darkness(started, 36, 22), 15) << low;
    }
    const auto half = render({"0.5"});
    EXPECT_GT(darkness(half, 36, 32), 240);
    EXPECT_LT(darkness(half, 36, 22), 15);
    const auto full = render({"1"});
    EXPECT_GT(darkness(full, 36, 16), 240);
    EXPECT_GT(darkness(full, 36, 30), 240);
}

TEST(RenderModes, BurstStillsFromTheCommandLine)
{
    TempDir dir;
    auto run = runBrivlon({"--render-burst", (dir / "burst").string()}, 30);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (int k = 0; k < 5; ++k) {
        QImage image((dir / ("burst" + std::to_string(k) + ".png")).c_str());
        EXPECT_TRUE(image.pixel(0, 0) == qRgb(255, 255, 255) && image.pixel(639, 639) == qRgb(255, 255, 255)) << k;
    }
    // Early on, the big star fills the centre with the tint.
    EXPECT_EQ(QImage((dir / "burst0.png").c_str()).pixel(320, 320), qRgb(0, 122, 255));

    run = runBrivlon({"--render-burst", (dir / "missing" / "b").string()}, 30);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

// The theme's environment is read once per process: each case is a fresh run drawing the wheel.
TEST(ThemeChoice, EnvironmentBeatsTheStoreInAFreshProcess)
{
    TempDir dir;
    Defaults::set(SettingKey::theme, "classic");
    const auto out = (dir / "w.png").string();
    auto highlight = [&](std::vector<std::pair<std::string, std::string>> env) {
        env.emplace_back("BRIVLON_APPEARANCE", "light");
        const auto run = runBrivlon({"--render-wheel", "convert", "png", out}, 30, env);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const double a = 360.0 / 7 * M_PI / 180;  // the second of seven segments
        return QColor(
            QImage(QString::fromStdString(out)).pixel(int(190 + 115 * std::sin(a)), int(190 - 115 * std::cos(a))));
    };
    EXPECT_EQ(highlight({{"BRIVLON_THEME", "stage"}}), rgb(224, 24, 106));
    const QColor macos = rgb(0, 122, 255);
    EXPECT_EQ(highlight({{"BRIVLON_THEME", "neon"}}), macos);  // unknown: the store is not asked
    EXPECT_EQ(highlight({{"BRIVLON_THEME", ""}}), macos);  // empty still counts
    EXPECT_EQ(highlight({}), rgb(20, 20, 20));  // no variable: the stored classic
    Defaults::remove(SettingKey::theme);
}

namespace {
QImage onPanel(const QImage& icon, const QColor& panel)
{
    QImage shown(icon.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(panel);
    QPainter painter(&shown);
    painter.drawImage(0, 0, icon);
    return shown;
}

// The contrast at the mark's edge as it shows on `panel`: along the outline of what the bare mark
// covers (at least half), between each pixel just inside and its neighbour just outside, the
// median. What surrounds the mark there is the panel, or whatever the icon lays round it.
double edgeContrast(const QImage& icon, const QImage& mark, const QColor& panel)
{
    const QImage shown = onPanel(icon, panel);
    const auto inside = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < mark.width() && y < mark.height() && qAlpha(mark.pixel(x, y)) >= 128;
    };
    std::vector<double> ratios;
    for (int y = 0; y < mark.height(); ++y)
        for (int x = 0; x < mark.width(); ++x) {
            if (!inside(x, y))
                continue;
            for (const auto& [dx, dy] : {std::pair(1, 0), std::pair(-1, 0), std::pair(0, 1), std::pair(0, -1)})
                if (!inside(x + dx, y + dy)) {
                    const int ox = std::clamp(x + dx, 0, mark.width() - 1), oy = std::clamp(y + dy, 0, mark.height() - 1);
                    ratios.push_back(contrast(QColor(shown.pixel(x, y)), QColor(shown.pixel(ox, oy))));
                }
        }
    if (ratios.empty())
        return 1;
    std::nth_element(ratios.begin(), ratios.begin() + ptrdiff_t(ratios.size() / 2), ratios.end());
    return ratios[ratios.size() / 2];
}
}

// The tray puts the icon on the desktop's panel, whose colour nobody tells: Xfce and LXDE pair a
// light theme (dark ink) with a dark panel. At the tray's 22 pixels and at twice that, the mark's
// edge and its progress bar stand off a dark panel and a light one alike, in either ink.
TEST(StatusIcon, ReadsOnDarkAndLightPanelsAlike)
{
    const QColor dark("#373737"), light("#f0f0f0");
    for (double scale : {22 / 18.0, 44 / 18.0})
        for (bool lightInk : {false, true}) {
            for (std::optional<double> progress : {std::optional<double>(), std::optional(0.0), std::optional(0.5), std::optional(1.0)})
                for (const QColor& panel : {dark, light}) {
                    const double ratio = edgeContrast(
                        StatusIcon::trayImage(progress, scale, lightInk), StatusIcon::image(progress, scale), panel);
                    EXPECT_GE(ratio, 3) << scale * 18 << " px, " << (lightInk ? "white" : "black") << " ink, progress "
                                        << progress.value_or(-1) << ", panel " << panel.name().toStdString();
                }
            // The bar that rises with the jobs, against what the card shows without it.
            const auto empty = StatusIcon::trayImage(0.0, scale, lightInk);
            const auto half = StatusIcon::trayImage(0.5, scale, lightInk);
            for (const QColor& panel : {dark, light})
                EXPECT_GE(addedContrast(onPanel(half, panel), onPanel(empty, panel), half.rect()), 3)
                    << scale * 18 << " px, the bar on " << panel.name().toStdString();
        }
}
