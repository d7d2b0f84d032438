// The tools cards for one picture shown as a card fan on a real X server, their drops running the
// real tool runner. Prints "ready <x> <y>" (global point over the "GIRAR" card) once mapped, then
// "job <state> <source> <target> <output>" for every job that ends.

#include "core/jobs/job_store.h"
#include "menus/card_fan.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_controller.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2)
        return 2;
    QApplication app(argc, argv);
    const std::vector<std::filesystem::path> files = {argv[1]};
    auto entries = WheelController::entries(WheelMode::tools, files).entries;
    int rotate = -1;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].label == "GIRAR")
            rotate = int(i);
    if (rotate < 0)
        return 3;
    CardFan fan;
    fan.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    fan.configure(entries, WheelController::title(WheelMode::tools), "teste", WheelMode::tools, "", std::nullopt);
    fan.onPick = [](const WheelEntry::Paths& dropped, const WheelEntry& entry) {
        entry.run(dropped);
    };
    JobStore::shared().subscribe(&app, [](const std::vector<Job>& jobs) {
        for (const auto& job : jobs)
            if (!job.isRunning())
                std::printf("job %s %s %s %s\n", job.state.is(Job::State::Kind::done) ? "done" : "not-done",
                    job.sourceName.c_str(), job.target.c_str(), job.state.url.value_or("").c_str());
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
    return app.exec();
}
