#pragma once

#include "core/engines/image_engine.h"

// The image engine's reader of last resort, on Qt Gui's image readers: kept apart from the engine
// so that a worker that converts images with libvips alone need not load Qt Gui.
namespace QtImages {

// Frame 0 of a file the image library does not know (icons and the like), upright and drawn at
// twice its size, as the desktop shows it on a dense screen; without properties. Throws
// ConversionError::unreadable.
ImageEngine::Picture load(const fs::path& file);

}
