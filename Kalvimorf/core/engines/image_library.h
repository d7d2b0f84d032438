#pragma once

// Starts libvips once, from whichever thread needs it first. Starting it costs tens of
// milliseconds (it loads its format modules), so only work that uses it pays.
namespace ImageLibrary {
// False when the library could not start.
bool start();
}
