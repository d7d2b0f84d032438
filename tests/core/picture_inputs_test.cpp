#include "core/engines/picture_headers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <vips/vips8>

#include <chrono>

// Pictures whose pixels cannot all be had (cut short) or cost far more than their file (one tile
// repeated, a canvas of thousands of frames), through the command line as a user meets them.
using namespace TestSupport;
using vips::VImage;

namespace {

struct PictureInputs : ::testing::Test {
    static void SetUpTestSuite() { VIPS_INIT("picture-inputs-test"); }

    TempDir dir;

    void python(const std::string& code, const std::vector<std::string>& arguments = {})
    {
        std::vector<std::string> all = {"-c", code};
        all.insert(all.end(), arguments.begin(), arguments.end());
        auto run = runProgram("/usr/bin/python3", all, 60, {}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    static VImage noise(int width, int height)
    {
        const auto grey = VImage::gaussnoise(width, height).cast(VIPS_FORMAT_UCHAR);
        return grey.bandjoin({grey, grey}).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }

    // A bound for measureBrivlon's peak: `mebibytes`, or a little over what a run on a tiny picture
    // measures when that is more. The peak of a started program counts what this process held
    // when it started it, which earlier tests in it may have grown.
    long bound(long mebibytes)
    {
        VImage::black(8, 8).pngsave((dir / "minimo.png").c_str());
        const auto floor = measureBrivlon({"--convert", "jpg", (dir / "minimo.png").string()}).peakMiB;
        fs::remove(dir / "minimo.png");
        fs::remove(dir / "minimo.jpg");
        return std::max(mebibytes, floor + 20);
    }

    size_t files() const { return size_t(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator())); }
};

// A HEIF image item 'grid' of columns × rows, every cell the one coded tile of `source` (a
// picture the HEIF saver wrote): the boxes a phone writes for its tiles, with one tile in all.
constexpr const char* gridOfOneTile = R"(
import struct, sys
source, out, cols, rows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = open(source, 'rb').read()
def boxes(start, end):
    while start + 8 <= end:
        size, kind = struct.unpack('>I4s', data[start:start + 8])
        yield kind, start + 8, start + size
        start += size
def box(kind, payload): return struct.pack('>I4s', 8 + len(payload), kind) + payload
def full(kind, version, flags, payload): return box(kind, struct.pack('>I', version << 24 | flags) + payload)
meta = next((s, e) for k, s, e in boxes(0, len(data)) if k == b'meta')
inside = {k: (s, e) for k, s, e in boxes(meta[0] + 4, meta[1])}
ipco = next((s, e) for k, s, e in boxes(*inside[b'iprp']) if k == b'ipco')
props = [(k, data[s - 8:e]) for k, s, e in boxes(*ipco)]
coder = next(b for k, b in props if k in (b'hvcC', b'av1C'))
codec = b'hvc1' if coder[4:8] == b'hvcC' else b'av01'
tw, th = struct.unpack('>II', next(b for k, b in props if k == b'ispe')[12:20])
# The first item of 'iloc' is the coded picture: its base offset and first extent.
version, at = data[inside[b'iloc'][0]], inside[b'iloc'][0] + 4
offsets, lengths, bases = data[at] >> 4, data[at] & 15, data[at + 1] >> 4
at += 4 + 2 + (2 if version >= 1 else 0) + 2
base = int.from_bytes(data[at:at + bases], 'big')
at += bases + 2
off = int.from_bytes(data[at:at + offsets], 'big')
length = int.from_bytes(data[at + offsets:at + offsets + lengths], 'big')
tile = data[base + off:base + off + length]
grid = struct.pack('>BBBBHH', 0, 0, rows - 1, cols - 1, tw * cols, th * rows)
brand = b'heic' if codec == b'hvc1' else b'avif'
def whole(tile_at):
    iloc = full(b'iloc', 1, 0, bytes([0x44, 0]) + struct.pack('>H', 2)
        + struct.pack('>HHHH', 1, 1, 0, 1) + struct.pack('>II', 0, len(grid))
        + struct.pack('>HHHH', 2, 0, 0, 1) + struct.pack('>II', tile_at, len(tile)))
    iinf = full(b'iinf', 0, 0, struct.pack('>H', 2) + full(b'infe', 2, 0, struct.pack('>HH', 1, 0) + b'grid\0')
        + full(b'infe', 2, 1, struct.pack('>HH', 2, 0) + codec + b'\0'))
    iref = full(b'iref', 0, 0, box(b'dimg', struct.pack('>HH', 1, cols * rows) + struct.pack('>H', 2) * (cols * rows)))
    ipco = box(b'ipco', coder + full(b'ispe', 0, 0, struct.pack('>II', tw, th))
        + full(b'ispe', 0, 0, struct.pack('>II', tw * cols, th * rows)))
    ipma = full(b'ipma', 0, 0, struct.pack('>I', 2) + struct.pack('>HBB', 1, 1, 3) + struct.pack('>HBBB', 2, 2, 0x81, 2))
    meta = full(b'meta', 0, 0, full(b'hdlr', 0, 0, bytes(4) + b'pict' + bytes(13)) + full(b'pitm', 0, 0, struct.pack('>H', 1))
        + iloc + iinf + iref + box(b'iprp', ipco + ipma) + box(b'idat', grid))
    return box(b'ftyp', brand + bytes(4) + b'mif1' + brand) + meta
head = whole(0)
open(out, 'wb').write(whole(len(head) + 8) + box(b'mdat', tile))
)";

// An animated WebP of `frames` frames of one pixel each, on a canvas of side × side, from the one
// lossless pixel of `source`.
constexpr const char* framesOnACanvas = R"(
import struct, sys
source, out, frames, side = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
d = open(source, 'rb').read()
at = d.find(b'VP8L')
pixel = d[at:at + 8 + struct.unpack('<I', d[at + 4:at + 8])[0]]
pixel += b'\0' * (len(pixel) % 2)
def chunk(tag, body): return tag + struct.pack('<I', len(body)) + body + b'\0' * (len(body) % 2)
def u24(v): return struct.pack('<I', v)[:3]
body = b'WEBP' + chunk(b'VP8X', bytes([2, 0, 0, 0]) + u24(side - 1) + u24(side - 1)) + chunk(b'ANIM', bytes(6))
body += b''.join(chunk(b'ANMF', u24(k * 7 % side // 2) + u24(k * 13 % side // 2) + u24(0) + u24(0) + u24(40) + b'\0' + pixel)
    for k in range(frames))
open(out, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
)";

}

TEST_F(PictureInputs, DamagedPicturesEndTheSameWayOnEveryRun)
{
    // A PNG whose chunks are whole but whose pixel data stops after a few bytes (the decoder
    // fails on a worker thread, which the library once took for success with stale rows), and a
    // photo's PNG cut after 51 bytes.
    python(R"(
import struct, zlib
def chunk(kind, data): return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
rows = b''.join(b'\0' + bytes((x * 7 + y * 3) & 255 for x in range(96)) for y in range(32))
head = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 32, 32, 8, 2, 0, 0, 0))
open('curto.png', 'wb').write(head + chunk(b'IDAT', zlib.compress(rows)[:10]) + chunk(b'IEND', b''))
)");
    noise(120, 80).pngsave((dir / "foto.png").c_str());
    writeFile(dir / "51.png", readFile(dir / "foto.png").substr(0, 51));
    fs::remove(dir / "foto.png");
    for (const std::string name : {"curto.png", "51.png"}) {
        const auto first = runBrivlon({"--convert", "bmp", (dir / name).string()});
        EXPECT_EQ(first.exitCode, 1) << name;
        EXPECT_TRUE(first.err == "erro: O arquivo está danificado ou incompleto.\n"
            || first.err == "erro: Não foi possível ler o arquivo.\n")
            << first.err;
        for (int run = 0; run < 6; ++run) {
            const auto again = runBrivlon({"--convert", run % 2 ? "jpg" : "bmp", (dir / name).string()});
            EXPECT_EQ(again.err, first.err) << name << " run " << run;
        }
        const auto turned = runBrivlon({"--tool", "imgRotate", "--", (dir / name).string()});
        EXPECT_EQ(turned.exitCode, 1) << name;
        EXPECT_EQ(files(), 2u) << name;
    }
}

TEST_F(PictureInputs, BombsAreRefusedAtOnceWithinBoundedMemory)
{
    // 2.5 KB files that decode to 252 megapixels (one 512² tile, 31 × 31 times), and 138 KB of
    // 3,000 one-pixel frames on a 16000² canvas.
    const auto tile = VImage::black(512, 512, VImage::option()->set("bands", 3))
                          .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    tile.heifsave((dir / "tile.heic").c_str(), VImage::option()->set("Q", 50));
    tile.heifsave((dir / "tile.avif").c_str(),
        VImage::option()->set("Q", 50)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)->set("effort", 0));
    python(gridOfOneTile, {"tile.heic", "small-grid.heic", "2", "3"});
    python(gridOfOneTile, {"tile.heic", "grade.heic", "31", "31"});
    python(gridOfOneTile, {"tile.avif", "grade.avif", "31", "31"});
    tile.extract_area(0, 0, 1, 1).webpsave((dir / "pixel.webp").c_str(), VImage::option()->set("lossless", true));
    python(framesOnACanvas, {"pixel.webp", "quadros.webp", "3000", "16000"});
    python(framesOnACanvas, {"pixel.webp", "poucos.webp", "3", "64"});
    ASSERT_LT(fs::file_size(dir / "grade.heic"), 4000u);
    // A panorama of rows of megabytes, which the PNG reader keeps a thousand of.
    VImage::black(1000000, 60, VImage::option()->set("bands", 3)).pngsave((dir / "panorama.png").c_str());

    // Progressive JPEGs of a few hundred bytes that declare 31,000² pixels: their decoder holds
    // every coefficient, 5.8 GB in 4:4:4 and 3.2 GB in 4:2:0.
    for (const auto& [name, subsampling] : {std::pair("progressivo.jpg", "off"), std::pair("reduzido.jpg", "on")})
        VImage::black(16, 16, VImage::option()->set("bands", 3))
            .jpegsave((dir / name).c_str(),
                VImage::option()->set("interlace", true)->set("strip", true)->set("subsample_mode", subsampling));
    python(R"(
import struct
for name in ("progressivo.jpg", "reduzido.jpg"):
    data = bytearray(open(name, "rb").read())
    at = 2
    while data[at + 1] != 0xC2:
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    data[at + 5:at + 9] = struct.pack(">HH", 31000, 31000)
    open("enorme-" + name, "wb").write(data)
)");
    ASSERT_LT(fs::file_size(dir / "enorme-progressivo.jpg"), 1000u);
    // An interlaced PNG's passes each cover the picture, which its reader holds whole.
    python(R"(
import struct, zlib
def chunk(kind, data): return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
header = struct.pack(">IIBBBBB", 30000, 30000, 8, 2, 0, 0, 1)
open("entrelacado.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(200000)))
    + chunk(b"IEND", b""))
)");
    VImage::black(64, 64).pngsave((dir / "pequeno.png").c_str(), VImage::option()->set("interlace", true));
    // A drawing of 8000² with twenty blurs of σ 3000 in 3 KB.
    std::string blurs, shapes;
    for (int i = 0; i < 20; ++i) {
        blurs += "<filter id='f" + std::to_string(i) + "'><feGaussianBlur stdDeviation='3000'/></filter>";
        shapes += "<rect x='" + std::to_string(i * 100) + "' width='4000' height='4000' filter='url(#f"
            + std::to_string(i) + ")'/>";
    }
    writeFile(dir / "borrado.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='8000' height='8000'><defs>" + blurs + "</defs>" + shapes
            + "</svg>");

    // The builders make pictures that are read: small ones convert.
    for (const std::string name : {"small-grid.heic", "poucos.webp", "progressivo.jpg", "pequeno.png"}) {
        const auto run = runBrivlon({"--convert", name.ends_with(".png") ? "jpg" : "png", (dir / name).string()});
        EXPECT_EQ(run.exitCode, 0) << name << run.err;
    }
    const std::string tooLarge = "erro: A imagem é grande demais";
    const std::vector<std::vector<std::string>> runs = {
        {"--convert", "jpg", (dir / "grade.heic").string()},
        {"--convert", "pdf", (dir / "grade.heic").string()},
        {"--tool", "imgStrip", "--", (dir / "grade.heic").string()},
        {"--convert", "jpg", (dir / "grade.avif").string()},
        {"--convert", "gif", (dir / "quadros.webp").string()},
        {"--convert", "pdf", (dir / "panorama.png").string()},
        {"--convert", "png", (dir / "enorme-progressivo.jpg").string()},
        {"--tool", "imgResize", "--", (dir / "enorme-reduzido.jpg").string()},
        {"--convert", "png", (dir / "borrado.svg").string()},
        {"--convert", "jpg", (dir / "entrelacado.png").string()},
    };
    const auto limit = bound(300);
    const auto before = files();
    for (const auto& arguments : runs) {
        const auto run = runBrivlon(arguments, 20);
        EXPECT_TRUE(run.exitCode == 1 && run.err.starts_with(tooLarge)) << arguments[1] << " " << run.err;
        const auto measured = measureBrivlon(arguments);
        EXPECT_LT(measured.peakMiB, limit) << arguments[1] << " " << arguments.back();
    }
    EXPECT_EQ(files(), before);

    // A strip of a picture has no room for a face: the tool says so in its own words.
    VImage::black(100, 200000).pngsave((dir / "faixa.png").c_str());
    const auto strip = runBrivlon({"--tool", "imgBlurFaces", "--", (dir / "faixa.png").string()});
    EXPECT_EQ(strip.exitCode, 1);
    EXPECT_EQ(strip.err, "erro: Nenhum rosto encontrado.\n");
}

TEST_F(PictureInputs, LargePicturesStreamWithinBoundedMemory)
{
    // The pictures are made by the image library's own program: what this process held would
    // count in the peak of the programs it starts.
    const auto vips = [&](std::vector<std::string> arguments) {
        for (auto& argument : arguments)
            if (const auto ext = fs::path(argument).extension(); ext == ".v" || ext == ".png" || ext == ".webp")
                argument = (dir / argument).string();
        const auto run = runProgram("/usr/bin/vips", arguments);
        ASSERT_EQ(run.exitCode, 0) << arguments[0] << run.err;
    };
    // 48 megapixels into a PDF, ramps of red, green and blue: deflated as they decode, never
    // held whole.
    vips({"xyz", "xy.v", "8000", "6000"});
    vips({"linear", "xy.v", "ramps.v", "0.03125 0.041667", "0"});
    vips({"extract_band", "ramps.v", "red.v", "0"});
    vips({"bandjoin", (dir / "ramps.v").string() + " " + (dir / "red.v").string(), "rgb.v"});
    vips({"cast", "rgb.v", "scan.v", "uchar"});
    vips({"copy", "scan.v", "scan.png", "--interpretation", "srgb"});
    const auto pdf = measureBrivlon({"--convert", "pdf", (dir / "scan.png").string()});
    EXPECT_EQ(pdf.exitCode, 0);
    EXPECT_LT(pdf.peakMiB, bound(200));
    EXPECT_EQ(runProgram("/usr/bin/qpdf", {"--check", (dir / "scan.pdf").string()}).exitCode, 0);
    ASSERT_EQ(runProgram("/usr/bin/pdftoppm",
                  {"-r", "3", "-png", "-singlefile", (dir / "scan.pdf").string(), (dir / "pagina").string()})
                  .exitCode,
        0);
    const auto page = VImage::new_from_file((dir / "pagina.png").c_str());
    EXPECT_EQ(page.width(), 334);  // 8000 points at 3 dpi, rounded up
    EXPECT_NEAR(page.avg(), VImage::new_from_file((dir / "scan.png").c_str()).avg(), 3);
    EXPECT_NEAR(page.getpoint(300, 20)[0], 7186 / 32, 8);  // the red ramp, at x = 300 / 334 of 8000

    // A 16-megapixel WebP, its top-left block red: the library's loader held it about three
    // times over.
    vips({"black", "grande.v", "4000", "4000", "--bands", "3"});
    vips({"draw_rect", "grande.v", "200 40 40", "0", "0", "1000", "500", "--fill"});
    vips({"copy", "grande.v", "grande.webp", "--interpretation", "srgb"});
    const auto measured = measureBrivlon({"--convert", "bmp", (dir / "grande.webp").string()});
    EXPECT_EQ(measured.exitCode, 0);
    EXPECT_LT(measured.peakMiB, bound(150));
    // Bottom-up rows in the file: the red block is the top-left corner of the picture.
    const auto bmp = readFile(dir / "grande.bmp");
    ASSERT_EQ(bmp.size(), 54u + 4000u * 4000u * 3u);
    const auto at = [&](size_t x, size_t y) {
        return static_cast<unsigned char>(bmp[54 + ((4000 - 1 - y) * 4000 + x) * 3 + 2]);
    };
    EXPECT_GT(at(10, 10), 150);
    EXPECT_LT(at(10, 600), 40);
    EXPECT_LT(at(1200, 10), 40);
}

TEST_F(PictureInputs, IconsAreReadByTheirPicturesOwnHeaders)
{
    // An Apple icon of JPEG 2000 pictures (as icons since 10.5 hold them, beside a small PNG),
    // and Windows icons whose directory gives a size other than the bitmap's own.
    auto icon = VImage::black(128, 128, VImage::option()->set("bands", 3))
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                    .copy_memory();
    icon.draw_rect({250, 30, 30}, 0, 0, 64, 64, VImage::option()->set("fill", true));
    icon.jp2ksave((dir / "128.jp2").c_str(), VImage::option()->set("lossless", true));
    icon.resize(0.25).jp2ksave((dir / "32.jp2").c_str(), VImage::option()->set("lossless", true));
    icon.resize(0.125).pngsave((dir / "16.png").c_str());
    python(R"(
import struct
def entry(kind, name): data = open(name, 'rb').read(); return kind + struct.pack('>I', len(data) + 8) + data
body = entry(b'icp4', '16.png') + entry(b'ic07', '128.jp2') + entry(b'icp5', '32.jp2')
open('mac.icns', 'wb').write(b'icns' + struct.pack('>I', len(body) + 8) + body)
# A 32 × 32 bitmap of 32 bits, the top half red: its header, bottom-up rows, the mask.
rows = [bytes([0, 0, 240, 255]) * 32 if y >= 16 else bytes([0, 0, 0, 255]) * 32 for y in range(32)]
bitmap = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 32, 0, 0, 0, 0, 0, 0) + b''.join(rows) + bytes(4 * 32)
for name, side in (('grande.ico', 64), ('pequeno.ico', 16)):
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', side, side, 0, 0, 1, 32, len(bitmap), 22)
    open(name, 'wb').write(directory + bitmap)
)");
    for (const auto& [name, side] :
        std::vector<std::pair<std::string, int>>{{"mac.icns", 128}, {"grande.ico", 32}, {"pequeno.ico", 32}}) {
        const auto run = runBrivlon({"--convert", "png", (dir / name).string()});
        ASSERT_EQ(run.exitCode, 0) << name << run.err;
        const auto out = VImage::new_from_file((dir / (fs::path(name).stem().string() + ".png")).c_str());
        EXPECT_EQ(out.width(), side) << name;
        EXPECT_EQ(out.height(), side) << name;
        EXPECT_GT(out.getpoint(2, 2)[0], 200) << name;
        EXPECT_LT(out.getpoint(side - 3, side - 3)[0], 40) << name;
    }
}

TEST_F(PictureInputs, IconsAreBoundByTheHeaderOfThePNGTheyHold)
{
    // A directory (or an Apple icon's element) of 256 × 256 around a PNG whose own header says
    // 30000 × 30000: its decoder believes the PNG.
    python(R"(
import struct, zlib
def chunk(kind, data): return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 30000, 30000, 8, 6, 0, 0, 0))
    + chunk(b"IDAT", zlib.compress(bytes(120001 * 8))) + chunk(b"IEND", b""))
for name, kind in (("grande.ico", 1), ("grande.cur", 2)):
    open(name, "wb").write(struct.pack("<HHH", 0, kind, 1) + struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 22) + png)
open("grande.icns", "wb").write(b"icns" + struct.pack(">I", 16 + len(png)) + b"ic08" + struct.pack(">I", 8 + len(png)) + png)
)");
    const auto limit = bound(300);
    for (const auto* name : {"grande.ico", "grande.cur", "grande.icns"})
        for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
                 {"--convert", "png"}, {"--convert", "pdf"}, {"--tool", "imgResize", "--"}}) {
            auto all = arguments;
            all.push_back((dir / name).string());
            const auto run = runBrivlon(all, 60);
            EXPECT_TRUE(run.exitCode == 1 && run.err.starts_with("erro: A imagem é grande demais")) << name << run.err;
            EXPECT_LT(measureBrivlon(all).peakMiB, limit) << name << " " << arguments[1];
        }
}

TEST_F(PictureInputs, PNGChunksLongerThanTheFileAreRefusedBeforeTheyAreRead)
{
    // 57 bytes each: a header, then a text, palette or calibration chunk that says it holds 2 GiB.
    // And a sound PNG with a comment, which converts.
    python(R"(
import struct, zlib
def chunk(kind, data): return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
head = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
for kind in (b"tEXt", b"zTXt", b"iTXt", b"sPLT", b"pCAL", b"sCAL"):
    open(kind.decode() + ".png", "wb").write((head + struct.pack(">I", 0x7ffffff0) + kind + b"Comment\0" + bytes(16))[:57])
open("comentado.png", "wb").write(head + chunk(b"tEXt", b"Comment\0feito a mao") + chunk(b"IDAT", zlib.compress(b"\0\x80"))
    + chunk(b"IEND", b""))
)");
    EXPECT_EQ(runBrivlon({"--convert", "jpg", (dir / "comentado.png").string()}).exitCode, 0);
    const auto limit = bound(120);
    for (const auto* kind : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL"}) {
        const std::vector<std::string> arguments{"--convert", "jpg", (dir / (std::string(kind) + ".png")).string()};
        EXPECT_EQ(fs::file_size(arguments.back()), 57u);
        EXPECT_EQ(runBrivlon(arguments, 60).err, "erro: O arquivo está danificado ou incompleto.\n") << kind;
        EXPECT_LT(measureBrivlon(arguments).peakMiB, limit) << kind;
    }
}

TEST_F(PictureInputs, RunLengthBitmapsAreReadOnlyWhenTheirRunsStayInsideThePicture)
{
    // 8-bit run-length bitmaps of 8000 × 8000: one whose first row's runs go a million pixels
    // on, past the picture; and a sound 16 × 2 one, a row of grey 200 over one of grey 50.
    python(R"(
import struct
def bitmap(name, width, height, runs):
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256))
    at = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(runs), 2835, 2835, 256, 0)
    open(name, "wb").write(b"BM" + struct.pack("<IHHI", at + len(runs), 0, 0, at) + info + palette + runs)
bitmap("longe.bmp", 8000, 8000, bytes([255, 7]) * 4000 + b"\0\1")
bitmap("faixas.bmp", 16, 2, bytes([16, 50, 0, 0, 16, 200, 0, 1]))
)");
    auto run = runBrivlon({"--convert", "gif", (dir / "faixas.bmp").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto made = VImage::new_from_file((dir / "faixas.gif").c_str());
    EXPECT_NEAR(made.getpoint(3, 0)[0], 200, 2);
    EXPECT_NEAR(made.getpoint(3, 1)[0], 50, 2);
    const std::vector<std::string> arguments{"--convert", "gif", (dir / "longe.bmp").string()};
    run = runBrivlon(arguments, 60);
    EXPECT_EQ(run.err, "erro: O arquivo está danificado ou incompleto.\n");
    EXPECT_FALSE(fs::exists(dir / "longe.gif"));
    EXPECT_LT(measureBrivlon(arguments).peakMiB, bound(200));
}

TEST_F(PictureInputs, AGridOfTensOfThousandsOfTilesIsRefusedByItsCount)
{
    // An AVIF whose picture is a grid of 100 × 100 tiles of 64², every tile the same few bytes:
    // the library reads its lists of items again for each tile, at each reading of the header.
    python(R"(
import struct
def box(kind, data): return struct.pack(">I", 8 + len(data)) + kind + data
def full(kind, version, flags, data): return box(kind, struct.pack(">I", version << 24 | flags) + data)
n, tile = 10000, bytes([0x12, 0, 0x0a, 0x0a]) + bytes(60)
grid = struct.pack(">BBBBHH", 0, 0, 99, 99, 6400, 6400)
items = range(2, n + 2)
iinf = full(b"iinf", 0, 0, struct.pack(">H", n + 1) + full(b"infe", 2, 0, struct.pack(">HH", 1, 0) + b"grid\0")
    + b"".join(full(b"infe", 2, 1, struct.pack(">HH", i, 0) + b"av01\0") for i in items))
iref = full(b"iref", 0, 0, box(b"dimg", struct.pack(">HH", 1, n) + b"".join(struct.pack(">H", i) for i in items)))
ipco = box(b"ipco", full(b"ispe", 0, 0, struct.pack(">II", 6400, 6400)) + full(b"ispe", 0, 0, struct.pack(">II", 64, 64))
    + box(b"av1C", bytes([0x81, 0, 0x0c, 0])))
ipma = full(b"ipma", 0, 0, struct.pack(">I", n + 1) + struct.pack(">HBB", 1, 1, 0x81)
    + b"".join(struct.pack(">HBBB", i, 2, 0x82, 0x83) for i in items))
def whole(data_at):
    iloc = full(b"iloc", 0, 0, bytes([0x44, 0]) + struct.pack(">H", n + 1) + struct.pack(">HHHII", 1, 0, 1, data_at, len(grid))
        + b"".join(struct.pack(">HHHII", i, 0, 1, data_at + len(grid), len(tile)) for i in items))
    meta = full(b"meta", 0, 0, full(b"hdlr", 0, 0, bytes(4) + b"pict" + bytes(13)) + full(b"pitm", 0, 0, struct.pack(">H", 1))
        + iloc + iinf + iref + box(b"iprp", ipco + ipma))
    return box(b"ftyp", b"avif" + bytes(4) + b"mif1miaf") + meta
head = whole(0)
open("grade.avif", "wb").write(whole(len(head) + 8) + box(b"mdat", grid + tile))
)");
    EXPECT_EQ(PictureHeaders::gridTiles(dir / "grade.avif"), 10000u);
    const auto start = std::chrono::steady_clock::now();
    const auto run = runBrivlon({"--convert", "png", (dir / "grade.avif").string()}, 60);
    EXPECT_EQ(run.err, "erro: Não foi possível ler o arquivo.\n");
    // Refused on the count: the library read it for seconds before giving up.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}
