// The main window as the desktop program shows it, the target of real drags. Prints
// "ready <x> <y>" (a global point over the window's content) once mapped; "files <paths joined by
// |>" for every new selection followed by "tile <label> <x> <y>" for each tile and "laid out"; and
// "done <target> <output>" or "failed <target> <message>" as jobs end in the job store.
//
// With "keys <file>" it starts with that file selected, says "ready" only once the window has the
// keyboard, and after every key pressed prints where the keyboard then is: "focus tab <title>",
// "focus tile <label>", "focus quality <index>", "focus button <text>" or "focus none" (a widget
// with the focus but no part marked); "bar <x> <y>" after "ready", where the bar's first title is;
// "menu open" and "menu closed" as a menu shows and goes; "mode <title>" when the mode changes,
// and "window <title>" when another of its windows takes the keyboard.

#include "core/jobs/job_store.h"
#include "core/jobs/worker_serve.h"
#include "documents/perform.h"
#include "programs/module_entries.h"
#include "menus/wheel_controller.h"
#include "shell/app_model.h"
#include "shell/format_grid.h"
#include "shell/main_view.h"
#include "shell/main_window.h"
#include "shell/mode_tabs.h"
#include "shell/selection_view.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

namespace {

std::string focusLine()
{
    auto* widget = QApplication::focusWidget();
    auto part = [](const std::string& what, int index, const std::string& name) {
        return index < 0 ? std::string("focus none") : "focus " + what + " " + name;
    };
    if (auto* tabs = dynamic_cast<ModeTabs*>(widget)) {
        const int index = tabs->focusedTab();
        return part("tab", index, index < 0 ? "" : WheelController::title(WheelModes::all()[size_t(index)]));
    }
    if (auto* grid = dynamic_cast<FormatGrid*>(widget)) {
        const int index = grid->focusedTile();
        return part("tile", index, index < 0 ? "" : grid->tiles()[size_t(index)].label);
    }
    if (auto* picker = dynamic_cast<QualityPicker*>(widget))
        return part("quality", picker->focusedSegment(), std::to_string(picker->focusedSegment()));
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return "focus button " + button->text().toStdString();
    return "focus none";
}

}

int main(int argc, char** argv)
{
    // Conversions run in workers started from this same executable.
    if (argc == 2 && std::string_view(argv[1]) == Worker::option)
    {
        linkEngineModules();
        performInWorkers();
        Worker::serve(EngineModules::all());
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    const bool keys = argc > 2 && std::string_view(argv[1]) == "keys";
    if (keys)
        AppModel::shared().setFiles({argv[2]});
    auto& window = MainWindow::shared();
    window.move(700, 200);
    window.present();

    struct KeyWatch : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            // The key goes to the focus widget first, then on to its parents: one line for it. A
            // press let go and pressed again within a millisecond looks repeated to Qt, which
            // still acts on it, so that is no reason to leave the line out.
            if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && qobject_cast<QMenu*>(watched))
                std::printf("%s\n", event->type() == QEvent::Show ? "menu open" : "menu closed");
            auto* first = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
            // Keys the program passes on itself (not spontaneous) are part of the one pressed.
            if (event->type() == QEvent::KeyPress && watched == first && event->spontaneous())
                // Once the key's own work is done.
                QTimer::singleShot(0, [] {
                    std::printf("%s\n", focusLine().c_str());
                });
            return false;
        }
    } keyWatch;
    auto lastMode = AppModel::shared().mode();
    bool ready = false;
    if (keys) {
        app.installEventFilter(&keyWatch);
        QObject::connect(
            &app, &QGuiApplication::focusWindowChanged, [&ready, last = QString()](QWindow* focused) mutable {
                const QString title = focused ? focused->title() : QString("(none)");
                if (ready && title != last)
                    std::printf("window %s\n", title.toUtf8().constData());
                last = title;
            });
        QObject::connect(&AppModel::shared(), &AppModel::changed, [&] {
            if (AppModel::shared().mode() != lastMode) {
                lastMode = AppModel::shared().mode();
                std::printf("mode %s\n", WheelController::title(lastMode).c_str());
            }
        });
    }

    QTimer shown;
    QRect lastPlace;
    int stillTicks = 0;
    QObject::connect(&shown, &QTimer::timeout, [&] {
        if (!window.windowHandle() || !window.windowHandle()->isExposed() || (keys && !window.isActiveWindow()))
            return;
        // Placed for good once the window manager's frame is known: points inside the window move
        // by its title bar until then.
        if (keys && window.frameGeometry() == window.geometry())
            return;
        // The window manager may still move the framed window once (openbox centres it again as
        // it takes the frame into account): told once it has stood still for a tenth of a second.
        if (keys) {
            const auto place = window.geometry();
            if (place != std::exchange(lastPlace, place)) {
                stillTicks = 0;
                return;
            }
            if (++stillTicks < 5)
                return;
        }
        shown.stop();
        const auto centre = window.view()->mapToGlobal(window.view()->rect().center());
        std::printf("ready %d %d\n", centre.x(), centre.y());
        if (keys) {
            // The title of the bar's first menu, "Arquivo".
            auto* bar = window.menuBar();
            const auto title = bar->mapToGlobal(bar->actionGeometry(bar->actions().front()).center());
            std::printf("bar %d %d\n", title.x(), title.y());
        }
        ready = true;
    });
    shown.start(20);

    // Tiles are told once the grid stands still on screen.
    QTimer tiles;
    QObject::connect(&tiles, &QTimer::timeout, [&] {
        auto* selection = window.view()->selection();
        auto* grid = selection->grid();
        // Once the grid has risen into place and has its width.
        if (!grid->isVisible() || grid->width() <= 0 || selection->graphicsEffect() || selection->y() != 0)
            return;
        tiles.stop();
        for (size_t i = 0; i < grid->tiles().size(); ++i) {
            const auto at = grid->mapToGlobal(FormatGridDrawing::tileRect(grid->width(), int(i)).center().toPoint());
            std::printf("tile %s %d %d\n", grid->tiles()[i].label.c_str(), at.x(), at.y());
        }
        std::printf("laid out\n");
    });
    std::vector<std::filesystem::path> last = AppModel::shared().files();
    QObject::connect(&AppModel::shared(), &AppModel::changed, [&] {
        const auto& files = AppModel::shared().files();
        if (files == last)
            return;
        last = files;
        std::string line = "files ";
        for (size_t i = 0; i < files.size(); ++i)
            line += (i ? "|" : "") + files[i].string();
        std::printf("%s\n", line.c_str());
        tiles.start(20);
    });

    std::set<QUuid> told;
    JobStore::shared().subscribe(&app, [&](const std::vector<Job>& jobs) {
        for (const auto& job : jobs) {
            if (job.isRunning() || told.count(job.id))
                continue;
            told.insert(job.id);
            if (job.state.is(Job::State::Kind::done))
                std::printf("done %s %s\n", job.target.c_str(), job.state.url->string().c_str());
            else
                std::printf("failed %s %s\n", job.target.c_str(), job.state.message.c_str());
        }
    });
    return app.exec();
}
