#include "core/engines/haar_scan.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <vips/vips8>

#include <optional>
#include <set>
#include <string>
#include <tuple>

using vips::VImage;

namespace {

const std::string cascadeFolder = "/usr/share/opencv4/haarcascades/";

cv::Mat greyOf(const VImage& image)
{
    const auto grey = image.colourspace(VIPS_INTERPRETATION_B_W).extract_band(0).cast(VIPS_FORMAT_UCHAR);
    size_t size = 0;
    std::unique_ptr<void, decltype(&g_free)> bytes(grey.write_to_memory(&size), g_free);
    cv::Mat picture(grey.height(), grey.width(), CV_8UC1);
    std::memcpy(picture.data, bytes.get(), size);
    cv::equalizeHist(picture, picture);
    return picture;
}

// The test portrait at several sizes, some mirrored, some on their side, over a noisy ground,
// with a flat band where windows see no variance at all.
cv::Mat crowd()
{
    const auto face = VImage::new_from_file(BRIVLON_TEST_DATA "/astronaut.jpg");
    auto ground = VImage::gaussnoise(801, 611, VImage::option()->set("sigma", 30)->set("mean", 110));
    ground = ground.insert(VImage::black(801, 51) + 128, 0, 560);
    const std::tuple<double, int, int, bool> placed[] = {{1.0, 10, 10, false}, {0.6, 280, 30, true},
        {1.2, 430, 150, false}, {0.35, 60, 400, true}, {0.7, 600, 10, false}, {0.5, 650, 440, true}};
    for (const auto& [scale, x, y, mirrored] : placed) {
        auto copy = face.resize(scale);
        if (mirrored)
            copy = copy.flip(VIPS_DIRECTION_HORIZONTAL);
        ground
            = ground.insert(copy.colourspace(VIPS_INTERPRETATION_B_W).extract_band(0).cast(VIPS_FORMAT_DOUBLE), x, y);
    }
    return greyOf(ground.cast(VIPS_FORMAT_UCHAR).copy_memory());
}

VImage noiseOf(int seed)
{
    return VImage::gaussnoise(301, 203, VImage::option()->set("sigma", 50)->set("mean", 128)->set("seed", seed));
}

// A cascade file's text: one stage of one stump on a 24-pixel window, its feature of `rects`.
std::string oneStump(const char* stageThreshold, const char* stumpThreshold, const char* leaves, const char* rects)
{
    return std::string("<?xml version=\"1.0\"?><opencv_storage><cascade><stageType>BOOST</stageType>"
                       "<featureType>HAAR</featureType><height>24</height><width>24</width>"
                       "<stageParams><maxWeakCount>1</maxWeakCount></stageParams>"
                       "<featureParams><maxCatCount>0</maxCatCount></featureParams><stageNum>1</stageNum>"
                       "<stages><_><maxWeakCount>1</maxWeakCount><stageThreshold>")
        + stageThreshold + "</stageThreshold><weakClassifiers><_><internalNodes>0 -1 0 " + stumpThreshold
        + "</internalNodes><leafValues>" + leaves
        + "</leafValues></_></weakClassifiers></_></stages><features><_><rects>" + rects
        + "</rects><tilted>0</tilted></_></features></cascade></opencv_storage>";
}

// The cascade of a cascade file's `text` as OpenCV's classifier and as the scan reads it.
std::pair<cv::CascadeClassifier, std::optional<HaarCascade>> cascadesOf(const std::string& text)
{
    cv::FileStorage file(text, cv::FileStorage::READ | cv::FileStorage::MEMORY);
    cv::CascadeClassifier classifier;
    classifier.read(file.getFirstTopLevelNode());
    return {classifier, HaarScan::read(file.getFirstTopLevelNode())};
}

std::multiset<std::tuple<int, int, int, int>> asSet(const std::vector<cv::Rect>& rects)
{
    std::multiset<std::tuple<int, int, int, int>> set;
    for (const auto& r : rects)
        set.insert({r.x, r.y, r.width, r.height});
    return set;
}

}

// Every pass must find what OpenCV's own detectMultiScale finds, window for window: without
// grouping (each window that passes the cascade) and grouped as the face tool groups.
TEST(HaarScan, FindsWhatOpenCVsDetectMultiScaleFinds)
{
    cv::CascadeClassifier frontalClassifier(cascadeFolder + "haarcascade_frontalface_default.xml");
    cv::CascadeClassifier profileClassifier(cascadeFolder + "haarcascade_profileface.xml");
    ASSERT_FALSE(frontalClassifier.empty());
    ASSERT_FALSE(profileClassifier.empty());
    const auto readCascade = [](const std::string& name) {
        cv::FileStorage file(cascadeFolder + name, cv::FileStorage::READ);
        return HaarScan::read(file.getFirstTopLevelNode());
    };
    const auto frontal = readCascade("haarcascade_frontalface_default.xml");
    const auto profile = readCascade("haarcascade_profileface.xml");
    ASSERT_TRUE(frontal && profile);

    const auto portrait = VImage::new_from_file(BRIVLON_TEST_DATA "/astronaut.jpg");
    struct Case {
        const char* name;
        cv::Mat picture;
        int minimum;
        bool grouped;
    };
    // A fixed seed, so a run repeats; more seeds below.
    const auto noise = noiseOf(7);
    const Case cases[] = {
        {"portrait", greyOf(portrait), 24, true},
        {"portrait, odd size", greyOf(portrait.resize(1.7)), 24, false},
        {"crowd", crowd(), 24, true},
        {"crowd, large minimum", crowd(), 70, false},
        {"noise", greyOf(noise.cast(VIPS_FORMAT_UCHAR).copy_memory()), 24, false},
        {"too small for the frontal window", greyOf(portrait.resize(23.0 / 256)), 24, false},
    };
    size_t windows = 0, grouped = 0;
    for (const auto& c : cases) {
        cv::Mat mirror;
        cv::flip(c.picture, mirror, 1);
        const std::vector<HaarScan::Pass> passes = {{&*frontal, 0}, {&*profile, 0}, {&*profile, 1}};
        for (int neighbours : {0, 5}) {
            if (neighbours && !c.grouped)
                continue;
            const cv::Size minimum(c.minimum, c.minimum);
            std::vector<cv::Rect> expected[3];
            frontalClassifier.detectMultiScale(c.picture, expected[0], 1.1, neighbours, 0, minimum);
            profileClassifier.detectMultiScale(c.picture, expected[1], 1.1, neighbours, 0, minimum);
            profileClassifier.detectMultiScale(mirror, expected[2], 1.1, neighbours, 0, minimum);
            for (size_t pass = 0; pass < 3; ++pass)
                (neighbours ? grouped : windows) += expected[pass].size();
            // Every width the processor runs.
            for (auto width : {HaarScan::Width::widest, HaarScan::Width::avx2, HaarScan::Width::plain}) {
                const auto found = HaarScan::detect({c.picture, mirror}, passes, 1.1, neighbours, minimum, width);
                ASSERT_EQ(found.size(), 3u);
                for (size_t pass = 0; pass < 3; ++pass)
                    EXPECT_EQ(asSet(found[pass]), asSet(expected[pass]))
                        << c.name << ", pass " << pass << ", " << neighbours << " neighbours, width " << int(width);
            }
        }
    }
    // Enough was found for the comparison to mean something.
    EXPECT_GT(windows, 150u);
    EXPECT_GE(grouped, 4u);
}

// More noise against the frontal cascade, each seed's few windows as detectMultiScale finds them.
// Seed 206 passes a 29-pixel window in the last row of windows at its scale, a row
// detectMultiScale never looks at.
TEST(HaarScan, FindsWhatOpenCVFindsInNoiseOfOtherSeeds)
{
    cv::CascadeClassifier classifier(cascadeFolder + "haarcascade_frontalface_default.xml");
    cv::FileStorage file(cascadeFolder + "haarcascade_frontalface_default.xml", cv::FileStorage::READ);
    const auto frontal = HaarScan::read(file.getFirstTopLevelNode());
    ASSERT_TRUE(frontal && !classifier.empty());
    for (int seed = 203; seed < 211; ++seed) {
        const auto picture = greyOf(noiseOf(seed).cast(VIPS_FORMAT_UCHAR).copy_memory());
        std::vector<cv::Rect> expected;
        classifier.detectMultiScale(picture, expected, 1.1, 0, 0, {24, 24});
        for (auto width : {HaarScan::Width::widest, HaarScan::Width::avx2, HaarScan::Width::plain}) {
            const auto found = HaarScan::detect({picture}, {{&*frontal, 0}}, 1.1, 0, {24, 24}, width);
            EXPECT_EQ(asSet(found[0]), asSet(expected)) << "seed " << seed << ", width " << int(width);
        }
    }
}

// With a cascade every window passes, detectMultiScale gives back every window it looks at. The
// scan must look at the same ones at every scale, the last row of windows included or left out
// as detectMultiScale's stripes have it; their number follows the picture's width and the first
// scale scanned.
TEST(HaarScan, LooksAtTheWindowsDetectMultiScaleLooksAt)
{
    auto [classifier, everything] = cascadesOf(oneStump("-1.", "0.5", "0. 0.", "<_>0 0 2 2 -1.</_>"));
    ASSERT_TRUE(!classifier.empty() && everything);
    // Noise as strong as this leaves no window too flat to look at.
    cv::RNG random(3);
    size_t windows = 0;
    for (int width : {24, 61, 130})
        for (int height = 24; height <= 100; ++height)
            for (int minimum : {24, 50}) {
                cv::Mat picture(height, width, CV_8UC1);
                random.fill(picture, cv::RNG::UNIFORM, 0, 256);
                std::vector<cv::Rect> expected;
                classifier.detectMultiScale(picture, expected, 1.1, 0, 0, {minimum, minimum});
                windows += expected.size();
                const auto found = HaarScan::detect({picture}, {{&*everything, 0}}, 1.1, 0, {minimum, minimum});
                EXPECT_EQ(asSet(found[0]), asSet(expected)) << width << " x " << height << ", minimum " << minimum;
            }
    EXPECT_GT(windows, 100000u);
}

// A window on the picture's left or top edge reads the integral images' first column or row. The
// scan reuses the room of larger scales for smaller ones, so these must read as nothing however
// many scales came before: a stump that compares a window's first column with its second, which
// about half the windows pass, on a picture large enough for many scales.
TEST(HaarScan, WindowsOnTheEdgesSeeThePictureAtEveryScale)
{
    auto [classifier, columns] = cascadesOf(oneStump("0.", "0.", "-1. 1.", "<_>0 0 1 24 1.</_><_>1 0 1 24 -1.</_>"));
    ASSERT_TRUE(!classifier.empty() && columns);
    cv::Mat picture(500, 700, CV_8UC1);
    cv::RNG(5).fill(picture, cv::RNG::UNIFORM, 0, 256);
    std::vector<cv::Rect> expected;
    classifier.detectMultiScale(picture, expected, 1.1, 0, 0, {24, 24});
    const auto found = HaarScan::detect({picture}, {{&*columns, 0}}, 1.1, 0, {24, 24});
    EXPECT_EQ(asSet(found[0]), asSet(expected));
    size_t onTheEdge = 0;
    for (const auto& r : expected)
        onTheEdge += r.x == 0 || r.y == 0;
    EXPECT_GT(onTheEdge, 1000u);
}

// The grouping is OpenCV's own, rectangle for rectangle: clusters of every size, means that land
// on halves, small faces inside large ones with more and with fewer neighbours, and lone hits.
TEST(HaarScan, GroupsAsOpenCVGroups)
{
    cv::RNG random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<cv::Rect> rects;
        const int clusters = random.uniform(1, 7);
        for (int c = 0; c < clusters; ++c) {
            const int size = random.uniform(20, 200);
            // Some clusters sit inside the previous one, to try the rule that drops them.
            const bool nested = c > 0 && random.uniform(0, 3) == 0;
            const cv::Rect& last = rects.empty() ? cv::Rect() : rects.back();
            const int x = nested ? last.x + last.width / 4 : random.uniform(0, 1000);
            const int y = nested ? last.y + last.height / 4 : random.uniform(0, 1000);
            const int side = nested ? std::max(8, last.width / 3) : size;
            const int members = random.uniform(1, 12);
            for (int m = 0; m < members; ++m) {
                const int jitter = std::max(1, side / 12);
                rects.emplace_back(x + random.uniform(-jitter, jitter + 1), y + random.uniform(-jitter, jitter + 1),
                    side + random.uniform(-jitter, jitter + 1), side + random.uniform(-jitter, jitter + 1));
            }
        }
        for (int threshold : {0, 1, 3, 5})
            for (double eps : {0.2, 0.5}) {
                auto ours = rects, theirs = rects;
                HaarScan::group(ours, threshold, eps);
                cv::groupRectangles(theirs, threshold, eps);
                ASSERT_EQ(ours, theirs) << "round " << round << ", threshold " << threshold << ", eps " << eps;
            }
    }
}

TEST(HaarScan, RefusesCascadesItDoesNotEvaluate)
{
    // LBP features, and Haar trees of more than one split.
    for (const char* text :
        {"<?xml version=\"1.0\"?><opencv_storage><c><stageType>BOOST</stageType><featureType>LBP</featureType>"
         "<height>24</height><width>24</width></c></opencv_storage>",
            "<?xml version=\"1.0\"?><opencv_storage><c><stageType>BOOST</stageType><featureType>HAAR</featureType>"
            "<height>24</height><width>24</width><featureParams><maxCatCount>0</maxCatCount></featureParams>"
            "<stages><_><stageThreshold>-1</stageThreshold><weakClassifiers><_>"
            "<internalNodes>1 -1 0 0.5 0 -2 1 0.5</internalNodes><leafValues>0.1 0.2 0.3</leafValues>"
            "</_></weakClassifiers></_></stages>"
            "<features><_><rects><_>0 0 2 2 -1.</_></rects></_></features></c></opencv_storage>"}) {
        cv::FileStorage file(text, cv::FileStorage::READ | cv::FileStorage::MEMORY);
        EXPECT_FALSE(HaarScan::read(file.getFirstTopLevelNode()));
    }
}
