// The tools cards for one file shown as a card fan on a real X server, their drops running the
// real tool runner, the progress panel following the jobs as in the tray program. Prints
// "ready <x> <y>" (global point over the card labelled argv[2], "GIRAR" without one) once mapped,
// then for every job that ends "job <state> <source> <target> <output>" and
// "panel <shown|hidden> <the row's subtitle>", and "window <title>" for every window that opens
// (the panel, a tool window, is not one), then "active <title>" once it has the keyboard and
// "closed <title>" when it goes.

#include "core/jobs/job_store.h"
#include "menus/card_fan.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_controller.h"
#include "shell/hud_controller.h"
#include "shell/hud_view.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <map>
#include <set>
#include <string>

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2)
        return 2;
    QApplication app(argc, argv);
    // As in the tray program, a window closing ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::vector<std::filesystem::path> files = {argv[1]};
    const std::string label = argc > 2 ? argv[2] : "GIRAR";
    auto entries = WheelController::entries(WheelMode::tools, files).entries;
    int rotate = -1;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].label == label)
            rotate = int(i);
    if (rotate < 0)
        return 3;
    CardFan fan;
    fan.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    fan.configure(entries, WheelController::title(WheelMode::tools), "teste", WheelMode::tools, "", std::nullopt);
    fan.onPick = [](const WheelEntry::Paths& dropped, const WheelEntry& entry) {
        entry.run(dropped);
    };
    // Made before the printing below subscribes, so it has seen each list when that prints.
    HudController panel(JobStore::shared());
    JobStore::shared().subscribe(&app, [&panel](const std::vector<Job>& jobs) {
        for (const auto& job : jobs)
            if (!job.isRunning()) {
                std::printf("job %s %s %s %s\n", job.state.is(Job::State::Kind::done) ? "done" : "not-done",
                    job.sourceName.c_str(), job.target.c_str(), job.state.url.value_or("").c_str());
                std::printf("panel %s %s\n", panel.isShown() ? "shown" : "hidden", HudView::Row::subtitle(job).c_str());
            }
    });
    fan.move(700, 300);  // clear of the drag source, which stands left of the middle
    fan.show();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!fan.windowHandle() || !fan.windowHandle()->isExposed())
            return;
        poll.stop();
        const QSizeF size = fan.state().size;
        const auto card = FanGeometry::centre(
            size, false, FanGeometry::baseAngle(rotate, int(entries.size())), FanGeometry::radius);
        const auto onCard = fan.mapToGlobal(Draw::fromYUp(card, size.height()).toPoint());
        std::printf("ready %d %d\n", onCard.x(), onCard.y());
    });
    poll.start(20);
    QTimer windows;
    std::set<QWidget*> seen{&fan};
    std::map<QPointer<QWidget>, std::pair<QString, bool>> open;  // title, and whether it was active
    QObject::connect(&windows, &QTimer::timeout, [&] {
        for (auto* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->windowType() != Qt::Tool && !widget->windowTitle().isEmpty()
                && seen.insert(widget).second) {
                std::printf("window %s\n", widget->windowTitle().toUtf8().constData());
                open[widget] = {widget->windowTitle(), false};
            }
        for (auto it = open.begin(); it != open.end();) {
            auto& [title, active] = it->second;
            if (!it->first || !it->first->isVisible()) {
                std::printf("closed %s\n", title.toUtf8().constData());
                it = open.erase(it);
                continue;
            }
            if (!active && it->first->isActiveWindow()) {
                active = true;
                std::printf("active %s\n", title.toUtf8().constData());
            }
            ++it;
        }
    });
    windows.start(20);
    return app.exec();
}
