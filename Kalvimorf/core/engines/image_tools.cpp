#include "core/engines/image_tools.h"

#include "core/base/conversion_error.h"
#include "core/base/task.h"
#include "core/engines/engine_modules.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"
#include "core/engines/mapped_file.h"
#include "core/engines/webp_container.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace ImageTools {

using vips::VImage;

namespace {

// Beyond these a scale is a typing slip, and the bitmap would not fit in memory anyway.
constexpr double maxSide = 65535;
constexpr double maxPixels = 500e6;

std::optional<double> number(std::string_view text)
{
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<double> aspectNumbers(const std::string& aspect)
{
    std::vector<double> numbers;
    size_t start = 0;
    while (start <= aspect.size()) {
        auto end = std::min(aspect.find(':', start), aspect.size());
        const auto piece = std::string_view(aspect).substr(start, end - start);
        if (!piece.empty())
            if (auto value = number(piece))
                numbers.push_back(*value);
        start = end + 1;
    }
    return numbers;
}

// Scale factor for a longest side, never enlarging; 1 when the side is unset or not smaller.
double capFactor(const VImage& image, int side)
{
    const int longest = std::max(image.width(), image.height());
    return side >= 1 && side < longest ? double(side) / longest : 1.0;
}

// A WebP's metadata goes chunk by chunk, the picture never decoded, when nothing of it changes
// what the pixels mean: no turn to apply, no colour profile but sRGB's. False when it is
// another picture, or one of those.
bool strippedInPlace(const fs::path& source, const std::string& ext, FileSafety::NewFile& file)
{
    if (ext != "webp" || ImageLibrary::loaderFor(source) != "webpload")
        return false;
    try {
        const VImage header = VImage::new_from_file(source.c_str());
        if (header.get_typeof(VIPS_META_ORIENTATION) && header.get_int(VIPS_META_ORIENTATION) != 1)
            return false;
        if (header.get_typeof(VIPS_META_ICC_NAME)) {
            size_t length = 0;
            const auto* icc = static_cast<const char*>(header.get_blob(VIPS_META_ICC_NAME, &length));
            if (!ImageEngine::describesSRGB(std::string_view(icc, length)))
                return false;
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;  // the decoding road says what is wrong with it
    }
    const MappedFile mapped(source);
    const auto bare = WebPContainer::withoutMetadata(mapped.bytes());
    if (!bare)
        return false;
    file.write(*bare);
    return true;
}

}

Size scaledSize(Size size, double factor)
{
    const double width = std::max(1.0, std::round(size.width * factor));
    const double height = std::max(1.0, std::round(size.height * factor));
    if (!(width <= maxSide && height <= maxSide && width * height <= maxPixels))
        throw ConversionError::writeFailed();
    return {int(width), int(height)};
}

Rect croppedRect(Size size, const std::string& aspect)
{
    const Rect whole{0, 0, size.width, size.height};
    const auto numbers = aspectNumbers(aspect);
    if (numbers.size() != 2 || !(numbers[0] > 0 && numbers[1] > 0) || size.width < 1 || size.height < 1)
        return whole;
    const double r = numbers[0] / numbers[1];
    const double W = size.width, H = size.height;
    double x = 0, y = 0, w = W, h = H;
    if (r < W / H) {
        w = r * H;
        x = (W - w) / 2;
    } else {
        h = W / r;
        y = (H - h) / 2;
    }
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const int x1 = std::min(size.width, int(std::ceil(x + w))), y1 = std::min(size.height, int(std::ceil(y + h)));
    if (x1 <= x0 || y1 <= y0)
        return whole;
    return {x0, y0, x1 - x0, y1 - y0};
}

VImage scaled(const VImage& image, double factor)
{
    if (factor == 1.0)
        return image;
    const auto target = scaledSize({image.width(), image.height()}, factor);
    // Exact factors per axis, so the result has exactly the rounded size.
    return image.resize(double(target.width) / image.width(),
        VImage::option()->set("vscale", double(target.height) / image.height())->set("kernel", VIPS_KERNEL_LANCZOS3));
}

VImage cropped(const VImage& image, const std::string& aspect)
{
    const auto rect = croppedRect({image.width(), image.height()}, aspect);
    if (rect == Rect{0, 0, image.width(), image.height()})
        return image;
    return image.extract_area(rect.x, rect.y, rect.width, rect.height);
}

VImage rotated(const VImage& image)
{
    // Turning reads the picture out of order; the loader streams it top to bottom.
    return image.copy_memory().rot(VIPS_ANGLE_D90);
}

std::string outputExt(const fs::path& source)
{
    auto ext = Catalog::normalizedExt(source);
    const auto type = ImageEngine::utType(ext);
    return type && *type != ImageType::pdf ? ext : "jpg";
}

fs::path run(Tool tool, const fs::path& source, const ToolParams& params)
{
    Task::checkCancelled();
    const auto ext = outputExt(source);
    const FileSafety::NameFor names(Tools::preferredOutput(source, tool, ext));
    FileSafety::NewFile file(names.folder());
    if (tool == Tool::imgStrip && strippedInPlace(source, ext, file))
        return file.publish(names);
    // The picture decodes wherever it is first needed, a rotation's turn as much as the write.
    ImageEngine::requireIntact([&] {
        auto picture = ImageEngine::loadOriented(source);
        auto props = picture.props;
        VImage image = picture.image;
        double quality = 0.9;
        try {
            if (tool == Tool::imgCompress) {
                image = scaled(image, capFactor(image, params.maxSide));
                quality = params.quality / 100.0;
            } else if (tool == Tool::imgResize) {
                image
                    = scaled(image, params.useMaxSide ? capFactor(image, params.maxSide) : params.scalePercent / 100.0);
            } else if (tool == Tool::imgCrop) {
                image = cropped(image, params.aspect);
            } else if (tool == Tool::imgRotate) {
                // Turned whole in memory; the turned strips, a side of the picture wide, beside it.
                ImageEngine::requireHeld(image, image.bands());
                image = rotated(image);
            } else if (tool == Tool::imgStrip) {
                // Nothing about the picture stays, its colour profile included, so the colours are
                // put into sRGB first, the space a picture without a profile is taken to be in.
                if (image.get_typeof(VIPS_META_ICC_NAME))
                    image = image.icc_transform("srgb", VImage::option()->set("embedded", true));
                props = {};
                props.bare = true;
                quality = 0.95;
            } else if (tool == Tool::imgBlurFaces) {
                ImageEngine::requireHeld(image, 1);  // held whole, with a grey copy for the scan
                // The module's own detector, which it knows: it reads the cascades and decodes the
                // detection copy for it while the picture decodes.
                const auto& faces = EngineModules::faces();
                image = faces.blurFaces(image, faces.detect, picture.jpegFile);
            } else {
                throw ConversionError::unsupported();
            }
        } catch (const vips::VError&) {
            vips_error_clear();
            throw ConversionError::unreadable();
        }
        Task::checkCancelled();
        ImageEngine::requireFits(image, ext);
        ImageEngine::write(image, props, ext, file, quality);
    });
    return file.publish(names);
}

}
