#pragma once

// The command-line modes that draw a piece of the interface into PNG files without any window.
namespace RenderModes {
// --render-status out.png [progress]: the tray icon, 72 × 72 pixels, dark on white.
[[noreturn]] void status();
// --render-burst prefix: five stills of the celebration firework, 640 × 640 pixels each.
[[noreturn]] void burst();
}
