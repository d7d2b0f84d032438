// The painted parts of the main window at fixed states, and its menu bar.

#include "settings/updates.h"
#include "shell/about_box.h"
#include "shell/app_model.h"
#include "shell/drop_zone.h"
#include "shell/format_grid.h"
#include "shell/main_view.h"
#include "shell/main_window.h"
#include "shell/mode_tabs.h"
#include "support/test_support.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

namespace {

const QColor blue(0, 122, 255);
const QColor paper(236, 236, 236);

QImage canvas(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(paper);
    return image;
}

int distance(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// The pixel nearest to `colour` along the row `y` between `from` and `to`.
int closest(const QImage& image, int y, int from, int to, const QColor& colour)
{
    int best = 1000;
    for (int x = from; x < to; ++x)
        best = std::min(best, distance(image.pixelColor(x, y), colour));
    return best;
}

QAction* find(QMenuBar& bar, const QString& title)
{
    for (auto* menu : bar.findChildren<QMenu*>())
        for (auto* action : menu->actions())
            if (action->text() == title)
                return action;
    return nullptr;
}

}

TEST(MainWindowDrawing, AHoveringDragColoursTheBorderAndTurnsTheMark)
{
    const QRectF bounds(0, 0, 540, 340);
    const QSizeF button(160, 32);
    const auto colors = ViewColors::of(false, blue);
    QImage rest = canvas(QSize(540, 340)), hovered = canvas(QSize(540, 340));
    {
        QPainter painter(&rest);
        DropZoneDrawing::paint(painter, bounds, button, {0, WheelMode::convert, false}, colors);
    }
    {
        QPainter painter(&hovered);
        DropZoneDrawing::paint(painter, bounds, button, {1, WheelMode::convert, false}, colors);
    }
    // Down the left edge: grey dashes at rest, blue ones under the drag.
    const int y = 170;
    EXPECT_GT(closest(rest, y, 0, 10, blue), 150);
    EXPECT_LT(closest(hovered, y, 0, 10, blue), 90);
    // The inside takes a faint tint of the colour.
    EXPECT_EQ(rest.pixelColor(40, 40), paper);
    EXPECT_NE(hovered.pixelColor(40, 40), paper);
    // The mark turns: its upright front card no longer covers the same pixels.
    int changed = 0;
    for (int yy = 40; yy < 120; ++yy)
        for (int x = 230; x < 310; ++x)
            changed += distance(rest.pixelColor(x, yy), hovered.pixelColor(x, yy)) > 60;
    EXPECT_GT(changed, 200);
    // The button keeps its place below the text, inside the zone.
    const QRectF place = DropZoneDrawing::buttonRect(bounds, button);
    EXPECT_NEAR(place.center().x(), bounds.center().x(), 0.5);
    EXPECT_GT(place.top(), bounds.center().y());
    EXPECT_LT(place.bottom(), bounds.bottom());
}

TEST(MainWindowDrawing, ATileLightsUnderThePointerAndShrinksWhenPressed)
{
    const FormatTile tile{"JPG", "Alta · 90%", "Converter para JPG", true};
    const QRectF rect(10, 10, 120, 54);
    const auto colors = ViewColors::of(false, blue);
    auto paint = [&](TileLook look) {
        QImage image = canvas(QSize(140, 74));
        QPainter painter(&image);
        FormatGridDrawing::paintTile(painter, rect, tile, look, colors);
        return image;
    };
    const QImage rest = paint({0, 0, false}), hover = paint({1, 0, true}), pressed = paint({0, 1, false});
    const QPoint inside(20, 20);
    EXPECT_LT(rest.pixelColor(inside).blue() - rest.pixelColor(inside).red(), 5) << "grey at rest";
    EXPECT_GT(hover.pixelColor(inside).blue() - hover.pixelColor(inside).red(), 20) << "the colour under the pointer";
    EXPECT_GT(pressed.pixelColor(inside).blue() - pressed.pixelColor(inside).red(),
        hover.pixelColor(inside).blue() - hover.pixelColor(inside).red())
        << "the strongest fill while pressed";
    // Grown past its cell when hovered, inside it when pressed.
    const QPoint justOutside(8, 37);
    EXPECT_NE(hover.pixelColor(justOutside), paper);
    EXPECT_EQ(pressed.pixelColor(QPoint(12, 37)), paper);
}

// The part the keyboard is on wears a ring in the accent colour just outside it; the others none.
TEST(MainWindowDrawing, TheKeyboardsTileAndTabWearARing)
{
    const auto colors = ViewColors::of(false, blue);
    const FormatTile tile{"PNG", "", "Converter para PNG", true};
    const QRectF rect(10, 10, 120, 54);
    auto tileImage = [&](bool focused) {
        QImage image = canvas(QSize(140, 74));
        QPainter painter(&image);
        FormatGridDrawing::paintTile(painter, rect, tile, {0, 0, false, focused}, colors);
        return image;
    };
    const QImage plain = tileImage(false), ringed = tileImage(true);
    // Halfway down the left edge, a pixel outside the tile.
    EXPECT_EQ(plain.pixelColor(8, 37), paper);
    EXPECT_LT(distance(ringed.pixelColor(8, 37), blue), 90);

    const QRectF bounds(0, 0, 540, 38);
    auto tabsImage = [&](int focused) {
        ModeTabsLook look;
        look.focused = focused;
        QImage image = canvas(QSize(540, 38));
        QPainter painter(&image);
        ModeTabsDrawing::paint(painter, bounds, look, colors);
        return image;
    };
    const QImage none = tabsImage(-1), second = tabsImage(1);
    for (int tab = 0; tab < 3; ++tab) {
        const QRectF place = ModeTabsDrawing::tabRect(bounds, tab);
        const int x = int(place.left()) + 1, y = int(place.center().y());
        EXPECT_EQ(closest(second, y, x - 1, x + 2, blue) < 120, tab == 1) << tab;
        EXPECT_GT(closest(none, y, x - 1, x + 2, blue), 120) << tab;
    }
}

TEST(MainWindowMenus, TheDesktopsMenusEveryItemLiveAndClosingOnlyHides)
{
    auto& window = MainWindow::shared();
    auto& bar = *window.menuBar();
    QStringList titles, items;
    for (auto* action : bar.actions()) {
        titles << action->text();
        for (auto* item : action->menu()->actions())
            items << item->text();
    }
    EXPECT_EQ(titles, QStringList({"Arquivo", "Editar", "Ajuda"}));
    // Nothing of another system's application menu: no hiding, zooming or bringing to the front.
    for (const char* gone : {"Ocultar Brivlon", "Zoom", "Minimizar", "Trazer tudo para a frente"})
        EXPECT_FALSE(items.contains(gone)) << gone;
    for (const char* item : {"Ajustes…", "Procurar atualizações…", "Relatar um problema…", "Sair", "Sobre o Brivlon"}) {
        ASSERT_TRUE(find(bar, item)) << item;
        EXPECT_TRUE(find(bar, item)->isEnabled()) << item;
    }
    EXPECT_EQ(find(bar, "Ajustes…")->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_EQ(find(bar, "Sair")->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(find(bar, "Escolher arquivos…")->shortcut(), QKeySequence("Ctrl+O"));

    // "Escolher arquivos…" asks as the drop zone's button does.
    TestSupport::TempDir dir;
    MainView::setChooser([&](QWidget*) {
        return std::optional(std::vector<fs::path>{dir / "nota.txt"});
    });
    find(bar, "Escolher arquivos…")->trigger();
    MainView::setChooser({});
    EXPECT_EQ(AppModel::shared().files(), std::vector<fs::path>{dir / "nota.txt"});
    AppModel::shared().setFiles({});

    window.present();
    EXPECT_TRUE(window.isVisible());
    find(bar, "Fechar janela")->trigger();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(&window, &MainWindow::shared());
}

TEST(MainWindowMenus, AboutIsOneBoxWithTheVersionAndTheTwoLines)
{
    auto* about = find(*MainWindow::shared().menuBar(), "Sobre o Brivlon");
    ASSERT_TRUE(about);
    about->trigger();
    QMessageBox* box = AboutBox::shown();
    ASSERT_TRUE(box);
    const QString text = QTextDocumentFragment::fromHtml(box->text()).toPlainText();
    EXPECT_TRUE(text.contains("Brivlon"));
    EXPECT_TRUE(text.contains(Updates::displayVersion()));
    EXPECT_FALSE(Updates::displayVersion().isEmpty());
    EXPECT_TRUE(
        text.contains("Converta qualquer arquivo sem sair do arraste.\nTudo processado no seu computador, offline."))
        << text.toStdString();
    about->trigger();
    EXPECT_EQ(AboutBox::shown(), box) << "asked again, the same box comes forward";
    box->close();
    EXPECT_FALSE(AboutBox::shown());
}
