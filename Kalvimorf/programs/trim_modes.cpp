#include "programs/trim_modes.h"

#include "programs/cli.h"
#include "menus/desktop_theme.h"
#include "menus/palette.h"
#include "trim/trim_editor.h"
#include "trim/trim_editor_view.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace TrimModes {

namespace {

class ThemeLook : public TrimLook {
public:
    QColor accent() override
    {
        const auto palette = Theme::palette(Theme::isDark(), Theme::current());
        return palette.metal ? palette.metal(WheelMode::convert) : QColor(0, 122, 255);
    }
};

void printLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}

void installLook()
{
    TrimLook::set(std::make_shared<ThemeLook>());
    QObject::connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, &TrimLookChanges::shared(),
        &TrimLookChanges::changed);
}

void playTest()
{
    const auto& args = Cli::args;
    Cli::makeApplication(false);
    TrimEditor::open({std::filesystem::path(args[4])});
    double t = 1.0;
    const auto& word = args[2];
    double parsed = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error == std::errc() && end == word.data() + word.size())
        t = parsed;
    const bool multi = args[3] == "multi";
    TrimEditor::shared().debugPlayTest(t, multi, [](const std::string& line) {
        printLine(line);
        Cli::exitNow(Cli::ExitCode::done);
    });
    QApplication::exec();
    Cli::exitNow(Cli::ExitCode::done);
}

namespace {

// Runs `step` once `ready` holds, looking every 20 ms, or after 30 s regardless: a picture of
// whatever came beats a run that never ends.
void once(std::function<bool()> ready, std::function<void()> step, QElapsedTimer waited = {})
{
    if (!waited.isValid())
        waited.start();
    if (ready() || waited.hasExpired(30000))
        return step();
    QTimer::singleShot(20, qApp, [ready = std::move(ready), step = std::move(step), waited]() mutable {
        once(std::move(ready), std::move(step), waited);
    });
}

}

void renderTrim()
{
    const auto& args = Cli::args;
    Cli::makeApplication(false);
    std::vector<std::filesystem::path> files(args.begin() + 3, args.end());
    TrimEditor::open(files);
    const std::string out = args[2];
    auto picture = [out] {
        // Whatever changed last (a load, the demonstration ranges) shows at rest.
        if (auto* view = TrimEditor::shared().view())
            view->settle();
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || !widget->windowTitle().startsWith("Aparar"))
                continue;
            // At scale 1 whatever the screen's, through the same painting as on screen.
            QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(widget->palette().color(QPalette::Window));
            widget->render(&image);
            image.save(QString::fromStdString(out), "PNG");
            break;
        }
        Cli::exitNow(Cli::ExitCode::done);
    };
    // Pictured once every clip has its length, waveform and thumbnails, and the playhead has
    // reached where the demonstration put it.
    auto loaded = [] {
        auto* session = TrimEditor::shared().session();
        if (!session)
            return true;
        const auto& clips = session->clips();
        return std::all_of(clips.begin(), clips.end(), [](const TrimClip* clip) {
            return clip->complete();
        });
    };
    auto seeked = [] {
        auto* session = TrimEditor::shared().session();
        return !session || session->pendingSeeks() == 0;
    };
    once(loaded, [seeked, picture] {
        if (!std::getenv("DEMO_SEGMENTS"))
            return once(seeked, picture);
        TrimEditor::shared().debugDemoSegments();
        once(seeked, picture);
    });
    QApplication::exec();
    Cli::exitNow(Cli::ExitCode::done);
}

}
