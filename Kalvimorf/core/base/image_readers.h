#pragma once

#include <optional>
#include <string>

// Who reads a picture format: the image library, choosing its decoder by the file's content;
// LibRaw, for camera raw files; or Qt's reader of the format the name says.
enum class ImageReader { library, raw, qt };

namespace ImageReaders {
// The reader of a picture extension (a key of Catalog::normalizedExt). None for every other
// extension, the picture formats with no safe reader among them: a file is a picture, and gets
// the pictures' cards, only when it has a reader.
std::optional<ImageReader> of(const std::string& key);
}
