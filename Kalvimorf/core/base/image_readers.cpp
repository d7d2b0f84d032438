#include "core/base/image_readers.h"

#include <map>

namespace ImageReaders {

std::optional<ImageReader> of(const std::string& key)
{
    // Each format goes to a decoder written for it and fuzzed where it is made: the image
    // library's for the photo formats, JPEG 2000 (OpenJPEG) and JPEG XL (libjxl); LibRaw for the
    // cameras' raw files; Qt's own plugins for the small formats, but Targa, whose Qt reader takes
    // only raw true colour, which the engine decodes itself. Photoshop, GIMP, OpenEXR,
    // Radiance, PFM, PCX, DDS and QOI have none on Debian (the library's own readers of the
    // scientific formats and ImageMagick's stay blocked), so they are left out.
    static const std::map<std::string, ImageReader> readers = [] {
        std::map<std::string, ImageReader> table;
        for (const char* key : {"jpg", "jfif", "png", "gif", "webp", "heic", "hif", "avif", "tiff", "jp2", "jpg2",
                 "j2k", "jpf", "jpx", "j2c", "jpc", "jxl"})
            table[key] = ImageReader::library;
        for (const char* key : {"dng", "cr2", "cr3", "nef", "arw", "raf", "orf", "rw2", "crw", "nrw", "pef", "srw",
                 "rwl", "mrw", "dcr", "kdc", "sr2", "srf", "3fr", "erf", "mef", "iiq"})
            table[key] = ImageReader::raw;
        for (const char* key : {"bmp", "dib", "ico", "cur", "pbm", "pgm", "ppm", "pnm", "xbm", "xpm", "svg", "svgz",
                 "tga", "icns", "wbmp"})
            table[key] = ImageReader::qt;
        return table;
    }();
    const auto found = readers.find(key);
    return found == readers.end() ? std::nullopt : std::optional(found->second);
}

}
