#include "core/image_engine.h"

#include "core/conversion_error.h"
#include "core/ffmpeg.h"
#include "core/quality.h"
#include "core/task.h"
#include "support/test_support.h"

#include <poppler-qt6.h>

#include <QImage>

#include <gtest/gtest.h>

using vips::VImage;

namespace {

OutputFormat format(const std::string& ext) { return {ext, ext, false}; }

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

    // Band `band` of a pixel of a file; -1 for the last band.
    static double pixel(const fs::path& file, int x, int y, int band = 0)
    {
        auto values = VImage::new_from_file(file.c_str()).getpoint(x, y);
        return band < 0 ? values.back() : values[size_t(band)];
    }

    static QImage page(const fs::path& pdf, int index, double dpi = 72)
    {
        auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
        return document && index < document->numPages() ? document->page(index)->renderToImage(dpi, dpi) : QImage();
    }

    size_t files() const { return size_t(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator())); }

    TestSupport::TempDir dir;
};

TEST_F(ImageEngineTest, OrientedPhotoComesOutUprightWithOrientationOneAndItsExif)
{
    auto photo = marked();
    photo.set("orientation", 6);
    photo.set("exif-ifd0-Artist", "Brivlon");
    photo.jpegsave((dir / "photo.jpg").c_str(), VImage::option()->set("Q", 100));
    for (const std::string ext : {"png", "tiff", "heic", "jpg"}) {
        SCOPED_TRACE(ext);
        auto out = ImageEngine::convert(dir / "photo.jpg", format(ext));
        auto image = VImage::new_from_file(out.c_str());
        ASSERT_EQ(image.width(), 20);
        // Turned a quarter clockwise: the red corner is now top-right.
        EXPECT_GT(pixel(out, 18, 1), 200);
        EXPECT_LT(pixel(out, 1, 1), 60);
        EXPECT_EQ(image.get_typeof("orientation") ? image.get_int("orientation") : 1, 1);
        EXPECT_TRUE(
            ext == "tiff" || std::string(image.get_string("exif-ifd0-Artist")).find("Brivlon") != std::string::npos);
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

    auto copy = VImage::new_from_file(ImageEngine::convert(dir / "deep.png", format("png")).c_str());
    EXPECT_TRUE(copy.get_typeof("icc-profile-data"));
    auto rendered = page(ImageEngine::convert(dir / "deep.png", format("pdf")), 0);
    EXPECT_NEAR(qBlue(rendered.pixel(10, 10)), 40000 / 257, 3);
    EXPECT_NEAR(qRed(rendered.pixel(63, 10)), (63 * 1000 + 123) / 257, 3);
}

TEST_F(ImageEngineTest, LosslessPngKeepsEveryPixelAcrossItsCompressedSlices)
{
    // Noise defeats the row filters, the sizes split into uneven slices, strict reading checks every sum.
    auto plane = VImage::gaussnoise(1201, 2003, VImage::option()->set("mean", 128)->set("sigma", 60));
    auto colour = VImage::bandjoin({plane, plane.flip(VIPS_DIRECTION_VERTICAL), plane.flip(VIPS_DIRECTION_HORIZONTAL)});
    auto deep = (colour * 250)
                    .cast(VIPS_FORMAT_USHORT)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    for (const auto& source :
        {srgb(colour.bandjoin(plane)), deep, VImage::gaussnoise(3, 200001).cast(VIPS_FORMAT_UCHAR)}) {
        source.tiffsave(
            (dir / "noise.tiff").c_str(), VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE));
        auto out = ImageEngine::convert(dir / "noise.tiff", format("png"));
        auto back = VImage::new_from_file(out.c_str(), VImage::option()->set("fail_on", VIPS_FAIL_ON_WARNING));
        EXPECT_EQ((back - source).abs().max(), 0) << source.width();
    }
    // Damage met halfway through the pixels, while slices are being written, fails the output.
    auto tiff = TestSupport::readFile(dir / "noise.tiff");
    TestSupport::writeFile(dir / "noise.tiff", tiff.replace(tiff.size() / 2, 9000, std::string(9000, 'Z')));
    EXPECT_THROW(ImageEngine::convert(dir / "noise.tiff", format("png")), ConversionError);
}

TEST_F(ImageEngineTest, AlphaIsLaidOnWhiteOnlyWhereTheFormatHasNone)
{
    // Opaque grey on the left half, fully transparent black on the right half.
    auto alpha = VImage::black(40, 20);
    alpha.draw_rect({255}, 0, 0, 20, 20, VImage::option()->set("fill", true));
    srgb((VImage::black(40, 20, VImage::option()->set("bands", 3)) + 128).bandjoin(alpha))
        .pngsave((dir / "clear.png").c_str());
    for (const std::string ext : {"jpg", "bmp"}) {
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "clear.png", format(ext)).string()));
        ASSERT_EQ(image.size(), QSize(40, 20)) << ext;
        EXPECT_EQ(image.pixel(30, 10), qRgb(255, 255, 255)) << ext;
        EXPECT_NEAR(qGreen(image.pixel(5, 10)), 128, 4) << ext;
    }
    for (const std::string ext : {"png", "tiff", "heic", "avif", "gif", "webp"}) {
        auto out = ImageEngine::convert(dir / "clear.png", format(ext));
        EXPECT_LT(pixel(out, 30, 10, -1), 5) << ext;
        EXPECT_GT(pixel(out, 5, 10, -1), 250) << ext;
    }
    // In a PDF the page's white shows through.
    auto rendered = page(ImageEngine::convert(dir / "clear.png", format("pdf")), 0);
    EXPECT_NEAR(qGreen(rendered.pixel(5, 10)), 128, 3);
    EXPECT_GT(qGreen(rendered.pixel(30, 10)), 250);
}

TEST_F(ImageEngineTest, WideGamutColoursBecomeSRGBOnlyForFormatsWithoutProfiles)
{
    // Pure red stored as Display P3 numbers with the P3 profile.
    srgb(VImage::black(8, 8, VImage::option()->set("bands", 3)) + std::vector<double>{255, 0, 0})
        .icc_transform("p3", VImage::option()->set("input_profile", "srgb"))
        .pngsave((dir / "p3.png").c_str());
    ASSERT_LT(pixel(dir / "p3.png", 1, 1), 245);
    for (const std::string ext : {"bmp", "gif"}) {
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "p3.png", format(ext)).string()));
        EXPECT_GE(qRed(image.pixel(1, 1)), 250) << ext;
        EXPECT_LE(qGreen(image.pixel(1, 1)), 8) << ext;
    }
    auto tiff = ImageEngine::convert(dir / "p3.png", format("tiff"));
    EXPECT_NEAR(pixel(tiff, 1, 1), pixel(dir / "p3.png", 1, 1), 1);
    EXPECT_TRUE(VImage::new_from_file(tiff.c_str()).get_typeof("icc-profile-data"));
}

TEST_F(ImageEngineTest, MalformedProfileAndExifBlocksAreIgnored)
{
    // Profiles: a header promising 20 tags it lacks, a tag pointing past the end, cut short.
    std::string icc(132, '\0');
    icc[131] = 20;
    auto pointsAway = icc.substr(0, 131) + '\1' + "desc" + std::string("\xff\xff\xff\x00\0\0\0\x10", 8);
    for (const auto& block : {icc, pointsAway, icc.substr(0, 130)})
        EXPECT_FALSE(ImageEngine::describesSRGB(block));
    auto damaged = marked();
    damaged.set("icc-profile-data", nullptr, icc.data(), icc.size());
    damaged.tiffsave((dir / "damaged.tiff").c_str());
    EXPECT_NO_THROW(ImageEngine::convert(dir / "damaged.tiff", format("bmp")));

    // "Exif\0\0", a little-endian TIFF header, IFD0 with one entry: orientation (SHORT) 6.
    const std::string exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    auto reset = exif, farIFD = exif;
    ImageEngine::resetOrientation(reset);
    EXPECT_EQ(reset[24], 1);
    farIFD[10] = '\x7f';
    for (auto block : {exif.substr(0, 27), exif.substr(0, 10), farIFD, exif.substr(6, 3)}) {
        const auto before = block;
        ImageEngine::resetOrientation(block);
        EXPECT_EQ(block, before);
    }
}

TEST_F(ImageEngineTest, LossyFormatsFollowTheQualityLevel)
{
    srgb(VImage::gaussnoise(256, 256, VImage::option()->set("mean", 128)->set("sigma", 40))
        * std::vector<double>{1, 0.9, 0.8})
        .pngsave((dir / "noise.png").c_str());
    auto sizeAt = [&](const std::string& ext, QualityLevel level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        return TestSupport::readFile(ImageEngine::convert(dir / "noise.png", format(ext))).size();
    };
    EXPECT_LT(sizeAt("jpg", QualityLevel::light), sizeAt("jpg", QualityLevel::high));
    EXPECT_TRUE(!FFmpeg::locate("ffmpeg") || sizeAt("webp", QualityLevel::light) < sizeAt("webp", QualityLevel::max));
}

TEST_F(ImageEngineTest, MergedPdfIsNamedAfterTheFirstWithCounterAndPagesSizedByResolution)
{
    // 300 × 200 pixels at 300 dpi, then a photo taken sideways without a resolution, which
    // stays a JPEG stream in the PDF but must show upright.
    marked(300, 200)
        .copy(VImage::option()->set("xres", 300 / 25.4)->set("yres", 300 / 25.4))
        .pngsave((dir / "a300.png").c_str());
    auto sideways = marked(80, 40);
    sideways.set("orientation", 6);
    sideways.jpegsave((dir / "c.jpg").c_str(), VImage::option()->set("Q", 100));

    std::vector<fs::path> sources{dir / "a300.png", dir / "c.jpg"};
    auto first = ImageEngine::mergeToPDF(sources);
    EXPECT_EQ(first.filename(), "a300 \u2013 combinado.pdf");
    EXPECT_EQ(ImageEngine::mergeToPDF(sources).filename(), "a300 \u2013 combinado 2.pdf");
    auto document = Poppler::Document::load(QString::fromStdString(first.string()));
    ASSERT_EQ(document->numPages(), 2);
    EXPECT_EQ(document->page(0)->pageSizeF().toSize(), QSize(72, 48));
    EXPECT_EQ(document->page(1)->pageSizeF().toSize(), QSize(40, 80));
    auto lossless = page(first, 0, 300);
    EXPECT_EQ(lossless.pixel(10, 10), qRgb(255, 0, 0));
    auto turned = page(first, 1);
    EXPECT_GT(qRed(turned.pixel(37, 3)), 200);
    EXPECT_LT(qRed(turned.pixel(3, 3)), 60);
}

TEST_F(ImageEngineTest, FailedConversionsLeaveNoFile)
{
    TestSupport::writeFile(dir / "broken.png", "this is not a picture at all");
    marked().pngsave((dir / "fine.png").c_str());
    // More than a BMP's 32-bit sizes can state fails before any pixel is made.
    const auto huge = srgb(VImage::black(40000, 40000, VImage::option()->set("bands", 3)));
    const std::pair<std::function<void()>, ConversionError::Kind> cases[] = {
        {[&] {
             ImageEngine::mergeToPDF({dir / "fine.png", dir / "broken.png"});
         },
            ConversionError::Kind::unreadable},
        {[&] {
             ImageEngine::save(huge, {}, "bmp", dir / "huge.bmp", 0.9);
         },
            ConversionError::Kind::writeFailed},
    };
    for (const auto& [run, expected] : cases) {
        try {
            run();
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), expected);
        }
        EXPECT_EQ(files(), 2u);
    }
}

TEST_F(ImageEngineTest, ProgramShortOfMemoryOrKilledLeavesNoPartialOutput)
{
    const auto big = dir / "big.png";
    srgb(VImage::black(8000, 8000, VImage::option()->set("bands", 3))).pngsave(big.c_str());
    // Below, inside and above the memory the conversion needs: a complete file or none.
    for (const std::string limit : {"--as=700000000", "--as=1000000000", "--as=1300000000"}) {
        auto run
            = TestSupport::runProgram("/usr/bin/prlimit", {limit, BRIVLON_BINARY, "--convert", "bmp", big.string()});
        if (run.exitCode == 0)
            EXPECT_EQ(fs::file_size(dir / "big.bmp"), 54u + 8000u * 8000u * 3u) << limit;
        else
            EXPECT_EQ(files(), 1u) << limit;
        fs::remove(dir / "big.bmp");
    }
    TestSupport::runBrivlon({"--convert", "tiff", big.string()}, 0.4);
    EXPECT_TRUE(!fs::exists(dir / "big.tiff") || fs::file_size(dir / "big.tiff") > 8000u * 8000u * 3u);
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
    TestSupport::writeFile(dir / "crc.png", png.insert(33, std::string("\0\0\0\x04gAMA\0\0\xb1\x8f\0\0\0\0", 16)));
    auto run = TestSupport::runBrivlon({"--convert", "tiff", (dir / "cut.jpg").string(), (dir / "crc.png").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

}
