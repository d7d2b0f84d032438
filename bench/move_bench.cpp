// "Mover para…" of one big file to another file system, as the card does it: how long the call
// keeps the main thread, how long the whole move takes, and the longest the event loop waited
// between two ticks of a 5 ms timer meanwhile (the panel's repaints would wait as long).
// Run through bench/move.sh, which makes the file and the folders.
//
//   move_bench <file> <destination folder>
#include "core/jobs/job_store.h"
#include "menus/action_chooser.h"
#include "menus/file_action.h"

#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

struct Destination : ActionChooser {
    explicit Destination(std::filesystem::path folder) : chosen(std::move(folder)) { }
    std::optional<DesktopApp> application(const std::vector<DesktopApp>&, const std::string&) override { return {}; }
    std::optional<std::filesystem::path> folder(const std::string&) override { return chosen; }
    std::filesystem::path chosen;
};

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    QGuiApplication app(argc, argv);
    ActionChooser::set(std::make_shared<Destination>(argv[2]));

    Clock::duration longest{};
    auto last = Clock::now();
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    });

    const auto start = Clock::now();
    FileActions::perform(FileAction::move, {argv[1]});
    const auto returned = Clock::now();
    last = returned;
    tick.start();
    int updates = 0;
    JobStore::shared().subscribe(&app, [&](const std::vector<Job>& jobs) {
        ++updates;
        if (!jobs.empty() && !jobs.front().isRunning()) {
            std::printf("call returned after %.1f ms; moved in %.2f s; %d updates; longest event-loop wait %.1f ms; "
                        "outcome: %s %s\n",
                milliseconds(returned - start), milliseconds(Clock::now() - start) / 1000, updates,
                milliseconds(longest), jobs.front().sourceName.c_str(), jobs.front().state.message.c_str());
            QCoreApplication::exit(0);
        }
    });
    return QGuiApplication::exec();
}
