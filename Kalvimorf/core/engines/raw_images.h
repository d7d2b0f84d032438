#pragma once

#include "core/engines/image_engine.h"

// Camera raw files (DNG and the makers' own: CR2, CR3, NEF, ARW, RAF, ORF, RW2), developed by
// LibRaw with the camera's white balance into 8-bit sRGB, upright. Kept apart from the engine so
// that the image worker loads LibRaw only for such a file.
namespace RawImages {

// Throws ConversionError: unreadable, or the pixel bound's sentence before anything is developed.
ImageEngine::Picture load(const fs::path& file);

}
