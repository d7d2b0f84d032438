#include "core/engines/image_engine.h"

#include "core/engines/image_library.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/image_readers.h"
#include "core/base/job_budget.h"
#include "core/base/output_paths.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/image_flate.h"
#include "core/engines/image_pdf.h"
#include "core/engines/jpeg2000.h"
#include "core/engines/jpeg_stripes.h"
#include "core/engines/picture_headers.h"
#include "core/engines/mapped_file.h"
#include "core/engines/second_readers.h"
#include "core/engines/engine_modules.h"
#include "core/engines/tiff_metadata.h"
#include "core/engines/webp_still.h"

#include <lcms2.h>

#include <QFile>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

using vips::VImage;

namespace ImageEngine {

namespace {

// A picture format the program has no reader for, asked for by name on the command line.
constexpr const char* unreadableKind = "Este formato de imagem não é suportado.";

// Outputs state no resolution of their own; 72 dpi is what readers assume for that.
constexpr double unstatedDpi = 72.0;

void ensureVips() { ImageLibrary::start(); }

std::optional<std::string> blob(const VImage& image, const char* field)
{
    if (!image.get_typeof(field))
        return std::nullopt;
    size_t length = 0;
    auto data = static_cast<const char*>(image.get_blob(field, &length));
    return std::string(data, length);
}

int orientationOf(const VImage& image)
{
    return image.get_typeof(VIPS_META_ORIENTATION) ? image.get_int(VIPS_META_ORIENTATION) : 1;
}

// The error log's line for a read that failed: the library's reason, or the job's own sentence
// when the library gave none.
std::string logged(const vips::VError& error)
{
    const auto reason = ImageLibrary::reasonOf(error.what());
    return reason.empty() ? ConversionError::unreadable().what() : reason;
}

// vips hands out the errors of lazy decoding only when the pixels are read, that is while an
// output is written; those are the source's fault, not the destination's. The decoders name
// themselves in their messages ("jpegload: …", "tiff2vips: …"), or libheif says its decoder
// gave up, or libtiff and the library's file reader say a read failed.
ConversionError classify(const vips::VError& error)
{
    std::string text = error.what();
    vips_error_clear();
    const auto cause = ErrorCauses::causeOf(text);
    if (cause == ErrorCauses::Cause::diskFull)
        return ConversionError::because(ErrorCauses::diskFull);
    if (cause == ErrorCauses::Cause::damaged)
        return ConversionError::because(ErrorCauses::damaged);
    for (const char* reader :
        {"load", "2vips", "vipspng", "Decoder", "decoder", "TIFFRead", "TIFFFill", "bad seek", "read error"}) {
        if (text.find(reader) != std::string::npos) {
            ErrorLog::add(logged(error));
            return ConversionError::unreadable();
        }
    }
    return ConversionError::writeFailed();
}

// Runs a writer, turning the image library's errors into ours.
void translatingErrors(const std::function<void()>& write)
{
    ImageLibrary::forgetWarnings();
    try {
        write();
    } catch (const vips::VError& error) {
        throw classify(error);
    } catch (const std::system_error& error) {
        throw ErrorCauses::writeFailure(error);
    }
}

int percent(double quality) { return static_cast<int>(std::lround(quality * 100)); }

// Copies the finished file ffmpeg wrote into `file`.
void copyInto(FileSafety::NewFile& file, const fs::path& finished)
{
    FileSafety::Fd in(::open(finished.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in)
        throw ConversionError::writeFailed();
    std::string buffer(1 << 20, '\0');
    for (;;) {
        auto got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw ConversionError::writeFailed();
        if (got == 0)
            return;
        file.write(std::string_view(buffer.data(), size_t(got)));
    }
}

// Runs ffmpeg into a private folder and copies its result into `file`: ffmpeg refuses to
// write over anything, the unnamed file included.
void encodeWithFFmpeg(std::vector<std::string> arguments, FileSafety::NewFile& file, const fs::path& scratch)
{
    auto partial = scratch / "out.webp";
    arguments.push_back(FFmpeg::pathArgument(partial));
    FFmpeg::run(arguments, std::nullopt, {});
    copyInto(file, partial);
}

// GIF, BMP and ffmpeg's WebP ignore colour profiles, so other spaces are turned into sRGB
// first; otherwise wide-gamut photos would come out with shifted colours.
VImage inSRGB(const VImage& image)
{
    auto icc = blob(image, VIPS_META_ICC_NAME);
    if (!icc || describesSRGB(*icc))
        return image;
    try {
        return image.icc_transform("srgb", VImage::option()->set("embedded", true));
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }
}

int freeBlob(void* data, void*)
{
    g_free(data);
    return 0;
}

// A copy of `image` that carries exactly the kept metadata: its colour profile (part of its
// pixels' meaning), the Exif and IPTC blocks, orientation 1 and the unstated resolution.
VImage withMetadata(const VImage& image, const Properties& kept)
{
    auto out = image.copy(VImage::option()->set("xres", unstatedDpi / 25.4)->set("yres", unstatedDpi / 25.4));
    char** fields = vips_image_get_fields(out.get_image());
    for (char** field = fields; *field; ++field) {
        if (std::strcmp(*field, VIPS_META_ICC_NAME) != 0)
            vips_image_remove(out.get_image(), *field);
    }
    g_strfreev(fields);
    // vips keeps a reference to the blob's bytes without copying them, so hand it a copy it owns.
    auto setOwned = [&](const char* field, const std::optional<std::string>& data) {
        if (!data)
            return;
        void* copy = g_malloc(data->size());
        std::memcpy(copy, data->data(), data->size());
        vips_image_set_blob(out.get_image(), field, freeBlob, copy, data->size());
    };
    setOwned(VIPS_META_EXIF_NAME, kept.exif);
    setOwned(VIPS_META_IPTC_NAME, kept.iptc);
    out.set(VIPS_META_ORIENTATION, 1);
    return out;
}

// ffmpeg is handed raw 8-bit sRGB pixels, which vips writes strip by strip, and is told to
// encode them as 4:2:0 itself. Through a PNG, ffmpeg held the file and its decoded copy; and
// left to choose, it hands libwebp 32-bit pixels that libwebp converts again: a 6000 × 4000
// photo peaked at 512 MiB, now at 290 MiB, against 366 MiB for vips' own WebP saver.
void saveWebP(const VImage& image, FileSafety::NewFile& file, double quality)
{
    FileSafety::TempDir scratch;
    auto raw = scratch.path() / "in.rgb";
    VImage pixels;
    translatingErrors([&] {
        pixels = ImageFlate::storable(inSRGB(image), false);  // grey or RGB, 8 or 16 bits
        if (pixels.bands() < 3)
            pixels = pixels.colourspace(VIPS_INTERPRETATION_sRGB);
        if (pixels.format() != VIPS_FORMAT_UCHAR)
            pixels = (pixels >> 8).cast(VIPS_FORMAT_UCHAR);
        pixels.rawsave(raw.c_str());
    });
    const bool alpha = pixels.bands() == 4;
    std::vector<std::string> arguments = {"-f", "rawvideo", "-pix_fmt", alpha ? "rgba" : "rgb24", "-video_size",
        std::to_string(pixels.width()) + "x" + std::to_string(pixels.height())};
    const auto input = FFmpeg::input(raw, "rawvideo");
    arguments.insert(arguments.end(), input.begin(), input.end());
    arguments.insert(arguments.end(), {"-c:v", "libwebp"});
    // ffmpeg's own 4:2:0 conversion of a picture one pixel wide takes its colour from nothing: a
    // blue pixel came out 15,14,142. libwebp converts such a picture right itself, at no cost.
    if (pixels.width() > 1)
        arguments.insert(arguments.end(), {"-pix_fmt", alpha ? "yuva420p" : "yuv420p"});
    arguments.insert(arguments.end(), {"-quality", std::to_string(percent(quality))});
    encodeWithFFmpeg(arguments, file, scratch.path());
}

// The savers cast samples of any other format as they are: a float picture (a TIFF of 0…1, or
// linear scRGB) came out black. Every writer gets its samples scaled the one way PNG's and PDF's
// already were.
VImage eightOrSixteenBits(const VImage& image)
{
    const auto format = image.format();
    return format == VIPS_FORMAT_UCHAR || format == VIPS_FORMAT_USHORT ? image : ImageFlate::storable(image, false);
}

void putLE(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
}

// A 24-bit BMP, rows bottom-up as every reader expects. Its sizes are 32-bit fields, so an
// image of 4 GiB or more cannot be stored and fails before any pixel is decoded.
void saveBMP(const VImage& image, FileSafety::NewFile& file)
{
    auto rgb = inSRGB(image).colourspace(VIPS_INTERPRETATION_sRGB);
    if (rgb.bands() > 3)
        rgb = rgb.extract_band(0, VImage::option()->set("n", 3));
    if (rgb.format() != VIPS_FORMAT_UCHAR)
        rgb = rgb.cast(VIPS_FORMAT_UCHAR);
    const size_t width = size_t(rgb.width()), height = size_t(rgb.height());
    const size_t rowBytes = (width * 3 + 3) & ~size_t(3);
    constexpr size_t headerBytes = 54;
    if (rowBytes * height > UINT32_MAX - headerBytes)
        throw ConversionError::writeFailed();
    const auto pixelBytes = uint32_t(rowBytes * height);

    std::string header("BM");
    putLE(header, uint32_t(headerBytes) + pixelBytes, 4);
    putLE(header, 0, 4);
    putLE(header, uint32_t(headerBytes), 4);
    putLE(header, 40, 4);  // BITMAPINFOHEADER
    putLE(header, uint32_t(width), 4);
    putLE(header, uint32_t(height), 4);
    putLE(header, 1, 2);
    putLE(header, 24, 2);
    putLE(header, 0, 4);  // uncompressed
    putLE(header, pixelBytes, 4);
    putLE(header, 2835, 4);  // 72 dpi, in pixels per metre
    putLE(header, 2835, 4);
    putLE(header, 0, 4);
    putLE(header, 0, 4);

    file.write(header);
    // Rows come top to bottom as they decode, and each goes straight to its place in the file,
    // which holds them bottom-up: never the whole picture in memory.
    struct Rows {
        int fd;
        size_t width, height, rowBytes;
        std::string buffer;
    } rows{file.fd(), width, height, rowBytes, {}};
    auto writeStrip = [](VipsRegion* region, VipsRect* area, void* data) -> int {
        auto& out = *static_cast<Rows*>(data);
        out.buffer.assign(size_t(area->height) * out.rowBytes, '\0');
        for (int i = 0; i < area->height; ++i) {
            const auto* row = reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(region, 0, area->top + i));
            char* into = out.buffer.data() + size_t(area->height - 1 - i) * out.rowBytes;
            for (size_t x = 0; x < out.width; ++x) {
                into[x * 3] = char(row[x * 3 + 2]);
                into[x * 3 + 1] = char(row[x * 3 + 1]);
                into[x * 3 + 2] = char(row[x * 3]);
            }
        }
        const off_t at = off_t(headerBytes + (out.height - size_t(area->top) - size_t(area->height)) * out.rowBytes);
        for (size_t done = 0; done < out.buffer.size();) {
            const auto put = ::pwrite(out.fd, out.buffer.data() + done, out.buffer.size() - done, at + off_t(done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                vips_error("bmpsave", "%s", std::strerror(put < 0 ? errno : ENOSPC));
                return -1;
            }
            done += size_t(put);
        }
        return 0;
    };
    if (vips_sink_disc(rgb.get_image(), writeStrip, &rows) != 0)
        throw vips::VError();
}

void writeImage(const VImage& prepared, ImageType type, FileSafety::NewFile& file, double quality, bool bare)
{
    // The savers write to the unnamed file's descriptor; naming the saver keeps the library
    // from choosing one by a file name this file does not have.
    auto target = [&] {
        return vips::VTarget::new_to_descriptor(file.fd());
    };
    auto q = percent(quality);
    switch (type) {
    case ImageType::jpeg: prepared.jpegsave_target(target(), VImage::option()->set("Q", q)->set("strip", bare)); break;
    case ImageType::png:
        // Our own writer: it deflates on every core (see ImageFlate::writePNG for the figures).
        ImageFlate::writePNG(ImageFlate::storable(prepared, false), blob(prepared, VIPS_META_EXIF_NAME), file);
        break;
    case ImageType::heic:
        prepared.heifsave_target(target(),
            VImage::option()
                ->set("Q", q)
                ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)
                ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON)
                ->set("strip", bare));
        break;
    case ImageType::avif:
        // The default effort takes about four times as long for no visible gain.
        prepared.heifsave_target(target(),
            VImage::option()
                ->set("Q", q)
                ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)
                ->set("effort", 0)
                ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON)
                ->set("strip", bare));
        break;
    case ImageType::tiff: {
        // The saver would write IPTC cut short at its first zero byte and no Exif at all: both
        // go into the finished file instead.
        auto pixels = prepared.copy();
        vips_image_remove(pixels.get_image(), VIPS_META_IPTC_NAME);
        pixels.tiffsave_target(target(), VImage::option()->set("strip", bare));
        if (!bare)
            TiffMetadata::add(file.fd(), blob(prepared, VIPS_META_EXIF_NAME), blob(prepared, VIPS_META_IPTC_NAME));
        break;
    }
    case ImageType::bmp: saveBMP(prepared, file); break;
    case ImageType::gif: inSRGB(prepared).gifsave_target(target()); break;
    case ImageType::webp:
    case ImageType::pdf: throw ConversionError::unsupported();  // write() takes them its own ways
    }
}

bool hasSaver(const char* name) { return ImageLibrary::has(name); }

// The image library's saver a type needs, when a build may lack it.
const char* saverOf(ImageType type)
{
    switch (type) {
    case ImageType::heic:
    case ImageType::avif: return "heifsave";
    case ImageType::gif: return "gifsave";
    case ImageType::jpeg:
    case ImageType::png:
    case ImageType::webp:
    case ImageType::tiff:
    case ImageType::bmp:
    case ImageType::pdf: return nullptr;
    }
    return nullptr;
}

// What the file's own structure declares, judged before the library reads its header: a PNG's
// chunk lengths, which the reader allocates before it finds the file ends, and a HEIF grid's
// tiles, whose lists the library reads again for every tile at each of a conversion's readings
// of the header (10,000 tiles took 14 s to refuse, 16,384 took 38). The largest picture opened
// (requirePixels' gigapixel) cut in the 512 × 512 tiles cameras write has 3,815.
void requireSoundStructure(const fs::path& file, const std::string& loader)
{
    constexpr uint64_t mostTiles = 1'000'000'000 / (512 * 512);
    if (loader == "pngload")
        PictureHeaders::requireChunksWithinFile(file);
    else if (loader == "heifload")
        if (const auto tiles = PictureHeaders::gridTiles(file); tiles && *tiles > mostTiles)
            throw ConversionError::unreadable();
}

bool animatedHeader(const VImage& header)
{
    return header.get_typeof(VIPS_META_N_PAGES) && header.get_int(VIPS_META_N_PAGES) > 1;
}

// The decoders that hold a whole picture before they hand out a row, judged on the header: HEIF's
// (its grid of tiles is assembled whole, about 6 bytes a pixel in all), an animated WebP's, which
// composes every frame on a canvas of its own (about 10), a still WebP's (see WebPStill), and
// PNG's rows kept behind; and a JPEG's decoder, which holds every coefficient of a progressive
// one, whatever its few bytes say: a 527-byte file of 31,000 × 31,000 took 5.8 GB.
void requireDecodable(const VImage& header, const fs::path& file)
{
    const std::string loader = header.get_typeof(VIPS_META_LOADER) ? header.get_string(VIPS_META_LOADER) : "";
    const double pixels = double(header.width()) * header.height();
    if (loader == "heifload")
        requireHeld(pixels, 6);
    else if (loader == "pngload" && header.get_typeof("interlaced") && header.get_int("interlaced"))
        // Its seven passes each cover the whole picture, so the reader decodes it whole: a 389 KB
        // file of 20,000² grey took 449 MiB.
        requireHeld(header, 0);
    else if (loader == "pngload" && double(header.width()) * header.bands() >= double(256 << 10))
        // Read top to bottom, the library's PNG reader still keeps about a thousand rows, and its
        // savers' sinks up to three times as many again: for rows of megabytes (a 1,000,000 × 600
        // panorama) that is the whole picture, 1.9 GB for the reader alone. Narrower rows (a
        // 31,000-pixel-wide picture took 193 MiB in all) stay well inside.
        requireHeld(double(header.width()) * std::min(header.height(), 1024), 4.0 * header.bands());
    else if (loader == "webpload")
        requireHeld(pixels, animatedHeader(header) ? 10 : header.bands());
    else if (loader == "jpegload")
        if (const auto coefficients = JpegStripes::wholeCoefficientBytes(file))
            requireHeld(pixels, *coefficients / std::max(pixels, 1.0));
}

// Whether a PNG's pHYs chunk, when it has one before its pixels, counts in pixels per metre: its
// other unit (0) says only how pixels are shaped, whatever its numbers.
bool physInMetres(const fs::path& png)
{
    QFile in(QString::fromStdString(png.string()));
    if (!in.open(QIODevice::ReadOnly) || !in.seek(8))
        return false;
    for (int chunks = 0; chunks < 4096; ++chunks) {
        const QByteArray head = in.read(8);
        if (head.size() < 8)
            return false;
        const uint32_t length = uint32_t(uint8_t(head[0])) << 24 | uint32_t(uint8_t(head[1])) << 16
            | uint32_t(uint8_t(head[2])) << 8 | uint8_t(head[3]);
        const QByteArray type = head.mid(4);
        if (type == "IDAT")
            return false;
        if (type == "pHYs") {
            const QByteArray data = in.read(9);
            return length == 9 && data.size() == 9 && data[8] == 1;
        }
        if (!in.seek(in.pos() + qint64(length) + 4))
            return false;
    }
    return false;
}

// The resolution a file states, in dots per inch. The image library gives a resolution with a unit
// (inches or centimetres) its unit's name, and a resolution without one (a TIFF's or Exif's unit
// "none", JFIF's 0) as its bare number, which is no resolution: a page of 72 of them read as
// pixels per millimetre came out 25.4 times too small. PNG's reader names no unit at all. One pixel
// a millimetre is the library's own word for none, which its writers store as 10 a centimetre.
std::optional<double> statedDpi(const VImage& header, const fs::path& file)
{
    const std::string loader = header.get_typeof(VIPS_META_LOADER) ? header.get_string(VIPS_META_LOADER) : "";
    const bool unit = loader == "pngload" ? physInMetres(file) : header.get_typeof(VIPS_META_RESOLUTION_UNIT) != 0;
    if (!unit || !(header.xres() > 0) || std::abs(header.xres() - 1.0) <= 1e-6)
        return std::nullopt;
    return header.xres() * 25.4;
}

// Whether a file is ISO media (HEIF, AVIF, MP4), by the box its first bytes must be.
bool isoMedia(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) && in.read(8).mid(4) == "ftyp";
}

// Whether ISO media names AVIF among its brands.
bool avifBrand(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = in.read(64);
    if (head.mid(4, 4) != "ftyp")
        return false;
    const auto length = qsizetype(uint8_t(head[2])) << 8 | uint8_t(head[3]);
    for (qsizetype at = 8; at + 4 <= std::min(length, head.size()); at += 4) {
        const QByteArray brand = head.mid(at, 4);
        if (brand == "avif" || brand == "avis")
            return true;
    }
    return false;
}

// Decodes `image` into memory; false when a decoder failed on it meanwhile.
bool madeWhole(VImage& image)
{
    const auto before = ImageLibrary::failedRegions();
    try {
        image = image.copy_memory();
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
    return ImageLibrary::failedRegions() == before;
}

// The picture of a file the library's reader `loader` refused, by the format's other reader.
std::optional<Picture> secondReading(const fs::path& file, const std::string& loader)
{
    if (loader == "tiffload")
        return SecondReaders::tiff(file);
    if (loader == "jpegload" && SecondReaders::deepJpeg(file))
        return SecondReaders::firstFrame(file);
    if (loader == "heifload" && isoMedia(file))
        return SecondReaders::isoPicture(file);
    return std::nullopt;
}

// An animated GIF stays animated through ffmpeg's encoder, its frames within the pixel bound. A
// still one takes the still road: ffmpeg refuses a GIF without any colour table, which the
// library reads.
bool animated(const fs::path& gif)
{
    if (ImageLibrary::loaderFor(gif).empty())
        return false;  // the still road's reader says what is wrong with it
    VImage header;
    try {
        header = VImage::new_from_file(gif.c_str());
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;  // the still road's reader says what is wrong with it
    }
    requirePixels(header.width(), header.height());
    return header.get_typeof(VIPS_META_N_PAGES) && header.get_int(VIPS_META_N_PAGES) > 1;
}

// The memory the system could still give, from the kernel's own estimate.
double availableBytes()
{
    QFile meminfo("/proc/meminfo");
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (const auto& line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toDouble() * 1024;
    }
    return 0;
}

std::string withComma(double value, int decimals = 1)
{
    auto text = QString::number(value, 'f', decimals).toStdString();
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

// What a picture needs and the most it may have, in gigabytes, with the decimals it takes for
// the need, rounded up, to read above the bound.
std::pair<std::string, std::string> gigabytesApart(double needed, double most)
{
    constexpr double gigabyte = double(1ULL << 30);
    for (int decimals = 1;; ++decimals) {
        const double scale = std::pow(10.0, decimals);
        auto apart = std::pair(withComma(std::ceil(needed / gigabyte * scale) / scale, decimals),
            withComma(most / gigabyte, decimals));
        if (apart.first != apart.second || decimals == 6)
            return apart;
    }
}

}

void requireFits(const VImage& image, const std::string& ext)
{
    // Each format's own bound on a side, past which the encoder fails or, for HEVC and AV1,
    // crashes; and the savers that hold the whole picture, with what they take per pixel on top
    // of its decoded bytes, from bench/memory.sh: the HEVC and AV1 encoders about 25 bytes in all
    // for a 24-megapixel photo (as much as vips' own saver), the PDF writer about 7 with its
    // compressed copy, GIF one more frame. The others stream by strips.
    int side = 0;
    double perPixel = 0;
    bool held = false;  // bounded by what a job may hold, not only by the free memory
    if (const auto type = OutputFormats::picture(ext)) {
        switch (*type) {
        case ImageType::webp:
            // ffmpeg's encoder, beside the decoded picture: its frame, libwebp's own copies and
            // what it writes, about 9 bytes a pixel for a photo (24 for noise, 8 when flat).
            side = 16383;
            perPixel = 9;
            held = true;
            break;
        case ImageType::heic:
        case ImageType::avif:
            side = 16384;
            perPixel = 22;
            break;
        case ImageType::gif:
            side = 65535;
            perPixel = 3;
            held = true;
            break;
        case ImageType::pdf:
            // One picture without alpha streams into its PDF when it is large (see ImagePDF).
            perPixel = 4;
            held = image.has_alpha();
            break;
        case ImageType::jpeg:
        case ImageType::png:
        case ImageType::bmp:
        case ImageType::tiff: break;
        }
    }
    if (side > 0 && (image.width() > side || image.height() > side)) {
        throw ConversionError::because("A imagem é grande demais para " + OutputFormats::label(ext) + " (máximo "
            + std::to_string(side) + " × " + std::to_string(side) + " pixels).");
    }
    if (held)
        requireHeld(image, perPixel);
    else if (perPixel > 0)
        requireMemory(image, perPixel);
}

void requireHeld(const VImage& image, double perPixel)
{
    requireHeld(double(image.width()) * image.height(),
        double(image.bands()) * double(vips_format_sizeof(image.format())) + perPixel);
}

void requireHeld(double pixels, double bytesPerPixel)
{
    // A job that holds a whole picture stays within its share of the job's budget whatever the
    // machine has free: a 252-megapixel HEIC grid of one repeated tile is 2.4 KB.
    const double heldBytes = double(JobBudget::limits().wholePicture);
    requireMemory(pixels, bytesPerPixel);
    const double needed = pixels * bytesPerPixel;
    if (needed > heldBytes) {
        const auto [need, most] = gigabytesApart(needed, heldBytes);
        throw ConversionError::because("A imagem é grande demais para esta operação (precisaria de " + need
            + " GB de memória; o máximo é " + most + " GB).");
    }
}

void requireMemory(const VImage& image, double perPixel)
{
    requireMemory(double(image.width()) * image.height(),
        double(image.bands()) * double(vips_format_sizeof(image.format())) + perPixel);
}

void requireMemory(double pixels, double bytesPerPixel)
{
    const double needed = pixels * bytesPerPixel;
    // The picture's share of the job's budget, within what the system has free: past it the
    // watch would end the job with the generic sentence instead of this one.
    const double free = availableBytes(), share = double(JobBudget::limits().picture);
    const double available = free > 0 ? std::min(free * 0.8, share) : share;
    if (needed > available)
        throw ConversionError::because("A imagem é grande demais para converter com a memória livre (precisaria de "
            + withComma(needed / double(1ULL << 30)) + " GB).");
}

double qualityFactor(QualityLevel level)
{
    switch (level) {
    case QualityLevel::max: return 1.0;
    case QualityLevel::high: return 0.9;
    case QualityLevel::web: return 0.8;
    case QualityLevel::light: return 0.65;
    }
    return 0.9;
}

std::optional<ImageType> utType(const std::string& ext)
{
    ensureVips();
    const auto type = OutputFormats::picture(ext);
    const char* saver = type ? saverOf(*type) : nullptr;
    return saver && !hasSaver(saver) ? std::nullopt : type;
}

Properties metadata(const Properties& props)
{
    Properties kept;
    kept.exif = props.exif;
    if (kept.exif)
        resetOrientation(*kept.exif);
    kept.iptc = props.iptc;
    kept.orientation = 1;
    return kept;
}

bool describesSRGB(std::string_view icc)
{
    cmsHPROFILE profile = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    if (!profile)
        return false;
    // The ASCII form of either tag type: the old "desc" text or the newer multi-language one.
    char text[256] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    cmsCloseProfile(profile);
    return std::string_view(text).find("sRGB") != std::string_view::npos;
}

void resetOrientation(std::string& exif)
{
    const size_t base = std::string_view(exif).substr(0, 6) == std::string_view("Exif\0\0", 6) ? 6 : 0;
    if (exif.size() < base + 8)
        return;
    const std::string_view tiff = std::string_view(exif).substr(base);
    const char order = tiff[0];
    if ((order != 'I' && order != 'M') || tiff[1] != order)
        return;
    const bool little = order == 'I';
    auto read = [&](size_t offset, int bytes) -> uint32_t {
        if (offset > tiff.size() || tiff.size() - offset < size_t(bytes))
            return 0;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= uint32_t(static_cast<unsigned char>(tiff[offset + (little ? i : bytes - 1 - i)])) << (8 * i);
        return value;
    };
    const size_t ifd = read(4, 4);
    const uint32_t entries = read(ifd, 2);
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (entry + 12 > tiff.size())
            return;
        // Tag 0x0112, type SHORT: the value sits in the entry's first two value bytes.
        if (read(entry, 2) == 0x0112 && read(entry + 2, 2) == 3) {
            exif[base + entry + 8 + (little ? 0 : 1)] = 1;
            exif[base + entry + 8 + (little ? 1 : 0)] = 0;
            return;
        }
    }
}

VImage flatten(const VImage& image)
{
    if (!image.has_alpha())
        return image;
    try {
        double opaque = image.format() == VIPS_FORMAT_USHORT ? 65535 : 255;
        double white = image.interpretation() == VIPS_INTERPRETATION_CMYK ? 0 : opaque;  // no ink
        return image.flatten(VImage::option()
                                 ->set("background", std::vector<double>(size_t(image.bands() - 1), white))
                                 ->set("max_alpha", opaque));
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }
}

void requirePixels(double width, double height)
{
    // The largest pictures people have: about 150 megapixels from a single shot of today's
    // medium-format backs, 400 from their pixel-shift composites, 560 from an A4 page scanned at
    // 2400 dpi. A gigapixel is well above all of them, while what a job holds of one (three or
    // four bytes a pixel, once) stays inside a worker's memory; past it is a header that lies
    // (a PNG of a few kilobytes that says 100,000 × 100,000) or a panorama no format here writes.
    constexpr double maxPixels = 1e9;
    if (width * height <= maxPixels)
        return;
    auto megapixels = QLocale(QLocale::Portuguese, QLocale::Brazil).toString(width * height / 1e6, 'f', 0);
    throw ConversionError::because(
        "A imagem é grande demais para abrir (" + megapixels.toStdString() + " megapixels; o máximo é 1.000).");
}

Picture loadOriented(const fs::path& file)
{
    ensureVips();
    ImageLibrary::forgetWarnings();
    const auto ext = Catalog::normalizedExt(file);
    const auto reader = ImageReaders::of(ext);
    if (reader == ImageReader::raw)
        return EngineModules::documents().loadRaw(file);  // DNG and most raw formats are TIFF inside: never the TIFF reader
    const auto loader = ImageLibrary::loaderFor(file);
    requireSoundStructure(file, loader);
    if (loader == "jp2kload") {
        const MappedFile mapped(file);
        if (auto decoded = Jpeg2000::decode(mapped.bytes())) {
            Picture picture{*decoded, {}, {}, nullptr};
            picture.props.loader = loader;
            return picture;
        }
    }
    if (loader.empty()) {
        // The photo formats are the image library's alone: a file named as one that none of its
        // decoders takes is something else under that name (a PCX, a PostScript page, a PGM),
        // and Qt's readers would only guess again. The rest (icons, BMP, drawings) are Qt's.
        if (reader == ImageReader::library) {
            // An image sequence, which the library's HEIF reader does not know as one.
            if (isoMedia(file))
                if (auto picture = SecondReaders::isoPicture(file))
                    return *std::move(picture);
            throw ConversionError::unreadable();
        }
        if (reader != ImageReader::qt)
            throw ConversionError::because(unreadableKind);
        return EngineModules::documents().loadWithQt(file);
    }
    VImage header;
    try {
        header = VImage::new_from_file(file.c_str());
    } catch (const vips::VError& error) {
        // Its first bytes are a photo format's, its header is not: Qt's readers, on the same
        // decoders, would only fail again, and print as they do. The format's other readers
        // take some of those (see SecondReaders).
        const auto reason = logged(error);
        vips_error_clear();
        if (auto picture = secondReading(file, loader))
            return *std::move(picture);
        ErrorLog::add(reason);
        throw ConversionError::unreadable();
    }
    requirePixels(header.width(), header.height());
    if (loader == "tiffload" && SecondReaders::tiledPlanes(file)) {
        if (auto picture = SecondReaders::tiff(file))
            return *std::move(picture);
        throw ConversionError::unreadable();
    }
    requireDecodable(header, file);
    Picture picture;
    auto& props = picture.props;
    props.exif = blob(header, VIPS_META_EXIF_NAME);
    props.iptc = blob(header, VIPS_META_IPTC_NAME);
    props.xmp = blob(header, VIPS_META_XMP_NAME);
    if (header.get_typeof(VIPS_META_ORIENTATION))
        props.orientation = header.get_int(VIPS_META_ORIENTATION);
    props.dpi = statedDpi(header, file);
    if (header.get_typeof(VIPS_META_LOADER))
        props.loader = header.get_string(VIPS_META_LOADER);
    if (props.loader == "tiffload" && !props.exif)
        props.exif = TiffMetadata::exifOf(file);
    if (props.iptc)
        props.iptc = TiffMetadata::iptcAsJpegCarriesIt(std::move(*props.iptc));

    try {
        int orientation = orientationOf(header);
        if (orientation >= 2 && orientation <= 8)
            requireHeld(header, 0);  // decoded whole to be turned
        if (props.loader == "webpload" && !animatedHeader(header)) {
            picture.image = WebPStill::decode(file, header.width(), header.height(), header.bands() == 4);
            if (auto icc = blob(header, VIPS_META_ICC_NAME))
                vips_image_set_blob_copy(picture.image.get_image(), VIPS_META_ICC_NAME, icc->data(), icc->size());
            if (orientation >= 2 && orientation <= 8) {
                picture.image.set(VIPS_META_ORIENTATION, orientation);
                picture.image = picture.image.autorot();
            }
        } else if (orientation >= 2 && orientation <= 8) {
            // Turning needs random access: decode into memory (never into a scratch file).
            picture.image = VImage::new_from_file(
                file.c_str(), VImage::option()->set("memory", true)->set("fail_on", VIPS_FAIL_ON_TRUNCATED))
                                .autorot();
        } else {
            // A file cut short fails instead of coming out with its missing part grey; the small
            // repairs below that level (a bad checksum, a stray byte) still pass.
            picture.image = VImage::new_from_file(file.c_str(),
                VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
        }
    } catch (const vips::VError& error) {
        throw classify(error);
    }
    if (props.loader == "heifload" && avifBrand(file) && !madeWhole(picture.image)) {
        // The reader holds the whole picture anyway; an AVIF it takes by its header may still fail
        // to make it, which only a whole decode shows.
        auto second = SecondReaders::isoPicture(file);
        if (!second)
            throw ConversionError::because(ErrorCauses::damaged);
        second->props = std::move(props);
        return *std::move(second);
    }
    auto interpretation = picture.image.interpretation();
    if (props.loader == "jpegload" && picture.image.format() == VIPS_FORMAT_UCHAR
        && ((header.bands() == 3 && interpretation == VIPS_INTERPRETATION_sRGB)
            || (header.bands() == 1 && interpretation == VIPS_INTERPRETATION_B_W))) {
        picture.jpegFile = file;
        picture.jpegImage = picture.image.get_image();
    }
    return picture;
}

void write(
    const VImage& image, const Properties& props, const std::string& ext, FileSafety::NewFile& file, double quality)
{
    const auto type = utType(ext);
    if (!type)
        throw ConversionError::unsupported();
    if (*type == ImageType::webp) {
        saveWebP(image, file, quality);
        return;
    }
    if (*type == ImageType::pdf) {
        writePDF({Picture{image, props, {}, nullptr}}, file);
        return;
    }
    translatingErrors([&] {
        auto pixels = (*type == ImageType::jpeg || *type == ImageType::bmp) ? flatten(eightOrSixteenBits(image))
                                                                            : eightOrSixteenBits(image);
        writeImage(withMetadata(pixels, metadata(props)), *type, file, quality, props.bare);
    });
}

fs::path save(const VImage& image, const Properties& props, const std::string& ext, const FileSafety::NameFor& names,
    double quality)
{
    FileSafety::NewFile file(names.folder());
    write(image, props, ext, file, quality);
    return file.publish(names);
}

void requireIntact(const std::function<void()>& write)
{
    const auto before = ImageLibrary::failedRegions();
    write();  // a write that failed says why itself
    if (ImageLibrary::failedRegions() != before)
        throw ConversionError::because(ErrorCauses::damaged);
}

void writePDF(const std::vector<Picture>& pictures, FileSafety::NewFile& file)
{
    ensureVips();
    translatingErrors([&] {
        ImagePDF::write(pictures, file);
    });
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    Task::checkCancelled();
    const auto& ext = format.ext;
    const double factor = qualityFactor(Quality::levelFor(ext));
    const auto names = OutputPaths::names(source, ext);
    FileSafety::NewFile file(names.folder());

    const auto type = utType(ext);
    if (type == ImageType::webp && Catalog::normalizedExt(source) == "gif" && animated(source)) {
        FileSafety::TempDir scratch;
        auto arguments = FFmpeg::input(source, "gif");
        arguments.insert(
            arguments.end(), {"-c:v", "libwebp_anim", "-quality", std::to_string(percent(factor)), "-loop", "0"});
        encodeWithFFmpeg(arguments, file, scratch.path());
        return file.publish(names);
    }
    if (!type)
        throw ConversionError::unsupported();

    // A turned picture is decoded whole as it loads, so its size is judged on the header first.
    try {
        if (const auto loader = ImageLibrary::loaderFor(source); !loader.empty()) {
            requireSoundStructure(source, loader);
            requireFits(VImage::new_from_file(source.c_str()), ext);
        }
    } catch (const vips::VError&) {
        vips_error_clear();  // not one for the image library: judged once Qt's readers have it
    }
    auto picture = loadOriented(source);
    requireFits(picture.image, ext);
    requireIntact([&] {
        if (*type == ImageType::pdf)
            writePDF({picture}, file);  // keeps a JPEG's own stream where it can
        else
            write(picture.image, *type == ImageType::webp ? Properties{} : picture.props, ext, file, factor);
    });
    return file.publish(names);
}

fs::path mergeToPDF(const std::vector<fs::path>& sources)
{
    if (sources.empty())
        throw ConversionError::unsupported();
    std::vector<Picture> pictures;
    pictures.reserve(sources.size());
    for (const auto& source : sources) {
        Task::checkCancelled();
        pictures.push_back(loadOriented(source));
        requireHeld(pictures.back().image, 4);  // held whole in turn, with its compressed copy
    }
    const auto& first = sources.front();
    const auto named = OutputPaths::directory(first) / (first.stem().string() + " \u2013 combinado.pdf");
    const auto names = OutputPaths::names(named, "pdf");
    FileSafety::NewFile file(names.folder());
    requireIntact([&] {
        writePDF(pictures, file);
    });
    return file.publish(names);
}

}
