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
#include "shell/about_box.h"
#include "shell/app_model.h"
#include "shell/format_grid.h"
#include "shell/how_to.h"
#include "shell/hud_panel.h"
#include "shell/hud_view.h"
#include "shell/main_view.h"
#include "shell/selection_view.h"
#include "support/contrast.h"
#include "support/test_support.h"
#include "tools/tool_panel.h"
#include "trim/fake_preview_player.h"
#include "trim/trim_editor_view.h"
#include "trim/trim_session.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
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

    bool dark() const
    {
        const std::string appearance = GetParam().appearance;
        return appearance == "dark" || (appearance == "auto" && GetParam().scheme == 1);
    }

    void changeLook()
    {
        useLook(GetParam().appearance, GetParam().scheme);
        ASSERT_EQ(Theme::isDark(), dark());
    }

    // Made in the other darkness on the same desktop, so that anything drawn once in the
    // colours of the look it was made in shows up.
    void useOtherLook() { useLook(dark() ? "light" : "dark", GetParam().scheme); }
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

    // The help block's last line, the faintest text of the window.
    const QWidget* howTo = nullptr;
    for (const auto* part : emptyView.findChildren<QWidget*>())
        if (dynamic_cast<const HowToView*>(part))
            howTo = part;
    ASSERT_TRUE(howTo && howTo->isVisibleTo(&emptyView));
    const QImage image = rendered(emptyView);
    const auto lines = textLines(image, QRect(howTo->mapTo(&emptyView, QPoint(0, 0)), howTo->size()));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_GE(textContrast(image, lines.back()), 3) << "main window's foot line";
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

TEST_P(Contrast, SettingsTabSymbolsFollowTheWindow)
{
    useOtherLook();
    SettingsWindow window(SettingsModel::shared(), Updates::shared());
    window.resize(540, 600);
    ASSERT_NO_FATAL_FAILURE(changeLook());
    const QImage with = rendered(window);
    auto* bar = window.tabWidget()->tabBar();
    QPixmap nothing(36, 36);
    nothing.setDevicePixelRatio(2);
    nothing.fill(Qt::transparent);
    for (int i = 0; i < bar->count(); ++i)
        bar->setTabIcon(i, QIcon(nothing));
    const QImage without = rendered(window);
    for (int i = 0; i < bar->count(); ++i) {
        const QRect tab(bar->mapTo(&window, bar->tabRect(i).topLeft()), bar->tabRect(i).size());
        EXPECT_GE(addedContrast(with, without, tab), 3) << "symbol of \"" << bar->tabText(i).toStdString() << "\"";
    }
}

TEST_P(Contrast, TrimEditorsHintsAndToolPanelsChoices)
{
    TempDir dir;
    writeFile(dir / "férias 2024.mp4", "x");
    Installed<PreviewPlayers> players{std::make_shared<FakePlayers>()};
    useOtherLook();
    TrimSession session({dir / "férias 2024.mp4"}, MediaKind::video);
    TrimEditorView editor(
        session, [] {}, [] {});
    editor.resize(980, 660);
    editor.setAutoFillBackground(true);
    ToolOptionsView panel(ToolSession(Tool::imgCompress, {dir / "foto.png"}));
    ASSERT_NO_FATAL_FAILURE(changeLook());
    EXPECT_GT(expectReadableLabels(editor, "trim editor"), 0);

    // The chosen quality stands out from the two beside it, and its name reads on it.
    const QImage image = rendered(panel);
    std::vector<QPushButton*> choices;
    for (auto* button : panel.findChildren<QPushButton*>())
        if (button->isCheckable())
            choices.push_back(button);
    ASSERT_EQ(choices.size(), 3u);
    auto face = [&](QPushButton* button) {
        // Clear of the frame and the rounded corners.
        const QRect box(button->mapTo(&panel, QPoint(0, 0)), button->size());
        const QRect inner = box.adjusted(4, 4, -4, -4);
        return QColor::fromRgb(image.pixel(inner.left(), inner.center().y()));
    };
    const auto chosen = std::find_if(choices.begin(), choices.end(), [](auto* button) {
        return button->isChecked();
    });
    ASSERT_NE(chosen, choices.end());
    for (auto* other : choices)
        if (other != *chosen)
            EXPECT_GE(contrast(face(*chosen), face(other)), 3)
                << (*chosen)->text().toStdString() << " against " << other->text().toStdString();
    EXPECT_GE(
        textContrast(image, QRect((*chosen)->mapTo(&panel, QPoint(0, 0)), (*chosen)->size()).adjusted(4, 4, -4, -4)),
        3);
}

// The box shows the program's mark beside its name, in either look.
TEST_P(Contrast, AboutBoxsMark)
{
    ASSERT_NO_FATAL_FAILURE(changeLook());
    AboutBox::show();
    QMessageBox* box = AboutBox::shown();
    ASSERT_TRUE(box);
    const QImage image = rendered(*box);
    const QLabel* mark = nullptr;
    for (const auto* label : box->findChildren<QLabel*>())
        if (!label->pixmap().isNull() && label->isVisibleTo(box))
            mark = label;
    ASSERT_TRUE(mark);
    EXPECT_GE(textContrast(image, QRect(mark->mapTo(box, QPoint(0, 0)), mark->size())), 3);
    box->close();
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
        Look{"DarkChosen", "dark", 2}, Look{"LightChosenOnADarkDesktop", "light", 1}),
    [](const auto& info) {
        return std::string(info.param.name);
    });
