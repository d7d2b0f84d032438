#include "support/test_support.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <vips/vips8>

// Pictures whose files say more than the common readers take: channels in bit fields of any
// width, resolutions without a unit, pictures one pixel wide, and the kinds only a second reader
// decodes. Through the command line, their pixels compared with what the test drew or what the
// format's own tools decode.
using namespace TestSupport;
using vips::VImage;

namespace {

struct PictureDecoders : ::testing::Test {
    static void SetUpTestSuite() { VIPS_INIT("picture-decoders-test"); }

    TempDir dir;

    void python(const std::string& code)
    {
        const auto run = runProgram("/usr/bin/python3", {"-c", code}, 60, {}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    // The converted file, which must have been made.
    fs::path converted(const std::string& format, const std::string& file)
    {
        const auto run = runBrivlon({"--convert", format, (dir / file).string()});
        EXPECT_EQ(run.exitCode, 0) << file << ": " << run.err;
        return run.out.empty() ? fs::path() : fs::path(run.out.substr(0, run.out.size() - 1));
    }

    static std::string shown(const std::vector<double>& pixel)
    {
        std::string text;
        for (double value : pixel)
            text += std::to_string(int(value)) + " ";
        return text;
    }
};

}

TEST_F(PictureDecoders, BitmapsOfBitFieldsScaleEveryMaskToTheFullRange)
{
    // 32-bit bitmaps, one per mask width from 1 to 32, the mask at the top of the pixel: full on
    // the left, half (the top bit alone) on the right. Then the masks people met: 11-11-10 bits,
    // and version 5 headers of 16 and 32 bits with uneven masks and a 4-bit alpha.
    python(R"(
import struct
W, H = 8, 4
def bmp(name, size, bits, compression, masks, left, right):
    data = (left * 4 + right * 4) * H  # rows of 16 or 32 bytes, no padding
    fields = b"".join(struct.pack("<I", m) for m in masks)
    head = struct.pack("<IiiHHIIiiII", size, W, H, 1, bits, compression, len(data), 2835, 2835, 0, 0) + fields
    head = head.ljust(max(size, len(head)), b"\0")
    start = 14 + len(head)
    open(name, "wb").write(b"BM" + struct.pack("<IHHI", start + len(data), 0, 0, start) + head + data)
for width in range(1, 33):
    mask = ((1 << width) - 1) << (32 - width)
    bmp("largura %d.bmp" % width, 40, 32, 3, [mask, 0, 0], struct.pack("<I", mask), struct.pack("<I", 1 << 31))
bmp("11-11-10.bmp", 40, 32, 3, [0xFFE00000, 0x001FFC00, 0x000003FF], struct.pack("<I", 0x001FFC00),
    struct.pack("<I", 0xFFE003FF))
bmp("v5 16.bmp", 124, 16, 3, [0x800, 0x1FF, 0x600, 0xF000], struct.pack("<H", 0xF1FF), struct.pack("<H", 0xFE00))
bmp("v5 32.bmp", 124, 32, 3, [0x1F, 0x3FFFE0, 0x7C00000, 0xF0000000], struct.pack("<I", 0xF03FFFE0),
    struct.pack("<I", 0x77C0001F))
# Every alpha 0 under an alpha mask: a writer that never filled it.
bmp("alfa vazio.bmp", 124, 32, 3, [0xFF0000, 0xFF00, 0xFF, 0xFF000000], bytes([0, 0, 255, 0]), bytes([255, 0, 0, 0]))
# Cut short in its pixels.
bmp("cortado.bmp", 40, 32, 3, [0xFFE00000, 0x001FFC00, 0x000003FF], bytes(4), bytes(4))
data = open("cortado.bmp", "rb").read()
open("cortado.bmp", "wb").write(data[:len(data) - 40])
)");
    for (int width = 1; width <= 32; ++width) {
        const auto file = "largura " + std::to_string(width) + ".bmp";
        const auto picture = VImage::new_from_file(converted("png", file).c_str());
        EXPECT_EQ(picture.getpoint(1, 1), (std::vector<double>{255, 0, 0})) << file;
        // The top bit alone is half the range, rounded: 255 for a mask of one bit.
        const double half = width == 1 ? 255 : std::round(double(1ULL << (width - 1)) * 255 / double((1ULL << width) - 1));
        EXPECT_EQ(picture.getpoint(6, 1), (std::vector<double>{half, 0, 0})) << file;
    }
    struct Case {
        std::string file;
        std::vector<double> left, right;
    };
    const std::vector<Case> cases = {
        {"11-11-10.bmp", {0, 255, 0}, {255, 0, 255}},
        {"v5 16.bmp", {0, 255, 0, 255}, {255, 0, 255, 255}},
        {"v5 32.bmp", {0, 255, 0, 255}, {255, 0, 255, 119}},
        {"alfa vazio.bmp", {255, 0, 0, 255}, {0, 0, 255, 255}},
    };
    for (const auto& [file, left, right] : cases) {
        for (const std::string format : {"png", "tiff"}) {
            const auto picture = VImage::new_from_file(converted(format, file).c_str());
            EXPECT_EQ(picture.getpoint(1, 1), left) << file << " → " << format << ": " << shown(picture.getpoint(1, 1));
            EXPECT_EQ(picture.getpoint(6, 2), right) << file << " → " << format << ": " << shown(picture.getpoint(6, 2));
        }
    }
    // Lossy outputs and the compression tool keep the colours too.
    const auto webp = VImage::new_from_file(converted("webp", "11-11-10.bmp").c_str());
    EXPECT_LT((webp.extract_area(0, 0, 2, 4) - VImage::black(2, 4, VImage::option()->set("bands", 3)).linear({1, 1, 1}, {0, 255, 0}))
                  .abs()
                  .max(),
        40);
    const auto compressed = runBrivlon({"--tool", "imgCompress", "--", (dir / "11-11-10.bmp").string()});
    ASSERT_EQ(compressed.exitCode, 0) << compressed.err;
    const auto small = VImage::new_from_file(compressed.out.substr(0, compressed.out.size() - 1).c_str());
    EXPECT_GT(small.extract_band(1).extract_area(0, 0, 2, 4).avg(), 200);

    const auto cut = runBrivlon({"--convert", "png", (dir / "cortado.bmp").string()});
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.err, "erro: O arquivo está danificado ou incompleto.\n");
}

TEST_F(PictureDecoders, ResolutionsWithoutAUnitGiveTheDefaultPage)
{
    // 40 × 30 pixels, each stating 72 (or 300) without a unit: a TIFF's unit "none", a PNG's pHYs
    // of unit 0, a JPEG's Exif unit "none" beside a JFIF density of no unit. Beside them the same
    // TIFF and PNG at 300 dots per inch, which their pages keep.
    python(R"(
import struct, zlib
from PIL import Image, TiffImagePlugin
picture = Image.new("RGB", (40, 30), (0, 0, 255))
picture.save("sem unidade.tif", tiffinfo={282: 72.0, 283: 72.0, 296: 1})
picture.save("polegadas.tif", tiffinfo={282: 300.0, 283: 300.0, 296: 2})
exif = Image.Exif()
exif[0x011A], exif[0x011B], exif[0x0128] = 300.0, 300.0, 1
picture.save("sem unidade.jpg", exif=exif.tobytes())
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
def png(name, per, unit):
    rows = b"".join(b"\0" + b"\0\0\xff" * 40 for _ in range(30))
    head = chunk(b"IHDR", struct.pack(">IIBBBBB", 40, 30, 8, 2, 0, 0, 0))
    open(name, "wb").write(b"\x89PNG\r\n\x1a\n" + head + chunk(b"pHYs", struct.pack(">IIB", per, per, unit))
        + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
png("sem unidade.png", 72, 0)
png("polegadas.png", 11811, 1)
)");
    const std::vector<std::pair<std::string, double>> cases = {
        {"sem unidade.tif", 40}, {"sem unidade.png", 40}, {"sem unidade.jpg", 40},
        {"polegadas.tif", 40 * 72.0 / 300}, {"polegadas.png", 40 * 72.0 / 300.0},
    };
    for (const auto& [file, width] : cases) {
        QPDF pdf;
        pdf.processFile(converted("pdf", file).c_str());
        const auto box = QPDFPageDocumentHelper(pdf).getAllPages().front().getMediaBox().getArrayAsRectangle();
        EXPECT_NEAR(box.urx - box.llx, width, 0.05) << file;
        EXPECT_NEAR(box.ury - box.lly, width * 3 / 4, 0.05) << file;
    }
}

TEST_F(PictureDecoders, PicturesOnePixelWideKeepTheirColoursAsWebP)
{
    // One pixel of blue, of red; a column of 8 blue ones; a pixel of blue half transparent; and
    // two pixels side by side, which were always right.
    const auto pixel = [](int width, int height, std::vector<double> colour) {
        return VImage::black(width, height, VImage::option()->set("bands", int(colour.size())))
            .linear(std::vector<double>(colour.size(), 1), colour)
            .cast(VIPS_FORMAT_UCHAR)
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    };
    const std::vector<std::tuple<std::string, VImage, std::vector<double>>> cases = {
        {"azul.png", pixel(1, 1, {0, 0, 255}), {0, 0, 255}},
        {"vermelho.png", pixel(1, 1, {255, 0, 0}), {255, 0, 0}},
        {"coluna.png", pixel(1, 8, {0, 0, 255}), {0, 0, 255}},
        {"translucido.png", pixel(1, 1, {0, 0, 255, 128}), {0, 0, 255, 128}},
        {"dois.png", pixel(2, 1, {0, 0, 255}), {0, 0, 255}},
    };
    for (const auto& [file, picture, colour] : cases) {
        picture.pngsave((dir / file).c_str());
        const auto made = VImage::new_from_file(converted("webp", file).c_str());
        ASSERT_EQ(made.bands(), int(colour.size())) << file;
        for (int y = 0; y < made.height(); ++y) {
            const auto got = made.getpoint(0, y);
            for (size_t band = 0; band < colour.size(); ++band)
                EXPECT_NEAR(got[band], colour[band], 12) << file << " row " << y << ": " << shown(got);
        }
    }
}
