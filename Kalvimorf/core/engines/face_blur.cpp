#include "core/engines/face_blur.h"

#include "core/base/conversion_error.h"
#include "core/engines/tool_params.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace FaceBlur {

using vips::VImage;

namespace {

// Detection at a longer side than this finds no more faces and takes far longer.
constexpr int detectionSide = 1280;

const char* const cascadeFolder = "/usr/share/opencv4/haarcascades/";

struct Cascades {
    cv::CascadeClassifier frontal;
    cv::CascadeClassifier profile;
};

// Loaded once; a classifier is not safe to share between threads, so each thread has its own.
Cascades& cascades()
{
    thread_local std::optional<Cascades> loaded;
    if (!loaded) {
        Cascades c;
        if (!c.frontal.load(std::string(cascadeFolder) + "haarcascade_frontalface_default.xml")
            || !c.profile.load(std::string(cascadeFolder) + "haarcascade_profileface.xml"))
            throw ToolError("Não foi possível detectar rostos.");
        loaded = std::move(c);
    }
    return *loaded;
}

cv::Mat grey(const unsigned char* bytes, int width, int height, int bands)
{
    cv::Mat source(height, width, CV_8UC(bands), const_cast<unsigned char*>(bytes));
    cv::Mat result;
    switch (bands) {
    case 3: cv::cvtColor(source, result, cv::COLOR_RGB2GRAY); break;
    case 4: cv::cvtColor(source, result, cv::COLOR_RGBA2GRAY); break;
    default: cv::extractChannel(source, result, 0); break;  // grey, with or without alpha
    }
    return result;
}

}

std::vector<Box> detect(const unsigned char* bytes, int width, int height, int bands)
{
    auto& c = cascades();
    cv::Mat picture = grey(bytes, width, height, bands);
    const double scale = std::min(1.0, double(detectionSide) / std::max(width, height));
    if (scale < 1.0)
        cv::resize(picture, picture, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::equalizeHist(picture, picture);
    const int minimum = std::max(24, std::min(picture.cols, picture.rows) / 40);
    const cv::Size minSize(minimum, minimum);

    std::vector<Box> boxes;
    auto add = [&](const std::vector<cv::Rect>& found, bool mirrored) {
        for (const auto& r : found) {
            const double x = mirrored ? picture.cols - r.x - r.width : r.x;
            boxes.push_back({x / scale, r.y / scale, r.width / scale, r.height / scale});
        }
    };
    std::vector<cv::Rect> found;
    c.frontal.detectMultiScale(picture, found, 1.1, 5, 0, minSize);
    add(found, false);
    c.profile.detectMultiScale(picture, found, 1.1, 5, 0, minSize);
    add(found, false);
    cv::Mat mirror;
    cv::flip(picture, mirror, 1);
    c.profile.detectMultiScale(mirror, found, 1.1, 5, 0, minSize);
    add(found, true);
    return boxes;
}

void pixellate(unsigned char* bytes, int width, int height, int bands, const std::vector<Box>& faces)
{
    if (width < 1 || height < 1)
        return;
    const int cell = std::max(1, std::max(width, height) / 40);
    // The mask, one row of spans at a time: which pixels of each row lie in some widened box.
    std::vector<unsigned char> inside(size_t(width) * height, 0);
    for (const auto& face : faces) {
        const double left = face.x - 0.15 * face.width, right = face.x + 1.15 * face.width;
        const double top = face.y - 0.25 * face.height, bottom = face.y + 1.25 * face.height;
        const int x0 = std::clamp(int(std::floor(left)), 0, width), x1 = std::clamp(int(std::ceil(right)), 0, width);
        const int y0 = std::clamp(int(std::floor(top)), 0, height), y1 = std::clamp(int(std::ceil(bottom)), 0, height);
        for (int y = y0; y < y1; ++y)
            std::fill(inside.begin() + size_t(y) * width + x0, inside.begin() + size_t(y) * width + x1, 1);
    }
    // Cells are counted from the bottom-left corner; a cell's colour is read from the original
    // picture, so it is taken before any pixel of that cell changes: cells are filled from a copy.
    const std::vector<unsigned char> original(bytes, bytes + size_t(width) * height * bands);
    const auto centreRow = [&](int y) {
        const int fromBottom = height - 1 - y;
        const int centre = fromBottom / cell * cell + cell / 2;
        return height - 1 - std::min(centre, height - 1);
    };
    const auto centreColumn = [&](int x) {
        return std::min(x / cell * cell + cell / 2, width - 1);
    };
    for (int y = 0; y < height; ++y) {
        const int sourceRow = centreRow(y);
        for (int x = 0; x < width; ++x) {
            if (!inside[size_t(y) * width + x])
                continue;
            const auto* from = &original[(size_t(sourceRow) * width + centreColumn(x)) * bands];
            std::copy(from, from + bands, bytes + (size_t(y) * width + x) * bands);
        }
    }
}

VImage blurFaces(const VImage& image, const Detector& detector)
{
    VImage pixels = image;
    if (pixels.format() != VIPS_FORMAT_UCHAR)
        pixels = pixels.colourspace(pixels.bands() <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB)
                     .cast(VIPS_FORMAT_UCHAR);
    if (pixels.bands() > 4)
        pixels = pixels.extract_band(0, VImage::option()->set("n", 4));
    const int width = pixels.width(), height = pixels.height(), bands = pixels.bands();
    size_t size = 0;
    auto* memory = static_cast<unsigned char*>(pixels.write_to_memory(&size));
    std::unique_ptr<unsigned char, decltype(&g_free)> bytes(memory, g_free);

    const auto faces = detector(bytes.get(), width, height, bands);
    if (faces.empty())
        throw ToolError("Nenhum rosto encontrado.");
    pixellate(bytes.get(), width, height, bands, faces);
    // Copied into memory the image owns, since the buffer goes when this returns.
    auto* copied = vips_image_new_from_memory_copy(bytes.get(), size, width, height, bands, VIPS_FORMAT_UCHAR);
    if (!copied)
        throw ConversionError::writeFailed();
    return VImage(copied).copy(VImage::option()->set("interpretation", pixels.interpretation()));
}

}
