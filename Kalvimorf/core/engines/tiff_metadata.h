#pragma once

#include <filesystem>
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
// Bare records put inside Photoshop's resources, as a JPEG carries them and the image library's
// JPEG saver writes them as they are; any other block comes back unchanged.
std::string iptcAsJpegCarriesIt(std::string block);

// The image library reads no Exif out of a TIFF: the block a JPEG would carry ("Exif\0\0" and a
// TIFF structure) with the descriptive tags of the file's first directory and its Exif and GPS
// directories; nothing when the file has none of them or is no classic TIFF.
std::optional<std::string> exifOf(const std::filesystem::path& file);

}
