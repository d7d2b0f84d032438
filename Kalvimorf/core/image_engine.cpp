#include "core/image_engine.h"

#include "core/image_library.h"

#include "core/conversion_error.h"
#include "core/ffmpeg.h"
#include "core/image_flate.h"
#include "core/image_pdf.h"
#include "core/output_paths.h"
#include "core/quality.h"
#include "core/task.h"

#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QUuid>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <unistd.h>

using vips::VImage;

namespace ImageEngine {

namespace {

// Outputs state no resolution of their own; 72 dpi is what readers assume for that.
constexpr double unstatedDpi = 72.0;

void ensureVips()
{
    ImageLibrary::start();
}

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

// vips hands out the errors of lazy decoding only when the pixels are read, that is while an
// output is written; those are the source's fault, not the destination's. The decoders name
// themselves in their messages ("jpegload: …", "tiff2vips: …").
ConversionError classify(const vips::VError& error)
{
    std::string text = error.what();
    vips_error_clear();
    for (const char* reader : {"load", "2vips", "Premature end", "Corrupt"}) {
        if (text.find(reader) != std::string::npos)
            return ConversionError::unreadable();
    }
    return ConversionError::writeFailed();
}

void removeQuietly(const fs::path& path)
{
    std::error_code ignored;
    fs::remove(path, ignored);
}

// Runs a writer of `destination`; whatever it left there is removed when it fails.
void removingOnFailure(const fs::path& destination, const std::function<void()>& write)
{
    try {
        write();
    } catch (const vips::VError& error) {
        removeQuietly(destination);
        throw classify(error);
    } catch (...) {
        removeQuietly(destination);
        throw;
    }
}

// Takes a free name by creating it, empty and exclusively, so that nothing that appeared
// there since the name was chosen is overwritten; the writers then fill the file.
fs::path claim(const std::function<fs::path()>& choose)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        auto path = choose();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            break;
    }
    throw ConversionError::writeFailed();
}

// A hidden name beside `destination` for a writer that refuses existing files (ffmpeg -n).
fs::path siblingTemp(const fs::path& destination, const std::string& ext)
{
    auto id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    return destination.parent_path() / ("." + destination.stem().string() + "-" + id + "." + ext);
}

// Moves a finished sibling onto its destination, which is absent or the empty file claimed
// for it; anything else there is left alone.
void placeOnto(const fs::path& finished, const fs::path& destination)
{
    std::error_code error;
    auto status = fs::symlink_status(destination, error);
    bool free = status.type() == fs::file_type::not_found
        || (status.type() == fs::file_type::regular && fs::file_size(destination, error) == 0 && !error);
    if (!free || ::rename(finished.c_str(), destination.c_str()) != 0) {
        removeQuietly(finished);
        throw ConversionError::writeFailed();
    }
}

std::string absolutePath(const fs::path& path)
{
    std::error_code error;
    auto full = fs::absolute(path, error);
    return (error ? path : full).string();
}

std::string decimal(long long value)
{
    char buffer[24];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

int percent(double quality)
{
    return static_cast<int>(std::lround(quality * 100));
}

// Runs ffmpeg into a hidden sibling and moves the result onto `destination`.
void encodeWithFFmpeg(std::vector<std::string> arguments, const fs::path& destination)
{
    auto partial = siblingTemp(destination, destination.extension().string().substr(1));
    arguments.push_back(absolutePath(partial));
    try {
        FFmpeg::run(arguments, std::nullopt, {});
    } catch (...) {
        removeQuietly(partial);
        throw;
    }
    placeOnto(partial, destination);
}

// True when the profile's description names sRGB: those need no conversion for formats that
// cannot carry a profile.
bool describesSRGB(const std::string& icc)
{
    auto u32 = [&](size_t at) -> uint32_t {
        if (at + 4 > icc.size())
            return 0;
        auto b = reinterpret_cast<const unsigned char*>(icc.data() + at);
        return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    };
    uint32_t count = u32(128);
    for (uint32_t i = 0; i < count && i < 256; ++i) {
        size_t entry = 132 + size_t(i) * 12;
        if (icc.compare(entry, 4, "desc") != 0)
            continue;
        size_t offset = u32(entry + 4), size = u32(entry + 8);
        if (offset >= icc.size())
            return false;
        auto text = icc.substr(offset, size);
        static const std::string wide("\0s\0R\0G\0B", 8);
        return text.find("sRGB") != std::string::npos || text.find(wide) != std::string::npos;
    }
    return false;
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

// Sets the orientation entry of IFD0 in an Exif block ("Exif\0\0" and a TIFF structure).
void resetOrientation(std::string& exif)
{
    size_t base = exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0 ? 6 : 0;
    if (exif.size() < base + 8)
        return;
    bool little = exif[base] == 'I';
    auto at = [&](size_t offset) { return reinterpret_cast<unsigned char*>(exif.data() + base + offset); };
    auto read = [&](size_t offset, int bytes) -> uint32_t {
        if (base + offset + bytes > exif.size())
            return 0;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= uint32_t(at(offset)[little ? i : bytes - 1 - i]) << (8 * i);
        return value;
    };
    uint32_t ifd = read(4, 4);
    uint32_t entries = read(ifd, 2);
    for (uint32_t i = 0; i < entries; ++i) {
        size_t entry = ifd + 2 + size_t(i) * 12;
        if (base + entry + 12 > exif.size())
            return;
        if (read(entry, 2) == 0x0112 && read(entry + 2, 2) == 3) {
            auto value = at(entry + 8);
            value[little ? 0 : 1] = 1;
            value[little ? 1 : 0] = 0;
            return;
        }
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
    auto out = image.copy(VImage::option()
                              ->set("xres", unstatedDpi / 25.4)
                              ->set("yres", unstatedDpi / 25.4));
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

VImage fromQImage(const QImage& drawn)
{
    auto rgba = drawn.convertToFormat(QImage::Format_RGBA8888);
    std::vector<unsigned char> packed(size_t(rgba.width()) * rgba.height() * 4);
    for (int y = 0; y < rgba.height(); ++y)
        std::memcpy(packed.data() + size_t(y) * rgba.width() * 4, rgba.constScanLine(y), size_t(rgba.width()) * 4);
    VipsImage* raw = vips_image_new_from_memory_copy(packed.data(), packed.size(), rgba.width(), rgba.height(), 4,
                                                     VIPS_FORMAT_UCHAR);
    if (!raw)
        throw ConversionError::unreadable();
    VImage image(raw);
    if (!drawn.hasAlphaChannel())
        image = image.extract_band(0, VImage::option()->set("n", 3));
    return image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// Files the image library does not know go through Qt's readers (icons and the like), drawn
// at twice their size, as the desktop shows them on a dense screen.
Picture loadWithQt(const fs::path& file)
{
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    auto size = reader.size();
    if (size.isValid() && size.width() > 0 && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(size * 2);
    QImage drawn = reader.read();
    if (drawn.isNull() || drawn.width() <= 0)
        throw ConversionError::unreadable();
    if (!(size.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize)))
        drawn = drawn.scaled(drawn.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return Picture{fromQImage(drawn), {}, {}, nullptr};
}

void saveWebP(const VImage& image, const fs::path& destination, double quality)
{
    auto temp = fs::temp_directory_path() / (QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + ".png");
    struct Cleanup {
        fs::path path;
        ~Cleanup() { removeQuietly(path); }
    } cleanup{temp};
    try {
        // Read once by ffmpeg and deleted: compressing it would only cost time.
        withMetadata(inSRGB(image), {}).pngsave(temp.c_str(), VImage::option()->set("compression", 0));
    } catch (const vips::VError& error) {
        auto failure = classify(error);
        throw failure.kind() == ConversionError::Kind::unreadable ? failure : ConversionError::writeFailed();
    }
    encodeWithFFmpeg({"-i", absolutePath(temp), "-c:v", "libwebp", "-quality", decimal(percent(quality))}, destination);
}

void saveBMP(const VImage& image, const fs::path& destination)
{
    auto rgb = inSRGB(image).colourspace(VIPS_INTERPRETATION_sRGB);
    if (rgb.bands() > 3)
        rgb = rgb.extract_band(0, VImage::option()->set("n", 3));
    size_t size = 0;
    void* pixels = rgb.write_to_memory(&size);
    std::unique_ptr<void, decltype(&g_free)> owner(pixels, g_free);
    QImage frame(static_cast<const uchar*>(pixels), rgb.width(), rgb.height(), qsizetype(rgb.width()) * 3,
                 QImage::Format_RGB888);
    frame.setDotsPerMeterX(2835);
    frame.setDotsPerMeterY(2835);
    QImageWriter writer(QString::fromStdString(destination.string()), "bmp");
    if (!writer.write(frame))
        throw ConversionError::writeFailed();
}

void writeImage(const VImage& prepared, ImageType type, const fs::path& destination, double quality)
{
    auto path = destination.c_str();
    auto q = percent(quality);
    switch (type) {
    case ImageType::jpeg:
        prepared.jpegsave(path, VImage::option()->set("Q", q));
        break;
    case ImageType::png:
        // Our own writer: it deflates on every core and keeps the Exif block, which this
        // vips's PNG saver drops.
        ImageFlate::writePNG(ImageFlate::storable(prepared, false), blob(prepared, VIPS_META_EXIF_NAME), destination);
        break;
    case ImageType::heic:
        prepared.heifsave(path, VImage::option()
                                    ->set("Q", q)
                                    ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)
                                    ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON));
        break;
    case ImageType::avif:
        // The default effort takes about four times as long for no visible gain.
        prepared.heifsave(path, VImage::option()
                                    ->set("Q", q)
                                    ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)
                                    ->set("effort", 0)
                                    ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON));
        break;
    case ImageType::tiff:
        prepared.tiffsave(path);
        break;
    case ImageType::bmp:
        saveBMP(prepared, destination);
        break;
    case ImageType::gif:
        inSRGB(prepared).gifsave(path);
        break;
    }
}

bool hasSaver(const char* name)
{
    return vips_type_find("VipsOperation", name) != 0;
}

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
    static const struct {
        const char* ext;
        ImageType type;
        const char* saver;  // the vips saver it needs, when the build may lack it
    } table[] = {
        {"jpg", ImageType::jpeg, nullptr}, {"png", ImageType::png, nullptr},
        {"heic", ImageType::heic, "heifsave"}, {"avif", ImageType::avif, "heifsave"},
        {"tiff", ImageType::tiff, nullptr}, {"bmp", ImageType::bmp, nullptr},
        {"gif", ImageType::gif, "gifsave"},
    };
    for (const auto& row : table) {
        if (ext == row.ext)
            return row.saver && !hasSaver(row.saver) ? std::nullopt : std::optional(row.type);
    }
    return std::nullopt;
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

bool profileNamesSRGB(const std::string& icc)
{
    return describesSRGB(icc);
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

Picture loadOriented(const fs::path& file)
{
    ensureVips();
    VImage header;
    try {
        header = VImage::new_from_file(file.c_str());
    } catch (const vips::VError&) {
        vips_error_clear();
        return loadWithQt(file);
    }
    Picture picture;
    auto& props = picture.props;
    props.exif = blob(header, VIPS_META_EXIF_NAME);
    props.iptc = blob(header, VIPS_META_IPTC_NAME);
    props.xmp = blob(header, VIPS_META_XMP_NAME);
    if (header.get_typeof(VIPS_META_ORIENTATION))
        props.orientation = header.get_int(VIPS_META_ORIENTATION);
    // vips says 1 pixel per millimetre for files that state no resolution.
    if (std::abs(header.xres() - 1.0) > 1e-6)
        props.dpi = header.xres() * 25.4;
    if (header.get_typeof(VIPS_META_LOADER))
        props.loader = header.get_string(VIPS_META_LOADER);

    try {
        int orientation = orientationOf(header);
        if (orientation >= 2 && orientation <= 8) {
            // Turning needs random access: decode into memory (never into a scratch file).
            picture.image = VImage::new_from_file(file.c_str(), VImage::option()->set("memory", true)).autorot();
        } else {
            picture.image = VImage::new_from_file(file.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ConversionError::unreadable();
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

void save(const VImage& image, const Properties& props, const std::string& ext, const fs::path& destination,
          double quality)
{
    ensureVips();
    if (ext == "webp") {
        saveWebP(image, destination, quality);
        return;
    }
    if (ext == "pdf") {
        writePDF({Picture{image, props, {}, nullptr}}, destination);
        return;
    }
    auto type = utType(ext);
    if (!type)
        throw ConversionError::unsupported();
    removingOnFailure(destination, [&] {
        auto pixels = (*type == ImageType::jpeg || *type == ImageType::bmp) ? flatten(image) : image;
        writeImage(withMetadata(pixels, metadata(props)), *type, destination, quality);
    });
}

void writePDF(const std::vector<Picture>& pictures, const fs::path& destination)
{
    ensureVips();
    removingOnFailure(destination, [&] { ImagePDF::write(pictures, destination); });
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    Task::checkCancelled();
    const auto& ext = format.ext;
    const double factor = qualityFactor(Quality::levelFor(ext));
    auto claimOutput = [&] { return claim([&] { return OutputPaths::destination(source, ext); }); };

    if (ext == "webp" && Catalog::normalizedExt(source) == "gif") {
        ensureVips();
        auto out = claimOutput();
        removingOnFailure(out, [&] {
            encodeWithFFmpeg({"-i", absolutePath(source), "-c:v", "libwebp_anim", "-quality",
                              decimal(percent(factor)), "-loop", "0"},
                             out);
        });
        return out;
    }
    if (ext != "webp" && ext != "pdf" && !utType(ext))
        throw ConversionError::unsupported();

    auto picture = loadOriented(source);
    auto out = claimOutput();
    removingOnFailure(out, [&] {
        if (ext == "pdf")
            writePDF({picture}, out);  // keeps a JPEG's own stream where it can
        else
            save(picture.image, ext == "webp" ? Properties{} : picture.props, ext, out, factor);
    });
    return out;
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
    }
    const auto& first = sources.front();
    auto out = claim([&] {
        auto named = OutputPaths::directory(first) / (first.stem().string() + " \u2013 combinado.pdf");
        return OutputPaths::destination(named, "pdf");
    });
    writePDF(pictures, out);
    return out;
}

}
