#pragma once

#include <cstddef>

// The command-line modes that draw a view of the interface into PNG files without any window.
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
// --render-fan mode ext out.png [index [word [seconds]]]: the card fan for a sample file
// /tmp/exemplo.<ext>; index raises a card, "baixo" opens the fan downwards, "pick" and a time
// draw the pick that many seconds into its close. 660 × 450 pixels.
[[noreturn]] void fan();
// --render-quality ext out.png: the four quality cards of the extension's group, the saved level
// raised.
[[noreturn]] void quality();
// --render-view view out.png [extra [file]]: a window's content at scale 1 in the appearance in
// force. "hud" is the progress panel with two sample jobs, one converting and one done, 330 × 160
// pixels; "settings" the settings window, 540 × 600 pixels, on the page named by `extra`; any
// view name not taken by another window gives the main window, in mode `extra` with `file`
// selected.
[[noreturn]] void view();
// Whether the rows are taken: a mode word, an extension with a quality group.
bool fanTaken();
bool qualityTaken();
}
