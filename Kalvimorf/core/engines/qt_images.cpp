#include "core/engines/qt_images.h"

#include "core/base/conversion_error.h"

#include <QImage>
#include <QImageReader>

#include <cstring>
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
    return ImageEngine::Picture{fromQImage(drawn), {}, {}, nullptr};
}

}
