// Every surface's labels against what lies behind them, in the looks a user meets: the automatic
// appearance on a light desktop and on a dark one (the desktop's colour scheme), and dark chosen.
// Text is judged as drawn: within a label's box the commonest colour is its background and the
// pixel that stands out most is its ink. Painted menus are judged by the colours they paint with.

#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "core/state/settings_model.h"
#include "menus/card_fan.h"
#include "menus/desktop_theme.h"
#include "menus/palette.h"
#include "menus/wheel_view.h"
#include "settings/settings_window.h"
#include "settings/updates.h"
#include "shell/app_model.h"
#include "shell/format_grid.h"
#include "shell/hud_panel.h"
#include "shell/hud_view.h"
#include "shell/main_view.h"
#include "shell/selection_view.h"
#include "support/contrast.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QImage>
#include <QLabel>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace TestSupport;

namespace {

struct Look {
    const char* name;
    const char* appearance;
    uint scheme;  // the desktop's colour scheme: 1 dark, 2 light
};

// The desktop's colour scheme as its settings portal announces it: 1 dark, 2 light, 0 none.
void announceScheme(uint scheme)
{
    auto signal = QDBusMessage::createSignal(
        "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
    signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
           << QVariant::fromValue(QDBusVariant(scheme));
    Theme::Notifier::shared().portalSettingChanged(signal);
}

void useLook(const char* appearance, uint scheme)
{
    Defaults::set(SettingKey::appearance, QString::fromLatin1(appearance));
    announceScheme(scheme);
    DesktopTheme().apply();
    QCoreApplication::processEvents();
}

// The windows are made on a light desktop and the look changes under them, as when the desktop
// switches its scheme or the user picks another appearance with the windows open.
class Contrast : public ::testing::TestWithParam<Look> {
protected:
    void SetUp() override { useLook("auto", 2); }
    void TearDown() override { useLook("auto", 0); }

    void changeLook()
    {
        useLook(GetParam().appearance, GetParam().scheme);
        ASSERT_EQ(Theme::isDark(), GetParam().scheme == 1 || std::string(GetParam().appearance) == "dark");
    }
};
}

TEST_P(Contrast, MainWindowInEveryMode)
{
    TempDir dir;
    writeFile(dir / "foto.png", "x");
    const WheelMode modes[] = {WheelMode::convert, WheelMode::tools, WheelMode::actions};
    std::vector<std::unique_ptr<AppModel>> models;
    std::vector<std::unique_ptr<MainView>> views;
    for (const auto mode : modes) {
        models.push_back(std::make_unique<AppModel>());
        models.back()->setMode(mode);
        models.back()->setFiles({dir / "foto.png"});
        views.push_back(std::make_unique<MainView>(*models.back()));
    }
    AppModel empty;
    MainView emptyView(empty);
    ASSERT_NO_FATAL_FAILURE(changeLook());

    for (size_t k = 0; k < views.size(); ++k) {
        const std::string where = "main window, mode " + std::to_string(int(modes[k]));
        MainView& view = *views[k];
        view.setAutoFillBackground(true);
        const QImage image = rendered(view);
        const auto* grid = view.selection()->grid();
        ASSERT_FALSE(grid->tiles().empty()) << where;
        for (size_t i = 0; i < grid->tiles().size(); ++i) {
            // The tile's face, clear of its rounded corners.
            const QRect tile = FormatGridDrawing::tileRect(grid->width(), int(i)).toRect().adjusted(8, 6, -8, -6);
            EXPECT_GE(textContrast(image, QRect(grid->mapTo(&view, tile.topLeft()), tile.size())), 3)
                << where << ": tile " << grid->tiles()[i].label;
        }
        expectReadableLabels(view, where);
    }
    emptyView.setAutoFillBackground(true);
    expectReadableLabels(emptyView, "main window without files");
}

TEST_P(Contrast, EverySettingsPage)
{
    auto& model = SettingsModel::shared();
    SettingsWindow window(model, Updates::shared());
    window.resize(540, 600);
    ASSERT_NO_FATAL_FAILURE(changeLook());
    for (const auto& tab : SettingsWindow::tabs()) {
        model.setTab(tab);
        EXPECT_GT(expectReadableLabels(window, "settings, " + tab.toStdString()), 0) << tab.toStdString();
    }
}

TEST_P(Contrast, MenusAndPanelPaintWithReadableColours)
{
    CardFan fan;
    WheelView wheel;
    HudPanel hud(JobStore::shared());
    ASSERT_NO_FATAL_FAILURE(changeLook());
    for (QWidget* surface : std::initializer_list<QWidget*>{&fan, &wheel, &hud}) {
        const bool dark = Theme::isDark(surface);
        EXPECT_EQ(dark, Theme::isDark());
        const auto palette = Theme::palette(dark, Theme::current());
        // Faces with some transparency show over a desktop of the same darkness.
        const QColor desktop = dark ? QColor(30, 30, 32) : QColor(240, 240, 240);
        auto readable = [&](const QColor& ink, const QColor& face) {
            const QColor ground = over(face, desktop);
            return contrast(over(ink, ground), ground);
        };
        EXPECT_GE(readable(palette.text, palette.slice), 3);
        EXPECT_GE(readable(palette.title, palette.center), 3);
        for (const auto mode : {WheelMode::convert, WheelMode::tools, WheelMode::actions})
            EXPECT_GE(readable(palette.selText(mode), palette.selFill(mode)), 3);
    }
    const auto colours = HudView::Colours::of(Theme::isDark(&hud), Theme::current());
    const QColor ground = over(colours.background, Theme::isDark() ? QColor(30, 30, 32) : QColor(240, 240, 240));
    EXPECT_GE(contrast(over(colours.primary, ground), ground), 3);
    EXPECT_GE(contrast(over(colours.secondary, ground), ground), 3);
}

INSTANTIATE_TEST_SUITE_P(Looks, Contrast,
    ::testing::Values(Look{"AutoOnALightDesktop", "auto", 2}, Look{"AutoOnADarkDesktop", "auto", 1},
        Look{"DarkChosen", "dark", 2}),
    [](const auto& info) { return std::string(info.param.name); });
