// --render-view main: the picture of the main window, checked where the window's own layout
// puts its parts.

#include "shell/app_model.h"
#include "shell/drop_zone.h"
#include "shell/format_grid.h"
#include "shell/main_view.h"
#include "shell/selection_view.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

int difference(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// Pixels close to the fixed blue accent.
int accentPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.blue() > 200 && c.red() < 60 && c.green() > 90 && c.green() < 150;
        }
    return count;
}

QImage render(const std::vector<std::string>& extra, const std::string& appearance, const fs::path& out)
{
    std::vector<std::string> arguments{"--render-view", "main", out.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto run = runBrivlon(arguments, 60, {{"BRIVLON_APPEARANCE", appearance}, {"BRIVLON_THEME", "macos"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return QImage(QString::fromStdString(out.string())).convertToFormat(QImage::Format_ARGB32);
}

}

TEST(MainViewRender, DropZoneAndSelectionInLightAndDark)
{
    TempDir dir;
    writeFile(dir / "foto.png", "x");
    // The same layout in this process tells where the parts stand in the picture.
    // Each view is made in its final state, as the render mode makes it: no entrance under way.
    AppModel emptyModel;
    MainView emptyView(emptyModel);
    emptyView.show();
    const QRect zone(emptyView.dropZone()->mapTo(&emptyView, QPoint(0, 0)), emptyView.dropZone()->size());
    AppModel model;
    model.setFiles({dir / "foto.png"});
    MainView view(model);
    view.show();
    QCoreApplication::processEvents();
    const auto* grid = view.selection()->grid();
    const auto& content = view.selection()->content();
    const auto jpg = std::find_if(content.entries.begin(), content.entries.end(), [](auto& e) {
        return e.label == "JPG";
    });
    ASSERT_NE(jpg, content.entries.end());
    const QRectF tile = FormatGridDrawing::tileRect(grid->width(), int(jpg - content.entries.begin()));
    const QPoint tilePoint = grid->mapTo(&view, QPointF(tile.left() + 14, tile.top() + 8).toPoint());
    const auto* picker = view.selection()->picker();
    const QPoint pickerPoint = picker->mapTo(&view, QPoint(picker->width() - 3, picker->height() / 2));

    for (const std::string appearance : {"light", "dark"}) {
        SCOPED_TRACE(appearance);
        const QImage empty = render({}, appearance, dir / ("vazio-" + appearance + ".png"));
        ASSERT_EQ(empty.size(), QSize(580, 560));
        const QColor background = empty.pixelColor(3, 3);
        EXPECT_EQ(background.lightness() > 128, appearance == "light");
        EXPECT_GT(accentPixels(empty), 300) << "the mark in the theme's colour";
        // The border is dashed: down its left edge some pixels are drawn and some left out.
        int drawn = 0, run = 0;
        for (int y = zone.top() + 30; y < zone.bottom() - 30; ++y, ++run) {
            bool ink = false;
            for (int x = zone.left(); x < zone.left() + 10; ++x)
                ink = ink || difference(empty.pixelColor(x, y), background) > 12;
            drawn += ink;
        }
        EXPECT_GT(drawn, run * 3 / 10);
        EXPECT_LT(drawn, run * 8 / 10);

        const QImage chosen
            = render({"convert", (dir / "foto.png").string()}, appearance, dir / ("foto-" + appearance + ".png"));
        ASSERT_EQ(chosen.size(), QSize(580, 560));
        EXPECT_LT(accentPixels(chosen), 50) << "no mark once files are chosen";
        const QColor tileFill = chosen.pixelColor(tilePoint);
        EXPECT_GT(difference(tileFill, background), 20) << "the JPG tile's fill";
        EXPECT_EQ(tileFill.lightness() < background.lightness(), appearance == "light");
        EXPECT_GT(difference(chosen.pixelColor(pickerPoint), background), 10) << "the quality row's picker";
    }
}
