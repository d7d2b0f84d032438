#pragma once

#include <cstddef>

// The command-line modes that draw a piece of the interface into PNG files without any window.
namespace RenderModes {
// --render-status out.png [progress]: the tray icon, 72 × 72 pixels, dark on white.
[[noreturn]] void status();
// --render-burst prefix: five stills of the celebration firework, 640 × 640 pixels each.
[[noreturn]] void burst();
// --render-wheel mode ext out.png: the wheel fully open for "/tmp/exemplo.<ext>", its second
// segment under the pointer.
[[noreturn]] void wheel();
// --render-wheel-anim mode ext prefix: six frames of the wheel opening, the last with its third
// segment lit.
[[noreturn]] void wheelAnimation();
// The option's mode argument names a mode.
bool takesMode(size_t index);
}
