// A card fan of five cards (A to E) shown as a window on a real X server, the target of real
// drags. Prints "ready <x> <y> <gap x> <gap y>" (global points over card D and over the fan but
// off every card) once mapped, then "pick <card> <files joined by |>" for every pick.

#include "menus/card_fan.h"
#include "menus/drawing_kit.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    CardFan fan;
    // Out of the window manager's hands, so it stands exactly where it is put.
    fan.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    std::vector<WheelEntry> entries;
    for (const char* label : {"A", "B", "C", "D", "E"})
        entries.push_back({label, std::nullopt, std::nullopt, nullptr, [](const WheelEntry::Paths&) {}});
    fan.configure(entries, "Converter", "teste", WheelMode::convert, "", std::nullopt);
    fan.onPick = [](const WheelEntry::Paths& files, const WheelEntry& entry) {
        std::string line = "pick " + entry.label + " ";
        for (size_t i = 0; i < files.size(); ++i)
            line += (i ? "|" : "") + files[i].string();
        std::printf("%s\n", line.c_str());
    };
    fan.move(700, 300);
    fan.show();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!fan.windowHandle() || !fan.windowHandle()->isExposed())
            return;
        poll.stop();
        const QSizeF size = fan.state().size;
        const auto card = FanGeometry::centre(size, false, FanGeometry::baseAngle(3, 5), FanGeometry::radius);
        const auto onCard = fan.mapToGlobal(Draw::fromYUp(card, size.height()).toPoint());
        const auto gap = fan.mapToGlobal(Draw::fromYUp(QPointF(size.width() / 2, 120), size.height()).toPoint());
        std::printf("ready %d %d %d %d\n", onCard.x(), onCard.y(), gap.x(), gap.y());
    });
    poll.start(20);
    return app.exec();
}
