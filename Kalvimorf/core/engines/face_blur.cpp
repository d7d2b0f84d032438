#include "core/engines/face_blur.h"

#include "core/base/conversion_error.h"
#include "core/engines/haar_scan.h"
#include "core/engines/jpeg_stripes.h"
#include "core/engines/tool_params.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <malloc.h>
#include <optional>

namespace FaceBlur {

using vips::VImage;

namespace {

// Detection at a longer side than this finds no more faces and takes far longer.
constexpr int detectionSide = 1280;
constexpr double scaleStep = 1.1;
constexpr int neighbours = 5;
// Stretches of a JPEG's reduced copy decoded side by side (besides the whole picture's decode).
constexpr int reducedStretches = 3;

const char* const cascadeFolder = "/usr/share/opencv4/haarcascades/";

const char* cannotDetect() { return "Não foi possível detectar rostos."; }

std::optional<HaarCascade> readCascade(const char* name)
{
    try {
        cv::FileStorage file(std::string(cascadeFolder) + name, cv::FileStorage::READ);
        return file.isOpened() ? HaarScan::read(file.getFirstTopLevelNode()) : std::nullopt;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

// The frontal and the profile cascades, read once, side by side.
const std::array<HaarCascade, 2>& cascades()
{
    static const auto read = []() -> std::optional<std::array<HaarCascade, 2>> {
        auto profile = std::async(std::launch::async, readCascade, "haarcascade_profileface.xml");
        auto frontal = readCascade("haarcascade_frontalface_default.xml");
        auto side = profile.get();
        if (!frontal || !side)
            return std::nullopt;
        return std::array<HaarCascade, 2>{std::move(*frontal), std::move(*side)};
    }();
    if (!read)
        throw ToolError(cannotDetect());
    return *read;
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

// Decoded rows as `grey` turns them, row for row the same.
void greyRows(
    const unsigned char* from, size_t fromStride, int bands, unsigned char* to, size_t toStride, int width, int count)
{
    const cv::Mat rows(count, width, CV_8UC(bands), const_cast<unsigned char*>(from), fromStride);
    cv::Mat into(count, width, CV_8UC1, to, toStride);
    if (bands == 3)
        cv::cvtColor(rows, into, cv::COLOR_RGB2GRAY);
    else
        cv::extractChannel(rows, into, 0);
}

// The longer side's scale from a picture (`width` × `height`) to its detection copy.
double detectionScale(int width, int height)
{
    return std::min(1.0, double(detectionSide) / std::max(width, height));
}

// The scan's smallest window, in pixels of the detection copy.
constexpr int smallestFace = 24;

// Whether the detection copy of a `width` × `height` picture at `scale` has room for one face: a
// strip of a picture (100 × 2,000,000) shrinks to less than a pixel across.
bool roomForAFace(int width, int height, double scale)
{
    return std::floor(width * scale) >= smallestFace && std::floor(height * scale) >= smallestFace;
}

// The faces on `picture`, a grey detection copy `scale` times the size of the picture it stands
// for, in that picture's pixels. The copy is equalised in place.
std::vector<Box> detectScaled(cv::Mat picture, double scale)
{
    const auto& [frontal, profile] = cascades();
    cv::equalizeHist(picture, picture);
    cv::Mat mirror;
    cv::flip(picture, mirror, 1);
    const int minimum = std::max(smallestFace, std::min(picture.cols, picture.rows) / 40);

    // Frontal faces, profiles looking one way, and on the mirror the other way.
    std::vector<std::vector<cv::Rect>> found;
    try {
        found = HaarScan::detect({picture, mirror}, {{&frontal, 0}, {&profile, 0}, {&profile, 1}}, scaleStep,
            neighbours, {minimum, minimum});
    } catch (const cv::Exception&) {
        throw ToolError(cannotDetect());
    }
    std::vector<Box> boxes;
    for (int pass = 0; pass < 3; ++pass)
        for (const auto& r : found[size_t(pass)]) {
            const double x = pass == 2 ? picture.cols - r.x - r.width : r.x;
            boxes.push_back({x / scale, r.y / scale, r.width / scale, r.height / scale});
        }
    return boxes;
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
// `height`) it stands for. For `detect` itself (`ours`), an upright picture's copy is made grey
// as it decodes, the grey `detect` would make of it, so that its colours are never held.
std::optional<std::vector<Box>> detectInReduced(
    const fs::path& file, int width, int height, const Detector& detector, bool ours, std::promise<void>& decoded)
{
    // Whoever waits for the copy is told once it is decoded, or once there is none.
    struct Tell {
        std::promise<void>& decoded;
        void now()
        {
            if (!told)
                decoded.set_value();
            told = true;
        }
        ~Tell() { now(); }
        bool told = false;
    } tell{decoded};
    int shrink = 1;
    while (shrink < 8 && std::max(width, height) / (shrink * 2) >= detectionSide)
        shrink *= 2;
    if (shrink == 1)
        return std::nullopt;
    std::optional<JpegStripes::Decoded> striped;
    std::unique_ptr<unsigned char, decltype(&g_free)> streamed(nullptr, g_free);
    const unsigned char* bytes = nullptr;
    int reducedWidth = 0, reducedHeight = 0, bands = 0;
    try {
        // An upright picture is decoded in stretches side by side, or else streams from the
        // decoder into the copy; a turned one is decoded whole first, as turning reads it out of
        // order.
        VImage reduced = VImage::new_from_file(file.c_str(), VImage::option()->set("shrink", shrink));
        const bool upright = !reduced.get_typeof(VIPS_META_ORIENTATION) || reduced.get_int(VIPS_META_ORIENTATION) == 1;
        if (upright && ours)
            striped = JpegStripes::decode(file, shrink, reducedStretches, greyRows, 1);
        else if (upright)
            striped = JpegStripes::decode(file, shrink, reducedStretches);
        if (striped) {
            bytes = striped->bytes.get();
            reducedWidth = striped->width, reducedHeight = striped->height, bands = striped->bands;
        } else {
            reduced = upright ? VImage::new_from_file(
                          file.c_str(), VImage::option()->set("shrink", shrink)->set("access", VIPS_ACCESS_SEQUENTIAL))
                              : reduced.autorot();
            if (reduced.format() != VIPS_FORMAT_UCHAR || reduced.bands() > 4)
                return std::nullopt;
            size_t size = 0;
            streamed.reset(static_cast<unsigned char*>(reduced.write_to_memory(&size)));
            bytes = streamed.get();
            reducedWidth = reduced.width(), reducedHeight = reduced.height(), bands = reduced.bands();
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    tell.now();
    if ((reducedWidth >= reducedHeight) != (width >= height))
        return std::nullopt;
    if (striped && ours) {
        // The grey copy goes once it is scaled down, before the scan takes its share.
        const double scale = detectionScale(reducedWidth, reducedHeight);
        if (!roomForAFace(reducedWidth, reducedHeight, scale))
            return std::vector<Box>{};
        cv::Mat picture(reducedHeight, reducedWidth, CV_8UC1, striped->bytes.get());
        if (scale < 1.0) {
            cv::Mat scaled;
            cv::resize(picture, scaled, cv::Size(), scale, scale, cv::INTER_AREA);
            picture = scaled;
            striped.reset();
        }
        return scaledBack(detectScaled(picture, scale), double(width) / reducedWidth, double(height) / reducedHeight);
    }
    const auto found = detector(bytes, reducedWidth, reducedHeight, bands);
    return scaledBack(found, double(width) / reducedWidth, double(height) / reducedHeight);
}

// Pixels and how to free them: libvips's and the JPEG decoder's are allocated differently.
struct Pixels {
    using Ptr = std::unique_ptr<unsigned char, void (*)(void*)>;
    unsigned char* bytes;
    void (*release)(void*);
};

void freeArray(void* bytes) { delete[] static_cast<unsigned char*>(bytes); }

void freePixels(VipsImage*, gpointer pixels)
{
    const std::unique_ptr<Pixels> held(static_cast<Pixels*>(pixels));
    held->release(held->bytes);
}

// `image`, when it is the upright JPEG `file` as loaded, decoded straight into one block: the
// decoder writes its rows there, without libvips's buffers and threads beside it. Nothing when
// the decoder leaves the file to libvips (see JpegStripes::decode).
std::optional<Pixels> decodedWhole(const VImage& pixels, const VImage& image, const fs::path& file)
{
    if (file.empty() || pixels.get_image() != image.get_image())
        return std::nullopt;
    try {
        const VImage header = VImage::new_from_file(file.c_str());
        if (header.get_typeof(VIPS_META_ORIENTATION) && header.get_int(VIPS_META_ORIENTATION) != 1)
            return std::nullopt;
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    auto decoded = JpegStripes::decode(file, 1, 1);
    if (!decoded || decoded->width != image.width() || decoded->height != image.height()
        || decoded->bands != image.bands())
        return std::nullopt;
    return Pixels{decoded->bytes.release(), freeArray};
}

}

std::vector<Box> detect(const unsigned char* bytes, int width, int height, int bands)
{
    const double scale = detectionScale(width, height);
    if (!roomForAFace(width, height, scale))
        return {};
    cv::Mat picture;
    // A grey picture is scaled down as it is, without a copy of it first.
    if (bands == 1 && scale < 1.0)
        cv::resize(cv::Mat(height, width, CV_8UC1, const_cast<unsigned char*>(bytes)), picture, cv::Size(), scale,
            scale, cv::INTER_AREA);
    else {
        picture = grey(bytes, width, height, bands);
        if (scale < 1.0)
            cv::resize(picture, picture, cv::Size(), scale, scale, cv::INTER_AREA);
    }
    return detectScaled(picture, scale);
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
    struct Span {
        int x0, x1, y0, y1;
    };
    std::vector<Span> spans;
    for (const auto& face : faces) {
        const double left = face.x - 0.15 * face.width, right = face.x + 1.15 * face.width;
        const double top = face.y - 0.25 * face.height, bottom = face.y + 1.25 * face.height;
        spans.push_back({std::clamp(int(std::floor(left)), 0, width), std::clamp(int(std::ceil(right)), 0, width),
            std::clamp(int(std::floor(top)), 0, height), std::clamp(int(std::ceil(bottom)), 0, height)});
    }
    // Rows of cells side by side: a cell and its centre lie in the same row of cells.
    const int cellRows = (height + cell - 1) / cell;
    cv::parallel_for_(cv::Range(0, cellRows), [&](const cv::Range& range) {
        const int first = std::max(0, height - range.end * cell), end = height - range.start * cell;
        for (const auto& span : spans)
            for (int y = std::max(first, span.y0); y < std::min(end, span.y1); ++y) {
                const size_t sourceRow = size_t(centreRow(y)) * width;
                for (int x = span.x0; x < span.x1; ++x) {
                    const auto* from = bytes + (sourceRow + centreColumn(x)) * bands;
                    std::copy(from, from + bands, bytes + (size_t(y) * width + x) * bands);
                }
            }
    });
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

    // The cascades are read while the picture decodes.
    using Function = std::vector<Box> (*)(const unsigned char*, int, int, int);
    const auto* function = detector.target<Function>();
    const bool ours = function && *function == detect;
    std::future<void> reading;
    if (ours)
        reading = std::async(std::launch::async, [] {
            try {
                cascades();
            } catch (const ToolError&) {
                // Reported when the faces are sought.
            }
        });
    // A JPEG gives its detection copy straight from the file at a reduced size, so the faces are
    // sought while the whole picture decodes. The copy is what the scan waits for, and the whole
    // picture is not wanted before the scan ends: it decodes once the copy is in.
    std::promise<void> reducedDecoded;
    std::future<std::optional<std::vector<Box>>> reducedFaces;
    if (!jpegFile.empty() && std::max(width, height) > detectionSide) {
        reducedFaces = std::async(std::launch::async, [&] {
            return detectInReduced(jpegFile, width, height, detector, ours, reducedDecoded);
        });
        reducedDecoded.get_future().wait();
    }
    auto held = decodedWhole(pixels, image, jpegFile);
    if (!held) {
        size_t size = 0;
        held = Pixels{static_cast<unsigned char*>(pixels.write_to_memory(&size)), g_free};
    }
    Pixels::Ptr bytes(held->bytes, held->release);
    std::optional<std::vector<Box>> found;
    if (reducedFaces.valid())
        found = reducedFaces.get();
    const auto faces = found ? *found : detector(bytes.get(), width, height, bands);
    if (faces.empty())
        throw ToolError("Nenhum rosto encontrado.");
    // What the decoders and the scan held, freed by threads of their own, goes back before the
    // encoder takes its share.
    ::malloc_trim(0);
    pixellate(bytes.get(), width, height, bands, faces);

    const size_t size = size_t(width) * size_t(height) * size_t(bands);
    VipsImage* wrapped = vips_image_new_from_memory(bytes.get(), size, width, height, bands, VIPS_FORMAT_UCHAR);
    if (!wrapped)
        throw ConversionError::writeFailed();
    // From here the pixels belong to the image, which frees them when it closes.
    auto* owned = new Pixels{bytes.release(), held->release};
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freePixels), owned);
    return VImage(wrapped).copy(VImage::option()->set("interpretation", pixels.interpretation()));
}

}
