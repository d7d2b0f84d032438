// Runs the real drag monitor on the X display and prints one line per callback:
//   trigger <mode|cycle> <file>|<file>…   ended   cancel   release
// "ready" once it watches; "unavailable" (exit 1) when there is no display to watch.

#include "menus/drag_monitor.h"

#include <QGuiApplication>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    (void)argc;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Qt's X11 plugin would take words like -display from the arguments: give it the name only.
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    QGuiApplication app(appArgc, appArgv);

    auto input = DragInput::system();
    if (!input->available()) {
        std::printf("unavailable\n");
        return 1;
    }
    DragMonitor monitor(input);
    monitor.onTrigger = [](std::optional<WheelMode> mode, const DragMonitor::Files& files) {
        std::string line = "trigger " + (mode ? WheelModes::rawValue(*mode) : std::string("cycle")) + " ";
        for (size_t i = 0; i < files.size(); ++i)
            line += (i ? "|" : "") + files[i].string();
        std::printf("%s\n", line.c_str());
    };
    monitor.onDragEnded = [] {
        std::printf("ended\n");
    };
    monitor.onCancel = [] {
        std::printf("cancel\n");
    };
    monitor.onRelease = [] {
        std::printf("release\n");
    };
    monitor.start();
    std::printf("ready\n");
    return app.exec();
}
