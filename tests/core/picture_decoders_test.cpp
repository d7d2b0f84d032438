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
        const double half
            = width == 1 ? 255 : std::round(double(1ULL << (width - 1)) * 255 / double((1ULL << width) - 1));
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
            EXPECT_EQ(picture.getpoint(1, 1), left) << file << " → " << format;
            EXPECT_EQ(picture.getpoint(6, 2), right) << file << " → " << format;
        }
    }
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
from PIL import Image
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
        {"sem unidade.tif", 40},
        {"sem unidade.png", 40},
        {"sem unidade.jpg", 40},
        {"polegadas.tif", 40 * 72.0 / 300},
        {"polegadas.png", 40 * 72.0 / 300.0},
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
                EXPECT_NEAR(got[band], colour[band], 12) << file << " row " << y;
        }
    }
}

namespace {

// Four quadrants, 64 × 48: red, green above blue, yellow. The Python scripts below draw the same.
constexpr const char* quadrants = R"(
W, H = 64, 48
def colour(x, y):
    return [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)][(y >= H // 2) * 2 + (x >= W // 2)]
)";

// Whether a picture shows the quadrants, each sampled away from its edges.
::testing::AssertionResult showsQuadrants(const VImage& picture)
{
    if (picture.width() != 64 || picture.height() != 48)
        return ::testing::AssertionFailure() << picture.width() << "×" << picture.height();
    const double top = picture.format() == VIPS_FORMAT_USHORT ? 65535 : 255;
    const std::vector<std::vector<double>> wanted = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const auto got = picture.extract_area(quadrant % 2 * 32 + 8, quadrant / 2 * 24 + 6, 16, 12).stats();
        for (int band = 0; band < 3; ++band) {
            // The band's mean over the area, in 0…255.
            const double mean = got.getpoint(4, band + 1)[0] / top * 255;
            if (std::abs(mean - wanted[size_t(quadrant)][size_t(band)]) > 12)
                return ::testing::AssertionFailure() << "quadrant " << quadrant << " band " << band << ": " << mean;
        }
    }
    return ::testing::AssertionSuccess();
}

// How far apart two pictures of the same size are, in 0…255: at most, or on average for a lossy
// output, whose colours bleed at the quadrants' edges.
double apart(VImage made, VImage decoded, bool lossy = false)
{
    auto eight = [](VImage image) {
        if (image.format() == VIPS_FORMAT_USHORT)
            image = (image / 257).cast(VIPS_FORMAT_UCHAR);
        return image.extract_band(0, VImage::option()->set("n", 3)).cast(VIPS_FORMAT_DOUBLE);
    };
    const auto difference = (eight(made) - eight(decoded)).abs();
    return lossy ? difference.avg() : difference.max();
}

}

TEST_F(PictureDecoders, TiffsOnlyLibtiffReadsMatchItsOwnTool)
{
    // Tiles of separate planes of 16 bits; YCbCr subsampled 2 × 2 in an LZW strip; old-style JPEG
    // in a strip and in a tile, the whole JPEG stream named as its interchange format; and the
    // LZW one cut short.
    python(std::string(quadrants) + R"(
import io, struct
from PIL import Image
SHORT, LONG = 3, 4
def tiff(name, tags, blobs):
    start = 8 + 2 + 12 * len(tags) + 4
    places, data = [], b""
    for blob in blobs:
        places.append(start + len(data))
        data += blob + b"\0" * (len(blob) % 2)
    table, spill = b"", b""
    for number, kind, values in sorted(tags):
        if values == "blobs":
            values = places
        packed = struct.pack("<%d%s" % (len(values), "H" if kind == SHORT else "I"), *values)
        if len(packed) <= 4:
            table += struct.pack("<HHI", number, kind, len(values)) + packed.ljust(4, b"\0")
        else:
            table += struct.pack("<HHII", number, kind, len(values), start + len(data) + len(spill))
            spill += packed
    open(name, "wb").write(b"II*\0" + struct.pack("<IH", 8, len(tags)) + table + bytes(4) + data + spill)
T = 16
tiles = [b"".join(struct.pack("<H", colour(tx + x, ty + y)[band] * 257) for y in range(T) for x in range(T))
    for band in range(3) for ty in range(0, H, T) for tx in range(0, W, T)]
tiff("planos.tif", [(256, SHORT, [W]), (257, SHORT, [H]), (258, SHORT, [16] * 3), (259, SHORT, [1]),
    (262, SHORT, [2]), (277, SHORT, [3]), (284, SHORT, [2]), (322, SHORT, [T]), (323, SHORT, [T]),
    (324, LONG, "blobs"), (325, LONG, [len(t) for t in tiles])], tiles)
def ycc(r, g, b):
    y = 0.299 * r + 0.587 * g + 0.114 * b
    return [y, 128 + (b - y) / 1.772, 128 + (r - y) / 1.402]
units = bytearray()
for by in range(0, H, 2):
    for bx in range(0, W, 2):
        luma = [ycc(*colour(bx + dx, by + dy))[0] for dy in (0, 1) for dx in (0, 1)]
        units += bytes(max(0, min(255, round(v))) for v in luma + ycc(*colour(bx, by))[1:])
def lzw(data):
    out, bits, count, width = bytearray(), 0, 0, 9
    def put(code):
        nonlocal bits, count
        bits, count = bits << width | code, count + width
        while count >= 8:
            count -= 8
            out.append(bits >> count & 255)
    table, following, word = {bytes([i]): i for i in range(256)}, 258, b""
    put(256)
    for c in data:
        if word + bytes([c]) in table:
            word += bytes([c])
            continue
        put(table[word])
        table[word + bytes([c])], following, word = following, following + 1, bytes([c])
        if following > (1 << width) - 1:
            width += 1
    put(table[word])
    if following + 1 > (1 << width) - 1:
        width += 1
    put(257)
    return bytes(out + (bytes([bits << (8 - count) & 255]) if count else b""))
packed = lzw(units)
ycc_tags = [(256, SHORT, [W]), (257, SHORT, [H]), (258, SHORT, [8] * 3), (259, SHORT, [5]), (262, SHORT, [6]),
    (277, SHORT, [3]), (278, SHORT, [H]), (273, LONG, "blobs"), (279, LONG, [len(packed)]), (284, SHORT, [1]),
    (530, SHORT, [2, 2])]
tiff("ycc lzw.tif", ycc_tags, [packed])
tiff("ycc cortado.tif", ycc_tags, [packed[:len(packed) // 3]])
picture = Image.new("RGB", (W, H))
picture.putdata([colour(x, y) for y in range(H) for x in range(W)])
stream = io.BytesIO()
picture.save(stream, "JPEG", quality=95, subsampling=2)
jpeg = stream.getvalue()
old = [(256, SHORT, [W]), (257, SHORT, [H]), (258, SHORT, [8] * 3), (259, SHORT, [6]), (262, SHORT, [6]),
    (277, SHORT, [3]), (284, SHORT, [1]), (512, SHORT, [1]), (513, LONG, "blobs"), (514, LONG, [len(jpeg)]),
    (530, SHORT, [2, 2])]
tiff("antigo faixas.tif", old + [(278, SHORT, [H]), (273, LONG, "blobs"), (279, LONG, [len(jpeg)])], [jpeg])
tiff("antigo ladrilhos.tif", old + [(322, SHORT, [W]), (323, SHORT, [H]), (324, LONG, "blobs"),
    (325, LONG, [len(jpeg)])], [jpeg])
)");
    for (const std::string file : {"planos.tif", "ycc lzw.tif", "antigo faixas.tif", "antigo ladrilhos.tif"}) {
        const auto own = dir / (file + ".rgba.tif");
        const auto tool = runProgram("/usr/bin/tiff2rgba", {(dir / file).string(), own.string()});
        ASSERT_EQ(tool.exitCode, 0) << file << tool.err;
        for (const std::string format : {"png", "jpg"}) {
            const auto made = VImage::new_from_file(converted(format, file).c_str());
            EXPECT_TRUE(showsQuadrants(made)) << file << " → " << format;
            EXPECT_LE(apart(made, VImage::new_from_file(own.c_str()), format != "png"), format == "png" ? 1 : 6)
                << file << " → " << format;
        }
    }
    const auto cut = runBrivlon({"--convert", "png", (dir / "ycc cortado.tif").string()});
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.err, "erro: Não foi possível ler o arquivo.\n");
    EXPECT_FALSE(fs::exists(dir / "ycc cortado.png"));
}

TEST_F(PictureDecoders, TwelveBitJpegsAndImageSequencesDecodeAsFfmpegDoes)
{
    // A JPEG of 12 bits a sample (extended, Huffman), flat blocks of DC alone, as a JPEG
    // library's 12-bit build writes them.
    python(std::string(quadrants) + R"(
import struct
def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload
codes = {size: (size, 4) for size in range(15)}
codes[15] = (0b11110, 5)
tables = segment(0xC4, bytes([0x00, 0, 0, 0, 15, 1] + [0] * 11) + bytes(range(16)) + bytes([0x10, 1] + [0] * 15 + [0]))
frame = segment(0xC1, struct.pack(">BHHB", 12, H, W, 3) + bytes([1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0]))
scan = segment(0xDA, bytes([3, 1, 0, 2, 0, 3, 0, 0, 63, 0]))
bits, previous = [], [0, 0, 0]
def put(value, length):
    bits.extend(value >> (length - 1 - i) & 1 for i in range(length))
for by in range(H // 8):
    for bx in range(W // 8):
        r, g, b = (c * 4095 / 255 for c in colour(bx * 8, by * 8))
        y = 0.299 * r + 0.587 * g + 0.114 * b
        for component, sample in enumerate([y, (b - y) / 1.772 + 2048, (r - y) / 1.402 + 2048]):
            dc = round(8 * (sample - 2048))
            diff, previous[component] = dc - previous[component], dc
            size = abs(diff).bit_length()
            put(*codes[size])
            if size:
                put(diff if diff > 0 else diff + (1 << size) - 1, size)
            put(0, 1)
bits += [1] * (-len(bits) % 8)
data = bytearray()
for i in range(0, len(bits), 8):
    data.append(int("".join(map(str, bits[i:i + 8])), 2))
    if data[-1] == 0xFF:
        data.append(0)
quantiser = segment(0xDB, bytes([0] + [1] * 64))
whole = b"\xff\xd8" + quantiser + frame + tables + scan + bytes(data)
open("doze bits.jpg", "wb").write(whole + b"\xff\xd9")
open("doze cortado.jpg", "wb").write(whole[:len(whole) - len(data) // 2])
)");
    const auto cut = runBrivlon({"--convert", "png", (dir / "doze cortado.jpg").string()});
    EXPECT_EQ(cut.err, "erro: Não foi possível ler o arquivo.\n");
    EXPECT_FALSE(fs::exists(dir / "doze cortado.png"));
    // Image sequences without a still picture: the quadrants, then four frames turned upside down.
    python(std::string(quadrants) + R"(
from PIL import Image
picture = Image.new("RGB", (W, H))
picture.putdata([colour(x, y) for y in range(H) for x in range(W)])
picture.save("quadro 0.png")
for i in range(1, 5):
    picture.rotate(180).save("quadro %d.png" % i)
)");
    const auto encode = [&](const std::vector<std::string>& options, const std::string& out) {
        std::vector<std::string> arguments
            = {"-v", "error", "-framerate", "10", "-i", (dir / "quadro %d.png").string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back((dir / out).string());
        const auto run = runProgram("/usr/bin/ffmpeg", arguments, 120);
        ASSERT_EQ(run.exitCode, 0) << out << run.err;
    };
    encode({"-c:v", "libx265", "-pix_fmt", "yuv420p", "-x265-params", "log-level=none", "-f", "mp4", "-brand", "msf1"},
        "sequencia.heic");
    encode({"-c:v", "libaom-av1", "-pix_fmt", "yuv420p", "-crf", "10", "-f", "avif"}, "sequencia.avif");
    for (const std::string file : {"doze bits.jpg", "sequencia.heic", "sequencia.avif"}) {
        const auto own = dir / (file + ".ffmpeg.png");
        const auto tool = runProgram(
            "/usr/bin/ffmpeg", {"-v", "error", "-i", (dir / file).string(), "-frames:v", "1", own.string()});
        ASSERT_EQ(tool.exitCode, 0) << file << tool.err;
        for (const std::string format : {"png", "webp"}) {
            const auto picture = VImage::new_from_file(converted(format, file).c_str());
            EXPECT_TRUE(showsQuadrants(picture)) << file << " → " << format;
            EXPECT_LE(apart(picture, VImage::new_from_file(own.c_str()), format != "png"), format == "png" ? 1 : 6)
                << file << " → " << format;
        }
    }
}

TEST_F(PictureDecoders, AvifStillsAreTurnedAndMirroredAsTheirPropertiesSay)
{
    // The quadrants turned a quarter anticlockwise and mirrored left to right, as libavif's
    // encoder writes it; and the same file whose size box states the size after the turn, as some
    // writers did, which the image library's HEIF reader could not make.
    python(std::string(quadrants) + R"(
from PIL import Image
picture = Image.new("RGB", (W, H))
picture.putdata([colour(x, y) for y in range(H) for x in range(W)])
picture.save("quadrantes.png")
)");
    const auto encoded = runProgram("/usr/bin/avifenc",
        {"-l", "--irot", "1", "--imir", "1", (dir / "quadrantes.png").string(), (dir / "girado.avif").string()});
    ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
    python(R"(
import struct
data = bytearray(open("girado.avif", "rb").read())
at = data.find(b"ispe") + 8
width, height = struct.unpack(">II", data[at:at + 8])
data[at:at + 8] = struct.pack(">II", height, width)
open("tamanho virado.avif", "wb").write(data)
)");
    // A quarter turn anticlockwise, then left and right exchanged.
    const auto drawn
        = VImage::new_from_file((dir / "quadrantes.png").c_str()).rot(VIPS_ANGLE_D270).flip(VIPS_DIRECTION_HORIZONTAL);
    for (const std::string file : {"girado.avif", "tamanho virado.avif"}) {
        for (const std::string format : {"png", "jpg"}) {
            const auto made = VImage::new_from_file(converted(format, file).c_str());
            ASSERT_EQ(made.width(), 48) << file;
            ASSERT_EQ(made.height(), 64) << file;
            EXPECT_LE(apart(made, drawn, true), 4) << file << " → " << format;
        }
    }
}
