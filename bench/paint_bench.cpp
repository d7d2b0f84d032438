// Frames per second of a frame of 18 shadowed card bodies, the heaviest thing the card fan
// paints, on one core. Run by bench/drawing.sh; never by the tests. BENCH_UNCACHED=1 measures
// shadows made afresh for every card, as for shapes that change.
#include "menus/drawing_kit.h"
#include "menus/palette.h"
#include "menus/wheel_view.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const auto palette = Theme::palette(false, AppTheme::classic);
    QImage frame(900, 600, QImage::Format_ARGB32_Premultiplied);
    QPainterPath card;
    card.addRoundedRect(QRectF(-45, -62, 90, 124), 12, 12);
    const int frames = 120;
    QElapsedTimer timer;
    timer.start();
    for (int f = 0; f < frames; ++f) {
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < 18; ++i) {
            painter.save();
            painter.translate(450, 560);
            painter.rotate(-60 + i * 7 + f * 0.05);
            painter.translate(0, -380);
            Draw::withShadow(
                painter, card.boundingRect(), {QPointF(0, 6), 14, Draw::withAlpha(Qt::black, palette.shadow)},
                [&](QPainter& p) {
                    p.fillPath(card, palette.slice);
                    p.strokePath(card, QPen(palette.sliceLine, 1));
                },
                std::getenv("BENCH_UNCACHED") ? 0 : 1);
            painter.restore();
        }
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%d frames of 18 shadowed cards: %.1f frames per second\n", frames, frames / seconds);

    // One frame of the radial wheel with eight segments, one lit, the springs settled.
    WheelState wheel;
    wheel.configure(std::vector<WheelEntry>(8, WheelEntry{"REDIMEN- SIONAR", "Redimensionar", {}, {}, {}}), "Converter",
        "exemplo.png", WheelMode::convert, "", 0);
    wheel.settleOn(2);
    QImage canvas(380, 380, QImage::Format_ARGB32_Premultiplied);
    timer.restart();
    for (int f = 0; f < frames; ++f) {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        WheelDrawing::paint(painter, wheel, 10, palette);
    }
    std::printf("%d wheel frames: %.1f frames per second\n", frames, frames / (timer.nsecsElapsed() / 1e9));
}
