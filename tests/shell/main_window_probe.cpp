// The main window as the desktop program shows it, the target of real drags. Prints
// "ready <x> <y>" (a global point over the window's content) once mapped; "files <paths joined by
// |>" for every new selection followed by "tile <label> <x> <y>" for each tile and "laid out"; and
// "done <target> <output>" or "failed <target> <message>" as jobs end in the job store.

#include "core/jobs/job_store.h"
#include "core/jobs/worker.h"
#include "shell/app_model.h"
#include "shell/format_grid.h"
#include "shell/main_view.h"
#include "shell/main_window.h"
#include "shell/selection_view.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

int main(int argc, char** argv)
{
    // Conversions run in workers started from this same executable.
    if (argc == 2 && std::string_view(argv[1]) == Worker::option)
        Worker::serve();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    auto& window = MainWindow::shared();
    window.move(700, 200);
    window.present();

    QTimer shown;
    QObject::connect(&shown, &QTimer::timeout, [&] {
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            return;
        shown.stop();
        const auto centre = window.view()->mapToGlobal(window.view()->rect().center());
        std::printf("ready %d %d\n", centre.x(), centre.y());
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
    std::vector<std::filesystem::path> last;
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
