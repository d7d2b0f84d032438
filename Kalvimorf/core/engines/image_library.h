#pragma once

#include <filesystem>
#include <string>

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
// The loader that reads `file` ("jpegload", "heifload"…), chosen by its content among the
// decoders of the photo formats the program converts (JPEG, PNG, GIF, WebP, TIFF, HEIF, JPEG 2000,
// JPEG XL); empty when none takes it. The modules are loaded first when no built-in loader does (a
// HEIC). Every other decoder of the library (ImageMagick's, SVG, PDF, the scientific formats) stays blocked for
// the life of the process: a file that says it is a photo reaches no decoder nobody asked for.
// A gzip stream is nobody's photo, and goes to no search at all: the library's SVG reader
// sniffs one by unpacking it, and one cut short it unpacks for ever.
std::string loaderFor(const std::filesystem::path& file);
// Whether `file` starts as a gzip stream does.
bool packed(const std::filesystem::path& file);
// How many times, in this process, a decoder failed on a region of pixels that the library then
// only warned about: its caches take such a failure for a warning and may answer the same rows
// again from the broken decoder, with whatever memory held. A count that moved during a write
// means the written pixels are not all the picture's.
unsigned long failedRegions();
// Why the library failed, for the error log: the first line of its error text or, when that is
// empty, the last warning it gave on this thread (its PNG loader says a file is cut short only
// so, "not enough data"); empty when it said neither. forgetWarnings() comes before the work
// whose failure is explained, so that no earlier job's warning stands in for the reason.
std::string reasonOf(const std::string& errorText);
void forgetWarnings();
}
