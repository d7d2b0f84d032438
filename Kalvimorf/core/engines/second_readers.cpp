#include "core/engines/second_readers.h"

#include "core/base/conversion_error.h"
#include "core/base/error_log.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/mapped_file.h"
#include "core/engines/picture_headers.h"
#include "core/engines/tiff_metadata.h"

#include <tiffio.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

using vips::VImage;

namespace SecondReaders {

namespace {

// libtiff's words for why it failed, kept for the error log instead of its standard error.
int keepError(TIFF*, void* kept, const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    *static_cast<std::string*>(kept) = std::string(module ? module : "libtiff") + ": " + text;
    return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A TIFF opened by libtiff, whose errors are kept and warnings dropped.
struct OpenTiff {
    std::string error;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif{nullptr, TIFFClose};

    explicit OpenTiff(const fs::path& file)
    {
        std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(
            TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepError, &error);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropWarning, nullptr);
        tif.reset(TIFFOpenExt(file.c_str(), "r", options.get()));
    }
    OpenTiff(const OpenTiff&) = delete;
    OpenTiff& operator=(const OpenTiff&) = delete;
};

uint64_t number(std::string_view bytes, size_t at, int count)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

using PictureHeaders::Box;
// At most this many boxes of one run: a file that lists more holds no picture worth reading.
std::vector<Box> boxesIn(std::string_view run) { return PictureHeaders::boxes(run, 4096); }
std::string_view child(const std::vector<Box>& found, std::string_view type)
{
    return PictureHeaders::content(found, type);
}

// What the primary item of a HEIF or AVIF says of its picture: its size before its turns and
// mirrors (none when it states none), and those: a quarter turn anticlockwise each (irot), top and
// bottom (0) or left and right (1) exchanged (imir), in the order its properties list them, as
// "r<quarters>" and "m<mode>".
struct PrimaryItem {
    uint64_t width = 0, height = 0;
    std::vector<std::string> transforms;
};

PrimaryItem primaryItemOf(std::string_view file)
{
    const auto meta = child(boxesIn(file), "meta");
    if (meta.size() < 4)
        return {};
    const auto inside = boxesIn(meta.substr(4));
    const auto pitm = child(inside, "pitm");
    const auto properties = boxesIn(child(inside, "iprp"));
    const auto ipma = child(properties, "ipma");
    const auto listed = boxesIn(child(properties, "ipco"));
    if (pitm.size() < 6 || ipma.size() < 8)
        return {};
    const uint64_t primary = pitm[0] == 0 ? number(pitm, 4, 2) : (pitm.size() >= 8 ? number(pitm, 4, 4) : 0);
    const int idBytes = ipma[0] == 0 ? 2 : 4;
    const int indexBytes = number(ipma, 1, 3) & 1 ? 2 : 1;
    const uint64_t entries = number(ipma, 4, 4);
    size_t at = 8;
    for (uint64_t entry = 0; entry < entries; ++entry) {
        if (at + size_t(idBytes) + 1 > ipma.size())
            return {};
        const uint64_t item = number(ipma, at, idBytes);
        const unsigned count = uint8_t(ipma[at + size_t(idBytes)]);
        at += size_t(idBytes) + 1;
        if (ipma.size() - at < size_t(count) * size_t(indexBytes))
            return {};
        if (item != primary) {
            at += size_t(count) * size_t(indexBytes);
            continue;
        }
        PrimaryItem found;
        for (unsigned i = 0; i < count; ++i, at += size_t(indexBytes)) {
            const uint64_t index = number(ipma, at, indexBytes) & (indexBytes == 2 ? 0x7FFF : 0x7F);
            if (index == 0 || index > listed.size())
                continue;
            const auto& [kind, body] = listed[index - 1];
            if (kind == "ispe" && body.size() >= 12) {
                found.width = number(body, 4, 4);
                found.height = number(body, 8, 4);
            } else if (kind == "irot" && !body.empty()) {
                found.transforms.push_back("r" + std::to_string(uint8_t(body[0]) & 3));
            } else if (kind == "imir" && !body.empty()) {
                found.transforms.push_back("m" + std::to_string(uint8_t(body[0]) & 1));
            }
        }
        return found;
    }
    return {};
}

// The demuxers a picture's second reader may take: ISO media (HEIF and AVIF sequences) and JPEG.
constexpr const char* pictureFormats = "mov,jpeg_pipe";

// What a JPEG's frame header says; ffprobe's containers leave JPEG out.
struct JpegFrame {
    int width = 0, height = 0, precision = 0, marker = 0;
};

// Nothing for a file that is no JPEG or has no frame header before its first scan.
std::optional<JpegFrame> jpegFrame(const fs::path& file)
{
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
    if (!in)
        return std::nullopt;
    auto byte = [&] {
        return std::fgetc(in.get());
    };
    if (byte() != 0xFF || byte() != 0xD8)
        return std::nullopt;
    for (int segments = 0; segments < 4096; ++segments) {
        int marker = byte();
        if (marker != 0xFF)
            return std::nullopt;
        while (marker == 0xFF)
            marker = byte();
        if (marker < 0 || marker == 0xD9 || marker == 0xDA)
            return std::nullopt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // no length
        const int high = byte(), low = byte();
        if (high < 0 || low < 0 || (high << 8 | low) < 2)
            return std::nullopt;
        const long length = long(high << 8 | low) - 2;
        // The frame headers: every SOF but the colour tables' markers (DHT, JPG, DAC).
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            unsigned char frame[5];
            if (length < 5 || std::fread(frame, 1, 5, in.get()) != 5)
                return std::nullopt;
            const int height = frame[1] << 8 | frame[2], width = frame[3] << 8 | frame[4];
            if (width == 0 || height == 0)
                return std::nullopt;
            return JpegFrame{width, height, frame[0], marker};
        }
        if (std::fseek(in.get(), length, SEEK_CUR) != 0)
            return std::nullopt;
    }
    return std::nullopt;
}

}

std::optional<ImageEngine::Picture> tiff(const fs::path& file)
{
    static_assert(std::endian::native == std::endian::little, "libtiff's ABGR words are read as RGBA bytes");
    const OpenTiff opened(file);
    TIFF* tif = opened.tif.get();
    const std::string& error = opened.error;
    uint32_t width = 0, height = 0;
    char reason[1024] = {};
    if (!tif || !TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)
        || width == 0 || height == 0 || !TIFFRGBAImageOK(tif, reason)) {
        ErrorLog::add(error.empty() ? std::string(reason) : error);
        return std::nullopt;
    }
    ImageEngine::requirePixels(width, height);
    // libtiff's raster and the library's copy of it.
    ImageEngine::requireHeld(double(width) * height, 8);
    uint16_t orientation = ORIENTATION_TOPLEFT, extra = 0;
    uint16_t* kinds = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &kinds);
    // Asked for the file's own orientation, libtiff lays the rows out as they are stored; the
    // library then turns them as it turns every picture (libtiff would only flip them).
    std::unique_ptr<uint32_t, void (*)(void*)> raster(
        static_cast<uint32_t*>(_TIFFmalloc(tmsize_t(width) * tmsize_t(height) * 4)), _TIFFfree);
    if (!raster || !TIFFReadRGBAImageOriented(tif, width, height, raster.get(), orientation, 1)) {
        ErrorLog::add(error.empty() ? std::string("libtiff: TIFFReadRGBAImage") : error);
        return std::nullopt;
    }
    VipsImage* copied = vips_image_new_from_memory_copy(
        raster.get(), size_t(width) * height * 4, int(width), int(height), 4, VIPS_FORMAT_UCHAR);
    if (!copied)
        return std::nullopt;
    raster.reset();
    ImageEngine::Picture picture;
    picture.image = VImage(copied).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    if (extra == 0)
        picture.image = picture.image.extract_band(0, VImage::option()->set("n", 3));
    if (orientation >= 2 && orientation <= 8) {
        picture.image.set(VIPS_META_ORIENTATION, int(orientation));
        picture.image = picture.image.autorot();
    }
    auto& props = picture.props;
    props.loader = "tiffload";
    props.orientation = orientation;
    props.exif = TiffMetadata::exifOf(file);
    float resolution = 0;
    uint16_t unit = RESUNIT_NONE;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution) && resolution > 0
        && TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        if (unit == RESUNIT_INCH)
            props.dpi = resolution;
        else if (unit == RESUNIT_CENTIMETER)
            props.dpi = resolution * 2.54;
    }
    return picture;
}

bool deepJpeg(const fs::path& file)
{
    const auto frame = jpegFrame(file);
    // 0xC3, 0xC7, 0xCB and 0xCF are the lossless processes.
    return frame && (frame->precision != 8 || (frame->marker & 3) == 3);
}

bool tiledPlanes(const fs::path& file)
{
    const OpenTiff opened(file);
    uint16_t planes = PLANARCONFIG_CONTIG, samples = 1;
    TIFF* tif = opened.tif.get();
    return tif && TIFFIsTiled(tif) && TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planes)
        && TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) && planes == PLANARCONFIG_SEPARATE
        && samples > 1;
}

std::optional<ImageEngine::Picture> firstFrame(const fs::path& file)
{
    FFmpeg::Streams streams;
    if (const auto frame = jpegFrame(file)) {
        streams.video = true;
        streams.width = frame->width;
        streams.height = frame->height;
    } else {
        streams = FFmpeg::probe(file, true);
    }
    if (!streams.video || !streams.width || !streams.height)
        return std::nullopt;
    FFmpeg::requireFrameSize(streams);
    ImageEngine::requirePixels(*streams.width, *streams.height);
    // ffmpeg's decoder and its 16-bit frame, then the library's copy of what it wrote.
    ImageEngine::requireHeld(double(*streams.width) * *streams.height, 16);
    FileSafety::TempDir scratch;
    const auto frame = scratch.path() / "quadro.png";
    // A picture cut short or damaged fails, as it does in the library's readers, instead of
    // coming out with its missing part grey.
    auto arguments = FFmpeg::decoderBound(streams);
    arguments.insert(arguments.end(), {"-xerror", "-err_detect", "explode"});
    const auto input = FFmpeg::input(file, pictureFormats);
    arguments.insert(arguments.end(), input.begin(), input.end());
    arguments.insert(arguments.end(),
        {"-map", "0:v:0", "-frames:v", "1", "-f", "image2", "-c:v", "png", FFmpeg::pathArgument(frame)});
    try {
        FFmpeg::run(arguments, std::nullopt, {});
    } catch (const ConversionError& failed) {
        ErrorLog::add(failed.what());
        return std::nullopt;
    }
    ImageEngine::Picture picture;
    try {
        // Read whole while the scratch folder is there.
        picture.image = VImage::new_from_file(frame.c_str(), VImage::option()->set("fail_on", VIPS_FAIL_ON_TRUNCATED))
                            .copy_memory();
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    vips_image_remove(picture.image.get_image(), VIPS_META_LOADER);
    picture.props.loader = "ffmpeg";
    return picture;
}

std::optional<ImageEngine::Picture> isoPicture(const fs::path& file)
{
    PrimaryItem item;
    {
        const MappedFile mapped(file);
        item = primaryItemOf(mapped.bytes());
    }
    auto picture = firstFrame(file);
    if (!picture)
        return std::nullopt;
    // ffmpeg decodes a single coded picture: one that is a grid of them, or one of several
    // pictures, is not the file's picture.
    const auto width = uint64_t(picture->image.width()), height = uint64_t(picture->image.height());
    if (item.width && !(width == item.width && height == item.height)
        && !(width == item.height && height == item.width)) {
        ErrorLog::add("ffmpeg: " + std::to_string(width) + " × " + std::to_string(height) + " em vez de "
            + std::to_string(item.width) + " × " + std::to_string(item.height));
        return std::nullopt;
    }
    for (const auto& transform : item.transforms) {
        if (transform[0] == 'r') {
            // vips turns clockwise.
            static constexpr VipsAngle clockwise[] = {VIPS_ANGLE_D0, VIPS_ANGLE_D270, VIPS_ANGLE_D180, VIPS_ANGLE_D90};
            picture->image = picture->image.rot(clockwise[transform[1] - '0']);
        } else {
            picture->image
                = picture->image.flip(transform[1] == '0' ? VIPS_DIRECTION_VERTICAL : VIPS_DIRECTION_HORIZONTAL);
        }
    }
    picture->image = picture->image.copy_memory();
    return picture;
}

}
