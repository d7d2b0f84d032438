// The trim editor's scripted playback, for the window tests: trim_play_probe <seconds> <multi|x>
// <file> opens the editor on the file with the real players, seeks once the file is read, plays,
// and prints one line, "início=… agulha antes=… depois de 1,5 s=… tocando=sim|não", or "sem
// sessão" when the editor could not open.

#include "trim/trim_clip.h"
#include "trim/trim_editor.h"
#include "trim/trim_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

// Runs `then` once `ready` holds, looking again every 20 ms while `context` lives.
void once(QObject* context, std::function<bool()> ready, std::function<void()> then)
{
    if (ready())
        return then();
    QTimer::singleShot(20, context, [context, ready = std::move(ready), then = std::move(then)]() mutable {
        once(context, std::move(ready), std::move(then));
    });
}

// Once the file is read, seeks to `t` (with `multi`, in the second of two ranges 1–2 s and
// 3–5 s), plays once the player stands there and reports where the playhead is 1.5 s after it
// started to move. Each step waits for the session, not for a time, so that a slow start on a
// loaded machine shows as a late report rather than a wrong one.
void playTest(double t, bool multi, std::function<void(const std::string&)> report)
{
    auto session = [] {
        return TrimEditor::shared().session();
    };
    auto* clip = session() ? session()->selected() : nullptr;
    if (!clip) {
        report("sem sessão");
        return;
    }
    QPointer<TrimClip> guard(clip);
    // Whatever goes away meanwhile ends the scenario with the same answer.
    auto gone = [session, guard] {
        return !guard || !session();
    };
    once(
        &TrimEditor::shared(),
        [gone, guard] {
            return gone() || guard->loaded();
        },
        [session, gone, guard, t, multi, report] {
            if (gone())
                return report("sem sessão");
            if (multi) {
                guard->setSegments(
                    {ClipRange{QUuid::createUuid(), 1.0, 2.0}, ClipRange{QUuid::createUuid(), 3.0, 5.0}}, 1);
                session()->seek(t);
            } else {
                session()->seek(t);
                guard->setStart(session()->playhead());
                session()->announce();
            }
            once(
                &TrimEditor::shared(),
                [session, gone] {
                    return gone() || session()->pendingSeeks() == 0;
                },
                [session, gone, guard, report] {
                    if (gone())
                        return report("sem sessão");
                    const double before = session()->playhead();
                    session()->togglePlay();
                    // The pipeline may take a while to roll: the 1.5 s count from its first step. A
                    // playhead that never moves is reported too, after 20 s.
                    QElapsedTimer waited;
                    waited.start();
                    once(
                        &TrimEditor::shared(),
                        [session, gone, before, waited] {
                            return gone() || !session()->isPlaying() || session()->playhead() > before
                                || waited.hasExpired(20000);
                        },
                        [session, gone, guard, report, before] {
                            if (gone())
                                return report("sem sessão");
                            // 1.5 s of the ranges played, over the gaps between them, tells where
                            // the playhead should stand; the report comes once it gets there or
                            // playing stops, so a loaded machine slows the run, not the figures.
                            double target = before, left = 1.5;
                            for (const auto& range : guard->segments()) {
                                const double from = std::max(target, range.start);
                                if (range.end <= from)
                                    continue;
                                const double step = std::min(left, range.end - from);
                                target = from + step;
                                left -= step;
                                if (left <= 0)
                                    break;
                            }
                            QElapsedTimer played;
                            played.start();
                            once(
                                &TrimEditor::shared(),
                                [session, gone, target, played] {
                                    return gone() || !session()->isPlaying() || session()->playhead() >= target
                                        || played.hasExpired(20000);
                                },
                                [session, gone, guard, report, before] {
                                    if (gone())
                                        return report("sem sessão");
                                    char line[256];
                                    std::snprintf(line, sizeof line,
                                        "início=%.2f agulha antes=%.2f depois de 1,5 s=%.2f tocando=%s",
                                        guard->current().start, before, session()->playhead(),
                                        session()->isPlaying() ? "sim" : "não");
                                    report(line);
                                });
                        });
                });
        });
}

}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "trim_play_probe <seconds> <multi|x> <file>\n");
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brivlon"));
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    TrimEditor::open({std::filesystem::path(argv[3])});
    const std::string word = argv[1];
    double t = 1.0, parsed = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error == std::errc() && end == word.data() + word.size())
        t = parsed;
    playTest(t, std::string(argv[2]) == "multi", [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        // The players' threads are not waited for: the line is all the test reads.
        ::_exit(0);
    });
    return QApplication::exec();
}
