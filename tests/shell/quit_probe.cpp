// The tray program's way out under load, for quit_test.cpp: three long conversions through the
// program's own runner and workers and a move across file systems, then the quit.
//
//   quit_probe <folder> <big file> menu|signal
//
// <folder> holds a.mp4, b.mp4, c.mp4 and an empty "destino", where the big file is moved. Once
// every conversion reports progress and the move has copied something, it prints "running"
// followed by the ids of its descendant processes. With "menu" it then quits the way the menu's
// "Sair" does and prints "quit took <ms>"; with "signal" it waits for a termination signal.

#include "core/base/catalog.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/worker_serve.h"
#include "documents/perform.h"
#include "programs/module_entries.h"
#include "menus/action_chooser.h"
#include "menus/file_action.h"
#include "shell/app_lifecycle.h"

#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Destination : ActionChooser {
    explicit Destination(fs::path folder) : chosen(std::move(folder)) { }
    std::optional<DesktopApp> application(const std::vector<DesktopApp>&, const std::string&) override { return {}; }
    std::optional<fs::path> folder(const std::string&) override { return chosen; }
    fs::path chosen;
};

std::string descendants()
{
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        std::ifstream file(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(file)), {});
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::string state;
        pid_t parent = 0;
        std::istringstream(stat.substr(close + 2)) >> state >> parent;
        children.emplace(parent, std::atoi(entry.path().filename().c_str()));
    }
    std::string listed;
    std::vector<pid_t> pending{::getpid()};
    while (!pending.empty()) {
        const pid_t pid = pending.back();
        pending.pop_back();
        for (auto [it, end] = children.equal_range(pid); it != end; ++it) {
            listed += " " + std::to_string(it->second);
            pending.push_back(it->second);
        }
    }
    return listed;
}

}

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == Worker::option)
    {
        linkEngineModules();
        performInWorkers();
        Worker::serve(EngineModules::all());
    }
    if (argc != 4)
        return 2;
    const fs::path folder = argv[1], big = argv[2];
    const bool byMenu = std::string_view(argv[3]) == "menu";

    QGuiApplication app(argc, argv);
    AppLifecycle::install();
    ActionChooser::set(std::make_shared<Destination>(folder / "destino"));

    const auto webm = Catalog::fmts({"webm"}).front();
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"})
        ConversionRunner::shared().run({folder / name}, webm, std::nullopt);
    FileActions::perform(FileAction::move, {big});

    bool told = false;
    std::chrono::steady_clock::time_point asked;
    JobStore::shared().subscribe(&app, [&](const std::vector<Job>& jobs) {
        const bool underWay = jobs.size() == 4 && std::all_of(jobs.begin(), jobs.end(), [](const Job& job) {
            return job.isRunning() && job.progress.value_or(0) > 0;
        });
        if (told || !underWay)
            return;
        told = true;
        std::printf("running%s\n", descendants().c_str());
        std::fflush(stdout);
        if (byMenu)
            QTimer::singleShot(0, &app, [&] {
                asked = std::chrono::steady_clock::now();
                AppLifecycle::quit();
            });
    });
    const int code = QGuiApplication::exec();
    if (byMenu) {
        const auto took
            = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
        std::printf("quit took %lld\n", static_cast<long long>(took.count()));
    }
    return code;
}
