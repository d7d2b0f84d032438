#pragma once

// What the tray program's X11 tests ask of the desktop around them.

#include <cstdint>
#include <functional>

namespace X11Desktop {

// Runs the event loop until `done` or `ms` have passed; whether it was done.
bool waitFor(const std::function<bool()>& done, int ms = 10000);

// Asks the window manager for another workspace, as a pager does; with `asWindowManager`, writes
// the root window's property itself, as the window manager does once it has switched.
void showDesktop(std::uint32_t desktop, bool asWindowManager = false);

// The workspace the root window says is shown.
std::uint32_t currentDesktop();

}
