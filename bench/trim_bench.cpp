// The trim editor's own costs, one mode per run:
//   trim_bench peaks <file>             the waveform of a file (then exits)
//   trim_bench thumbs <file>            the ten thumbnails of a video (then exits)
//   trim_bench window <file>...         milliseconds until the editor's window has painted
//   trim_bench paint <file>             milliseconds per timeline frame with the file's peaks and thumbnails
//   trim_bench play <file> [seconds]    frames a second of the preview and the latest tick, while playing

#include "core/engines/ffmpeg.h"
#include "core/engines/trim_media.h"
#include "trim/preview_player.h"
#include "trim/timeline_bar.h"
#include "trim/trim_editor.h"
#include "trim/trim_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: trim_bench peaks|thumbs|window|paint|play <file>...\n");
    return 2;
}

// The first paint of any of the editor's widgets.
struct PaintWatch : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

}

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    const std::filesystem::path file = argv[2];

    if (mode == "peaks") {
        const auto peaks = TrimMedia::peaks(file, 600);
        return peaks.empty() ? 1 : 0;
    }
    if (mode == "thumbs") {
        std::promise<size_t> made;
        TrimClip::makeThumbs(file, FFmpeg::duration(file).value_or(0), [&made](std::vector<QImage> thumbs) {
            made.set_value(thumbs.size());
        });
        return made.get_future().get() == 10 ? 0 : 1;
    }

    QApplication app(argc, argv);
    if (mode == "window") {
        std::vector<std::filesystem::path> files(argv + 2, argv + argc);
        PaintWatch watch;
        app.installEventFilter(&watch);
        // A running program has its fonts loaded long before anyone opens the editor.
        if (std::getenv("WARM_FONTS")) {
            QImage scratch(10, 10, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&scratch);
            painter.setFont(QFont("Inter"));
            painter.drawText(0, 10, "Aparar");
        }
        // The real players from their module, without the playability checks.
        struct Silent : PreviewPlayers {
            PreviewPlayers& real = PreviewPlayers::current();
            std::unique_ptr<PreviewPlayer> make() override { return real.make(); }
            void checkPlayable(const std::filesystem::path&, QObject*, std::function<void(bool)>) override { }
        };
        if (std::getenv("NO_CHECKS"))
            PreviewPlayers::set(std::make_shared<Silent>());
        auto cpu = [] {
            timespec now{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
        };
        const double cpuStart = cpu();
        QElapsedTimer clock;
        clock.start();
        TrimEditor::open(files);
        const double opened = double(clock.nsecsElapsed()) / 1e6;
        while (!watch.painted)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::printf("window with %zu clips painted after %.1f ms (open returned after %.1f ms; main thread busy "
                    "%.1f ms)\n",
            files.size(), double(clock.nsecsElapsed()) / 1e6, opened, cpu() - cpuStart);
        return 0;
    }
    if (mode == "paint") {
        TrimSession session({file}, MediaKind::video);
        auto* clip = session.selected();
        while (!(clip->loaded() && !clip->peaks().empty() && clip->thumbs().size() == 10))
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        auto state = TimelineState::of(*clip, clip->duration() / 3);
        if (std::getenv("NO_THUMBS"))
            state.thumbs.clear();
        if (std::getenv("NO_PEAKS"))
            state.peaks.clear();
        QImage canvas(700, 88, QImage::Format_ARGB32_Premultiplied);
        const int frames = 500;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < frames; ++i) {
            canvas.fill(Qt::white);
            QPainter painter(&canvas);
            Timeline::paint(painter, state, canvas.size(), QColor(0, 122, 255), Qt::black);
        }
        std::printf("timeline frame with %zu peaks and %zu thumbnails: %.3f ms\n", state.peaks.size(),
            state.thumbs.size(), double(clock.nsecsElapsed()) / 1e6 / frames);
        return 0;
    }
    if (mode == "play") {
        const double seconds = argc > 3 ? std::atof(argv[3]) : 5.0;
        TrimSession session({file}, MediaKind::video);
        auto* clip = session.selected();
        while (!clip->loaded())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        int frames = 0;
        QObject::connect(&session.player(), &PreviewPlayer::frameChanged, [&frames] {
            ++frames;
        });
        // The session's tick runs every 1/30 s; a timer of the same kind measures how late it comes.
        QElapsedTimer clock;
        qint64 previous = -1, latest = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1000 / 30);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = clock.nsecsElapsed();
            if (previous >= 0)
                latest = std::max(latest, now - previous - qint64(1e9 / 30));
            previous = now;
        });
        QTimer::singleShot(500, [&] {
            frames = 0;
            clock.start();
            session.togglePlay();
            probe.start();
        });
        QTimer::singleShot(int(500 + seconds * 1000), [&] {
            const double elapsed = double(clock.nsecsElapsed()) / 1e9;
            std::printf("preview: %.1f frames a second, latest tick %.1f ms behind, playhead %.2f s\n",
                frames / elapsed, double(latest) / 1e6, session.playhead());
            QApplication::quit();
        });
        return QApplication::exec();
    }
    return usage();
}
