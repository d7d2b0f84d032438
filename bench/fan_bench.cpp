// Frames per second of one card fan frame (shadows, faces, labels and the pill) with 8 and with
// 18 cards, on one core: settled with one card raised, and while the raised card's spring still
// moves. Run by bench/fan.sh; never by the tests.
#include "menus/card_fan_drawing.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <ctime>

namespace {

// Processor time of the whole process: on a busy machine the wall clock also counts the time
// others held the core.
double processorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

FanState fan(int count)
{
    FanState state;
    const char* labels[] = {"JPG", "HEIC", "WEBP", "AVIF", "TIFF", "BMP", "GIF", "PDF", "SEM METADADOS"};
    for (int i = 0; i < count; ++i)
        state.cards.push_back({labels[i % 9], "Converter", std::nullopt, nullptr, nullptr});
    state.lift.assign(size_t(count), Spring{0, 0, 0, 420, 32});
    state.title = "Converter";
    state.subtitle = "exemplo.png";
    state.highlighted = count / 2;
    state.lift[size_t(count / 2)].value = 1;
    return state;
}

void measure(int count, bool moving)
{
    const auto palette = Theme::palette(false, AppTheme::classic);
    auto state = fan(count);
    QImage frame(660, 450, QImage::Format_ARGB32_Premultiplied);
    const int frames = 400;
    QElapsedTimer timer;
    double processorStart = 0;
    for (int f = -20; f < frames; ++f) {  // the first frames warm the caches
        if (f == 0) {
            timer.start();
            processorStart = processorSeconds();
        }
        if (moving)
            state.lift[size_t(count / 2)].value = 0.5 + 0.5 * ((f % 60) / 60.0);
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        paintFan(painter, state, 0, palette);
    }
    const double seconds = timer.nsecsElapsed() / 1e9, processor = processorSeconds() - processorStart;
    std::printf("%2d cards, %s: %.2f ms a frame (%.0f frames per second); processor time %.2f ms a frame\n", count,
        moving ? "lifting" : "settled", seconds * 1000 / frames, frames / seconds, processor * 1000 / frames);
}

}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (int count : {8, 18})
        for (bool moving : {false, true})
            measure(count, moving);
}
