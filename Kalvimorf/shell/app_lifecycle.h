#pragma once

#include <chrono>

// How the tray program ends, whatever asks it to: the menu's "Sair", SIGTERM, SIGINT or SIGHUP,
// or the end of the desktop session. Every job is cancelled, the workers and tools they run are
// ended with their process groups, and the program waits a bounded time for the jobs' threads,
// so that no partial output or temporary folder stays behind and no thread outlives main().
namespace AppLifecycle {

// How long the program waits for its jobs before it leaves regardless.
inline constexpr std::chrono::milliseconds grace{3000};

// Routes the termination signals and the session's end to quit(). Main thread, once the
// application object exists.
void install();

// Stops the work and leaves the event loop with status 0. Main thread; later calls do nothing.
void quit();

// Cancels every job and ends every child; true when every job's thread ended within `limit`.
// The process is on its way out: children started after it are killed at once.
bool stopWork(std::chrono::milliseconds limit = grace);

}
