#pragma once

#include "core/engines/tool_params.h"

#include <vips/vips8>

#include <filesystem>
#include <string>

// The six image tools: compress, resize, crop, rotate, strip metadata and blur faces.
namespace ImageTools {
namespace fs = std::filesystem;

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// max(1, round(side × factor)), halves away from zero. Throws ConversionError::writeFailed when a
// side would pass 65,535 pixels or the picture 500 megapixels, before anything is allocated.
Size scaledSize(Size size, double factor);
// The centred band of aspect "a:b" (two numbers above 0), rounded outward to whole pixels; the
// whole picture for any other text.
Rect croppedRect(Size size, const std::string& aspect);

// One high-quality resample to scaledSize; a factor of exactly 1 returns the image itself.
vips::VImage scaled(const vips::VImage& image, double factor);
vips::VImage cropped(const vips::VImage& image, const std::string& aspect);
// A quarter turn clockwise as seen: the top-left corner ends top-right.
vips::VImage rotated(const vips::VImage& image);

// The output extension for a source: its own when the image writer takes it, else "jpg".
std::string outputExt(const fs::path& source);

// One image tool on one file; returns the output. Throws ConversionError (unreadable,
// writeFailed, unsupported) or ToolError.
fs::path run(Tool tool, const fs::path& source, const ToolParams& params);
}
