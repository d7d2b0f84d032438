#pragma once

#include "core/engines/image_engine.h"

// The image engine's reader of last resort, on Qt Gui's image readers: kept apart from the engine
// so that a worker that converts images with libvips alone need not load Qt Gui.
namespace QtImages {

// Frame 0 of a file the image library does not know (BMP, icons, drawings), read only by the
// reader of the format its name says (Targa by the engine's own, see Targa); upright, without
// properties, and drawings at twice their size, as the desktop shows them on a dense screen.
// Throws ConversionError: unreadable, or the cause when one is known.
ImageEngine::Picture load(const fs::path& file);

}
