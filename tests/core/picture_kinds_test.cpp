#include "core/base/catalog.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vips/vips8>

// The picture formats people have, made by the tools that write them, through the command line:
// what the catalogue offers converts with its pixels, and what it leaves out gets a sentence.
using namespace TestSupport;
using vips::VImage;

namespace {

struct PictureKinds : ::testing::Test {
    TempDir dir;

    void shell(const std::string& command)
    {
        const auto run = runProgram("/bin/sh", {"-c", command}, 60, {}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << command << run.err;
    }

    // The output the command line printed, as vips reads it; PDFs through poppler's rasteriser.
    VImage output(const RunResult& run)
    {
        fs::path out = run.out.substr(0, run.out.empty() ? 0 : run.out.size() - 1);
        if (out.extension() == ".pdf") {
            const auto page = dir / "pagina";
            runProgram("/usr/bin/pdftoppm", {"-png", "-r", "72", "-singlefile", out.string(), page.string()});
            out = page.string() + ".png";
        }
        auto image = VImage::new_from_file(out.c_str()).colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.has_alpha())
            image = image.flatten(VImage::option()->set("background", std::vector<double>{255, 255, 255}));
        return image;
    }
};

// Half red, half blue, 64 × 48.
VImage halves()
{
    auto left = VImage::black(32, 48, VImage::option()->set("bands", 3)).linear({1, 1, 1}, {255, 0, 0});
    auto right = VImage::black(32, 48, VImage::option()->set("bands", 3)).linear({1, 1, 1}, {0, 0, 255});
    return left.join(right, VIPS_DIRECTION_HORIZONTAL)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

bool near(const std::vector<double>& pixel, const std::vector<double>& wanted)
{
    for (size_t i = 0; i < wanted.size(); ++i)
        if (std::abs(pixel.at(i) - wanted[i]) > 48)
            return false;
    return true;
}

std::string text(const std::vector<double>& pixel)
{
    std::string shown;
    for (double value : pixel)
        shown += std::to_string(int(value)) + " ";
    return shown;
}

}

TEST_F(PictureKinds, DrawingsWithTextConvertToEveryImageFormatWithTheTextDrawn)
{
    // Black text on a white page, the text the only dark thing in it.
    const std::string drawing = "<?xml version='1.0' encoding='UTF-8'?>\n"
                                "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='80'>"
                                "<rect width='200' height='80' fill='white'/>"
                                "<text x='10' y='55' font-family='sans-serif' font-size='44'>Olá</text></svg>\n";
    writeFile(dir / "cartaz.svg", drawing);
    shell("gzip -c cartaz.svg > 'cartaz compactado.svgz'");
    for (const auto* source : {"cartaz.svg", "cartaz compactado.svgz"}) {
        for (const auto& format : Catalog::imageFormats()) {
            SCOPED_TRACE(std::string(source) + " → " + format.ext);
            const auto run = runBrivlon({"--convert", format.ext, (dir / source).string()});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const auto image = output(run);
            if (format.ext != "pdf") {
                EXPECT_EQ(std::to_string(image.width()) + "x" + std::to_string(image.height()), "400x160");
            }
            // The glyphs: dark pixels where the text is, and only there.
            const auto dark = (image < 96).bandand();
            const double inked = dark.avg() / 255 * image.width() * image.height();
            EXPECT_GT(inked, image.width() * image.height() / 40) << "no text drawn";
            EXPECT_TRUE(near(image.getpoint(image.width() - 4, 4), {255, 255, 255}));
            const auto right = dark.extract_area(image.width() * 3 / 4, 0, image.width() / 4, image.height());
            EXPECT_EQ(right.max(), 0) << "ink past the text";
        }
    }
}

TEST_F(PictureKinds, KindsPeopleHaveConvertWithTheirPixels)
{
    halves().write_to_file((dir / "metades.png").c_str());
    halves().write_to_file((dir / "metades.ppm").c_str());
    // JPEG 2000 as OpenJPEG's own tool writes it and as vips does; JPEG XL from libjxl's tool.
    shell("opj_compress -i metades.ppm -o 'foto scan.jp2' >/dev/null && opj_compress -i metades.ppm -o fluxo.j2k "
          ">/dev/null && cjxl -q 95 metades.png 'foto nova.jxl' 2>/dev/null");
    // Black and white, for the formats of one bit.
    VImage::black(32, 48)
        .join(VImage::black(32, 48) + 255, VIPS_DIRECTION_HORIZONTAL)
        .cast(VIPS_FORMAT_UCHAR)
        .write_to_file((dir / "pb.png").c_str());
    // Targa raw and run-length encoded, grey and colour-mapped; WBMP, ASCII PBM, icons for macOS:
    // ImageMagick's and Pillow's writers.
    shell("convert metades.png textura.tga && convert metades.png -compress RLE 'textura rle.tga' && convert pb.png "
          "-type Grayscale cinza.tga && convert pb.png sinal.wbmp && convert pb.png -compress none ascii.pbm");
    shell("/usr/bin/python3 -c \"from PIL import Image; Image.open('metades.png').save('app.icns'); "
          "Image.open('metades.png').convert('P').save('paleta.tga')\"");
    shell(R"(/usr/bin/python3 - <<'EOF'
import struct
W, H = 64, 48
def bmp(name, size, bits, compression, masks, left, right):
    row = (left * (W // 2) + right * (W // 2))
    row += b"\0" * (-len(row) % 4)
    data = row * H
    info = struct.pack("<IiiHHIIiiII", size, W, H, 1, bits, compression, len(data), 2835, 2835, 0, 0)
    masks = b"".join(struct.pack("<I", m) for m in masks)
    if size > 40:
        info, masks = (info + masks).ljust(size, b"\0"), b""
    offset = 14 + len(info) + len(masks)
    open(name, "wb").write(b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + masks + data)
# Windows bitmaps of bit fields: 16 bits after a version 3 header, alpha bit fields
# (compression 6), and a 56-byte header that holds its masks.
bmp("campos 565.bmp", 40, 16, 3, [0xF800, 0x07E0, 0x001F], struct.pack("<H", 0xF800), struct.pack("<H", 0x001F))
bmp("campos alfa.bmp", 40, 32, 6, [0xFF0000, 0xFF00, 0xFF, 0xFF000000], bytes([0, 0, 255, 128]), bytes([255, 0, 0, 128]))
bmp("cabecalho v3.bmp", 56, 32, 3, [0xFF0000, 0xFF00, 0xFF, 0xFF000000], bytes([0, 0, 255, 128]), bytes([255, 0, 0, 128]))
# A GIF without any colour table, global or local.
lsd = struct.pack("<HHBBB", W, H, 0, 0, 0)
image = b"," + struct.pack("<HHHHB", 0, 0, W, H, 0)
codes = []
for y in range(H):
    for x in range(W):
        if len(codes) % 2 == 0:
            codes.append(4)
        codes.append(0 if x < W // 2 else 1)
codes.append(5)
bits = count = 0
packed = bytearray()
for code in codes:
    bits |= code << count
    count += 3
    while count >= 8:
        packed.append(bits & 255)
        bits >>= 8
        count -= 8
if count:
    packed.append(bits)
blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255] for i in range(0, len(packed), 255))
open("sem paleta.gif", "wb").write(b"GIF89a" + lsd + image + bytes([2]) + blocks + b"\0;")
EOF)");
    // A plain PBM whose bits have no blanks between them, as the format allows, after a comment.
    std::string bits = "P1\n# feito à mão\n64 48\n";
    for (int y = 0; y < 48; ++y)
        bits += std::string(32, '1') + std::string(32, '0') + "\n";
    writeFile(dir / "bits juntos.pbm", bits);
    // A camera's raw file: an uncompressed DNG of an RGGB mosaic, bright on the left.
    shell(R"(/usr/bin/python3 - <<'EOF'
import struct
W, H = 64, 48
pixels = struct.pack("<%dH" % (W * H), *[3600 if x < W // 2 else 200 for y in range(H) for x in range(W)])
BYTE, ASCII, SHORT, LONG, RATIONAL, SRATIONAL = 1, 2, 3, 4, 5, 10
tags = sorted([(254, LONG, [0]), (256, LONG, [W]), (257, LONG, [H]), (258, SHORT, [16]), (259, SHORT, [1]),
    (262, SHORT, [32803]), (271, ASCII, b"Brivlon\0"), (272, ASCII, b"Teste\0"), (273, LONG, [0]),
    (274, SHORT, [1]), (277, SHORT, [1]), (278, LONG, [H]), (279, LONG, [len(pixels)]), (284, SHORT, [1]),
    (33421, SHORT, [2, 2]), (33422, BYTE, [0, 1, 1, 2]), (50706, BYTE, [1, 4, 0, 0]),
    (50707, BYTE, [1, 1, 0, 0]), (50708, ASCII, b"Brivlon Teste\0"), (50714, LONG, [0]), (50717, LONG, [4095]),
    (50721, SRATIONAL, [(1, 1), (0, 1), (0, 1), (0, 1), (1, 1), (0, 1), (0, 1), (0, 1), (1, 1)]),
    (50728, RATIONAL, [(1, 1), (1, 1), (1, 1)]), (50778, SHORT, [21])])
extra = 8 + 2 + 12 * len(tags) + 4
table, blobs, strip = b"", b"", 0
for number, kind, values in tags:
    if kind == ASCII:
        data = values
    elif kind in (RATIONAL, SRATIONAL):
        data = b"".join(struct.pack("<ii", *v) for v in values)
    else:
        data = struct.pack("<%d%s" % (len(values), {BYTE: "B", SHORT: "H", LONG: "I"}[kind]), *values)
    count = len(values)
    if number == 273:
        strip = len(table) + 8
    if len(data) <= 4:
        table += struct.pack("<HHI", number, kind, count) + data.ljust(4, b"\0")
    else:
        table += struct.pack("<HHII", number, kind, count, extra + len(blobs))
        blobs += data + b"\0" * (len(data) % 2)
table = table[:strip] + struct.pack("<I", extra + len(blobs)) + table[strip + 4:]
open("IMG_0001.DNG", "wb").write(b"II*\0" + struct.pack("<IH", 8, len(tags)) + table + bytes(4) + blobs + pixels)
EOF)");

    const std::vector<double> red{255, 0, 0}, blue{0, 0, 255}, black{0, 0, 0}, white{255, 255, 255};
    struct Case {
        std::string file, size;
        std::vector<double> left, right;
    };
    const std::vector<Case> cases = {
        {"foto scan.jp2", "64x48", red, blue},
        {"fluxo.j2k", "64x48", red, blue},
        {"foto nova.jxl", "64x48", red, blue},
        {"textura.tga", "64x48", red, blue},
        {"textura rle.tga", "64x48", red, blue},
        {"cinza.tga", "64x48", black, white},
        {"paleta.tga", "64x48", red, blue},
        {"sinal.wbmp", "64x48", black, white},
        {"ascii.pbm", "64x48", black, white},
        {"bits juntos.pbm", "64x48", black, white},
        {"app.icns", "128x128", red, blue},  // the largest of the sizes Pillow writes
        {"campos 565.bmp", "64x48", red, blue},
        // Half opaque, laid on white here.
        {"campos alfa.bmp", "64x48", {255, 127, 127}, {127, 127, 255}},
        {"cabecalho v3.bmp", "64x48", {255, 127, 127}, {127, 127, 255}},
    };
    for (const auto& [file, size, left, right] : cases) {
        SCOPED_TRACE(file);
        ASSERT_EQ(Catalog::kind(dir / file), MediaKind::image);
        const auto run = runBrivlon({"--convert", "png", (dir / file).string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto image = output(run);
        EXPECT_EQ(std::to_string(image.width()) + "x" + std::to_string(image.height()), size);
        const auto y = image.height() / 2;
        EXPECT_TRUE(near(image.getpoint(8, y), left)) << text(image.getpoint(8, y));
        EXPECT_TRUE(near(image.getpoint(image.width() - 8, y), right)) << text(image.getpoint(image.width() - 8, y));
    }

    // A GIF without colours of its own gets the decoder's, whatever it becomes.
    for (const auto* format : {"png", "webp"}) {
        const auto run = runBrivlon({"--convert", format, (dir / "sem paleta.gif").string()});
        ASSERT_EQ(run.exitCode, 0) << format << run.err;
        EXPECT_EQ(output(run).width(), 64) << format;
    }

    // The raw file is developed (its colours are the camera's, not the mosaic's) and, a format
    // nothing writes, its tools' outputs are JPEG.
    const auto raw = runBrivlon({"--convert", "png", (dir / "IMG_0001.DNG").string()});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    const auto developed = output(raw);
    EXPECT_EQ(std::to_string(developed.width()) + "x" + std::to_string(developed.height()), "64x48");
    EXPECT_GT(developed.extract_area(4, 4, 20, 40).avg(), developed.extract_area(40, 4, 20, 40).avg() + 60);
    const auto turned = runBrivlon({"--tool", "imgRotate", "--", (dir / "IMG_0001.DNG").string()});
    ASSERT_EQ(turned.exitCode, 0) << turned.err;
    EXPECT_EQ(turned.out, (dir / "IMG_0001 (girado).jpg").string() + "\n");
    // The camera's description travels as the photo's Exif.
    const auto make
        = runProgram("/usr/bin/exiftool", {"-s3", "-Make", "-Model", (dir / "IMG_0001 (girado).jpg").string()});
    EXPECT_EQ(make.out, "Brivlon\nTeste\n");
}

TEST_F(PictureKinds, KindsWithoutASafeReaderAreOfferedNothingAndToldSo)
{
    halves().write_to_file((dir / "metades.png").c_str());
    // Each as its own program writes it, where Debian has one; the rest by their headers.
    shell("convert metades.png camadas.psd && convert metades.png camadas.psb 2>/dev/null || cp camadas.psd "
          "camadas.psb; convert metades.png antigo.pcx && convert metades.png luz.hdr && convert metades.png "
          "textura.dds && convert metades.png -depth 32 -define quantum:format=floating-point faixa.pfm");
    shell("convert metades.png cena.exr 2>/dev/null || printf 'v/1\\001\\002\\000\\000\\000' > cena.exr");
    writeFile(dir / "projeto.xcf", std::string("gimp xcf v011\0\0\0\0\x40\0\0\0\x30\0\0\0\0", 27));
    writeFile(dir / "rapido.qoi", std::string("qoif\0\0\0\x40\0\0\0\x30\x03\0", 14) + std::string(8, '\0'));
    for (const auto* file : {"camadas.psd", "camadas.psb", "antigo.pcx", "luz.hdr", "textura.dds", "faixa.pfm",
             "cena.exr", "projeto.xcf", "rapido.qoi"}) {
        SCOPED_TRACE(file);
        const auto offer = Catalog::options({dir / file});
        ASSERT_TRUE(offer.has_value());
        EXPECT_NE(offer->kind, MediaKind::image);
        for (const auto& format : offer->formats)
            EXPECT_TRUE(format.batch) << format.label;  // packing it is all there is
        const auto converted = runBrivlon({"--convert", "png", (dir / file).string()});
        EXPECT_EQ(converted.exitCode, 2);
        EXPECT_EQ(converted.err, "sem essa conversão para essa seleção\n");
        const auto turned = runBrivlon({"--tool", "imgRotate", "--", (dir / file).string()});
        EXPECT_EQ(turned.exitCode, 1);
        EXPECT_EQ(turned.err, "erro: Este formato de imagem não é suportado.\n");
    }
}

TEST_F(PictureKinds, PicturesPastAnyCameraAreRefusedBeforeTheirPixels)
{
    // Headers of 100,000 × 100,000 pixels on a few bytes of data: a PNG, a Targa and a raw file.
    shell(R"(/usr/bin/python3 - <<'EOF'
import struct, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
ihdr = struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0)
rows = zlib.compress(bytes(300001) * 4, 9)
open("enorme.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", rows) + chunk(b"IEND", b""))
open("enorme.tga", "wb").write(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 50000, 50000, 24, 0) + bytes(3000))
EOF)");
    const std::string refused = "erro: A imagem é grande demais para abrir (10.000 megapixels; o máximo é 1.000).\n";
    const std::vector<std::vector<std::string>> runs = {
        {"--convert", "tiff", "enorme.png"},
        {"--convert", "jpg", "enorme.png"},
        {"--tool", "imgRotate", "--", "enorme.png"},
        {"--tool", "imgBlurFaces", "--", "enorme.png"},
        {"--tool", "imgCompress", "--", "enorme.png"},
    };
    for (auto arguments : runs) {
        arguments.back() = (dir / arguments.back()).string();
        SCOPED_TRACE(arguments[1]);
        const auto started = std::chrono::steady_clock::now();
        const auto run = runBrivlon(arguments, 60);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, refused);
        const auto measured = measureBrivlon(arguments);
        EXPECT_LT(measured.peakMiB, 400);
    }
    const auto targa = runBrivlon({"--convert", "png", (dir / "enorme.tga").string()});
    EXPECT_EQ(targa.err, "erro: A imagem é grande demais para abrir (2.500 megapixels; o máximo é 1.000).\n");
    EXPECT_FALSE(fs::exists(dir / "enorme.tiff"));

    // Under the bound, a 72-megapixel bitmap the program wrote itself reads back (Qt's own bound
    // of 256 MB refused it), in far less than a worker's memory.
    VImage::black(9000, 8000, VImage::option()->set("bands", 3)).pngsave((dir / "painel.png").c_str());
    ASSERT_EQ(runBrivlon({"--convert", "bmp", (dir / "painel.png").string()}).exitCode, 0);
    fs::remove(dir / "painel.png");
    const auto big = measureBrivlon({"--convert", "png", (dir / "painel.bmp").string()});
    EXPECT_EQ(big.exitCode, 0);
    EXPECT_LT(big.peakMiB, 1500);
    EXPECT_EQ(VImage::new_from_file((dir / "painel.png").c_str()).width(), 9000);
}

TEST_F(PictureKinds, CompressedDrawingsCutShortOrSwollenFailInSeconds)
{
    std::string drawing = "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='300'>";
    for (int i = 0; i < 20000; ++i)
        drawing += "<rect x='" + std::to_string(i % 400) + "' y='" + std::to_string(i % 300)
            + "' width='5' height='5' fill='#" + std::to_string(100000 + i % 899999) + "'/>";
    writeFile(dir / "mapa.svg", drawing + "</svg>\n");
    shell("gzip -c mapa.svg > inteiro.svgz && head -c $(($(stat -c %s inteiro.svgz) / 2)) inteiro.svgz > cortado.svgz");
    // 200 MB of blanks inside an element, a few hundred kilobytes packed.
    shell("{ printf '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><rect '; head -c 200000000 "
          "/dev/zero | tr '\\0' ' '; printf '/></svg>'; } | gzip -1 > bomba.svgz");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"cortado.svgz", "erro: O arquivo está danificado ou incompleto.\n"},
        {"bomba.svgz", "erro: O desenho é grande demais para abrir.\n"},
    };
    for (const auto& [file, err] : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto run = runBrivlon({"--convert", "png", (dir / file).string()}, 60);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << file;
        EXPECT_EQ(run.err, err) << file;
        EXPECT_EQ(run.exitCode, 1) << file;
    }
    EXPECT_EQ(runBrivlon({"--convert", "png", (dir / "inteiro.svgz").string()}).exitCode, 0);

    // A whole stream with bytes after it, which the image library's sniffing unpacked for ever:
    // the drawing is read to its stream's end, under any picture's name the stream is refused.
    shell("{ gzip -c mapa.svg; printf 'fim do arquivo'; } > sobra.svgz && cp sobra.svgz sobra.svg && "
          "cp sobra.svgz sobra.png");
    const std::vector<std::vector<std::string>> runs = {
        {"--convert", "png", "sobra.svgz"},
        {"--convert", "gif", "sobra.svgz"},
        {"--convert", "tiff", "sobra.svgz"},
        {"--convert", "bmp", "sobra.svg"},
        {"--tool", "imgCompress", "--", "sobra.svgz"},
        {"--convert", "jpg", "sobra.png"},
    };
    for (auto arguments : runs) {
        arguments.back() = (dir / arguments.back()).string();
        const auto started = std::chrono::steady_clock::now();
        const auto run = runBrivlon(arguments, 60);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << arguments[1];
        if (arguments.back().ends_with(".png"))
            EXPECT_EQ(run.err, "erro: Não foi possível ler o arquivo.\n");
        else
            EXPECT_EQ(run.exitCode, 0) << arguments[1] << " " << run.err;
    }
}

TEST_F(PictureKinds, Jpeg2000DecodesAsOpenJpegsOwnToolDoes)
{
    // A high-throughput codestream, 520 × 8, grey 30 on the left half and 220 on the right, as
    // an HTJ2K encoder wrote it: wider than the windows the image library decodes, each of
    // which came out grey 128.
    shell("printf '%s' '/0//UQApQAAAAAIIAAAACAAAAAAAAAAAAAACCAAAAAgAAAAAAAAAAAABBwEB/1AACAACAAAAAv9SAAwAAgABAAUEBEAB/1wA"
          "EyBIUFBQUFBQUFBQUFBQSEhI/2QAFwABT3BlbkpQSCBWZXIgMC4zMS4wLv+QAAoAAAAAAHAAAf+TwC6Aw8PhcDgcHsNwm81m"
          "s9lsAQ9AADWgAA1qAAGtAABqMQHAFQAh/uYEBvE2AMAVAKD++cQG8TYA8AVISgf+vAQE8TcA7gCqANVVi+V/8AhJlgDvgFWA"
          "vV6v93/9E4gCdwD/2Q==' | base64 -d > ht.j2k");
    // A classic codestream wider than those windows, and a 256 × 100 JP2 of a grey palette, one
    // band in its header and three once the palette is applied, whose colours the library's
    // reader wrote past the one band it made room for.
    VImage::xyz(600, 40).extract_band(0).cast(VIPS_FORMAT_UCHAR).write_to_file((dir / "largo.pgm").c_str());
    (VImage::xyz(256, 100).extract_band(1) * 2).cast(VIPS_FORMAT_UCHAR).write_to_file((dir / "cinza.pgm").c_str());
    shell("opj_compress -i largo.pgm -o largo.j2k >/dev/null && opj_compress -i cinza.pgm -o cinza.j2k >/dev/null");
    shell(R"(/usr/bin/python3 - <<'EOF'
import struct
def box(kind, payload): return struct.pack(">I", 8 + len(payload)) + kind + payload
header = box(b"ihdr", struct.pack(">IIHBBBB", 100, 256, 1, 7, 7, 0, 0)) + box(b"colr", struct.pack(">BBBI", 1, 0, 0, 17))
header += box(b"pclr", struct.pack(">HB", 256, 3) + bytes([7, 7, 7]) + b"".join(bytes([i, i, i]) for i in range(256)))
header += box(b"cmap", b"".join(struct.pack(">HBB", 0, 1, column) for column in range(3)))
jp2 = box(b"jP  ", b"\r\n\x87\n") + box(b"ftyp", b"jp2 \0\0\0\0jp2 ") + box(b"jp2h", header)
open("paleta.jp2", "wb").write(jp2 + box(b"jp2c", open("cinza.j2k", "rb").read()))
EOF)");
    shell("opj_decompress -i largo.j2k -o largo-opj.pgm >/dev/null && opj_decompress -i paleta.jp2 -o paleta-opj.ppm "
          ">/dev/null");
    for (const std::string format : {"png", "gif"}) {
        const auto run = runBrivlon({"--convert", format, (dir / "ht.j2k").string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto picture = output(run);
        EXPECT_EQ(picture.width(), 520);
        EXPECT_TRUE(near(picture.getpoint(100, 4), {30, 30, 30})) << text(picture.getpoint(100, 4));
        EXPECT_TRUE(near(picture.getpoint(400, 4), {220, 220, 220})) << text(picture.getpoint(400, 4));
    }
    for (const auto& [name, own] : {std::pair("largo.j2k", "largo-opj.pgm"), std::pair("paleta.jp2", "paleta-opj.ppm")}) {
        const auto run = runBrivlon({"--convert", "png", (dir / name).string()});
        ASSERT_EQ(run.exitCode, 0) << name << run.err;
        const auto made = VImage::new_from_file(fs::path(dir / run.out.substr(0, run.out.size() - 1)).c_str());
        const auto decoded = VImage::new_from_file((dir / own).c_str());
        ASSERT_EQ(made.bands(), decoded.bands()) << name;
        EXPECT_EQ((made - decoded).abs().max(), 0) << name;
    }
}
