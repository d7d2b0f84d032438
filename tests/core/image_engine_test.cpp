#include "core/engines/image_engine.h"

#include "core/base/error_log.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/tiff_metadata.h"
#include "support/test_support.h"

#include <poppler-qt6.h>

#include <QImage>

#include <gtest/gtest.h>

using namespace TestSupport;
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

    // A BMP, read by Qt: the image library's own reader of it is blocked in this process.
    static VImage fromBitmap(const fs::path& file)
    {
        const auto image = QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGBA8888);
        return VImage(vips_image_new_from_memory_copy(image.constBits(), size_t(image.sizeInBytes()), image.width(),
                          image.height(), 4, VIPS_FORMAT_UCHAR))
            .extract_band(0, VImage::option()->set("n", 3));
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
        auto out = ImageEngine::convert(dir / "photo.jpg", format(ext));
        auto image = VImage::new_from_file(out.c_str());
        // Turned a quarter clockwise: the red corner is now top-right.
        EXPECT_GT(pixel(out, 18, 1), 200);
        EXPECT_LT(pixel(out, 1, 1), 60);
        EXPECT_EQ(image.get_typeof("orientation") ? image.get_int("orientation") : 1, 1);
        EXPECT_TRUE(ext == "tiff" || std::string(image.get_string("exif-ifd0-Artist")).starts_with("Brivlon"));
    }
}

TEST_F(ImageEngineTest, TiffKeepsTheExifGpsAndIptcOfPhotosInEitherByteOrderAndHandsThemOn)
{
    // As phones and photo editors leave a picture: Exif with GPS in either byte order, IPTC
    // keywords inside Photoshop's resources. A TIFF holds them in its own directories and hands
    // them on to the other formats (IPTC only to JPEG).
    const auto exiftool = [&](const std::vector<std::string>& arguments) {
        auto run = runProgram("/usr/bin/exiftool", arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.out;
    };
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const auto photo = dir / ("foto-" + order + ".jpg");
        marked().jpegsave(photo.c_str(), VImage::option()->set("strip", true));
        exiftool({"-q", "-overwrite_original", "-ExifByteOrder=" + order, "-Artist=Ana Lima", "-Make=Fone",
            "-ExposureTime=1/50", "-GPSLatitude=1.5", "-GPSLatitudeRef=S", "-Keywords=praia", "-Keywords=sol",
            photo.string()});
        const auto out = ImageEngine::convert(photo, format("tiff"));
        EXPECT_GT(pixel(out, 1, 1), 200);
        EXPECT_EQ(VImage::new_from_file(out.c_str()).width(), 40);
        const std::string kept = "Ana Lima\nFone\n1/50\n-1.5\nS\n";
        for (const auto& [file, keywords] :
            {std::pair(out, "praia, sol\n"), std::pair(ImageEngine::convert(out, format("jpg")), "praia, sol\n"),
                std::pair(ImageEngine::convert(out, format("heic")), "")}) {
            SCOPED_TRACE(file.filename().string());
            EXPECT_EQ(exiftool({"-s3", "-a", "-Warning", file.string()}), "");
            EXPECT_EQ(exiftool({"-s3", "-Artist", "-Make", "-ExposureTime", "-GPSLatitude#", "-GPSLatitudeRef#",
                          "-Keywords", file.string()}),
                kept + keywords);
        }
    }
}

TEST_F(ImageEngineTest, SixteenBitPixelsAndColourProfileSurviveLosslessOutputs)
{
    auto ramp = (VImage::xyz(64, 32)[0] * 1000 + 123).cast(VIPS_FORMAT_USHORT);
    auto deep = VImage::bandjoin({ramp, ramp.flip(VIPS_DIRECTION_HORIZONTAL), VImage::black(64, 32) + 40000})
                    .cast(VIPS_FORMAT_USHORT)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    deep.pngsave((dir / "deep.png").c_str(), VImage::option()->set("profile", "srgb"));

    EXPECT_TRUE(VImage::new_from_file(ImageEngine::convert(dir / "deep.png", format("png")).c_str())
                    .get_typeof("icc-profile-data"));
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
        source.write_to_file((dir / "noise.tiff[compression=deflate]").c_str());
        auto out = ImageEngine::convert(dir / "noise.tiff", format("png")).string() + "[fail_on=warning]";
        EXPECT_EQ((VImage::new_from_file(out.c_str()) - source).abs().max(), 0) << source.width();
    }
    // Damage met halfway through the pixels, while slices are being written, fails the output.
    auto tiff = readFile(dir / "noise.tiff");
    writeFile(dir / "noise.tiff", tiff.replace(tiff.size() / 2, 9000, std::string(9000, 'Z')));
    EXPECT_THROW(ImageEngine::convert(dir / "noise.tiff", format("png")), ConversionError);
}

TEST_F(ImageEngineTest, AlphaIsLaidOnWhiteOnlyWhereTheFormatHasNone)
{
    // Opaque grey on the left half, fully transparent black on the right half.
    srgb((VImage::black(40, 20, VImage::option()->set("bands", 3)) + 128).bandjoin(VImage::xyz(40, 20)[0] < 20))
        .pngsave((dir / "clear.png").c_str());
    for (const std::string ext : {"jpg", "bmp"}) {
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "clear.png", format(ext)).string()));
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
    // A pure red corner stored as Display P3 numbers with the P3 profile.
    marked(8, 8).icc_transform("p3", VImage::option()->set("input_profile", "srgb")).pngsave((dir / "p3.png").c_str());
    for (const std::string ext : {"bmp", "gif"}) {
        QImage image(QString::fromStdString(ImageEngine::convert(dir / "p3.png", format(ext)).string()));
        EXPECT_GE(qRed(image.pixel(1, 1)), 250) << ext;
    }
    auto tiff = ImageEngine::convert(dir / "p3.png", format("tiff"));
    EXPECT_NEAR(pixel(tiff, 1, 1), pixel(dir / "p3.png", 1, 1), 1);
    EXPECT_TRUE(VImage::new_from_file(tiff.c_str()).get_typeof("icc-profile-data"));
}

TEST_F(ImageEngineTest, ProfilesAreTakenForSRGBByTheirDescription)
{
    // Real profiles as libvips writes them, and the fuzz target's seeds and kept crashes: the old
    // "desc" text, the newer UTF-16 "mluc" one, other descriptions, a tag count past the end.
    auto profile = [](const char* name) {
        size_t size = 0;
        const auto image = marked(4, 4).icc_transform(name, VImage::option()->set("input_profile", "srgb"));
        const auto* data = static_cast<const char*>(image.get_blob("icc-profile-data", &size));
        return std::string(data, size);
    };
    EXPECT_TRUE(ImageEngine::describesSRGB(profile("srgb")));
    EXPECT_FALSE(ImageEngine::describesSRGB(profile("p3")));
    const fs::path fuzz = fs::path(QT_TESTCASE_SOURCEDIR) / "fuzz";
    const std::pair<const char*, bool> inputs[]
        = {{"corpus/image_icc/srgb_desc.icc", true}, {"corpus/image_icc/mluc_wide.icc", true},
            {"corpus/image_icc/other.icc", false}, {"regressions/image_icc/tag_count_past_end", false}};
    for (const auto& [name, sRGB] : inputs)
        EXPECT_EQ(ImageEngine::describesSRGB(readFile(fuzz / name)), sRGB) << name;
}

TEST_F(ImageEngineTest, MalformedProfileAndExifBlocksAreIgnored)
{
    // Profiles: a header promising 20 tags it lacks, a tag pointing past the end, cut short.
    std::string icc(132, '\0');
    icc[131] = 20;
    auto pointsAway = icc.substr(0, 131) + '\1' + "desc" + std::string("\xff\xff\xff\x00\0\0\0\x10", 8);
    for (const auto& block : {icc, pointsAway, icc.substr(0, 130)})
        EXPECT_FALSE(ImageEngine::describesSRGB(block));
    writeFile(dir / "damaged.icc", icc);
    marked().tiffsave((dir / "damaged.tiff").c_str(), VImage::option()->set("profile", (dir / "damaged.icc").c_str()));
    EXPECT_NO_THROW(ImageEngine::convert(dir / "damaged.tiff", format("bmp")));

    // "Exif\0\0", a little-endian TIFF header, IFD0 with one entry: orientation (SHORT) 6.
    const std::string exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    auto reset = exif;
    ImageEngine::resetOrientation(reset);
    EXPECT_EQ(reset[24], 1);
    for (auto block :
        {exif.substr(0, 27), exif.substr(0, 10), exif.substr(0, 10) + '\x7f' + exif.substr(11), exif.substr(6, 3)}) {
        const auto before = block;
        ImageEngine::resetOrientation(block);
        EXPECT_EQ(block, before);
    }

    // Into a TIFF: a directory whose Exif pointer leads back to itself, counts past the end, a
    // cut block; IPTC resources that overrun or hold no records. The pixels come out whole.
    std::string loop(
        "II*\0\x08\0\0\0\x02\0\x3b\x01\x02\0\x04\0\0\0Ana\0\x69\x87\x04\0\x01\0\0\0\x08\0\0\0\0\0\0\0", 38);
    auto many = loop;
    many[8] = '\xff';
    const std::string resources("Photoshop 3.0\0"
                                "8BIM\x04\x04\0\0\xff\0\0\0\x1c\x02",
        28);
    EXPECT_EQ(TiffMetadata::iptcRecords(resources), "");
    EXPECT_EQ(TiffMetadata::iptcRecords(std::string("Photoshop 3.0\0"
                                                    "8BIM\x04\x0c\0\0\0\0\0\x01x\0",
                  28)),
        "");
    EXPECT_EQ(TiffMetadata::iptcRecords(std::string("Photoshop 3.0\0", 14)), "");
    for (const auto& [block, iptc] : std::vector<std::pair<std::string, std::string>>{{loop, resources}, {many, "\x1c"},
             {loop.substr(0, 30), ""}, {std::string("Exif\0\0MM\0*\0\0\0\x08\xff", 15), "x"}}) {
        ImageEngine::Properties props;
        props.exif = block;
        props.iptc = iptc;
        const auto out = ImageEngine::save(marked(), props, "tiff", FileSafety::NameFor(dir / "damaged.tiff"), 0.9);
        const auto image = VImage::new_from_file(out.c_str());
        EXPECT_EQ(image.width(), 40);
        EXPECT_GT(pixel(out, 1, 1), 200);
    }
}

TEST_F(ImageEngineTest, LossyFormatsFollowTheQualityLevel)
{
    srgb(VImage::gaussnoise(256, 256, VImage::option()->set("mean", 128)->set("sigma", 40))
        * std::vector<double>{1, 0.9, 0.8})
        .pngsave((dir / "noise.png").c_str());
    auto sizeAt = [&](const std::string& ext, QualityLevel level) {
        Task::Binder binder(Task::withQuality(Task::newJob(), level));
        return readFile(ImageEngine::convert(dir / "noise.png", format(ext))).size();
    };
    EXPECT_LT(sizeAt("jpg", QualityLevel::light), sizeAt("jpg", QualityLevel::high));
    EXPECT_TRUE(!FFmpeg::locate("ffmpeg") || sizeAt("webp", QualityLevel::light) < sizeAt("webp", QualityLevel::max));
}

TEST_F(ImageEngineTest, MergedPdfIsNamedAfterTheFirstWithCounterAndPagesSizedByResolution)
{
    // 300 × 200 pixels at 300 dpi, then a sideways photo without resolution: a JPEG stream, shown upright.
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
    EXPECT_EQ(page(first, 0).size(), QSize(72, 48));
    EXPECT_EQ(page(first, 0, 300).pixel(10, 10), qRgb(255, 0, 0));
    auto turned = page(first, 1);
    EXPECT_EQ(turned.size(), QSize(40, 80));
    EXPECT_TRUE(page(first, 2).isNull());
    EXPECT_GT(qRed(turned.pixel(37, 3)), 200);
    EXPECT_LT(qRed(turned.pixel(3, 3)), 60);
}

TEST_F(ImageEngineTest, FailedConversionsLeaveNoFile)
{
    writeFile(dir / "broken.png", "this is not a picture at all");
    marked().pngsave((dir / "fine.png").c_str());
    // More than a BMP's 32-bit sizes can state fails before any pixel is made.
    const auto huge = srgb(VImage::black(40000, 40000, VImage::option()->set("bands", 3)));
    using enum ConversionError::Kind;
    EXPECT_EQ(thrown(ImageEngine::mergeToPDF, std::vector{dir / "fine.png", dir / "broken.png"}).kind(), unreadable);
    EXPECT_EQ(
        thrown(ImageEngine::save, huge, ImageEngine::Properties{}, "bmp", dir / "h.bmp", 0.9).kind(), writeFailed);
    EXPECT_EQ(files(), 2u);

    // A PNG that ends after its header: the library's error is empty and its reason only a
    // warning, which the error log keeps rather than a line of nothing but the time.
    writeFile(dir / "cut.png", readFile(dir / "fine.png").substr(0, 33));
    EXPECT_EQ(thrown(ImageEngine::loadOriented, dir / "cut.png").kind(), unreadable);
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("Z  VIPS: not enough data")) << ErrorLog::recent(1);
}

TEST_F(ImageEngineTest, ProgramShortOfMemoryOrKilledLeavesNoPartialOutput)
{
    const auto big = dir / "big.png";
    srgb(VImage::black(8000, 8000, VImage::option()->set("bands", 3))).pngsave(big.c_str());
    // Below, inside and above the memory the conversion needs: a complete file or none.
    for (const std::string limit : {"--as=700000000", "--as=1000000000", "--as=1300000000"}) {
        runProgram("/usr/bin/prlimit", {limit, BRIVLON_BINARY, "--convert", "bmp", big.string()});
        EXPECT_TRUE(files() == 1 || fs::file_size(dir / "big.bmp") == 54u + 8000u * 8000u * 3u) << limit;
        fs::remove(dir / "big.bmp");
    }
    runBrivlon({"--convert", "tiff", big.string()}, 0.4);
    EXPECT_TRUE(!fs::exists(dir / "big.tiff") || fs::file_size(dir / "big.tiff") > 8000u * 8000u * 3u);
    EXPECT_LE(files(), 2u);
}

TEST_F(ImageEngineTest, RepairedDamageConvertsWithoutChatter)
{
    // A PNG whose side chunk fails its checksum: the decoder repairs it. A JPEG cut short would
    // come out with its missing part grey: that one fails (see HardeningTest.WrongSuccess).
    marked(64, 48).pngsave((dir / "crc.png").c_str());
    auto png = readFile(dir / "crc.png");
    writeFile(dir / "crc.png", png.insert(33, std::string("\0\0\0\x04gAMA\0\0\xb1\x8f\0\0\0\0", 16)));
    auto run = runBrivlon({"--convert", "tiff", (dir / "crc.png").string()});
    EXPECT_TRUE(run.exitCode == 0 && run.err.empty()) << run.err;
}

}

TEST_F(ImageEngineTest, FloatAndSixteenBitSamplesComeOutAlikeInEveryWriter)
{
    // As HDR tools and scientific cameras leave them: 32-bit float RGB (read as linear scRGB),
    // 16-bit RGB and a float grey ramp. Every writer shows the same picture the PNG does.
    const auto ramp = VImage::xyz(64, 48).cast(VIPS_FORMAT_FLOAT);
    const auto rgb = ramp.linear({1.0 / 64, 1.0 / 48}, {0.0, 0.0});
    rgb.bandjoin(rgb.extract_band(0))
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB))
        .tiffsave((dir / "float.tif").c_str());
    srgb(marked(64, 48))
        .cast(VIPS_FORMAT_USHORT)
        .linear(257, 0)
        .cast(VIPS_FORMAT_USHORT)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .tiffsave((dir / "deep.tif").c_str());
    for (const std::string source : {"float.tif", "deep.tif"}) {
        const auto eightBits = [](const VImage& image) {
            return image.format() == VIPS_FORMAT_UCHAR ? image : image.colourspace(VIPS_INTERPRETATION_sRGB);
        };
        const auto reference
            = eightBits(VImage::new_from_file(ImageEngine::convert(dir / source, format("png")).c_str()));
        for (const std::string ext : {"jpg", "heic", "avif", "gif", "bmp", "webp", "tiff"}) {
            SCOPED_TRACE(source + " → " + ext);
            const auto file = ImageEngine::convert(dir / source, format(ext));
            const auto out = ext == "bmp" ? fromBitmap(file) : VImage::new_from_file(file.c_str());
            const auto eight = eightBits(out);
            EXPECT_NEAR(eight.extract_band(0, VImage::option()->set("n", 3)).avg(), reference.avg(), 6);
            EXPECT_NEAR(eight.extract_band(0).getpoint(60, 44)[0], reference.getpoint(60, 44)[0], 24);
        }
    }
}

TEST_F(ImageEngineTest, RefusalsForSizeShowTheNeedAboveTheBound)
{
    // The least need refused, whatever the bound is: its figure must still read above the bound's.
    double allowed = 1 << 20, refused = 1e12;
    while (refused - allowed > 1) {
        const double middle = std::floor((allowed + refused) / 2);
        try {
            ImageEngine::requireHeld(1, middle);
            allowed = middle;
        } catch (const ConversionError&) {
            refused = middle;
        }
    }
    for (const double need : {refused, refused * 1.04, refused * 1.6}) {
        const std::string message = thrown([&] { ImageEngine::requireHeld(1, need); }).message();
        const std::string needs = "precisaria de ", bound = "o máximo é ";
        const auto at = message.find(needs), most = message.find(bound);
        ASSERT_TRUE(at != std::string::npos && most != std::string::npos) << message;
        const auto figure = [&](size_t from) {
            return std::stod(QString::fromStdString(message.substr(from, message.find(' ', from) - from))
                                 .replace(',', '.')
                                 .toStdString());
        };
        EXPECT_GT(figure(at + needs.size()), figure(most + bound.size())) << message;
    }
}
