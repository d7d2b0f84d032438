#pragma once

#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/base/output_formats.h"

#include <vips/vips8>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class QualityLevel;

// Still images between formats, images as PDF pages, and several images merged into one PDF.
// Images are read upright (the orientation tag applied to the pixels) and written with the
// orientation reset; Exif (with GPS and the TIFF tags) and IPTC travel along.
namespace ImageEngine {

// What the file said about its image, as the engine carries it to outputs.
struct Properties {
    std::optional<std::string> exif;  // the Exif block: Exif, GPS and the TIFF tags of IFD0
    std::optional<std::string> iptc;
    std::optional<std::string> xmp;
    std::optional<int> orientation;  // as the file gave it, before the pixels were turned
    std::optional<double> dpi;  // horizontal resolution, when the file states one
    std::string loader;  // which decoder read the file ("jpegload", …), empty when unknown
    // No metadata block at all, not even the minimal Exif the savers make up by themselves (for
    // removing metadata). The colour profile goes too, so the pixels must be sRGB.
    bool bare = false;
};

// An upright image with the properties of its file. `image` is lazy: pixels are decoded when
// something reads them.
struct Picture {
    vips::VImage image;
    Properties props;
    // Set when the file is a JPEG that a PDF page may embed as it is: `image` must still be
    // the one loadOriented gave (compared by identity), so an edited image never uses it.
    fs::path jpegFile;
    const void* jpegImage = nullptr;
};

// The compression factor (0…1) of a quality level; 0.9 outside the quality groups.
double qualityFactor(QualityLevel level);

// Every writer below fills an unnamed FileSafety::NewFile and names it only once it is
// complete, so a failed, cancelled or killed conversion leaves no output at all.

// Converts one image; the output goes under a free name from OutputPaths. Throws
// ConversionError (unreadable, unsupported, writeFailed, or ffmpeg's for WebP).
fs::path convert(const fs::path& source, const OutputFormat& format);

// Reads frame 0 upright, by the reader its name has (ImageReaders::of):
// the image library's photo decoders, chosen by the content (one named as a photo format that
// none of them takes is refused), JPEG 2000 decoded whole by OpenJPEG when a job may hold it
// (see Jpeg2000); LibRaw for camera raw (see RawImages::load); Qt's reader of the format for the
// rest (see QtImages::load), without properties. A name without a reader is refused with its own
// sentence, and a picture past requirePixels' bound, or whose decoding would hold more than a job
// may, before it is decoded.
// Throws ConversionError.
Picture loadOriented(const fs::path& file);

// Refuses a picture of more pixels than any camera or scanner makes, from its header's size,
// before its pixels are decoded. Throws ConversionError with a sentence that says so.
void requirePixels(double width, double height);

// Writes `image` as `ext` into `file` with the kept part of `props` (see metadata) and the
// compression factor `quality`; the caller publishes it.
void write(const vips::VImage& image, const Properties& props, const std::string& ext, FileSafety::NewFile& file,
    double quality);
// The same into a new file published under the first free name of `names`, which is returned.
fs::path save(const vips::VImage& image, const Properties& props, const std::string& ext,
    const FileSafety::NameFor& names, double quality);

// Runs `write`, which reads pictures loadOriented gave, and throws ConversionError (damaged) when
// it ended well although a decoder failed part-way meanwhile: what it made is then not the
// picture. Call it before publishing.
void requireIntact(const std::function<void()>& write);

// How the writer writes `ext` (its row's picture column), when this build has the saver for it.
std::optional<ImageType> utType(const std::string& ext);

// One page per picture, each of the image's size at its resolution (72 dpi when the file
// states none). The pixels go in losslessly. An empty list gives a PDF without pages.
void writePDF(const std::vector<Picture>& pictures, FileSafety::NewFile& file);

// All images, in the order given, as one PDF named "<first> – combinado.pdf" beside the first.
fs::path mergeToPDF(const std::vector<fs::path>& sources);

// Refuses, before a pixel is decoded, a picture that `ext` cannot hold (WebP's 16383 pixels a
// side, the HEVC and AV1 encoders') or whose saver would need more memory than is free, with a
// sentence that says which.
void requireFits(const vips::VImage& image, const std::string& ext);
// Refuses, before a pixel is decoded, a picture whose decoded copy and `perPixel` more bytes a
// pixel would not fit in the memory that is free, with a sentence that says how much it needs.
void requireMemory(const vips::VImage& image, double perPixel);
// The same for a picture of `pixels` that takes `bytesPerPixel` in all.
void requireMemory(double pixels, double bytesPerPixel);
// requireMemory for work that holds the whole picture (decoded whole, turned, its faces sought),
// also bounded by what one job may hold whatever is free, with a sentence that says how much.
void requireHeld(const vips::VImage& image, double perPixel);
void requireHeld(double pixels, double bytesPerPixel);

// The image laid on opaque white; images without alpha come back as they are.
vips::VImage flatten(const vips::VImage& image);

// The properties an output keeps: Exif (its orientation reset to 1) and IPTC; nothing else
// (resolution, XMP, pixel size and the decoder's own fields are dropped).
Properties metadata(const Properties& props);

// Readers of metadata blocks as files carry them, so any bytes at all must be safe to pass.
// True when the description tag of an ICC profile names sRGB; false for anything else,
// malformed or cut-short profiles included.
bool describesSRGB(std::string_view icc);
// Sets the orientation entry of IFD0 to 1 in an Exif block (a TIFF structure, with or without
// JPEG's "Exif\0\0" before it); a block without one, or malformed, is left as it is.
void resetOrientation(std::string& exif);

}
