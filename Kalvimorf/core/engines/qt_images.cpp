#include "core/engines/qt_images.h"

#include "core/base/conversion_error.h"

#include <QImage>
#include <QImageReader>

#include <cstring>
#include <set>
#include <vector>

using vips::VImage;

namespace QtImages {

namespace {

VImage fromQImage(const QImage& drawn)
{
    auto rgba = drawn.convertToFormat(QImage::Format_RGBA8888);
    std::vector<unsigned char> packed(size_t(rgba.width()) * rgba.height() * 4);
    for (int y = 0; y < rgba.height(); ++y)
        std::memcpy(packed.data() + size_t(y) * rgba.width() * 4, rgba.constScanLine(y), size_t(rgba.width()) * 4);
    VipsImage* raw = vips_image_new_from_memory_copy(
        packed.data(), packed.size(), rgba.width(), rgba.height(), 4, VIPS_FORMAT_UCHAR);
    if (!raw)
        throw ConversionError::unreadable();
    VImage image(raw);
    if (!drawn.hasAlphaChannel())
        image = image.extract_band(0, VImage::option()->set("n", 3));
    return image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

}

ImageEngine::Picture load(const fs::path& file)
{
    // Only the reader of the format the name says, which refuses other content: left to guess,
    // Qt would hand a file to whichever of its readers claims it.
    auto format = QByteArray::fromStdString(Catalog::normalizedExt(file));
    if (format == "pnm")
        format = "ppm";  // one reader for the whole family
    QImageReader reader(QString::fromStdString(file.string()), format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    // Pictures made of pixels keep their size; drawings and the like are drawn at twice theirs.
    static const std::set<QByteArray> pixels = {"bmp", "dib", "ico", "cur", "pbm", "pgm", "ppm", "xbm", "xpm"};
    const bool twice = pixels.count(format) == 0;
    auto size = reader.size();
    const bool scales = size.isValid() && size.width() > 0 && reader.supportsOption(QImageIOHandler::ScaledSize);
    if (twice && scales)
        reader.setScaledSize(size * 2);
    QImage drawn = reader.read();
    if (drawn.isNull() || drawn.width() <= 0)
        throw ConversionError::unreadable();
    if (twice && !scales)
        drawn = drawn.scaled(drawn.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return ImageEngine::Picture{fromQImage(drawn), {}, {}, nullptr};
}

}
