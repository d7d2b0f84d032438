#pragma once

// Puts the desktop's implementations behind the core's interfaces: sounds, modal questions and
// the alert sound, the file manager, the login item. Main thread, after the application exists;
// only the windowed lives of the process call it, so the headless modes stay silent.
namespace DesktopServices {
void install();
}
