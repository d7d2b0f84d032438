// The menu's own window with the card fan or the wheel dealt in, as the program shows it, for a
// test that looks at the screen. Prints "ready <beside x> <beside y> <drawn x> <drawn y> <near x>
// <near y> <middle x> <middle y>" once the opening has settled: global points inside the window
// but off everything drawn, on a card or segment, 8 pixels outside the wheel's rim or above the
// middle card's top edge, and the wheel's centre or the middle card's.
//   menu_shape_probe fan|wheel

#include "menus/drawing_kit.h"
#include "menus/wheel_window.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    const MenuStyle style = argc > 1 && std::strcmp(argv[1], "wheel") == 0 ? MenuStyle::wheel : MenuStyle::fan;
    WheelWindow window;
    std::vector<WheelEntry> entries;
    for (const char* label : {"JPG", "PNG", "WEBP", "PDF", "TIFF"})
        entries.push_back({label, std::nullopt, std::nullopt, nullptr, [](const WheelEntry::Paths&) {}});
    auto& surface = window.surface(style);
    surface.configure(entries, "Converter", "foto.png", WheelMode::convert, "", std::nullopt);
    window.useSurface(style);
    window.placePanel(QRectF(QPointF(300, 200), window.surfaceSize(style)));
    surface.animateIn();

    QPoint beside, drawn, near, middle;
    if (style == MenuStyle::fan) {
        const QSizeF size = window.fan().state().size;
        const auto card = FanGeometry::centre(size, false, FanGeometry::baseAngle(2, 5), FanGeometry::radius);
        drawn = window.fan().mapToGlobal(Draw::fromYUp(card, size.height()).toPoint());
        middle = drawn;
        near = window.fan().mapToGlobal(
            Draw::fromYUp(card + QPointF(0, FanGeometry::cardH / 2 + 8), size.height()).toPoint());
        beside = window.fan().mapToGlobal(Draw::fromYUp(QPointF(size.width() / 2, 120), size.height()).toPoint());
    } else {
        const double centre = WheelDrawing::side / 2;
        drawn = window.wheel().mapToGlobal(QPoint(int(centre), int(centre - 107)));
        middle = window.wheel().mapToGlobal(QPoint(int(centre), int(centre)));
        const double out = WheelDrawing::outer / std::sqrt(2.0);  // 8 past a segment at rest
        near = window.wheel().mapToGlobal(QPointF(centre - out, centre - out).toPoint());
        beside = window.wheel().mapToGlobal(QPoint(12, 12));
    }
    // Ready once the window is on screen and the opening's springs have come to rest, with the
    // last frame they asked for painted.
    auto animating = [&] {
        return style == MenuStyle::fan ? window.fan().animating() : window.wheel().animating();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* handle = window.panel().windowHandle();
        if (!handle || !handle->isExposed() || animating())
            return;
        poll.stop();
        window.panel().repaint();
        std::printf("ready %d %d %d %d %d %d %d %d\n", beside.x(), beside.y(), drawn.x(), drawn.y(), near.x(), near.y(),
            middle.x(), middle.y());
    });
    poll.start(20);
    return app.exec();
}
