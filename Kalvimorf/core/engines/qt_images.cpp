#include "core/engines/qt_images.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/job_budget.h"
#include "core/engines/bit_fields.h"
#include "core/engines/drawing_pictures.h"
#include "core/engines/gui_application.h"
#include "core/engines/jpeg2000.h"
#include "core/engines/picture_headers.h"
#include "core/engines/targa.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <zlib.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

using vips::VImage;

namespace QtImages {

namespace {

// The most text a drawing may hold (JobBudget::Limits::drawing); a compressed one that unpacks
// past this is a bomb.
const qint64 maxDrawing = qint64(JobBudget::limits().drawing);
constexpr const char* drawingTooLarge = "O desenho é grande demais para abrir.";

// What a picture read by Qt takes at most, a byte a pixel and band: the reader's image, its
// RGBA copy and the library's.
constexpr double bytesPerPixel = 12;

VImage fromQImage(const QImage& drawn)
{
    // Rows of four-byte pixels have no padding: the bits are the packed picture.
    const auto rgba = drawn.convertToFormat(QImage::Format_RGBA8888);
    VipsImage* raw = vips_image_new_from_memory_copy(
        rgba.constBits(), size_t(rgba.sizeInBytes()), rgba.width(), rgba.height(), 4, VIPS_FORMAT_UCHAR);
    if (!raw)
        throw ConversionError::unreadable();
    VImage image(raw);
    if (!drawn.hasAlphaChannel())
        image = image.extract_band(0, VImage::option()->set("n", 3));
    return image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// A compressed drawing unpacked here rather than by the SVG reader: a stream cut short or one
// that unpacks without end fails at once with its cause.
QByteArray unpackDrawing(const QByteArray& packed)
{
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        throw ConversionError::unreadable();
    std::unique_ptr<z_stream, int (*)(z_stream*)> ending(&stream, inflateEnd);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = uInt(packed.size());
    QByteArray text;
    int result = Z_OK;
    while (result == Z_OK) {
        const qsizetype done = text.size();
        if (done >= maxDrawing)
            throw ConversionError::because(drawingTooLarge);
        text.resize(done + (1 << 20));
        stream.next_out = reinterpret_cast<Bytef*>(text.data() + done);
        stream.avail_out = 1 << 20;
        result = inflate(&stream, Z_NO_FLUSH);
        text.resize(text.size() - stream.avail_out);
    }
    if (result != Z_STREAM_END)
        throw ConversionError::because(ErrorCauses::damaged);
    return text;
}

uint32_t little(const QByteArray& bytes, qsizetype at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes.at(at + i));
    return value;
}

void putLittle(QByteArray& bytes, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

QByteArray readWhole(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        throw ConversionError::unreadable();
    return in.readAll();
}

QByteArray readDrawing(const fs::path& file)
{
    std::error_code error;
    if (fs::file_size(file, error) > uintmax_t(maxDrawing) && !error)
        throw ConversionError::because(drawingTooLarge);
    return readWhole(file);
}

// Qt's bitmap reader takes the masks of bit fields from the version 4 and 5 headers and after
// the version 3 header, but not the 52- and 56-byte headers that carry them inside (Photoshop's
// and GIMP's with alpha), nor the alpha mask that a version 3 header with "alpha bit fields"
// has after it. Such a file is given to it with a version 4 header holding the same masks; any
// other bitmap as it is (empty).
QByteArray bitmapAsQtReadsIt(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        throw ConversionError::unreadable();
    const QByteArray head = in.read(14 + 56);
    if (head.size() < 14 + 40 || !head.startsWith("BM"))
        return {};
    const uint32_t infoSize = little(head, 14, 4), compression = little(head, 30, 4);
    qsizetype masksAt = 0, oldSize = 0;
    if (infoSize == 52 || infoSize == 56) {
        masksAt = 14 + 40;
        oldSize = infoSize;
    } else if (infoSize == 40 && compression == 6) {
        masksAt = 14 + 40;
        oldSize = 56;
    } else {
        return {};
    }
    if (head.size() < 14 + oldSize)
        throw ConversionError::because(ErrorCauses::damaged);
    ImageEngine::requirePixels(double(int32_t(little(head, 18, 4))), std::abs(double(int32_t(little(head, 22, 4)))));
    const QByteArray whole = readWhole(file);
    constexpr qsizetype version4 = 108;
    QByteArray header = whole.left(14 + 40);
    putLittle(header, 14, version4);
    putLittle(header, 30, 3);  // bit fields
    header += whole.mid(masksAt, 12);
    header += oldSize >= 56 ? whole.mid(masksAt + 12, 4) : QByteArray(4, '\0');
    header += QByteArray("BGRs", 4);  // sRGB
    header += QByteArray(36 + 12, '\0');  // no end points, no gamma
    putLittle(header, 10, little(whole, 10, 4) + uint32_t(version4 - oldSize));
    putLittle(header, 2, uint32_t(whole.size() + version4 - oldSize));
    return header + whole.mid(14 + oldSize);
}

uint32_t big(const QByteArray& bytes, qsizetype at)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | uint8_t(bytes.at(at + i));
    return value;
}

// Qt's icon reader takes each picture's size from the icon's directory and refuses a bitmap that
// is larger than the directory says (and crops one that is smaller), where other readers believe
// the picture's own header. Such an icon is given to it with the directory mended from the
// headers; any other as it is (empty).
QByteArray iconAsQtReadsIt(const fs::path& file)
{
    const QByteArray whole = readWhole(file);
    if (whole.size() < 6 || little(whole, 0, 2) != 0 || little(whole, 2, 2) == 0 || little(whole, 2, 2) > 2)
        return {};
    const qsizetype count = little(whole, 4, 2);
    if (whole.size() < 6 + 16 * count)
        return {};
    QByteArray mended = whole;
    bool changed = false;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const qsizetype at = little(whole, entry + 12, 4);
        uint32_t width = 0, height = 0;
        if (at >= 0 && at + 24 <= whole.size() && whole.mid(at, 8) == "\x89PNG\r\n\x1a\n") {
            width = big(whole, at + 16);
            height = big(whole, at + 20);
        } else if (at >= 0 && at + 16 <= whole.size() && little(whole, at, 4) == 40) {
            width = little(whole, at + 4, 4);
            height = little(whole, at + 8, 4) / 2;  // the colours, then the mask
        } else {
            continue;
        }
        if (width == 0 || height == 0 || width > 256 || height > 256)
            continue;
        // 256 is written as 0.
        const char w = char(width & 0xff), h = char(height & 0xff);
        if (mended[entry] != w || mended[entry + 1] != h) {
            mended[entry] = w;
            mended[entry + 1] = h;
            changed = true;
        }
    }
    return changed ? mended : QByteArray();
}

// The largest picture of an Apple icon that is a JPEG 2000 file of its own, by the image
// library's decoder: Qt's reader has none for them, which icons since 10.5 hold.
std::optional<VImage> largestJpeg2000Picture(const fs::path& file)
{
    const QByteArray whole = readWhole(file);
    if (whole.size() < 8 || !whole.startsWith("icns"))
        return std::nullopt;
    std::optional<VImage> best;
    for (qsizetype at = 8; at + 8 <= whole.size();) {
        const qsizetype length = big(whole, at + 4);
        if (length < 8 || length > whole.size() - at)
            break;
        const QByteArray data = whole.mid(at + 8, length - 8);
        at += length;
        if (!data.startsWith(QByteArray("\0\0\0\x0cjP  ", 8)) && !data.startsWith("\xff\x4f\xff\x51"))
            continue;
        std::optional<VImage> decoded;
        try {
            decoded = Jpeg2000::decode(std::string_view(data.constData(), size_t(data.size())));
        } catch (const ConversionError&) {
            continue;  // a picture that does not decode is one the icon goes without
        }
        try {
            VImage image = decoded ? *decoded : VImage::new_from_buffer(data.constData(), size_t(data.size()), "");
            ImageEngine::requirePixels(image.width(), image.height());
            if (best && double(best->width()) * best->height() >= double(image.width()) * image.height())
                continue;
            best = image.copy_memory();  // the bytes it reads go with this loop
        } catch (const vips::VError&) {
            vips_error_clear();
        }
    }
    return best;
}

// Pixels decoded by the engine's own readers, `bands` bytes a pixel, top row first.
template <typename Decoded> ImageEngine::Picture pictureOf(const Decoded& decoded)
{
    VipsImage* raw = vips_image_new_from_memory_copy(
        decoded.pixels.data(), decoded.pixels.size(), decoded.width, decoded.height, decoded.bands, VIPS_FORMAT_UCHAR);
    if (!raw)
        throw ConversionError::unreadable();
    const auto space = decoded.bands <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
    return ImageEngine::Picture{VImage(raw).copy(VImage::option()->set("interpretation", space)), {}, {}, nullptr};
}

// A Targa file, by the engine's own decoder (see Targa), its size bounded before it is read.
ImageEngine::Picture loadTarga(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        throw ConversionError::unreadable();
    const auto [width, height] = Targa::size(in.read(18).toStdString());
    ImageEngine::requirePixels(width, height);
    const QByteArray whole = readWhole(file);
    return pictureOf(Targa::decode(std::string_view(whole.constData(), size_t(whole.size()))));
}

// A bitmap of bit fields, by the engine's own decoder (see BitFields), its size bounded before it
// is read; nothing for any other bitmap, which Qt's reader takes.
std::optional<ImageEngine::Picture> loadBitFields(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        throw ConversionError::unreadable();
    const auto size = BitFields::size(in.read(14 + 56).toStdString());
    if (!size)
        return std::nullopt;
    ImageEngine::requirePixels(size->first, size->second);
    ImageEngine::requireMemory(double(size->first) * size->second, bytesPerPixel);
    const QByteArray whole = readWhole(file);
    return pictureOf(BitFields::decode(std::string_view(whole.constData(), size_t(whole.size()))));
}

// A plain (ASCII) PBM may write its bits without blanks between them ("0110"), which Qt's reader
// takes for one number and refuses: such a file is given to it with a blank after each bit
// (empty: any other file, as it is).
QByteArray plainBitmapAsQtReadsIt(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly) || in.peek(2) != "P1")
        return {};
    const QByteArray text = readWhole(file);
    // The header: the magic number, the width and the height, each maybe after comments.
    qsizetype at = 2;
    std::vector<long long> sizes;
    while (sizes.size() < 2) {
        while (at < text.size() && (std::isspace(uint8_t(text[at])) || text[at] == '#')) {
            if (text[at] == '#')
                while (at < text.size() && text[at] != '\n')
                    ++at;
            else
                ++at;
        }
        const qsizetype start = at;
        while (at < text.size() && std::isdigit(uint8_t(text[at])) && at - start < 10)
            ++at;
        if (at == start)
            throw ConversionError::because(ErrorCauses::damaged);
        sizes.push_back(text.mid(start, at - start).toLongLong());
    }
    ImageEngine::requirePixels(double(sizes[0]), double(sizes[1]));
    QByteArray spaced = "P1\n" + QByteArray::number(sizes[0]) + " " + QByteArray::number(sizes[1]) + "\n";
    spaced.reserve(spaced.size() + (text.size() - at) * 2);
    for (; at < text.size(); ++at) {
        if (text[at] == '0' || text[at] == '1') {
            spaced += text[at];
            spaced += ' ';
        }
    }
    return spaced;
}

}

ImageEngine::Picture load(const fs::path& file)
{
    // Only the reader of the format the name says, which refuses other content: left to guess,
    // Qt would hand a file to whichever of its readers claims it.
    auto format = QByteArray::fromStdString(Catalog::normalizedExt(file));
    if (format == "tga")
        return loadTarga(file);
    if (format == "bmp" || format == "dib")
        if (auto picture = loadBitFields(file))
            return *std::move(picture);
    if (format == "pnm")
        format = "ppm";  // one reader for the whole family
    if (format == "ico" || format == "cur" || format == "icns") {
        // The reader answers the directory's size, but decodes a PNG inside at the size its own
        // header states: 256 × 256 in the directory, 30000 × 30000 in the PNG.
        for (const auto& [width, height] : PictureHeaders::embeddedPngSizes(file)) {
            ImageEngine::requirePixels(width, height);
            ImageEngine::requireMemory(double(width) * height, bytesPerPixel);
        }
    } else if (format == "bmp" || format == "dib") {
        PictureHeaders::requireRunsWithinBitmap(file);
    }
    QBuffer drawing;  // the bytes handed to the reader, when not the file's own
    std::unique_ptr<QImageReader> opened;
    if (format == "svg" || format == "svgz") {
        // Text in a drawing needs the fonts, which only a GUI application has.
        GuiApplication::require();
        const auto bytes = readDrawing(file);
        std::error_code error;
        // Packed or not whatever the name says: the renderer is never handed a gzip stream.
        drawing.setData(DrawingPictures::settle(
            bytes.startsWith("\x1f\x8b") ? unpackDrawing(bytes) : bytes, fs::absolute(file, error).parent_path()));
        drawing.open(QIODevice::ReadOnly);
        format = "svg";
        opened = std::make_unique<QImageReader>(&drawing, format);
    } else if (auto rewritten = format == "bmp" || format == "dib"         ? bitmapAsQtReadsIt(file)
                   : format == "pbm" || format == "pgm" || format == "ppm" ? plainBitmapAsQtReadsIt(file)
                   : format == "ico"                                       ? iconAsQtReadsIt(file)
                                                                           : QByteArray();
               !rewritten.isEmpty()) {
        drawing.setData(rewritten);
        drawing.open(QIODevice::ReadOnly);
        opened = std::make_unique<QImageReader>(&drawing, format == "dib" ? "bmp" : format);
    } else {
        opened = std::make_unique<QImageReader>(QString::fromStdString(file.string()), format);
    }
    auto& reader = *opened;
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    // Pictures made of pixels keep their size; drawings and the like are drawn at twice theirs.
    static const std::set<QByteArray> pixels
        = {"bmp", "dib", "ico", "cur", "pbm", "pgm", "ppm", "xbm", "xpm", "icns", "wbmp"};
    const bool twice = pixels.count(format) == 0;
    auto size = reader.size();
    if (size.isValid()) {
        const double width = double(size.width()) * (twice ? 2 : 1), height = double(size.height()) * (twice ? 2 : 1);
        ImageEngine::requirePixels(width, height);
        // A picture of pixels weighs as much as its file; a drawing of a few bytes may name any
        // size, and is bounded by what a job may hold. Qt 6.4's renderer draws no filter effects
        // (twenty blurs cost what none do), so the raster and its copies are the whole cost.
        if (format == "svg")
            ImageEngine::requireHeld(width * height, bytesPerPixel);
        else
            ImageEngine::requireMemory(width * height, bytesPerPixel);
    }
    // Qt's own bound (256 MB) would refuse a 70-megapixel bitmap, the program's own among them;
    // the pixel and memory bounds above are the ones that hold, and Qt's lies at the job's whole.
    QImageReader::setAllocationLimit(int(JobBudget::limits().resident >> 20));
    const bool scales = size.isValid() && size.width() > 0 && reader.supportsOption(QImageIOHandler::ScaledSize);
    if (twice && scales)
        reader.setScaledSize(size * 2);
    QImage drawn = reader.read();
    if (format == "icns") {
        // Qt's reader gives a picture it can read, maybe a small one beside JPEG 2000 ones.
        const auto drawnPixels = drawn.isNull() ? 0.0 : double(drawn.width()) * drawn.height();
        const auto picture = largestJpeg2000Picture(file);
        if (picture && double(picture->width()) * picture->height() > drawnPixels)
            return ImageEngine::Picture{*picture, {}, {}, nullptr};
    }
    if (drawn.isNull() || drawn.width() <= 0)
        throw ConversionError::unreadable();
    if (twice && !scales)
        drawn = drawn.scaled(drawn.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return ImageEngine::Picture{fromQImage(drawn), {}, {}, nullptr};
}

}
