#pragma once

#include <functional>
#include <filesystem>
#include <string>
#include <vector>

namespace Cli {

// The process arguments, element 0 the program path; set first thing in main().
extern std::vector<std::string> args;

// One row of the option table. A row is tested when argv[1] equals `option` exactly and the
// argument count reaches `minimum`; `accepts` may still turn it down, and then the search goes on.
// `run` either ends the process or returns to let the search continue.
struct Row {
    const char* option;
    int minimum;
    std::function<bool()> accepts;
    std::function<void()> run;
};

// The rows of the desktop module (brivlon-desktop.so): every mode that draws, plays or shows.
// The headless rows, which need none of it, are walked by the front first (main.cpp).
const std::vector<Row>& table();

// Walks `rows` in order; returns when no row ended the process.
void walk(const std::vector<Row>& rows);

// Walks the table; returns when no row ended the process.
void dispatch();

// The menu-bar application. Returns the event loop's result.
int normalStart();

// Makes the application object from the program name only, so that the user's arguments never
// reach Qt. Headless modes get the offscreen platform and need no display.
void makeApplication(bool headless);

// How a run ends: the README's table of exit codes. The desktop program passes on its event
// loop's code, and --export-chime the sound writer's.
enum class ExitCode : int {
    // Every output written; a render's or a scripted run's picture written; the component ready.
    done = 0,
    // A conversion, a tool, a trim or a render failed ("erro: " and the reason), the component's
    // install failed, or there is no display.
    failed = 1,
    // The selection has no such conversion.
    noSuchConversion = 2,
    // --install-components: the install waits for a network.
    waitingForNetwork = 2,
};
// Stopped by termination signal `signal`: 128 + its number, as the shells report it.
constexpr int signalled(int signal) { return 128 + signal; }

// Ends the process at once with everything printed so far flushed; no clean-up runs but the
// removal of the folders the run made for itself.
[[noreturn]] void exitNow(int code);
[[noreturn]] inline void exitNow(ExitCode code) { exitNow(int(code)); }
// A folder this run made for itself (a private runtime folder), removed by exitNow.
void removeAtExit(const std::filesystem::path& folder);

}
