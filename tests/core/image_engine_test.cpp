#include "core/image_engine.h"

#include "core/conversion_error.h"
#include "core/ffmpeg.h"
#include "core/quality.h"
#include "core/task.h"
#include "support/test_support.h"

#include <poppler-qt6.h>

#include <QImage>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using TestSupport::TempDir;
using vips::VImage;

namespace {

OutputFormat format(const std::string& ext)
{
    return {ext, ext, false};
}

VImage srgb(const VImage& image)
{
    return image.cast(VIPS_FORMAT_UCHAR).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

class ImageEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { VIPS_INIT("image-engine-test"); }

    // A landscape w × h picture: black, with a red block in its top-left corner.
    static VImage marked(int w = 40, int h = 20)
    {
        auto image = srgb(VImage::black(w, h, VImage::option()->set("bands", 3)));
        image.draw_rect({255, 0, 0}, 0, 0, w / 4, h / 4, VImage::option()->set("fill", true));
        return image;
    }

    // Opaque grey on the left half, fully transparent black on the right half.
    static VImage halfTransparent()
    {
        auto alpha = VImage::black(40, 20);
        alpha.draw_rect({255}, 0, 0, 20, 20, VImage::option()->set("fill", true));
        return srgb((VImage::black(40, 20, VImage::option()->set("bands", 3)) + 128).bandjoin(alpha));
    }

    static VImage noisy()
    {
        auto noise = VImage::gaussnoise(256, 256, VImage::option()->set("mean", 128)->set("sigma", 40));
        return srgb(VImage::bandjoin({noise, noise.flip(VIPS_DIRECTION_VERTICAL), noise.flip(VIPS_DIRECTION_HORIZONTAL)}));
    }

    static std::vector<double> pixel(const VImage& image, int x, int y) { return image.getpoint(x, y); }
    static QImage page(const fs::path& pdf, int index, double dpi = 72)
    {
        auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
        return document && index < document->numPages() ? document->page(index)->renderToImage(dpi, dpi) : QImage();
    }
    size_t files() const { return size_t(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator())); }

    TempDir dir;
};

TEST_F(ImageEngineTest, OrientedPhotoComesOutUprightWithOrientationOneAndItsExif)
{
    auto photo = marked();
    photo.set("orientation", 6);
    photo.set("exif-ifd0-Artist", "Brivlon");
    photo.jpegsave((dir / "photo.jpg").c_str(), VImage::option()->set("Q", 100));

    for (const std::string ext : {"png", "tiff", "heic", "jpg"}) {
        SCOPED_TRACE(ext);
        auto image = VImage::new_from_file(ImageEngine::convert(dir / "photo.jpg", format(ext)).c_str());
        ASSERT_EQ(image.width(), 20);
        ASSERT_EQ(image.height(), 40);
        // Turned a quarter clockwise: the red corner is now top-right.
        EXPECT_GT(pixel(image, 18, 1)[0], 200);
        EXPECT_LT(pixel(image, 1, 1)[0], 60);
        if (image.get_typeof("orientation"))
            EXPECT_EQ(image.get_int("orientation"), 1);
        if (ext != "tiff")
            EXPECT_NE(std::string(image.get_string("exif-ifd0-Artist")).find("Brivlon"), std::string::npos);
    }
}

TEST_F(ImageEngineTest, SixteenBitPixelsAndColourProfileSurviveLosslessOutputs)
{
    auto ramp = (VImage::xyz(64, 32)[0] * 1000 + 123).cast(VIPS_FORMAT_USHORT);
    auto deep = VImage::bandjoin({ramp, ramp.flip(VIPS_DIRECTION_HORIZONTAL), VImage::black(64, 32) + 40000})
                    .cast(VIPS_FORMAT_USHORT)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    auto profiled = marked(64, 32).icc_transform("srgb");  // attaches vips's sRGB profile
    size_t profileSize = 0;
    auto profile = profiled.get_blob("icc-profile-data", &profileSize);
    deep.set("icc-profile-data", nullptr, const_cast<void*>(profile), profileSize);
    deep.pngsave((dir / "deep.png").c_str());

    auto picture = ImageEngine::loadOriented(dir / "deep.png");
    auto copy = VImage::new_from_file(ImageEngine::save(picture.image, picture.props, "png", dir / "copy.png", 0.9).c_str());
    EXPECT_EQ(copy.format(), VIPS_FORMAT_USHORT);
    EXPECT_TRUE(copy.get_typeof("icc-profile-data"));
    EXPECT_EQ((copy - VImage::new_from_file((dir / "deep.png").c_str())).abs().max(), 0);

    auto rendered = page(ImageEngine::convert(dir / "deep.png", format("pdf")), 0);
    ASSERT_EQ(rendered.width(), 64);
    EXPECT_NEAR(qBlue(rendered.pixel(10, 10)), 40000 / 257, 3);
    EXPECT_NEAR(qRed(rendered.pixel(63, 10)), (63 * 1000 + 123) / 257, 3);
}

TEST_F(ImageEngineTest, AlphaIsLaidOnWhiteOnlyWhereTheFormatHasNone)
{
    halfTransparent().pngsave((dir / "clear.png").c_str());
    for (const std::string ext : {"jpg", "bmp"}) {
        SCOPED_TRACE(ext);
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "clear.png", format(ext)).string()));
        ASSERT_EQ(image.size(), QSize(40, 20));
        EXPECT_FALSE(image.hasAlphaChannel());
        EXPECT_GE(qRed(image.pixel(30, 10)), 250);
        EXPECT_GE(qBlue(image.pixel(30, 10)), 250);
        EXPECT_NEAR(qGreen(image.pixel(5, 10)), 128, 4);
    }
    for (const std::string ext : {"png", "tiff", "heic", "avif", "gif"}) {
        SCOPED_TRACE(ext);
        auto image = VImage::new_from_file(ImageEngine::convert(dir / "clear.png", format(ext)).c_str());
        ASSERT_TRUE(image.has_alpha());
        EXPECT_EQ(image.width(), 40);
        EXPECT_LT(pixel(image, 30, 10).back(), 5);
        EXPECT_GT(pixel(image, 5, 10).back(), 250);
    }
    // In a PDF the page's white shows through.
    auto rendered = page(ImageEngine::convert(dir / "clear.png", format("pdf")), 0);
    ASSERT_EQ(rendered.width(), 40);
    EXPECT_NEAR(qGreen(rendered.pixel(5, 10)), 128, 3);
    EXPECT_GT(qGreen(rendered.pixel(30, 10)), 250);
}

TEST_F(ImageEngineTest, ColourProfilesAreHonouredAndMalformedOnesIgnored)
{
    // Pure red stored as Display P3 numbers with the P3 profile: formats without profiles get
    // sRGB numbers, formats with one keep the numbers and the profile.
    auto p3 = srgb(VImage::black(8, 8, VImage::option()->set("bands", 3)) + std::vector<double>{255, 0, 0})
                  .icc_transform("p3", VImage::option()->set("input_profile", "srgb"));
    ASSERT_LT(pixel(p3, 1, 1)[0], 245);
    p3.pngsave((dir / "p3.png").c_str());
    for (const std::string ext : {"bmp", "gif"}) {
        SCOPED_TRACE(ext);
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "p3.png", format(ext)).string()));
        EXPECT_GE(qRed(image.pixel(1, 1)), 250);
        EXPECT_LE(qGreen(image.pixel(1, 1)), 8);
    }
    auto tiff = VImage::new_from_file(ImageEngine::convert(dir / "p3.png", format("tiff")).c_str());
    EXPECT_NEAR(pixel(tiff, 1, 1)[0], pixel(p3, 1, 1)[0], 1);
    EXPECT_TRUE(tiff.get_typeof("icc-profile-data"));

    // Profiles cut short or garbled: a header promising 20 tags, a tag pointing past the end.
    std::string header(132, '\0');
    header[131] = 20;
    std::string pointsAway = header.substr(0, 131) + '\1' + "desc" + std::string("\xff\xff\xff\x00\0\0\0\x10", 8);
    for (const auto& icc : {header, pointsAway, header.substr(0, 130), std::string()})
        EXPECT_FALSE(ImageEngine::describesSRGB(icc));
    auto damaged = marked();
    damaged.set("icc-profile-data", nullptr, header.data(), header.size());
    damaged.tiffsave((dir / "damaged.tiff").c_str());
    EXPECT_NO_THROW(ImageEngine::convert(dir / "damaged.tiff", format("bmp")));
}

TEST_F(ImageEngineTest, ExifOrientationIsResetOnlyWhereTheBlockHoldsIt)
{
    // "Exif\0\0", a little-endian TIFF header, IFD0 with one entry: orientation (SHORT) 6.
    const std::string exif = std::string("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    auto reset = exif;
    ImageEngine::resetOrientation(reset);
    EXPECT_EQ(reset[6 + 8 + 2 + 8], 1);
    // Cut anywhere, pointing outside itself or with a foreign byte order, a block stays as it was.
    std::vector<std::string> malformed{exif.substr(0, 27), exif.substr(0, 10), "Exif", ""};
    malformed.push_back(exif);
    malformed.back()[10] = '\x7f';  // IFD0 far beyond the end
    malformed.push_back(exif);
    malformed.back()[6] = 'X';
    for (auto block : malformed) {
        const auto before = block;
        ImageEngine::resetOrientation(block);
        EXPECT_EQ(block, before);
    }
}

TEST_F(ImageEngineTest, QualityLevelSetsTheCompressionFactor)
{
    noisy().pngsave((dir / "noise.png").c_str());
    auto sizeAt = [&](QualityLevel level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        return fs::file_size(ImageEngine::convert(dir / "noise.png", format("jpg")));
    };
    EXPECT_LT(sizeAt(QualityLevel::light), sizeAt(QualityLevel::web));
    EXPECT_LT(sizeAt(QualityLevel::web), sizeAt(QualityLevel::max));
}

TEST_F(ImageEngineTest, MergedPdfIsNamedAfterTheFirstWithCounterAndPagesSizedByResolution)
{
    // 300 × 200 pixels at 300 dpi, 144 × 72 pixels without a resolution, and a photo taken
    // sideways, which stays a JPEG stream in the PDF but must show upright.
    marked(300, 200).copy(VImage::option()->set("xres", 300 / 25.4)->set("yres", 300 / 25.4))
        .pngsave((dir / "a300.png").c_str());
    marked(144, 72).jpegsave((dir / "b.jpg").c_str());
    auto sideways = marked(80, 40);
    sideways.set("orientation", 6);
    sideways.jpegsave((dir / "c.jpg").c_str(), VImage::option()->set("Q", 100));

    std::vector<fs::path> sources{dir / "a300.png", dir / "b.jpg", dir / "c.jpg"};
    auto first = ImageEngine::mergeToPDF(sources);
    EXPECT_EQ(first.filename(), "a300 \u2013 combinado.pdf");
    EXPECT_EQ(ImageEngine::mergeToPDF(sources).filename(), "a300 \u2013 combinado 2.pdf");

    auto document = Poppler::Document::load(QString::fromStdString(first.string()));
    ASSERT_TRUE(document);
    ASSERT_EQ(document->numPages(), 3);
    const QSizeF sizes[] = {{72, 48}, {144, 72}, {40, 80}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(document->page(i)->pageSizeF().width(), sizes[i].width(), 0.01);
        EXPECT_NEAR(document->page(i)->pageSizeF().height(), sizes[i].height(), 0.01);
    }
    auto lossless = page(first, 0, 300);
    EXPECT_GT(qRed(lossless.pixel(10, 10)), 240);
    EXPECT_LT(qGreen(lossless.pixel(10, 10)), 15);
    EXPECT_LT(qRed(lossless.pixel(250, 150)), 15);
    auto turned = page(first, 2);
    EXPECT_GT(qRed(turned.pixel(37, 3)), 200);
    EXPECT_LT(qRed(turned.pixel(3, 3)), 60);
}

TEST_F(ImageEngineTest, FailedReadsAndWritesLeaveNoFile)
{
    TestSupport::writeFile(dir / "broken.png", "this is not a picture at all");
    noisy().pngsave((dir / "fine.png").c_str());
    auto fails = [&](const std::function<void()>& run, ConversionError::Kind expected) {
        try {
            run();
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), expected);
        }
        EXPECT_EQ(files(), 2u);
    };
    fails([&] { ImageEngine::convert(dir / "broken.png", format("pdf")); }, ConversionError::Kind::unreadable);
    fails([&] { ImageEngine::convert(dir / "missing.png", format("jpg")); }, ConversionError::Kind::unreadable);
    fails([&] { ImageEngine::convert(dir / "fine.png", format("mp4")); }, ConversionError::Kind::unsupported);
    fails([&] { ImageEngine::mergeToPDF({dir / "fine.png", dir / "broken.png"}); }, ConversionError::Kind::unreadable);
    // More than a BMP's 32-bit sizes can state fails before any pixel is made.
    auto huge = srgb(VImage::black(40000, 40000, VImage::option()->set("bands", 3)));
    fails([&] { ImageEngine::save(huge, {}, "bmp", dir / "huge.bmp", 0.9); }, ConversionError::Kind::writeFailed);

    // A file system that refuses to grow the file, for every writer.
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = 2048;
    setrlimit(RLIMIT_FSIZE, &tight);
    for (const std::string ext : {"jpg", "png", "heic", "tiff", "bmp", "gif", "pdf"}) {
        SCOPED_TRACE(ext);
        EXPECT_ANY_THROW(ImageEngine::convert(dir / "fine.png", format(ext)));
        EXPECT_EQ(files(), 2u);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
}

TEST_F(ImageEngineTest, ProgramShortOfMemoryOrKilledLeavesNoPartialOutput)
{
    const auto big = dir / "big.png";
    srgb(VImage::black(8000, 8000, VImage::option()->set("bands", 3))).pngsave(big.c_str());
    // Below, inside and above the memory the conversion needs: a complete file or none.
    for (int megabytes : {700, 1000, 1300}) {
        SCOPED_TRACE(megabytes);
        auto run = TestSupport::runProgram("/usr/bin/prlimit", {"--as=" + std::to_string(megabytes) + "000000",
                                                                BRIVLON_BINARY, "--convert", "bmp", big.string()});
        if (run.exitCode == 0)
            EXPECT_EQ(fs::file_size(dir / "big.bmp"), 54u + 8000u * 8000u * 3u);
        else
            EXPECT_EQ(files(), 1u);
        fs::remove(dir / "big.bmp");
    }
    TestSupport::runBrivlon({"--convert", "tiff", big.string()}, 0.4);
    if (fs::exists(dir / "big.tiff"))
        EXPECT_GT(fs::file_size(dir / "big.tiff"), 8000u * 8000u * 3u);
    EXPECT_LE(files(), 2u);
}

TEST_F(ImageEngineTest, RepairedDamageConvertsWithoutChatter)
{
    // A JPEG cut short and a PNG whose side chunk fails its checksum: the decoders repair both.
    marked(64, 48).jpegsave((dir / "cut.jpg").c_str());
    auto jpeg = TestSupport::readFile(dir / "cut.jpg");
    TestSupport::writeFile(dir / "cut.jpg", jpeg.substr(0, jpeg.size() - 40));
    marked(64, 48).pngsave((dir / "crc.png").c_str());
    auto png = TestSupport::readFile(dir / "crc.png");
    png.insert(33, std::string("\0\0\0\x04gAMA\0\0\xb1\x8f\0\0\0\0", 16));
    TestSupport::writeFile(dir / "crc.png", png);

    for (const auto& [ext, source] : {std::pair{"tiff", "cut.jpg"}, std::pair{"jpg", "crc.png"}}) {
        SCOPED_TRACE(source);
        auto run = TestSupport::runBrivlon({"--convert", ext, (dir / source).string()});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(ImageEngineTest, FilesOnlyQtCanReadAreDrawnAtTwiceTheirSize)
{
    // An X bitmap: Qt reads it, the image library does not.
    std::string bits = "0xff";
    for (int i = 1; i < 24; ++i)
        bits += ",0xff";
    TestSupport::writeFile(dir / "icon.xbm", "#define icon_width 16\n#define icon_height 12\n"
                                             "static unsigned char icon_bits[] = {" + bits + "};\n");
    auto image = VImage::new_from_file(ImageEngine::convert(dir / "icon.xbm", format("png")).c_str());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.height(), 24);
}

TEST_F(ImageEngineTest, WebPIsAnimatedForGifsAndStillWithTheLevelsQualityOtherwise)
{
    if (!FFmpeg::locate("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg in resources/bin";
    auto frames = srgb(marked(32, 32).bandjoin_const({255})
                           .join(VImage::black(32, 32, VImage::option()->set("bands", 4)) + 200, VIPS_DIRECTION_VERTICAL)
                           .join(marked(32, 32).flip(VIPS_DIRECTION_HORIZONTAL).bandjoin_const({255}),
                                 VIPS_DIRECTION_VERTICAL));
    frames.set("page-height", 32);
    frames.set("delay", std::vector<int>{100, 100, 100});
    frames.set("loop", 0);
    frames.gifsave((dir / "anim.gif").c_str());
    auto bytes = TestSupport::readFile(ImageEngine::convert(dir / "anim.gif", format("webp")));
    auto anim = bytes.find("ANIM");
    ASSERT_NE(anim, std::string::npos);
    EXPECT_EQ(bytes.substr(anim + 12, 2), std::string("\0\0", 2));  // loop count: for ever
    EXPECT_NE(bytes.find("ANMF", bytes.find("ANMF") + 4), std::string::npos);

    noisy().pngsave((dir / "noise.png").c_str());
    auto sizeAt = [&](QualityLevel level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        auto still = TestSupport::readFile(ImageEngine::convert(dir / "noise.png", format("webp")));
        EXPECT_EQ(still.substr(0, 4), "RIFF");
        EXPECT_EQ(still.find("ANIM"), std::string::npos);
        return still.size();
    };
    EXPECT_LT(sizeAt(QualityLevel::light), sizeAt(QualityLevel::max));
    EXPECT_EQ(files(), 5u);  // nothing temporary left beside the outputs
}

}
