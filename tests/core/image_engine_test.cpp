#include "core/image_engine.h"

#include "core/conversion_error.h"
#include "core/ffmpeg.h"
#include "core/quality.h"
#include "core/settings.h"
#include "core/task.h"
#include "support/test_support.h"

#include <poppler-qt6.h>

#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

using TestSupport::TempDir;
using vips::VImage;

namespace {

OutputFormat format(const std::string& ext)
{
    return {ext, ext, false};
}

class ImageEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { VIPS_INIT("image-engine-test"); }

    // A landscape w × h picture: black, with a red block in its top-left corner.
    static VImage marked(int w = 40, int h = 20)
    {
        auto image = VImage::black(w, h, VImage::option()->set("bands", 3)).copy(
            VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        image = image.cast(VIPS_FORMAT_UCHAR);
        image.draw_rect({255, 0, 0}, 0, 0, w / 4, h / 4, VImage::option()->set("fill", true));
        return image;
    }

    // Opaque grey on the left half, fully transparent black on the right half.
    static VImage halfTransparent()
    {
        auto rgb = VImage::black(40, 20, VImage::option()->set("bands", 3)) + 128;
        auto alpha = VImage::black(20, 20).embed(0, 0, 40, 20) + 0;
        alpha.draw_rect({255}, 0, 0, 20, 20, VImage::option()->set("fill", true));
        return rgb.cast(VIPS_FORMAT_UCHAR)
            .bandjoin(alpha.cast(VIPS_FORMAT_UCHAR))
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }

    static VImage noisy(int w = 256, int h = 256)
    {
        auto noise = VImage::gaussnoise(w, h, VImage::option()->set("mean", 128)->set("sigma", 40));
        return VImage::bandjoin({noise, noise.flip(VIPS_DIRECTION_VERTICAL), noise.flip(VIPS_DIRECTION_HORIZONTAL)})
            .cast(VIPS_FORMAT_UCHAR)
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }

    static std::vector<double> pixel(const VImage& image, int x, int y) { return image.getpoint(x, y); }

    static size_t filesIn(const fs::path& folder)
    {
        return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

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
        fs::path source = dir / "photo.jpg";
        auto out = ImageEngine::convert(source, format(ext));
        auto image = VImage::new_from_file(out.c_str());
        ASSERT_EQ(image.width(), 20);
        ASSERT_EQ(image.height(), 40);
        // Turned a quarter clockwise: the red corner is now top-right.
        EXPECT_GT(pixel(image, 18, 1)[0], 200);
        EXPECT_LT(pixel(image, 1, 1)[0], 60);
        if (image.get_typeof("orientation")) {
            EXPECT_EQ(image.get_int("orientation"), 1);
        }
        if (ext != "tiff") {
            ASSERT_TRUE(image.get_typeof("exif-ifd0-Artist"));
            EXPECT_NE(std::string(image.get_string("exif-ifd0-Artist")).find("Brivlon"), std::string::npos);
        }
    }
}

TEST_F(ImageEngineTest, SixteenBitPixelsAndColourProfileSurviveLosslessOutputs)
{
    // A 16-bit RGB ramp with an embedded profile.
    auto ramp = (VImage::xyz(64, 32)[0] * 1000 + 123).cast(VIPS_FORMAT_USHORT);
    auto deep = VImage::bandjoin({ramp, ramp.flip(VIPS_DIRECTION_HORIZONTAL), VImage::black(64, 32) + 40000})
                    .cast(VIPS_FORMAT_USHORT)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    auto profiled = marked(64, 32).icc_transform("srgb");  // attaches vips's sRGB profile
    size_t profileSize = 0;
    profiled.get_blob("icc-profile-data", &profileSize);
    deep.set("icc-profile-data", nullptr, const_cast<void*>(profiled.get_blob("icc-profile-data", &profileSize)),
             profileSize);
    deep.pngsave((dir / "deep.png").c_str());

    auto picture = ImageEngine::loadOriented(dir / "deep.png");
    ImageEngine::save(picture.image, picture.props, "png", dir / "copy.png", 0.9);
    auto copy = VImage::new_from_file((dir / "copy.png").c_str());
    EXPECT_EQ(copy.format(), VIPS_FORMAT_USHORT);
    EXPECT_TRUE(copy.get_typeof("icc-profile-data"));
    EXPECT_EQ((copy - VImage::new_from_file((dir / "deep.png").c_str())).abs().max(), 0);

    auto pdf = ImageEngine::convert(dir / "deep.png", format("pdf"));
    auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
    ASSERT_TRUE(document);
    auto page = document->page(0)->renderToImage(72, 72);
    ASSERT_EQ(page.width(), 64);
    EXPECT_NEAR(qBlue(page.pixel(10, 10)), 40000 / 257, 3);
    EXPECT_NEAR(qRed(page.pixel(63, 10)), (63 * 1000 + 123) / 257, 3);
}

TEST_F(ImageEngineTest, AlphaIsLaidOnWhiteOnlyForJpegAndBmp)
{
    halfTransparent().pngsave((dir / "clear.png").c_str());
    fs::path source = dir / "clear.png";

    for (const std::string ext : {"jpg", "bmp"}) {
        SCOPED_TRACE(ext);
        auto out = ImageEngine::convert(source, format(ext));
        QImage image(QString::fromStdString(out.string()));
        ASSERT_FALSE(image.isNull());
        EXPECT_FALSE(image.hasAlphaChannel());
        EXPECT_GE(qRed(image.pixel(30, 10)), 250);
        EXPECT_GE(qBlue(image.pixel(30, 10)), 250);
        EXPECT_NEAR(qGreen(image.pixel(5, 10)), 128, 4);
    }
    for (const std::string ext : {"png", "tiff", "heic", "gif"}) {
        SCOPED_TRACE(ext);
        auto out = ImageEngine::convert(source, format(ext));
        auto image = VImage::new_from_file(out.c_str());
        ASSERT_TRUE(image.has_alpha());
        EXPECT_LT(pixel(image, 30, 10).back(), 5);
        EXPECT_GT(pixel(image, 5, 10).back(), 250);
    }
}

TEST_F(ImageEngineTest, WideGamutColoursAreTurnedIntoSRGBForFormatsWithoutProfiles)
{
    // Pure red, stored as Display P3 numbers with the P3 profile attached.
    auto red = (VImage::black(8, 8, VImage::option()->set("bands", 3)) + std::vector<double>{255, 0, 0})
                   .cast(VIPS_FORMAT_UCHAR)
                   .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    auto p3 = red.icc_transform("p3", VImage::option()->set("input_profile", "srgb"));
    ASSERT_LT(pixel(p3, 1, 1)[0], 245);
    p3.pngsave((dir / "p3.png").c_str());

    for (const std::string ext : {"bmp", "gif"}) {
        SCOPED_TRACE(ext);
        auto out = ImageEngine::convert(dir / "p3.png", format(ext));
        QImage image(QString::fromStdString(out.string()));
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(qRed(image.pixel(1, 1)), 250);
        EXPECT_LE(qGreen(image.pixel(1, 1)), 8);
    }
    // Formats that carry the profile keep the numbers and the profile.
    auto tiff = VImage::new_from_file(ImageEngine::convert(dir / "p3.png", format("tiff")).c_str());
    EXPECT_NEAR(pixel(tiff, 1, 1)[0], pixel(p3, 1, 1)[0], 1);
    EXPECT_TRUE(tiff.get_typeof("icc-profile-data"));
}

TEST_F(ImageEngineTest, EveryOutputFormatReadsBackWithTheSameSize)
{
    marked(64, 48).pngsave((dir / "pic.png").c_str());
    for (const std::string ext : {"jpg", "heic", "avif", "tiff", "bmp", "gif"}) {
        SCOPED_TRACE(ext);
        auto out = ImageEngine::convert(dir / "pic.png", format(ext));
        EXPECT_EQ(out, dir / ("pic." + ext));
        QImage viaQt(QString::fromStdString(out.string()));
        auto image = ext == "bmp" ? VImage() : VImage::new_from_file(out.c_str());
        EXPECT_EQ(ext == "bmp" ? viaQt.width() : image.width(), 64);
        EXPECT_EQ(ext == "bmp" ? viaQt.height() : image.height(), 48);
    }
    // Nothing is overwritten: a second run takes the next free name.
    EXPECT_EQ(ImageEngine::convert(dir / "pic.png", format("jpg")), dir / "pic 2.jpg");
}

TEST_F(ImageEngineTest, QualityLevelSetsTheCompressionFactor)
{
    EXPECT_EQ(ImageEngine::qualityFactor(QualityLevel::max), 1.0);
    EXPECT_EQ(ImageEngine::qualityFactor(QualityLevel::light), 0.65);
    noisy().pngsave((dir / "noise.png").c_str());

    auto sizeAt = [&](std::optional<QualityLevel> level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        auto out = ImageEngine::convert(dir / "noise.png", format("jpg"));
        return fs::file_size(out);
    };
    auto light = sizeAt(QualityLevel::light);
    auto web = sizeAt(QualityLevel::web);
    auto max = sizeAt(QualityLevel::max);
    EXPECT_LT(light, web);
    EXPECT_LT(web, max);

    // Without an override the saved choice of the group decides.
    Defaults::set("quality.jpg", "light");
    auto saved = sizeAt(std::nullopt);
    Defaults::remove("quality.jpg");
    EXPECT_EQ(saved, light);
    auto fallback = sizeAt(std::nullopt);
    EXPECT_GT(fallback, web);
    EXPECT_LT(fallback, max);
}

TEST_F(ImageEngineTest, MergedPdfIsNamedAfterTheFirstWithCounterAndPagesSizedByResolution)
{
    // 300 × 200 pixels at 300 dpi, then 144 × 72 pixels without a resolution, then a photo
    // taken sideways, which stays a JPEG stream in the PDF but must show upright.
    marked(300, 200).pngsave((dir / "a.png").c_str(),
                             VImage::option()->set("compression", 1));
    auto dense = VImage::new_from_file((dir / "a.png").c_str()).copy(
        VImage::option()->set("xres", 300 / 25.4)->set("yres", 300 / 25.4));
    dense.pngsave((dir / "a300.png").c_str());
    marked(144, 72).jpegsave((dir / "b.jpg").c_str());
    auto sideways = marked(80, 40);
    sideways.set("orientation", 6);
    sideways.jpegsave((dir / "c.jpg").c_str(), VImage::option()->set("Q", 100));

    std::vector<fs::path> sources{dir / "a300.png", dir / "b.jpg", dir / "c.jpg"};
    auto first = ImageEngine::mergeToPDF(sources);
    EXPECT_EQ(first.filename(), "a300 \u2013 combinado.pdf");
    EXPECT_EQ(ImageEngine::mergeToPDF(sources).filename(), "a300 \u2013 combinado 2.pdf");
    EXPECT_EQ(ImageEngine::mergeToPDF(sources).filename(), "a300 \u2013 combinado 3.pdf");

    auto document = Poppler::Document::load(QString::fromStdString(first.string()));
    ASSERT_TRUE(document);
    ASSERT_EQ(document->numPages(), 3);
    auto size = [&](int index) { return document->page(index)->pageSizeF(); };
    EXPECT_NEAR(size(0).width(), 72, 0.01);
    EXPECT_NEAR(size(0).height(), 48, 0.01);
    EXPECT_NEAR(size(1).width(), 144, 0.01);
    EXPECT_NEAR(size(1).height(), 72, 0.01);
    EXPECT_NEAR(size(2).width(), 40, 0.01);
    EXPECT_NEAR(size(2).height(), 80, 0.01);

    // Rendered at 72 dpi the pages show their pixels upright.
    auto lossless = document->page(0)->renderToImage(300, 300);
    EXPECT_GT(qRed(lossless.pixel(10, 10)), 240);
    EXPECT_LT(qGreen(lossless.pixel(10, 10)), 15);
    EXPECT_LT(qRed(lossless.pixel(250, 150)), 15);
    auto turned = document->page(2)->renderToImage(72, 72);
    ASSERT_EQ(turned.width(), 40);
    EXPECT_GT(qRed(turned.pixel(37, 3)), 200);
    EXPECT_LT(qRed(turned.pixel(3, 3)), 60);
}

TEST_F(ImageEngineTest, TransparentImageBecomesPdfPageWithItsAlpha)
{
    halfTransparent().pngsave((dir / "clear.png").c_str());
    auto out = ImageEngine::convert(dir / "clear.png", format("pdf"));
    EXPECT_EQ(out, dir / "clear.pdf");
    auto document = Poppler::Document::load(QString::fromStdString(out.string()));
    ASSERT_TRUE(document);
    auto page = document->page(0)->renderToImage(72, 72);
    ASSERT_EQ(page.width(), 40);
    EXPECT_NEAR(qGreen(page.pixel(5, 10)), 128, 3);
    EXPECT_GT(qGreen(page.pixel(30, 10)), 250);  // the page's white shows through
}

TEST_F(ImageEngineTest, UnreadableAndUnsupportedInputsLeaveNoFile)
{
    TestSupport::writeFile(dir / "broken.png", "this is not a picture at all");
    marked().pngsave((dir / "fine.png").c_str());

    struct Case {
        std::function<void()> run;
        ConversionError::Kind expected;
    };
    std::vector<Case> cases{
        {[&] { ImageEngine::convert(dir / "broken.png", format("jpg")); }, ConversionError::Kind::unreadable},
        {[&] { ImageEngine::convert(dir / "broken.png", format("pdf")); }, ConversionError::Kind::unreadable},
        {[&] { ImageEngine::convert(dir / "missing.png", format("jpg")); }, ConversionError::Kind::unreadable},
        {[&] { ImageEngine::convert(dir / "fine.png", format("mp4")); }, ConversionError::Kind::unsupported},
        {[&] { ImageEngine::mergeToPDF({dir / "fine.png", dir / "broken.png"}); }, ConversionError::Kind::unreadable},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        try {
            cases[i].run();
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), cases[i].expected);
        }
        EXPECT_EQ(filesIn(dir.path()), 2u);
    }
}

TEST_F(ImageEngineTest, FilesOnlyQtCanReadAreDrawnAtTwiceTheirSize)
{
    // An X bitmap of this form: Qt reads it, the image library does not.
    std::string bits;
    for (int i = 0; i < 24; ++i)
        bits += std::string(i ? "," : "") + "0xff";
    TestSupport::writeFile(dir / "icon.xbm", "#define icon_width 16\n#define icon_height 12\n"
                                             "static unsigned char icon_bits[] = {" + bits + "};\n");

    auto picture = ImageEngine::loadOriented(dir / "icon.xbm");
    EXPECT_EQ(picture.image.width(), 32);
    EXPECT_EQ(picture.image.height(), 24);
    EXPECT_FALSE(picture.props.exif);
    EXPECT_FALSE(picture.props.dpi);
    auto out = ImageEngine::convert(dir / "icon.xbm", format("png"));
    auto image = VImage::new_from_file(out.c_str());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.height(), 24);
}

// WebP goes through ffmpeg; without one these wait for it.
class ImageEngineWebPTest : public ImageEngineTest {
protected:
    void SetUp() override
    {
        if (!FFmpeg::locate("ffmpeg"))
            GTEST_SKIP() << "no ffmpeg in resources/bin";
    }
};

TEST_F(ImageEngineWebPTest, AnimatedGifBecomesLoopingAnimatedWebP)
{
    auto frames = marked(32, 32).bandjoin_const({255})
                      .join(VImage::black(32, 32, VImage::option()->set("bands", 4)) + 200, VIPS_DIRECTION_VERTICAL)
                      .join(marked(32, 32).flip(VIPS_DIRECTION_HORIZONTAL).bandjoin_const({255}),
                            VIPS_DIRECTION_VERTICAL)
                      .cast(VIPS_FORMAT_UCHAR)
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    frames.set("page-height", 32);
    frames.set("delay", std::vector<int>{100, 100, 100});
    frames.set("loop", 0);
    frames.gifsave((dir / "anim.gif").c_str());

    auto out = ImageEngine::convert(dir / "anim.gif", format("webp"));
    EXPECT_EQ(out, dir / "anim.webp");
    auto bytes = TestSupport::readFile(out);
    auto anim = bytes.find("ANIM");
    ASSERT_NE(anim, std::string::npos);
    EXPECT_EQ(bytes.substr(anim + 12, 2), std::string("\0\0", 2));  // loop count: for ever
    size_t frameCount = 0;
    for (auto at = bytes.find("ANMF"); at != std::string::npos; at = bytes.find("ANMF", at + 4))
        ++frameCount;
    EXPECT_GE(frameCount, 2u);
    EXPECT_EQ(filesIn(dir.path()), 2u);  // no temporary left beside it
}

TEST_F(ImageEngineWebPTest, StillImageBecomesSingleFrameWebPAtTheLevelsQuality)
{
    noisy().pngsave((dir / "noise.png").c_str());
    auto sizeAt = [&](QualityLevel level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        auto out = ImageEngine::convert(dir / "noise.png", format("webp"));
        auto bytes = TestSupport::readFile(out);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(bytes.find("ANIM"), std::string::npos);
        return bytes.size();
    };
    EXPECT_LT(sizeAt(QualityLevel::light), sizeAt(QualityLevel::max));
}

}
