#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"
#include "core/jobs/request.h"
#include "core/jobs/worker.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/socket.h>
#include <vips/vips8>

// What a user meets with damaged, hostile or oversized files and full disks: every row is a file
// made here, run through the command line, and the one line and exit code the user gets.
using namespace TestSupport;

namespace {

struct Row {
    std::string name;
    std::function<void(const fs::path&)> make;
    std::string format;
    std::vector<std::string> inputs;
    std::string err;  // the whole of standard error; empty for a success
    long long fileLimit = 0;  // when set, no file written may grow past it (a full disk)
    long long memoryLimit = 0;  // when set, the address space of the program and its workers
};

struct HardeningTest : ::testing::Test {
    TempDir dir;

    void python(const std::string& code)
    {
        auto run = runProgram("/usr/bin/python3", {"-c", code}, 60, {}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    RunResult convert(const Row& row, const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        std::vector<std::string> arguments = {"--convert", row.format};
        for (const auto& input : row.inputs)
            arguments.push_back((dir / input).string());
        if (row.memoryLimit) {
            // A worker cannot raise the bound it inherits above this.
            arguments.insert(arguments.begin(), {"--as=" + std::to_string(row.memoryLimit), BRIVLON_BINARY});
            return runProgram("/usr/bin/prlimit", arguments, 120, env, dir.path());
        }
        if (!row.fileLimit)
            return runProgram(BRIVLON_BINARY, arguments, 120, env, dir.path());
        // Writes past the limit fail with EFBIG, as on a full disk, once the signal is ignored.
        arguments.insert(arguments.begin(),
            {"-c", "trap '' XFSZ; exec /usr/bin/prlimit --fsize=" + std::to_string(row.fileLimit) + " \"$@\"", "sh",
                BRIVLON_BINARY});
        return runProgram("/bin/sh", arguments, 120, env, dir.path());
    }

    size_t files() const
    {
        size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(dir.path()); it != fs::recursive_directory_iterator(); ++it)
            ++count;
        return count;
    }

    // Each row in a folder of its own; a failure leaves nothing beside its inputs.
    void check(const std::vector<Row>& rows)
    {
        for (const auto& row : rows) {
            for (const auto& entry : fs::directory_iterator(dir.path()))
                FileSafety::removeTree(entry.path());
            row.make(dir.path());
            const auto before = files();
            const auto run = convert(row);
            EXPECT_EQ(run.err, row.err) << row.name;
            EXPECT_EQ(run.exitCode, row.err.empty() ? 0 : 1) << row.name;
            if (!row.err.empty())
                EXPECT_EQ(files(), before) << row.name;
        }
    }
};

vips::VImage noise(int width, int height)
{
    auto grey = vips::VImage::gaussnoise(width, height);
    return grey.bandjoin({grey.rot180(), grey.flip(VIPS_DIRECTION_HORIZONTAL)}).cast(VIPS_FORMAT_UCHAR);
}

void pngOfSize(const fs::path& path, int width, int height)
{
    vips::VImage::black(width, height, vips::VImage::option()->set("bands", 3)).pngsave(path.c_str());
}

// Runs a line of shell in `folder`, for fixtures the system's own tools make.
void shell(const fs::path& folder, const std::string& command)
{
    const auto run = runProgram("/bin/sh", {"-c", command}, 60, {}, folder.string());
    ASSERT_EQ(run.exitCode, 0) << command << run.err;
}

bool media(const fs::path& path, const std::string& source, const std::vector<std::string>& options)
{
    return makeMedia(path, source, options);
}

}

TEST_F(HardeningTest, CrashesAndMemory)
{
    const std::string tooLargeForMemory = "erro: A imagem é grande demais para converter com a memória livre";
    check({
        {"merged PDF on a full disk",
            [](const fs::path& d) {
                noise(300, 300).pngsave((d / "a.png").c_str());
                noise(300, 300).pngsave((d / "b.png").c_str());
            },
            "pdf único", {"a.png", "b.png"}, "erro: Não há espaço livre no disco.\n", 100'000},
        {"WebP past its side",
            [](const fs::path& d) {
                pngOfSize(d / "wide.png", 17000, 4);
            },
            "webp", {"wide.png"}, "erro: A imagem é grande demais para WEBP (máximo 16383 × 16383 pixels).\n"},
        {"AVIF past its side",
            [](const fs::path& d) {
                pngOfSize(d / "tall.png", 4, 17000);
            },
            "avif", {"tall.png"}, "erro: A imagem é grande demais para AVIF (máximo 16384 × 16384 pixels).\n"},
    });
    // Headers that claim 100000 × 100000 pixels (70 GB to write as PDF), and 65000 × 65000 in
    // colour turned by its Exif (30 GB, and decoded whole as it loads): refused before a pixel is
    // decoded.
    python(R"(
import struct, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
ihdr = struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0)
open("huge.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(64))) + chunk(b"IEND", b""))
)");
    noise(16, 16)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .jpegsave((dir / "small.jpg").c_str());
    python(R"(
import struct
d = bytearray(open("small.jpg", "rb").read())
at = d.find(b"\xff\xc0")
d[at + 5 : at + 9] = struct.pack(">HH", 65000, 65000)
exif = b"Exif\0\0II*\0" + struct.pack("<IHHHII", 8, 1, 0x0112, 3, 1, 6) + bytes(4)
open("turned.jpg", "wb").write(d[:2] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + d[2:])
)");
    for (const auto* name : {"huge.png", "turned.jpg"}) {
        const auto run = convert({"", {}, "pdf", {name}, ""});
        EXPECT_TRUE(run.err.starts_with(tooLargeForMemory) && run.exitCode == 1) << name << run.err;
    }

    // A worker whose program is gone (its socket hung up) ends, and the ffmpeg it runs with it.
    ASSERT_TRUE(media(dir / "longo.mp4", "testsrc=duration=30:size=640x480:rate=30", {"-preset", "ultrafast"}));
    Process::Child worker({BRIVLON_BINARY, {Worker::option}});
    Request request;
    request.sources = {dir / "longo.mp4"};
    request.kind = MediaKind::video;
    request.format = Catalog::fmts({"webm"}).front();
    const auto bytes = Worker::frame(Requests::pack(request));
    ASSERT_EQ(::send(worker.channel(), bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL), ssize_t(bytes.size()));
    ASSERT_TRUE(JobFakes::pumpUntil(60, [&] {
        return JobFakes::processes("ffmpeg", dir.path().string()) > 0;
    }));
    ::shutdown(worker.channel(), SHUT_RDWR);
    EXPECT_TRUE(JobFakes::pumpUntil(10, [&] {
        return JobFakes::processes("ffmpeg", dir.path().string()) == 0;
    }));
    worker.wait();
}

TEST_F(HardeningTest, WrongSuccess)
{
    check({
        {"JPEG cut short",
            [](const fs::path& d) {
                noise(256, 256).jpegsave((d / "cut.jpg").c_str());
                fs::resize_file(d / "cut.jpg", fs::file_size(d / "cut.jpg") * 2 / 5);
            },
            "png", {"cut.jpg"}, "erro: O arquivo está danificado ou incompleto.\n"},
        // A PDF takes a JPEG as it is, undecoded; a camera's file carries a thumbnail with an end
        // marker of its own near the start.
        {"progressive JPEG with a thumbnail, cut short, into a PDF",
            [](const fs::path& d) {
                noise(64, 48).jpegsave((d / "mini.jpg").c_str());
                noise(640, 480).jpegsave((d / "cut.jpg").c_str(), vips::VImage::option()->set("interlace", true));
                shell(d, "exiftool -q -overwrite_original '-ThumbnailImage<=mini.jpg' cut.jpg && rm mini.jpg");
                fs::resize_file(d / "cut.jpg", fs::file_size(d / "cut.jpg") * 3 / 5);
            },
            "pdf", {"cut.jpg"}, "erro: O arquivo está danificado ou incompleto.\n"},
        {"JPEG with bytes after its end, into a PDF: whole",
            [](const fs::path& d) {
                noise(320, 240).jpegsave((d / "cauda.jpg").c_str(), vips::VImage::option()->set("interlace", true));
                shell(d, "seq 1000 >> cauda.jpg");
            },
            "pdf", {"cauda.jpg"}, ""},
        {"WAV without samples",
            [](const fs::path& d) {
                // A RIFF header whose data chunk is empty.
                std::string wav(
                    "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0",
                    44);
                writeFile(d / "vazio.wav", wav);
            },
            "flac", {"vazio.wav"}, "erro: O arquivo não tem áudio.\n"},
        {"MP4 cut short after its header",
            [](const fs::path& d) {
                ASSERT_TRUE(media(d / "clip.mp4", "testsrc2=size=160x120:rate=10:duration=10",
                    {"-c:v", "mpeg4", "-movflags", "+faststart"}));
                fs::resize_file(d / "clip.mp4", fs::file_size(d / "clip.mp4") * 3 / 10);
            },
            "mkv", {"clip.mp4"}, "erro: O arquivo está danificado ou incompleto.\n"},
        {"picture shorter than its sound, to a picture-only format: whole",
            [](const fs::path& d) {
                ASSERT_TRUE(makeMedia(d / "va.mkv", "testsrc2=duration=2:size=160x120",
                    {"-f", "lavfi", "-i", "sine=duration=5", "-c:v", "mpeg4", "-c:a", "aac"}));
            },
            "gif", {"va.mkv"}, ""},
        {"MP3 on a full disk",
            [](const fs::path& d) {
                ASSERT_TRUE(media(d / "tom.flac", "sine=frequency=440:duration=8", {}));
            },
            "mp3", {"tom.flac"}, "erro: Não há espaço livre no disco.\n", 24'000},
    });
}

TEST_F(HardeningTest, Archives)
{
    const std::string password = "erro: O arquivo está protegido por senha.\n";
    const std::string tooLarge = "erro: O arquivo compactado é grande demais para abrir.\n";
    // An xz stream whose header asks for a 1.5 GiB dictionary, in a few hundred bytes.
    const auto hungry = [this](const std::string& name, bool tar) {
        return [this, name, tar](const fs::path&) {
            python("import io, lzma, tarfile\n"
                   "data = b'hello'\n"
                   "if "
                + std::string(tar ? "True" : "False")
                + ":\n"
                  "    out = io.BytesIO(); t = tarfile.open(fileobj=out, mode='w'); i = tarfile.TarInfo('a.txt');"
                  " i.size = 5; t.addfile(i, io.BytesIO(data)); t.close(); data = out.getvalue()\n"
                  "f = [{'id': lzma.FILTER_LZMA2, 'dict_size': 1536 << 20, 'mf': lzma.MF_HC3}]\n"
                  "open('"
                + name + "', 'wb').write(lzma.compress(data, format=lzma.FORMAT_XZ, filters=f))\n");
        };
    };
    const auto encrypted = [this](const std::string& command) {
        return [this, command](const fs::path& d) {
            writeFile(d / "a.txt", "segredo");
            shell(d, command + " >/dev/null && rm a.txt");
        };
    };
    check({
        {"zip with a password", encrypted("zip -q -P senha e.zip a.txt"), "extrair", {"e.zip"}, password},
        {"7z with a password", encrypted("7z a -psenha e.7z a.txt"), "extrair", {"e.7z"}, password},
        {"7z with its names encrypted", encrypted("7z a -psenha -mhe=on e.7z a.txt"), "extrair", {"e.7z"}, password},
        {"tar.xz that asks for gigabytes", hungry("fome.tar.xz", true), "extrair", {"fome.tar.xz"}, tooLarge},
        {"xz that asks for gigabytes", hungry("fome.txt.xz", false), "extrair", {"fome.txt.xz"}, tooLarge},
    });
    check({{"zip of a folder given as a link",
        [](const fs::path& d) {
            writeFile(d / "real/foto.txt", "x");
            fs::create_directory_symlink(d / "real", d / "atalho");
        },
        "zip", {"atalho"}, ""}});
    // The files behind the link, not the link.
    const auto listed = runProgram("/usr/bin/bsdtar", {"-tf", (dir / "atalho.zip").string()});
    EXPECT_NE(listed.out.find("foto.txt"), std::string::npos) << listed.out;

    const Row outside = {"tar with entries outside",
        [this](const fs::path&) {
            python(R"(
import io, tarfile
with tarfile.open("inseguro.tar", "w") as t:
    for name in ["bom.txt", "../fora.txt", "/absoluto.txt", "sub/ok.txt"]:
        i = tarfile.TarInfo(name); i.size = 4; t.addfile(i, io.BytesIO(b"data"))
    i = tarfile.TarInfo("elo"); i.type = tarfile.LNKTYPE; i.linkname = "../../etc/passwd"; t.addfile(i)
)");
        },
        "extrair", {"inseguro.tar"}, ""};
    for (const auto& entry : fs::directory_iterator(dir.path()))
        FileSafety::removeTree(entry.path());
    outside.make(dir.path());
    const auto run = convert(outside);
    EXPECT_EQ(run.exitCode, 0);
    // The safe entries are kept, the others skipped, said, and named in the error log.
    EXPECT_EQ(
        run.err, "aviso: 2 entradas do arquivo compactado foram ignoradas por segurança: “../fora.txt”, “elo”.\n");
    EXPECT_EQ(files(), 6u);  // the archive, the folder, its three files and sub/
    for (const auto& kept : {"inseguro/bom.txt", "inseguro/absoluto.txt", "inseguro/sub/ok.txt"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    EXPECT_NE(ErrorLog::recent(10).find("Entrada ignorada em inseguro.tar: ../fora.txt"), std::string::npos)
        << ErrorLog::recent(10);
}

TEST_F(HardeningTest, OfficeBombs)
{
    // Office packages of a few hundred kilobytes whose part unpacks to 300 MB of blanks between
    // its tags: a Word document, a workbook's sheet, an OpenDocument text, and a Word document
    // whose directory says the part holds 1,000 bytes.
    python(R"(
import struct, zipfile
def bomb(name, small, part, head, tail, lie=False):
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for path, text in small.items():
            z.writestr(path, text)
        with z.open(part, "w") as f:
            f.write(head)
            for _ in range(300):
                f.write(b" " * (1 << 20))
            f.write(tail)
    if lie:
        data = bytearray(open(name, "rb").read())
        at = data.rfind(b"PK\x01\x02")
        data[at + 24 : at + 28] = struct.pack("<I", 1000)
        open(name, "wb").write(data)
w = b'<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>'
bomb("carta.docx", {"[Content_Types].xml": "<Types/>"}, "word/document.xml", w, b"</w:body></w:document>")
bomb("mentira.docx", {"[Content_Types].xml": "<Types/>"}, "word/document.xml", w, b"</w:body></w:document>", True)
bomb("contas.xlsx", {"xl/workbook.xml": '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheets><sheet name="A"/></sheets></workbook>'},
    "xl/worksheets/sheet1.xml", b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>', b"</sheetData></worksheet>")
bomb("texto.odt", {"mimetype": "application/vnd.oasis.opendocument.text"}, "content.xml",
    b'<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"><office:body>', b"</office:body></office:document-content>")
)");
    for (const auto* name : {"carta.docx", "mentira.docx", "contas.xlsx", "texto.odt"})
        ASSERT_LT(fs::file_size(dir / name), 400'000u) << name;
    // A document is said to be one, whatever its package holds; to the suite or to our readers.
    const std::string tooLarge = "erro: O arquivo compactado é grande demais para abrir.\n";
    const std::string documentTooLarge = "erro: O documento é grande demais para abrir.\n";
    for (const auto& [format, input, said] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"txt", "carta.docx", documentTooLarge}, {"pdf", "carta.docx", documentTooLarge},
             {"txt", "mentira.docx", documentTooLarge}, {"csv", "contas.xlsx", tooLarge},
             {"txt", "texto.odt", documentTooLarge}}) {
        const auto run = convert({input, {}, format, {input}, said});
        EXPECT_EQ(run.err, said) << input;
        EXPECT_EQ(run.exitCode, 1) << input;
    }
    EXPECT_EQ(files(), 4u);
    // The worker never holds the part, unless the directory lies: then it holds the bound's
    // worth, no more.
    for (const auto& [input, format, most] : std::vector<std::tuple<std::string, std::string, long>>{
             {"carta.docx", "txt", 200}, {"contas.xlsx", "csv", 200}, {"mentira.docx", "txt", 400}}) {
        const auto run = measureBrivlon({"--convert", format, (dir / input).string()});
        EXPECT_EQ(run.exitCode, 1) << input;
        EXPECT_TRUE(run.peakMiB > 0 && run.peakMiB < most) << input << ": " << run.peakMiB << " MiB";
        std::cerr << input << ": peak " << run.peakMiB << " MiB\n";
    }
}

TEST_F(HardeningTest, WhatReadersBuildIsBoundedNotWhatFilesDeclare)
{
    // Each under a 2 GiB bound, which every one of them passed before: a few hundred kilobytes
    // of packed empty elements, or of spaces an OpenDocument text spells as one element per
    // thousand; a one-line table of 40 million cells, no row of a real one; a subtitle file of
    // 150 MB. And a Word document whose 300 MB photo its text does not need.
    const auto zipped = [this](const std::string& name, const std::string& small, const std::string& part,
                            const std::string& head, const std::string& unit, long count, const std::string& tail) {
        python("import zipfile\nwith zipfile.ZipFile('" + name + "', 'w', zipfile.ZIP_DEFLATED) as z:\n" + small
            + "    with z.open('" + part + "', 'w') as f:\n        f.write(b'" + head + "')\n        for _ in range("
            + std::to_string(count / 100000) + "):\n            f.write(b'" + unit + "' * 100000)\n        f.write(b'"
            + tail + "')\n");
    };
    const std::string word
        = "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
    const std::string types = "    z.writestr('[Content_Types].xml', '<Types/>')\n";
    const long long bound = 2LL << 30;
    check({
        {"Word document of 40 million empty elements",
            [&](const fs::path&) {
                zipped("vazio.docx", types, "word/document.xml", word, "<a/>", 40'000'000, "</w:body></w:document>");
            },
            "txt", {"vazio.docx"}, "erro: O documento é grande demais para abrir.\n", 0, bound},
        {"OpenDocument text of ten million elements of a thousand spaces",
            [&](const fs::path&) {
                zipped("espacos.odt", "    z.writestr('mimetype', 'application/vnd.oasis.opendocument.text')\n",
                    "content.xml",
                    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:text><text:p>",
                    "<text:s text:c=\"1000\"/>", 10'000'000,
                    "</text:p></office:text></office:body></office:document-content>");
            },
            "txt", {"espacos.odt"}, "erro: O documento é grande demais para abrir.\n", 0, bound},
        {"one line of 40 million cells to TSV",
            [&](const fs::path& d) {
                std::string cells;
                cells.reserve(80'000'000);
                for (int i = 0; i < 40'000'000; ++i)
                    cells += "1,";
                writeFile(d / "linha.csv", cells);
            },
            "tsv", {"linha.csv"}, "erro: A tabela é grande demais para abrir.\n", 0, bound},
        {"subtitle file of 150 MB",
            [](const fs::path& d) {
                writeFile(d / "filme.srt", "1\n00:00:01,000 --> 00:00:02,000\n");
                fs::resize_file(d / "filme.srt", 150'000'000);
            },
            "vtt", {"filme.srt"}, "erro: O arquivo é grande demais para ser uma legenda (mais de 100 MB).\n", 0, bound},
        {"Word document with a photo of 300 MB, to text",
            [&](const fs::path&) {
                python("import zipfile\nwith zipfile.ZipFile('fotos.docx', 'w', zipfile.ZIP_DEFLATED) as z:\n" + types
                    + "    z.writestr('word/document.xml', '" + word
                    + "<w:p><w:r><w:t>Legenda</w:t></w:r></w:p></w:body></w:document>')\n"
                      "    with z.open('word/media/image1.jpeg', 'w') as f:\n"
                      "        for _ in range(300):\n            f.write(bytes(1 << 20))\n");
            },
            "txt", {"fotos.docx"}, "", 0, bound},
    });
    EXPECT_EQ(readFile(dir / "fotos.txt"), "Legenda");
}

TEST_F(HardeningTest, Messages)
{
    check({
        {"clip without a picture to a format of pictures alone",
            [](const fs::path& d) {
                ASSERT_TRUE(media(d / "som.mp4", "sine=duration=1", {"-c:a", "aac"}));
            },
            "gif", {"som.mp4"}, "erro: O arquivo não tem vídeo.\n"},
        {"picture no reader can decode, without a word from the libraries",
            [](const fs::path& d) {
                writeFile(
                    d / "ruim.jpg", std::string("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0lixo", 24));
            },
            "png", {"ruim.jpg"}, "erro: Não foi possível ler o arquivo.\n"},
        {"picture that cannot be read",
            [](const fs::path& d) {
                writeFile(d / "ruim.tiff", std::string("II*\0garbage", 11));
            },
            "png", {"ruim.tiff"}, "erro: Não foi possível ler o arquivo.\n"},
        {"subtitles not in UTF-8",
            [](const fs::path& d) {
                writeFile(d / "leg.srt", "1\n00:00:01,000 --> 00:00:02,000\nol\xe1\n");
            },
            "vtt", {"leg.srt"}, "erro: O texto do arquivo não está numa codificação reconhecida.\n"},
        {"gzip cut short",
            [](const fs::path& d) {
                shell(d, "seq 100000 | gzip > n.txt.gz && truncate -s 20000 n.txt.gz");
            },
            "extrair", {"n.txt.gz"}, "erro: O arquivo está danificado ou incompleto.\n"},
        {"zip cut short, whose tool ends its line with a stale system error",
            [](const fs::path& d) {
                noise(200, 200).pngsave((d / "a.png").c_str());
                shell(d, "zip -q -0 z.zip a.png && rm a.png && truncate -s 60000 z.zip");
            },
            "extrair", {"z.zip"}, "erro: O arquivo está danificado ou incompleto.\n"},
        {"PNG cut short",
            [](const fs::path& d) {
                noise(200, 200).pngsave((d / "cut.png").c_str());
                fs::resize_file(d / "cut.png", fs::file_size(d / "cut.png") / 2);
            },
            "jpg", {"cut.png"}, "erro: O arquivo está danificado ou incompleto.\n"},
        {"PNG with a chunk of no known type, without the PNG library's own line",
            [](const fs::path& d) {
                noise(64, 48).pngsave((d / "tipo.png").c_str());
                auto png = readFile(d / "tipo.png");
                writeFile(d / "tipo.png", png.insert(33, std::string("\0\0\0\x04\xf4\xa8\x81\xe1xxxx\0\0\0\0", 16)));
            },
            "jpg", {"tipo.png"}, "erro: Não foi possível ler o arquivo.\n"},
        {"HEIC whose decoder gives up on its pixels",
            [](const fs::path& d) {
                noise(200, 200).heifsave((d / "ruim.heic").c_str());
                auto heic = readFile(d / "ruim.heic");
                const auto settings = heic.find("hvcC");
                ASSERT_NE(settings, std::string::npos);
                heic.replace(settings + 4, 56, std::string(56, '\0'));
                writeFile(d / "ruim.heic", heic);
            },
            "jpg", {"ruim.heic"}, "erro: Não foi possível ler o arquivo.\n"},
        {"TIFF whose strips are cut short",
            [](const fs::path& d) {
                noise(200, 200).tiffsave(
                    (d / "cortado.tif").c_str(), vips::VImage::option()->set("compression", "lzw"));
                auto tiff = readFile(d / "cortado.tif");
                // The directory comes last: scramble the strips, keep it.
                for (size_t i = 100; i < tiff.size() / 2; ++i)
                    tiff[i] = char(tiff[i] * 7 + 13);
                writeFile(d / "cortado.tif", tiff);
            },
            "avif", {"cortado.tif"}, "erro: Não foi possível ler o arquivo.\n"},
    });
    // The tools' own lines: the first that names a cause, not the giving-up line at the end.
    const std::vector<std::tuple<std::string, std::string>> lines = {
        {"a.txt: Path contains '..': Unknown error -1\nbsdtar: Error exit delayed from previous errors.\n",
            ErrorCauses::unsafeEntry},
        {"[out#0/matroska] Error writing trailer: No space left on device\nConversion failed!\n",
            ErrorCauses::diskFull},
        {"Stream map '0:V:0' matches no streams.\nTo ignore this, add a trailing '?' to the map.\n",
            ErrorCauses::unreadable},
        {"bsdtar: Error opening archive: Lzma library error: Cannot allocate memory\n", ErrorCauses::archiveTooLarge},
        {"a.txt: Incorrect passphrase: Unknown error -1\nbsdtar: Error exit delayed from previous errors.\n",
            ErrorCauses::password},
        {"something new\nthe last line\n", "the last line"},
    };
    for (const auto& [text, sentence] : lines)
        EXPECT_EQ(ErrorCauses::explain(text, "/usr/bin/tool"), sentence) << text;
}

// Only the decoders of the formats the program converts read a file, chosen by its content; the
// image library's others (ImageMagick's hundred formats, SVG, PostScript, PPM) never see one that
// poses as a photo.
TEST_F(HardeningTest, DecodersNobodyAskedFor)
{
    const std::string refused = "erro: Não foi possível ler o arquivo.\n";
    const auto pcx = [](const fs::path& file) {
        // 16 × 8, three planes of 8 bits, every byte below the run marker.
        std::string header("\x0a\x05\x01\x08\0\0\0\0\x0f\0\x07\0\x48\0\x48\0", 16);
        header += std::string(49, '\0') + std::string("\x03\x10\0\x01\0", 5);
        header.resize(128, '\0');
        writeFile(file, header + std::string(16 * 8 * 3, '\x40'));
    };
    check({
        {"PCX named as a JPEG",
            [&](const fs::path& d) {
                pcx(d / "falso.jpg");
            },
            "png", {"falso.jpg"}, refused},
        {"PostScript named as a JPEG",
            [](const fs::path& d) {
                writeFile(d / "pagina.jpg",
                    "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 100 100\n0 0 moveto 90 90 lineto stroke\nshowpage\n");
            },
            "png", {"pagina.jpg"}, refused},
        {"SVG named as a PNG",
            [](const fs::path& d) {
                writeFile(d / "desenho.png",
                    "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'><rect width='40' "
                    "height='20'/></svg>\n");
            },
            "jpg", {"desenho.png"}, refused},
        {"PGM named as a JPEG",
            [](const fs::path& d) {
                writeFile(d / "cinza.jpg", "P5\n16 8\n255\n" + std::string(128, '\x40'));
            },
            "png", {"cinza.jpg"}, refused},
    });

    // Every format the catalogue takes as a picture still converts, at its own size (a drawing at
    // twice its size); and a PNG under a JPEG's name is still a PNG.
    const auto base = noise(64, 48);
    base.jpegsave((dir / "a.jpg").c_str());
    base.pngsave((dir / "a.png").c_str());
    base.webpsave((dir / "a.webp").c_str());
    base.gifsave((dir / "a.gif").c_str());
    base.tiffsave((dir / "a.tiff").c_str());
    base.heifsave((dir / "a.heic").c_str());
    base.heifsave(
        (dir / "a.avif").c_str(), vips::VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1));
    base.extract_band(0).write_to_file((dir / "a.pgm").c_str());
    base.pngsave((dir / "png.jpg").c_str());
    ASSERT_TRUE(media(dir / "a.bmp", "color=red:size=64x48", {"-frames:v", "1"}));
    ASSERT_TRUE(media(dir / "a.ico", "color=red:size=32x32", {"-frames:v", "1"}));
    writeFile(dir / "a.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'><rect width='40' height='20'/></svg>\n");
    const std::vector<std::pair<std::string, std::string>> inputs = {{"a.jpg", "64x48"}, {"a.png", "64x48"},
        {"a.webp", "64x48"}, {"a.gif", "64x48"}, {"a.tiff", "64x48"}, {"a.heic", "64x48"}, {"a.avif", "64x48"},
        {"a.bmp", "64x48"}, {"a.pgm", "64x48"}, {"a.ico", "32x32"}, {"a.svg", "80x40"}, {"png.jpg", "64x48"}};
    for (const auto& [input, size] : inputs) {
        const auto run = runBrivlon({"--convert", input == "a.png" ? "jpg" : "png", (dir / input).string()});
        ASSERT_EQ(run.exitCode, 0) << input << run.err;
        EXPECT_EQ(run.err, "") << input;
        const auto out = vips::VImage::new_from_file(run.out.substr(0, run.out.size() - 1).c_str());
        EXPECT_EQ(std::to_string(out.width()) + "x" + std::to_string(out.height()), size) << input;
    }
    // One worker serves a run: once a HEIC has brought the library's modules in, ImageMagick's
    // among them, a PCX is still refused.
    pcx(dir / "falso.jpg");
    const auto mixed = runBrivlon({"--convert", "png", (dir / "a.heic").string(), (dir / "falso.jpg").string()});
    EXPECT_EQ(mixed.err, refused);
    EXPECT_FALSE(fs::exists(dir / "Convertidos para PNG" / "falso.png"));
}

TEST_F(HardeningTest, Names)
{
    // 250 bytes before the extension, cut inside a three-byte character when " 2" needs room.
    std::string longStem = "a";
    for (int i = 0; i < 83; ++i)
        longStem += "\u2013";
    check({
        {"merged in a file manager's order",
            [](const fs::path& d) {
                for (const auto& name : {"foto2.png", "foto10.png", "foto.png"})
                    noise(8, 8).pngsave((d / name).c_str());
            },
            "pdf único", {"foto2.png", "foto10.png", "foto.png"}, ""},
    });
    EXPECT_TRUE(fs::exists(dir / "foto \u2013 combinado.pdf"));

    noise(8, 8).pngsave((dir / (longStem + ".png")).c_str());
    for (const auto& expected : {longStem + ".jpg", longStem.substr(0, 247) + " 2.jpg"}) {
        const auto run = convert({"", {}, "jpg", {longStem + ".png"}, ""});
        EXPECT_EQ(run.out, (dir / expected).string() + "\n") << run.err;
    }

    // A name the numbering made, taken meanwhile: the original stem's next number.
    for (const auto& name : {"clip.mov", "clip 2.mov", "clip 3.mov", "Episódio 3.mov", "nosso"})
        writeFile(dir / name, "x");
    EXPECT_EQ(FileSafety::placeFree(dir / "nosso", dir / "clip 3.mov"), dir / "clip 4.mov");
    writeFile(dir / "nosso", "x");
    EXPECT_EQ(FileSafety::placeFree(dir / "nosso", dir / "Episódio 3.mov"), dir / "Episódio 3 2.mov");

    // Without a session's runtime folder a run makes its own and leaves nothing behind.
    TempDir temporary;
    noise(8, 8).pngsave((dir / "r.png").c_str());
    const auto run
        = convert({"", {}, "jpg", {"r.png"}, ""}, {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", temporary.path().string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_empty(temporary.path()));
}
