#pragma once

// Scripted runs of real parts of the interface: each sets up its objects, schedules timed steps,
// runs the event loop and ends the process with exit code 0 after printing what it saw.
namespace Scenarios {
// --hud-test out.png file...: the progress panel over conversions to WEBM, pictured, then hidden
// while they finish.
[[noreturn]] void hudTest();
// --single-cycle-test file: five taps of the single key, 0.3 s apart.
[[noreturn]] void singleCycleTest();
// --wheel-cycle-test: open, swap, close and reopen the menu with separate keys.
[[noreturn]] void wheelCycleTest();
// --cancel-test out.png file...: conversions to WEBM, the first and the last cancelled after 2 s.
[[noreturn]] void cancelTest();
}
