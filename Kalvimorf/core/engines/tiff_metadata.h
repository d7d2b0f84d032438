#pragma once

#include <optional>
#include <string>
#include <string_view>

// The image library's TIFF saver keeps no Exif (so no GPS either) and cuts an IPTC block short at
// its first zero byte, which is the fifteenth of a JPEG's. What the other outputs keep is added to
// the finished file here instead.
namespace TiffMetadata {

// Adds to the classic TIFF in `fd`, as the image library wrote it, the descriptive tags of the
// Exif block's first directory (artist, camera, date, copyright…), its Exif and GPS directories
// and the records of `iptc`: a new first directory is written at the end, and the header points to
// it. Malformed parts of the blocks are left out; a file that is not a classic TIFF is left as it
// is. Throws std::system_error when the file cannot be read or written.
void add(int fd, const std::optional<std::string>& exif, const std::optional<std::string>& iptc);

// The IPTC records of a block as a JPEG (inside Photoshop's resources) or a TIFF (bare) carries
// it; empty when it holds none.
std::string iptcRecords(std::string_view block);

}
