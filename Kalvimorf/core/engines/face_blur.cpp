#include "core/engines/face_blur.h"

#include "core/base/conversion_error.h"
#include "core/engines/tool_params.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <mutex>
#include <optional>

namespace FaceBlur {

using vips::VImage;

namespace {

// Detection at a longer side than this finds no more faces and takes far longer.
constexpr int detectionSide = 1280;
constexpr double scaleStep = 1.1;
constexpr int neighbours = 5;
// What detectMultiScale groups its finds with.
constexpr double groupingEps = 0.2;

const char* const cascadeFolder = "/usr/share/opencv4/haarcascades/";

enum class Cascade { frontal, profile };

const char* cannotDetect() { return "Não foi possível detectar rostos."; }

// The cascade files, parsed once. A classifier keeps the state of the last picture it scanned,
// so every thread builds its own from these (far cheaper than parsing the file again).
const std::array<cv::FileStorage, 2>& cascadeFiles()
{
    static const auto files = [] {
        std::array<cv::FileStorage, 2> parsed;
        try {
            parsed[0].open(std::string(cascadeFolder) + "haarcascade_frontalface_default.xml", cv::FileStorage::READ);
            parsed[1].open(std::string(cascadeFolder) + "haarcascade_profileface.xml", cv::FileStorage::READ);
        } catch (const cv::Exception&) {
            // Left unopened: reported below.
        }
        return parsed;
    }();
    if (!files[0].isOpened() || !files[1].isOpened())
        throw ToolError(cannotDetect());
    return files;
}

cv::CascadeClassifier& classifier(Cascade cascade)
{
    thread_local std::array<std::optional<cv::CascadeClassifier>, 2> own;
    auto& slot = own[size_t(cascade)];
    if (!slot) {
        const auto& file = cascadeFiles()[size_t(cascade)];
        slot.emplace();
        if (!slot->read(file.getFirstTopLevelNode()) || slot->empty()) {
            slot.reset();
            throw ToolError(cannotDetect());
        }
    }
    return *slot;
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

// One cascade on the picture or its mirror, at one window size.
struct Scan {
    int pass = 0;  // 0 frontal, 1 profile, 2 profile on the mirror
    cv::Size window;
    double cost = 0;
};

// A scan limited to one window size (the same as its minimum and maximum) finds exactly what the
// full scan finds at that size. Split so, the three passes share every core in one parallel loop
// (OpenCV runs a parallel loop started inside another, or beside another, on one thread), the
// costliest scans first.
std::vector<Scan> scans(cv::Size picture, int minimum)
{
    std::vector<Scan> list;
    for (int pass = 0; pass < 3; ++pass) {
        const auto base = classifier(pass == 0 ? Cascade::frontal : Cascade::profile).getOriginalWindowSize();
        // The window sizes in the order detectMultiScale steps through them.
        for (double factor = 1;; factor *= scaleStep) {
            const cv::Size window(cvRound(base.width * factor), cvRound(base.height * factor));
            if (window.width > picture.width || window.height > picture.height)
                break;
            if (window.width < minimum || window.height < minimum)
                continue;
            // Windows step 2 pixels on the scaled picture up to twice the base size, 1 beyond.
            const double step = factor > 2 ? 1 : 2;
            list.push_back({pass, window, picture.area() / (factor * factor * step * step)});
        }
    }
    std::sort(list.begin(), list.end(), [](const Scan& a, const Scan& b) {
        return a.cost > b.cost;
    });
    return list;
}

// Boxes found on a detection copy, in the pixels of the picture it stands for.
std::vector<Box> scaledBack(const std::vector<Box>& found, double xScale, double yScale)
{
    std::vector<Box> boxes;
    for (const auto& b : found)
        boxes.push_back({b.x * xScale, b.y * yScale, b.width * xScale, b.height * yScale});
    return boxes;
}

// The faces of the JPEG `file`, found on a copy that the decoder scales down by a power of two
// (far cheaper than decoding it whole), still at least as long as the detection copy; nothing
// when the picture is too small for that, or the copy does not match the picture (`width` ×
// `height`) it stands for.
std::optional<std::vector<Box>> detectInReduced(const fs::path& file, int width, int height, const Detector& detector)
{
    int shrink = 1;
    while (shrink < 8 && std::max(width, height) / (shrink * 2) >= detectionSide)
        shrink *= 2;
    if (shrink == 1)
        return std::nullopt;
    VImage reduced;
    try {
        reduced = VImage::new_from_file(file.c_str(), VImage::option()->set("shrink", shrink)).autorot().copy_memory();
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    if (reduced.format() != VIPS_FORMAT_UCHAR || reduced.bands() > 4
        || (reduced.width() >= reduced.height()) != (width >= height))
        return std::nullopt;
    size_t size = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> bytes(
        static_cast<unsigned char*>(reduced.write_to_memory(&size)), g_free);
    const auto found = detector(bytes.get(), reduced.width(), reduced.height(), reduced.bands());
    return scaledBack(found, double(width) / reduced.width(), double(height) / reduced.height());
}

void freePixels(VipsImage*, gpointer pixels) { g_free(pixels); }

}

std::vector<Box> detect(const unsigned char* bytes, int width, int height, int bands)
{
    cascadeFiles();
    cv::Mat picture = grey(bytes, width, height, bands);
    const double scale = std::min(1.0, double(detectionSide) / std::max(width, height));
    if (scale < 1.0)
        cv::resize(picture, picture, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::equalizeHist(picture, picture);
    cv::Mat mirror;
    cv::flip(picture, mirror, 1);
    const int minimum = std::max(24, std::min(picture.cols, picture.rows) / 40);

    const auto list = scans(picture.size(), minimum);
    std::array<std::vector<cv::Rect>, 3> found;
    std::mutex gathering;
    bool failed = false;
    cv::parallel_for_(
        cv::Range(0, int(list.size())),
        [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i) {
                const auto& scan = list[size_t(i)];
                std::vector<cv::Rect> rects;
                try {
                    classifier(scan.pass == 0 ? Cascade::frontal : Cascade::profile)
                        .detectMultiScale(
                            scan.pass == 2 ? mirror : picture, rects, scaleStep, 0, 0, scan.window, scan.window);
                } catch (const std::exception&) {
                    std::lock_guard lock(gathering);
                    failed = true;
                    continue;
                }
                std::lock_guard lock(gathering);
                auto& into = found[size_t(scan.pass)];
                into.insert(into.end(), rects.begin(), rects.end());
            }
        },
        double(list.size()));
    if (failed)
        throw ToolError(cannotDetect());

    std::vector<Box> boxes;
    for (int pass = 0; pass < 3; ++pass) {
        auto& rects = found[size_t(pass)];
        cv::groupRectangles(rects, neighbours, groupingEps);
        for (const auto& r : rects) {
            const double x = pass == 2 ? picture.cols - r.x - r.width : r.x;
            boxes.push_back({x / scale, r.y / scale, r.width / scale, r.height / scale});
        }
    }
    return boxes;
}

void pixellate(unsigned char* bytes, int width, int height, int bands, const std::vector<Box>& faces)
{
    if (width < 1 || height < 1)
        return;
    const int cell = std::max(1, std::max(width, height) / 40);
    // Cells are counted from the bottom-left corner. A cell's centre lies inside the cell, so
    // filling a cell never changes its centre: the picture is changed in place, in any order,
    // and boxes that overlap fill their common pixels alike.
    const auto centreRow = [&](int y) {
        const int fromBottom = height - 1 - y;
        const int centre = fromBottom / cell * cell + cell / 2;
        return height - 1 - std::min(centre, height - 1);
    };
    const auto centreColumn = [&](int x) {
        return std::min(x / cell * cell + cell / 2, width - 1);
    };
    for (const auto& face : faces) {
        const double left = face.x - 0.15 * face.width, right = face.x + 1.15 * face.width;
        const double top = face.y - 0.25 * face.height, bottom = face.y + 1.25 * face.height;
        const int x0 = std::clamp(int(std::floor(left)), 0, width), x1 = std::clamp(int(std::ceil(right)), 0, width);
        const int y0 = std::clamp(int(std::floor(top)), 0, height), y1 = std::clamp(int(std::ceil(bottom)), 0, height);
        for (int y = y0; y < y1; ++y) {
            const size_t sourceRow = size_t(centreRow(y)) * width;
            for (int x = x0; x < x1; ++x) {
                const auto* from = bytes + (sourceRow + centreColumn(x)) * bands;
                std::copy(from, from + bands, bytes + (size_t(y) * width + x) * bands);
            }
        }
    }
}

VImage blurFaces(const VImage& image, const Detector& detector, const fs::path& jpegFile)
{
    VImage pixels = image;
    if (pixels.format() != VIPS_FORMAT_UCHAR)
        pixels = pixels.colourspace(pixels.bands() <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB)
                     .cast(VIPS_FORMAT_UCHAR);
    if (pixels.bands() > 4)
        pixels = pixels.extract_band(0, VImage::option()->set("n", 4));
    const int width = pixels.width(), height = pixels.height(), bands = pixels.bands();

    // A JPEG gives its detection copy straight from the file at a reduced size, so the faces are
    // sought while the whole picture decodes.
    std::future<std::optional<std::vector<Box>>> reducedFaces;
    if (!jpegFile.empty() && std::max(width, height) > detectionSide)
        reducedFaces = std::async(std::launch::async, [&] {
            return detectInReduced(jpegFile, width, height, detector);
        });
    size_t size = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> bytes(
        static_cast<unsigned char*>(pixels.write_to_memory(&size)), g_free);
    std::optional<std::vector<Box>> found;
    if (reducedFaces.valid())
        found = reducedFaces.get();
    const auto faces = found ? *found : detector(bytes.get(), width, height, bands);
    if (faces.empty())
        throw ToolError("Nenhum rosto encontrado.");
    pixellate(bytes.get(), width, height, bands, faces);

    VipsImage* wrapped = vips_image_new_from_memory(bytes.get(), size, width, height, bands, VIPS_FORMAT_UCHAR);
    if (!wrapped)
        throw ConversionError::writeFailed();
    // From here the pixels belong to the image, which frees them when it closes.
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freePixels), bytes.release());
    return VImage(wrapped).copy(VImage::option()->set("interpretation", pixels.interpretation()));
}

}
