#pragma once

#include <filesystem>

// Starts libvips once, from whichever thread needs it first. Its format modules (HEIF, JPEG XL,
// PDF, ImageMagick, OpenSlide) bring in some seventy libraries and take half of the start, so it
// starts without them; they are loaded the first time a job reads or writes a format that only
// they know.
namespace ImageLibrary {
// False when the library could not start.
bool start();
// Whether the library has the operation (a saver such as "heifsave"), its modules loaded when it
// has not without them.
bool has(const char* operation);
// Makes sure a loader for `file` is there: the modules are loaded when no built-in loader takes
// it (a HEIC, a JPEG XL, a Photoshop file...).
void prepareToRead(const std::filesystem::path& file);
}
