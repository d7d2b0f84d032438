#include "core/base/task.h"
#include "core/engines/face_blur.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/image_tools.h"
#include "core/engines/media_tools.h"
#include "core/engines/pdf_tools.h"
#include "core/engines/tool_engines.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <vips/vips8>

#include <chrono>
#include <map>
#include <set>
#include <tuple>

using namespace TestSupport;
using vips::VImage;

namespace {

// Noise with three bands, so every pixel differs from its neighbours.
VImage noise(int width, int height)
{
    auto grey = VImage::gaussnoise(width, height, VImage::option()->set("sigma", 60));
    // In memory: the noise generator gives new values each time the pixels are computed.
    return grey.bandjoin(grey.rot180())
        .bandjoin(grey.flip(VIPS_DIRECTION_HORIZONTAL))
        .cast(VIPS_FORMAT_UCHAR)
        .copy_memory();
}

}

TEST(ImageToolSizes, ScaleCropAndRotate)
{
    using ImageTools::Size, ImageTools::Rect;
    EXPECT_EQ(ImageTools::scaledSize({1000, 500}, 0.4), (Size{400, 200}));
    EXPECT_EQ(ImageTools::scaledSize({1000, 500}, 2.5), (Size{2500, 1250}));
    EXPECT_EQ(ImageTools::scaledSize({1000, 500}, 0), (Size{1, 1}));
    EXPECT_EQ(ImageTools::scaledSize({3, 5}, 0.5), (Size{2, 3}));  // 1.5 and 2.5 round away from zero
    // Typing slips fail before anything is allocated.
    EXPECT_EQ(thrown(ImageTools::scaledSize, Size{1000, 500}, 70.0).kind(), ConversionError::Kind::writeFailed);
    EXPECT_EQ(thrown(ImageTools::scaledSize, Size{30000, 30000}, 1.0).kind(), ConversionError::Kind::writeFailed);
    EXPECT_EQ(thrown(ImageTools::scaledSize, Size{1000, 500}, 1e300).kind(), ConversionError::Kind::writeFailed);

    EXPECT_EQ(ImageTools::croppedRect({1000, 1000}, "16:9"), (Rect{0, 218, 1000, 564}));
    EXPECT_EQ(ImageTools::croppedRect({1200, 800}, "1:1"), (Rect{200, 0, 800, 800}));
    EXPECT_EQ(ImageTools::croppedRect({1000, 1000}, "9:16"), (Rect{218, 0, 564, 1000}));
    for (const char* unchanged : {"abc", "0:1", "1:0", "1:2:3", "-1:1", ""})
        EXPECT_EQ(ImageTools::croppedRect({300, 200}, unchanged), (Rect{0, 0, 300, 200})) << unchanged;

    // A quarter turn clockwise: the top-left corner ends at the top-right.
    auto picture = VImage::black(3, 2, VImage::option()->set("bands", 3)).copy_memory();
    picture.draw_rect({255, 0, 0}, 0, 0, 1, 1, VImage::option()->set("fill", true));
    auto turned = ImageTools::rotated(picture);
    ASSERT_EQ(turned.width(), 2);
    ASSERT_EQ(turned.height(), 3);
    EXPECT_EQ(turned.getpoint(1, 0)[0], 255);
    EXPECT_EQ(turned.getpoint(0, 0)[0], 0);
    auto resized = ImageTools::scaled(noise(1000, 500), 0.4);
    EXPECT_EQ(resized.width(), 400);
    EXPECT_EQ(resized.height(), 200);
}

TEST(PageIndices, ListsOnTenPages)
{
    const std::vector<std::pair<std::string, std::vector<int>>> cases = {
        {"1-3, 5, 8-", {0, 1, 2, 4, 7, 8, 9}},
        {"3-1", {}},
        {"0, 11", {}},
        {"2,2", {1, 1}},
        {"-2", {0, 1}},
        {"", {}},
        {"1;4", {0, 3}},
        {"5-20", {4, 5, 6, 7, 8, 9}},
        {"1-2-3", {}},
        {"1 - 3", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},  // the parts of a range are not trimmed
        {" 7 ,\t9", {6, 8}},
        {"x-2", {0, 1}},
        {"3,1", {2, 0}},
    };
    for (const auto& [pages, indices] : cases)
        EXPECT_EQ(PDFTools::pageIndices(pages, 10), indices) << pages;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PDFTools::pageIndices("1-99999999999", 10).size(), 10u);
    EXPECT_EQ(PDFTools::pageIndices("99999999999999999999-", 10).size(), 10u);  // not a number: from 1
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST(ToolParams, CommandLinePairs)
{
    auto params = withPairs({}, {"scale=abc"});
    EXPECT_EQ(params.scalePercent, 50);
    EXPECT_FALSE(params.useMaxSide);
    params = withPairs({}, {"quality=55", "quality=80", "scale=40", "pages=1-3, 5", "end=2:00"});
    EXPECT_EQ(params.quality, 80);
    EXPECT_EQ(params.scalePercent, 40);
    EXPECT_EQ(params.pages, "1-3, 5");
    EXPECT_EQ(params.end, "2:00");
    params = withPairs({},
        {"quality", "=5", "quality=", "Quality=5", "quality=1.5", "quality=9x", "maxSide=-3", "aspect=16:9=x",
            "resolution=+480"});
    EXPECT_EQ(params.quality, 70);
    EXPECT_EQ(params.maxSide, -3);
    EXPECT_EQ(params.aspect, "16:9=x");
    EXPECT_EQ(params.resolution, 480);
}

TEST(MediaToolArguments, TrimTimesAndFilters)
{
    EXPECT_EQ(MediaTools::readTime("1:30"), 90.0);
    EXPECT_EQ(MediaTools::readTime(" 5,5 "), 5.5);
    EXPECT_EQ(MediaTools::readTime("1:02:03.5"), 3723.5);
    // A decimal comma in a clock time too, as the trim editor and --trim read it.
    EXPECT_EQ(MediaTools::readTime("0:02,5"), 2.5);
    EXPECT_EQ(MediaTools::readTime(" 1:02:03,25\t"), 3723.25);
    EXPECT_EQ(MediaTools::readTime("abc"), std::nullopt);
    EXPECT_EQ(MediaTools::readTime("1:2:3:4"), std::nullopt);
    EXPECT_EQ(MediaTools::readTime(""), std::nullopt);
    EXPECT_EQ(MediaTools::timeText(90), "90.0");
    EXPECT_EQ(MediaTools::timeText(12.5), "12.5");
    EXPECT_EQ(MediaTools::timeText(0.1), "0.1");

    const auto args = [](Tool tool, std::string start, std::string end) {
        ToolParams params;
        params.start = start;
        params.end = end;
        return MediaTools::arguments(tool, "/x/a.mp4", params, "mp4", 44100);
    };
    auto trim = args(Tool::vidTrim, "1:30", "2:00");
    EXPECT_EQ(std::vector<std::string>(trim.begin(), trim.begin() + 4),
        (std::vector<std::string>{"-ss", "90.0", "-to", "120.0"}));
    EXPECT_EQ(*(std::find(trim.begin(), trim.end(), "-i") + 1), "/x/a.mp4");
    trim = args(Tool::audTrim, "abc", "");
    EXPECT_EQ(std::vector<std::string>(trim.begin(), trim.begin() + 2), (std::vector<std::string>{"-ss", "0.0"}));
    EXPECT_EQ(std::find(trim.begin(), trim.end(), "-to"), trim.end());
    for (auto [start, end] : {std::pair{"10", "5"}, {"5", "5"}, {"1:00", "59,9"}}) {
        try {
            args(Tool::vidTrim, start, end);
            ADD_FAILURE() << start << " " << end;
        } catch (const ToolError& error) {
            EXPECT_STREQ(error.what(), "O fim precisa ser depois do início.");
        }
    }
    // Filters join the codec's own: the turn comes before the scaling, the rate after loudnorm.
    const auto rotate = args(Tool::vidRotate, "", "");
    const auto vf = std::find(rotate.begin(), rotate.end(), "-vf");
    ASSERT_NE(vf, rotate.end());
    EXPECT_EQ(vf[1].rfind("transpose=1,scale", 0), 0u) << vf[1];
    ToolParams none;
    const auto normalise = MediaTools::arguments(Tool::audNormalize, "/x/a.ogg", none, "ogg", std::nullopt);
    EXPECT_EQ(std::count(normalise.begin(), normalise.end(), "-af"), 1);
    EXPECT_EQ(std::find(normalise.begin(), normalise.end(), "-af")[1].rfind(
                  "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_rates=48000,aformat", 0),
        0u);

    // A join reaches its files through links of its own naming, whatever theirs hold.
    TempDir links;
    FFmpeg::concatInput({"/x/it's.mp3", "/y/b.mp3"}, links.path());
    EXPECT_EQ(fs::read_symlink(links / "entrada-0.mp3"), "/x/it's.mp3");
}

// The probe for progress waits until ffmpeg has worked for a while, so only a run that lasts
// reports fractions: growing, within 0…1 and ending near the whole.
TEST(MediaToolProgress, ALastingRunReportsGrowingFractions)
{
    TempDir dir;
    const auto source = dir / "longo.mp4";
    ASSERT_TRUE(makeMedia(source, "testsrc=duration=10:size=640x360:rate=25", {"-c:v", "mpeg4", "-q:v", "5"}));
    Task::Binder binder(Task::newJob(dir.path()));
    ToolParams params;
    params.resolution = 240;
    std::vector<double> fractions;
    const auto started = std::chrono::steady_clock::now();
    MediaTools::run(Tool::vidCompress, source, params, [&](double fraction) {
        fractions.push_back(fraction);
    });
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(2)) {
        ASSERT_FALSE(fractions.empty());
        EXPECT_GT(fractions.back(), 0.8);
        EXPECT_LE(fractions.back(), 1.0);
    }
}

TEST(FaceBlur, OnlyCellsInsideTheWidenedBoxesChange)
{
    const int width = 200, height = 150, bands = 3;
    auto picture = noise(width, height);
    size_t size = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> original(
        static_cast<unsigned char*>(picture.write_to_memory(&size)), g_free);
    // One box at (50, 40), 40 × 20: widened to x 44…96, y 35…65.
    const FaceBlur::Detector oneFace = [](const unsigned char*, int, int, int) {
        return std::vector<FaceBlur::Box>{{50, 40, 40, 20}};
    };
    auto blurred = FaceBlur::blurFaces(picture, oneFace);
    std::unique_ptr<unsigned char, decltype(&g_free)> result(
        static_cast<unsigned char*>(blurred.write_to_memory(&size)), g_free);
    const int cell = 5;  // max(200, 150) / 40
    std::map<std::pair<int, int>, std::vector<unsigned char>> cellColour;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto* before = original.get() + (size_t(y) * width + x) * bands;
            const auto* after = result.get() + (size_t(y) * width + x) * bands;
            const bool inside = x >= 44 && x < 96 && y >= 35 && y < 65;
            if (!inside) {
                ASSERT_TRUE(std::equal(before, before + bands, after)) << x << "," << y;
                continue;
            }
            // Cells count from the bottom-left corner.
            auto [entry, added] = cellColour.try_emplace({x / cell, (height - 1 - y) / cell}, after, after + bands);
            ASSERT_TRUE(std::equal(after, after + bands, entry->second.begin())) << x << "," << y;
        }
    EXPECT_GT(cellColour.size(), 50u);

    const FaceBlur::Detector noFace = [](const unsigned char*, int, int, int) {
        return std::vector<FaceBlur::Box>{};
    };
    try {
        FaceBlur::blurFaces(picture, noFace);
        ADD_FAILURE();
    } catch (const ToolError& error) {
        EXPECT_STREQ(error.what(), "Nenhum rosto encontrado.");
    }
}

TEST(FaceBlur, FindsTheFaceOfARealPortraitAndNoneInNoise)
{
    auto portrait = VImage::new_from_file(BRIVLON_TEST_DATA "/astronaut.jpg");
    size_t size = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> bytes(
        static_cast<unsigned char*>(portrait.write_to_memory(&size)), g_free);
    const auto faces = FaceBlur::detect(bytes.get(), portrait.width(), portrait.height(), portrait.bands());
    ASSERT_FALSE(faces.empty());
    // The astronaut's face is in the upper middle of the picture.
    for (const auto& face : faces) {
        EXPECT_NEAR(face.x + face.width / 2, 115, 30);
        EXPECT_NEAR(face.y + face.height / 2, 65, 30);
    }

    TempDir dir;
    Task::Binder job(Task::newJob());
    noise(300, 200).write_to_file((dir / "ruído.png").c_str());
    try {
        ToolEngines::run(Tool::imgBlurFaces, {dir / "ruído.png"}, {}, {});
        ADD_FAILURE();
    } catch (const ToolError& error) {
        EXPECT_STREQ(error.what(), "Nenhum rosto encontrado.");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

// The three passes run side by side in one scan; what they find, mapped back from the mirror,
// must be what OpenCV's own classifiers find.
TEST(FaceBlur, DetectFindsWhatOpenCVsClassifiersFind)
{
    // At 1280 pixels, the size faces are sought at, the scan makes and drops its layers in
    // several groups; what it finds must not depend on that.
    for (const double scale : {2.0, 5.0}) {
        SCOPED_TRACE(scale);
        auto portrait = VImage::new_from_file(BRIVLON_TEST_DATA "/astronaut.jpg").resize(scale).copy_memory();
        size_t size = 0;
        std::unique_ptr<unsigned char, decltype(&g_free)> bytes(
            static_cast<unsigned char*>(portrait.write_to_memory(&size)), g_free);
        const int width = portrait.width(), height = portrait.height();

        cv::Mat grey;
        cv::cvtColor(cv::Mat(height, width, CV_8UC3, bytes.get()), grey, cv::COLOR_RGB2GRAY);
        cv::equalizeHist(grey, grey);
        cv::Mat mirror;
        cv::flip(grey, mirror, 1);
        const std::string folder = "/usr/share/opencv4/haarcascades/";
        cv::CascadeClassifier frontal(folder + "haarcascade_frontalface_default.xml");
        cv::CascadeClassifier profile(folder + "haarcascade_profileface.xml");
        const cv::Size minimum(24, 24);
        std::vector<cv::Rect> found, all;
        frontal.detectMultiScale(grey, found, 1.1, 5, 0, minimum);
        all = found;
        profile.detectMultiScale(grey, found, 1.1, 5, 0, minimum);
        all.insert(all.end(), found.begin(), found.end());
        profile.detectMultiScale(mirror, found, 1.1, 5, 0, minimum);
        for (auto r : found)
            all.push_back({width - r.x - r.width, r.y, r.width, r.height});

        std::multiset<std::tuple<int, int, int, int>> expected, actual;
        for (const auto& r : all)
            expected.insert({r.x, r.y, r.width, r.height});
        for (const auto& b : FaceBlur::detect(bytes.get(), width, height, 3))
            actual.insert({int(b.x), int(b.y), int(b.width), int(b.height)});
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(actual, expected);
    }
}

// A large JPEG's faces are sought on a copy read from the file at a reduced size; the boxes come
// back in the picture's own pixels.
TEST(FaceBlur, AReducedCopyOfALargeJPEGGivesBoxesInThePicturesPixels)
{
    TempDir dir;
    const auto file = dir / "grande.jpg";
    noise(2560, 1920).write_to_file(file.c_str(), VImage::option()->set("Q", 95));
    const auto picture = VImage::new_from_file(file.c_str());
    std::pair<int, int> seen;
    const FaceBlur::Detector reduced = [&seen](const unsigned char*, int width, int height, int) {
        seen = {width, height};
        return std::vector<FaceBlur::Box>{{320, 240, 64, 48}, {1000, 900, 64, 50}};
    };
    auto blurred = FaceBlur::blurFaces(picture, reduced, file);
    EXPECT_EQ(seen, std::make_pair(1280, 960));

    size_t size = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> before(
        static_cast<unsigned char*>(picture.write_to_memory(&size)), g_free);
    std::unique_ptr<unsigned char, decltype(&g_free)> after(
        static_cast<unsigned char*>(blurred.write_to_memory(&size)), g_free);
    // The box doubled is (640, 480) 128 × 96, widened to x 620…787 and y 456…599; cells are 64
    // pixels, counted from the bottom row (1919).
    const auto at = [](const unsigned char* bytes, int x, int y) {
        return std::vector<unsigned char>(bytes + (size_t(y) * 2560 + x) * 3, bytes + (size_t(y) * 2560 + x) * 3 + 3);
    };
    for (int y : {450, 455, 601, 700})
        EXPECT_EQ(at(after.get(), 700, y), at(before.get(), 700, y)) << y;
    for (int x : {600, 619, 789, 900})
        EXPECT_EQ(at(after.get(), x, 500), at(before.get(), x, 500)) << x;
    // Columns 640…703 and rows 448…511 are one cell.
    const auto colour = at(after.get(), 640, 480);
    for (int x : {640, 670, 703})
        for (int y : {470, 500, 511})
            EXPECT_EQ(at(after.get(), x, y), colour) << x << "," << y;
    EXPECT_NE(at(after.get(), 660, 490), at(before.get(), 660, 490));
    // Drawn as the picture streams to its file, stretch by stretch, the result is what
    // pixellating the whole picture in place gives; the second box runs off the bottom edge.
    FaceBlur::pixellate(before.get(), 2560, 1920, 3, {{640, 480, 128, 96}, {2000, 1800, 128, 100}});
    EXPECT_EQ(std::memcmp(before.get(), after.get(), size), 0);
}

// The detector's own reduced copy is made grey as it decodes, and the picture decodes straight
// into the block the encoder reads: the faces and the pixels must be those of the colour copy
// handed to the same detector as any other, for a colour and a grey portrait.
TEST(FaceBlur, TheGreyReducedCopyFindsWhatTheColourCopyFinds)
{
    TempDir dir;
    const auto portrait = VImage::new_from_file(BRIVLON_TEST_DATA "/astronaut.jpg").resize(11);
    for (const bool colour : {true, false}) {
        SCOPED_TRACE(colour);
        const auto file = dir / (colour ? "cor.jpg" : "cinza.jpg");
        (colour ? portrait : portrait.colourspace(VIPS_INTERPRETATION_B_W))
            .write_to_file(file.c_str(), VImage::option()->set("Q", 92));
        const auto picture = VImage::new_from_file(file.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        std::vector<std::tuple<int, int, int>> seen;
        const FaceBlur::Detector asAny = [&seen](const unsigned char* bytes, int width, int height, int bands) {
            seen.emplace_back(width, height, bands);
            return FaceBlur::detect(bytes, width, height, bands);
        };
        size_t size = 0;
        std::unique_ptr<unsigned char, decltype(&g_free)> viaColour(
            static_cast<unsigned char*>(FaceBlur::blurFaces(picture, asAny, file).write_to_memory(&size)), g_free);
        // The colour route decoded its copy at half size, in the file's own bands.
        ASSERT_EQ(seen, (std::vector<std::tuple<int, int, int>>{{1408, 1408, colour ? 3 : 1}}));
        const auto again = VImage::new_from_file(file.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        std::unique_ptr<unsigned char, decltype(&g_free)> viaGrey(
            static_cast<unsigned char*>(FaceBlur::blurFaces(again, FaceBlur::detect, file).write_to_memory(&size)),
            g_free);
        EXPECT_EQ(std::memcmp(viaColour.get(), viaGrey.get(), size), 0);
        // And a face was blurred: the pictures differ from the file's own pixels.
        std::unique_ptr<unsigned char, decltype(&g_free)> original(
            static_cast<unsigned char*>(VImage::new_from_file(file.c_str()).write_to_memory(&size)), g_free);
        EXPECT_NE(std::memcmp(original.get(), viaGrey.get(), size), 0);
    }
}
