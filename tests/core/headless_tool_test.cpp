#include "core/base/error_log.h"
#include "core/base/process.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <vips/vips8>

#include <csignal>
#include <future>

using namespace TestSupport;
using JobFakes::processes, JobFakes::pumpUntil;
using vips::VImage;

// --tool on files the tests make; outputs are checked with the tools people would use on them.
struct HeadlessTool : ::testing::Test {
    // Runs --tool in `dir` on names relative to it; what it prints has `dir` taken out.
    RunResult tool(const std::string& name, std::vector<std::string> pairs, const std::vector<std::string>& files,
        std::vector<std::pair<std::string, std::string>> env = {})
    {
        pairs.insert(pairs.begin(), {"--tool", name});
        pairs.push_back("--");
        pairs.insert(pairs.end(), files.begin(), files.end());
        env.push_back({"LC_ALL", "pt_BR.UTF-8"});  // numbers must still be written the C way
        auto result = runProgram(BRIVLON_BINARY, pairs, 180, env, dir.path());
        for (size_t at; (at = result.out.find(dir.path().string() + "/")) != std::string::npos;)
            result.out.erase(at, dir.path().string().size() + 1);
        return result;
    }
    std::string output(const std::string& program, const std::vector<std::string>& arguments)
    {
        return runProgram(program, arguments, 60, {}, dir.path()).out;
    }
    std::string header(const std::string& file, const std::string& field)
    {
        auto text = output("/usr/bin/vipsheader", {"-f", field, file});
        return text.substr(0, text.find('\n'));
    }
    std::string probe(const std::string& file, const std::string& entries)
    {
        return output("/usr/bin/ffprobe", {"-v", "error", "-show_entries", entries, "-of", "csv=p=0", file});
    }
    std::vector<double> pageWidths(const std::string& file)
    {
        QPDF pdf;
        pdf.processFile((dir / file).c_str());
        std::vector<double> widths;
        for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            auto box = page.getMediaBox().getArrayAsRectangle();
            widths.push_back(box.urx - box.llx);
        }
        return widths;
    }
    int rotation(const std::string& file)
    {
        QPDF pdf;
        pdf.processFile((dir / file).c_str());
        auto page = QPDFPageDocumentHelper(pdf).getAllPages().front().getObjectHandle();
        return page.hasKey("/Rotate") ? int(page.getKey("/Rotate").getIntValue()) % 360 : 0;
    }
    // Pages of the given widths, 500 pt high.
    void makePDF(const std::string& file, const std::vector<int>& widths)
    {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFPageDocumentHelper pages(pdf);
        for (int width : widths) {
            auto page = QPDFObjectHandle::parse(
                "<< /Type /Page /MediaBox [0 0 " + std::to_string(width) + " 500] /Resources << >> >>");
            auto content = QPDFObjectHandle::newStream(&pdf, "");
            page.replaceKey("/Contents", content);
            pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
        }
        QPDFWriter writer(pdf, (dir / file).c_str());
        writer.write();
    }
    int python(const std::string& script) { return pythonWithPDFWriter(script, dir.path()); }
    // A tool, its pairs, the file, and the sentence it fails with.
    using Failure = std::tuple<std::string, std::vector<std::string>, std::string, std::string>;
    // Each case fails with its sentence, and the folder holds what it held before.
    void expectFailures(const std::vector<Failure>& cases, const std::set<std::string>& before)
    {
        for (const auto& [name, pairs, file, sentence] : cases) {
            SCOPED_TRACE(name + " " + file);
            const auto result = tool(name, pairs, {file});
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.err, "erro: " + sentence + "\n");
        }
        EXPECT_EQ(names(), before);
    }
    std::set<std::string> names()
    {
        std::set<std::string> result;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            result.insert(entry.path().filename().string());
        return result;
    }

    TempDir dir;
};

TEST_F(HeadlessTool, ImageTools)
{
    auto photo = VImage::gaussnoise(1000, 500).cast(VIPS_FORMAT_UCHAR).copy_memory();
    photo.bandjoin(photo.rot180()).bandjoin(photo).write_to_file((dir / "foto.jpeg").c_str());
    ASSERT_EQ(
        runProgram("/usr/bin/exiftool",
            {"-q", "-overwrite_original", "-Artist=Ana Lima", "-XMP-dc:Creator=Ana Lima", (dir / "foto.jpeg").string()})
            .exitCode,
        0);
    VImage::new_from_file((dir / "foto.jpeg").c_str()).webpsave((dir / "foto.webp").c_str());
    VImage::black(300, 200, VImage::option()->set("bands", 4)).write_to_file((dir / "alfa.png").c_str());
    VImage::black(1000, 1000).write_to_file((dir / "q.tif").c_str());
    VImage::black(120, 80).write_to_file((dir / "pgm.pgm").c_str());

    // tool, pairs, input, printed output, size
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string, std::string, std::string>> cases
        = {
            {"imgCompress", {"maxSide=400", "quality=50"}, "foto.jpeg", "foto (comprimido).jpg", "400x200"},
            {"imgCompress", {"maxSide=0"}, "foto.jpeg", "foto (comprimido) 2.jpg", "1000x500"},
            {"imgResize", {}, "foto.jpeg", "foto (redimensionado).jpg", "1000x500"},  // never enlarged
            {"imgResize", {"scale=250"}, "alfa.png", "alfa (redimensionado).png", "750x500"},
            {"imgResize", {"scale=0"}, "alfa.png", "alfa (redimensionado) 2.png", "1x1"},
            {"imgCrop", {"aspect=16:9"}, "q.tif", "q (recortado).tiff", "1000x564"},
            {"imgCrop", {"aspect=abc"}, "alfa.png", "alfa (recortado).png", "300x200"},
            {"imgRotate", {}, "foto.jpeg", "foto (girado).jpg", "500x1000"},
            {"imgRotate", {}, "pgm.pgm", "pgm (girado).jpg", "80x120"},
            {"imgStrip", {}, "foto.jpeg", "foto (sem metadados).jpg", "1000x500"},
            {"imgStrip", {}, "foto.webp", "foto (sem metadados).webp", "1000x500"},
        };
    for (const auto& [name, pairs, input, out, size] : cases) {
        SCOPED_TRACE(name + " " + input);
        auto result = tool(name, pairs, {input});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, out + "\n");
        EXPECT_EQ(header(out, "width") + "x" + header(out, "height"), size);
    }
    EXPECT_EQ(header("alfa (redimensionado).png", "bands"), "4");
    const auto artist = [&](const std::string& file) {
        return output("/usr/bin/exiftool", {"-s3", "-Artist", file});
    };
    EXPECT_EQ(artist("foto (girado).jpg"), "Ana Lima\n");
    EXPECT_EQ(output("/usr/bin/exiftool", {"-s3", "-Orientation#", "foto (girado).jpg"}), "1\n");
    EXPECT_EQ(
        output("/usr/bin/exiftool", {"-s", "-EXIF:All", "-XMP:All", "-IPTC:All", "foto (sem metadados).jpg"}), "");
    // A WebP's metadata leaves chunk by chunk: its coded picture is the source's, never decoded.
    EXPECT_EQ(artist("foto.webp"), "Ana Lima\n");
    EXPECT_EQ(output("/usr/bin/exiftool", {"-s", "-EXIF:All", "-XMP:All", "foto (sem metadados).webp"}), "");
    const auto coded = readFile(dir / "foto (sem metadados).webp");
    ASSERT_NE(coded.find("VP8 "), std::string::npos);
    EXPECT_NE(readFile(dir / "foto.webp").find(coded.substr(coded.find("VP8 "))), std::string::npos);
}

TEST_F(HeadlessTool, PDFTools)
{
    makePDF("doc.pdf", {100, 200, 300});
    auto result = tool("pdfExtract", {"pages=3, 1-2; 1"}, {"doc.pdf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "doc (extraído).pdf\n");
    EXPECT_EQ(pageWidths("doc (extraído).pdf"), (std::vector<double>{300, 100, 200, 100}));

    result = tool("pdfExtract", {"pages=99"}, {"doc.pdf"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "erro: Nenhuma página válida em \u201c99\u201d.\n");

    result = tool("pdfSplit", {}, {"doc.pdf", "doc.pdf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "doc (páginas)\ndoc (páginas) 2\n");
    EXPECT_EQ(pageWidths("doc (páginas) 2/doc - página 003.pdf"), std::vector<double>{300});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "doc (páginas)"), {}), 3);

    std::string current = "doc.pdf";
    for (int turn : {90, 180, 270, 0}) {
        result = tool("pdfRotate", {}, {current});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        current = result.out.substr(0, result.out.size() - 1);
        EXPECT_EQ(rotation(current), turn) << current;
    }
    EXPECT_EQ(current, "doc (girado) (girado) (girado) (girado).pdf");

    // Restrictions of the source do not travel; a password to open it makes it unreadable.
    ASSERT_EQ(runProgram("/usr/bin/qpdf", {"--encrypt", "", "dono", "256", "--", "doc.pdf", "restrito.pdf"}, 60, {},
                  dir.path())
                  .exitCode,
        0);
    ASSERT_EQ(runProgram("/usr/bin/qpdf", {"--encrypt", "senha", "dono", "256", "--", "doc.pdf", "fechado.pdf"}, 60, {},
                  dir.path())
                  .exitCode,
        0);
    for (const auto& name : {"pdfRotate", "pdfCompress"}) {
        result = tool(name, {}, {"restrito.pdf"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(output("/usr/bin/pdfinfo", {result.out.substr(0, result.out.size() - 1)}).find("Encrypted:       no"),
            std::string::npos);
    }
    // The cause is named, by the tools and by the conversions alike.
    EXPECT_EQ(tool("pdfSplit", {}, {"fechado.pdf"}).err, "erro: O arquivo está protegido por senha.\n");
    for (const auto& format : {"png", "txt"}) {
        const auto converted = runProgram(BRIVLON_BINARY, {"--convert", format, "fechado.pdf"}, 60, {}, dir.path());
        EXPECT_EQ(converted.err, "erro: O arquivo está protegido por senha.\n") << format;
    }

    writeFile(dir / "falso.pdf", "%PDF-1.4 nada");
    result = tool("pdfRotate", {}, {"falso.pdf"});
    EXPECT_EQ(result.err, "erro: Não foi possível ler o arquivo.\n");

    // A second page whose content is LZW data with a code no table holds yet: copied as it is, the
    // page would be damaged in the output, so the split fails with the damaged-file sentence and
    // leaves nothing; the PDF library's words go to the error log, not to the user.
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", R"(
good, bad = b"BT /F1 12 Tf 72 720 Td (um) Tj ET", bytes([0x80, 0x0b, 0x60, 0x50]) + b"\xff" * 6
objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
    b"<< /Length %d >>\nstream\n" % len(good) + good + b"\nendstream",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
    b"<< /Length %d /Filter /LZWDecode >>\nstream\n" % len(bad) + bad + b"\nendstream"]
out, offsets = b"%PDF-1.4\n", []
for i, body in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 7\n0000000000 65535 f \n" + b"".join(b"%010d 00000 n \n" % o for o in offsets)
open("lzw.pdf", "wb").write(out + b"trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % xref)
)"},
                  60, {}, dir.path())
                  .exitCode,
        0);
    result = tool("pdfSplit", {}, {"lzw.pdf"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "erro: O arquivo está danificado ou incompleto.\n");
    EXPECT_FALSE(fs::exists(dir / "lzw (páginas)"));
    EXPECT_NE(ErrorLog::recent(10).find("LZWDecoder: bad code received"), std::string::npos) << ErrorLog::recent(10);
}

TEST_F(HeadlessTool, PagesOfALongNamedPDFKeepTheirNumbers)
{
    // A name of 240 bytes before ".pdf", accents and all, as a saved web page's title makes: the
    // pages' names are shortened before their number, at a character boundary.
    std::string stem;
    while (stem.size() < 238)
        stem += "relatório anual ";
    stem = stem.substr(0, 238) + "é";
    makePDF(stem + ".pdf", {100, 200, 300});
    auto result = tool("pdfSplit", {}, {stem + ".pdf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto split = dir / result.out.substr(0, result.out.size() - 1);
    EXPECT_TRUE(split.filename().string().ends_with(" (páginas)")) << split;
    const auto converted = runProgram(BRIVLON_BINARY, {"--convert", "png", stem + ".pdf"}, 120, {}, dir.path());
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    const auto drawn = fs::path(converted.out.substr(0, converted.out.size() - 1));
    for (const auto& [folder, ext] : {std::pair{split, ".pdf"}, std::pair{drawn, ".png"}}) {
        std::set<std::string> endings;
        for (const auto& page : fs::directory_iterator(folder)) {
            const auto name = page.path().filename().string();
            EXPECT_LE(name.size(), 255u);
            EXPECT_TRUE(name.starts_with("relatório anual")) << name;
            EXPECT_TRUE(QString::fromStdString(name).toUtf8().toStdString() == name) << name;
            endings.insert(name.substr(name.size() - std::string(" - página 001").size() - std::string(ext).size()));
        }
        EXPECT_EQ(endings,
            (std::set<std::string>{" - página 001" + std::string(ext), " - página 002" + std::string(ext),
                " - página 003" + std::string(ext)}));
    }
}

TEST_F(HeadlessTool, PDFToolsOnDamagedFilesRepairOrFailAndNeverWriteADamagedOutput)
{
    // Four pages as a small writer leaves them; the same with its cross-reference table pointing
    // wrong and one object's entry missing (qpdf rebuilds the table); and with the second page's
    // compressed content cut in the middle, which nothing can rebuild.
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", R"(
import zlib
def pdf(cut=False, shift=0):
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R 5 0 R 7 0 R 9 0 R] /Count 4 >>"]
    for i in range(4):
        content = zlib.compress(b"BT /F1 24 Tf 72 700 Td (Pagina %d) Tj ET" % (i + 1))
        if cut and i == 1:
            content = content[: len(content) // 2] + b"\x00resto"
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                    b"/Resources << /Font << /F1 11 0 R >> >> >>" % (4 + 2 * i))
        objs.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(content) + content + b"\nendstream")
    objs.append(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    out, offsets = b"%PDF-1.4\n", []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out) + shift * (n % 3))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(offsets) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets[: len(offsets) - (shift > 0)])
    return out + b"trailer << /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(offsets) + 1, xref)
open("recuperavel.pdf", "wb").write(pdf(shift=7))
open("cortado.pdf", "wb").write(pdf(cut=True))
)"},
                  60, {}, dir.path())
                  .exitCode,
        0);
    const auto sound = [&](const std::string& name) {
        const auto check = runProgram("/usr/bin/qpdf", {"--check", name}, 60, {}, dir.path());
        return check.exitCode == 0 && runProgram("/usr/bin/pdfinfo", {name}, 60, {}, dir.path()).exitCode == 0;
    };
    ASSERT_FALSE(sound("recuperavel.pdf"));
    for (const auto& [name, options] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"pdfRotate", {}}, {"pdfSplit", {}}, {"pdfExtract", {"pages=1-4"}}}) {
        SCOPED_TRACE(name);
        auto result = tool(name, options, {"recuperavel.pdf"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto made = result.out.substr(0, result.out.size() - 1);
        if (name == "pdfSplit")
            for (const auto& page : fs::directory_iterator(dir / made))
                EXPECT_TRUE(sound((fs::path(made) / page.path().filename()).string())) << page.path();
        else
            EXPECT_TRUE(sound(made));
        const auto before = std::distance(fs::directory_iterator(dir.path()), {});
        result = tool(name, options, {"cortado.pdf"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "erro: O arquivo está danificado ou incompleto.\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), before);
    }
}

TEST_F(HeadlessTool, PDFToolsTakeWhatQpdfRecoversWithWarnings)
{
    // Three pages of text as a small writer leaves them, damaged as real files come: a
    // cross-reference table whose entries all point wrong; a PDF 2.0 file whose startxref misses
    // its table; a page whose content stream states a wrong /Length and whose deflate data is
    // scrambled inside, which qpdf finds the end of; a form whose page content lacks the
    // deflate checksum ("output may still be valid"). qpdf writes each with warnings.
    ASSERT_EQ(python(R"(
import zlib
def content(n):
    return b"".join(b"BT /F1 12 Tf 72 %d Td (Linha %d da pagina %d) Tj ET\n" % (700 - 14 * i, i, n) for i in range(40))
def build(path, version=b"1.4", streams={}, xref="sound", form=b""):
    objs = [b"<< /Type /Catalog /Pages 2 0 R " + form + b">>", b"<< /Type /Pages /Kids [3 0 R 5 0 R 7 0 R] /Count 3 >>"]
    for i in range(3):
        data = zlib.compress(content(i + 1))
        data, length = streams.get(i, lambda d, l: (d, l))(data, len(data))
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                    b"/Resources << /Font << /F1 9 0 R >> >> >>" % (4 + 2 * i))
        objs.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % length + data + b"\nendstream")
    objs.append(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    out, offsets = b"%PDF-" + version + b"\n", []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    start = len(out)
    if xref == "broken":
        offsets = [o * 3 + 11 for o in offsets[:6]]
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(offsets) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
    start -= 123 if xref == "offset" else 0
    open(path, "wb").write(out + b"trailer << /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, start))
def scrambled(data, length):
    middle = len(data) // 3
    return data[:middle] + bytes(b ^ 0x5a for b in data[middle:middle + 8]) + data[middle + 8:], length + 7
build("tabela.pdf", xref="broken")
build("deslocado.pdf", version=b"2.0", xref="offset")
build("comprimento.pdf", streams={1: scrambled})
build("formulario.pdf", streams={0: lambda d, l: (d[:-4], l - 4)}, form=b"/AcroForm << /Fields [] >> ")
)"),
        0);
    for (const auto& [file, warned] : std::vector<std::pair<std::string, std::string>>{
             {"tabela", "reconstruct cross-reference table"}, {"deslocado", "xref not found"},
             {"comprimento", "recovered stream length"}, {"formulario", "output may still be valid"}}) {
        ASSERT_NE(runProgram("/usr/bin/qpdf", {"--check", file + ".pdf"}, 60, {}, dir.path()).exitCode, 0) << file;
        for (const auto& [name, options] : std::vector<std::pair<std::string, std::vector<std::string>>>{
                 {"pdfRotate", {}}, {"pdfSplit", {}}, {"pdfExtract", {"pages=3, 1"}}}) {
            SCOPED_TRACE(file + " " + name);
            const auto result = tool(name, options, {file + ".pdf"});
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const auto made = result.out.substr(0, result.out.size() - 1);
            if (name == "pdfSplit") {
                EXPECT_EQ(std::distance(fs::directory_iterator(dir / made), {}), 3);
                EXPECT_EQ(pageWidths(made + "/" + file + " - página 003.pdf").size(), 1u);
            } else {
                EXPECT_EQ(pageWidths(made).size(), name == "pdfRotate" ? 3u : 2u);
            }
            EXPECT_EQ(runProgram("/usr/bin/pdfinfo", {made + (name == "pdfSplit" ? "/" + file + " - página 001.pdf" : "")},
                          60, {}, dir.path())
                          .exitCode,
                0);
            // What qpdf mended is the log's to tell.
            EXPECT_NE(ErrorLog::recent(200).find(warned), std::string::npos);
        }
        // The text the damage left readable is the text of the pages written.
        const auto text = output("/usr/bin/pdftotext", {file + " (girado).pdf", "-"});
        EXPECT_NE(text.find("Linha 39 da pagina 3"), std::string::npos) << text;
    }
}

TEST_F(HeadlessTool, PDFToolsRefuseFilesWithoutPagesAndPageTreesOutOfProportion)
{
    // A catalog without its page tree (the page is there, unlisted); a tree whose kids are all
    // null; a tree listing one page a million times (6 MB); and a sound tree that lists its one
    // page twice (a blank between chapters).
    ASSERT_EQ(python(R"(
page = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>"
content = b"<< /Length 37 >>\nstream\nBT /F1 24 Tf 72 700 Td (Pagina) Tj ET\nendstream"
def tree(name, pages, catalog=b"<< /Type /Catalog /Pages 2 0 R >>"):
    write(name, [catalog, pages, page, content])
tree("sem arvore.pdf", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>", b"<< /Type /Catalog >>")
tree("nulos.pdf", b"<< /Type /Pages /Kids [null null 9 0 R] /Count 3 >>")
tree("milhao.pdf", b"<< /Type /Pages /Kids [" + b"3 0 R " * 1000000 + b"] /Count 1000000 >>")
tree("repetida.pdf", b"<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>")
tree("buracos.pdf", b"<< /Type /Pages /Kids [null 3 0 R 3 0 R null 3 0 R 3 0 R] /Count 9 >>")
)"),
        0);
    const std::vector<std::pair<std::string, std::vector<std::string>>> tools{
        {"pdfRotate", {}}, {"pdfSplit", {}}, {"pdfExtract", {"pages=1-"}}, {"pdfCompress", {}}};
    for (const auto& [source, sentence] : std::vector<std::pair<std::string, std::string>>{
             {"sem arvore.pdf", "Não foi possível ler o arquivo."}, {"nulos.pdf", "Não foi possível ler o arquivo."},
             {"milhao.pdf", "O arquivo está danificado ou incompleto."}}) {
        for (const auto& [name, options] : tools) {
            SCOPED_TRACE(source + " " + name);
            const auto before = names();
            auto arguments = std::vector<std::string>{"--tool", name};
            arguments.insert(arguments.end(), options.begin(), options.end());
            arguments.insert(arguments.end(), {"--", (dir / source).string()});
            const auto run = measureBrivlon(arguments);
            EXPECT_EQ(run.exitCode, 1);
            // Read a kid at a time, the million-page tree is refused holding a little more
            // than its own bytes (qpdf's list of its pages held 4 GB).
            EXPECT_LT(run.peakMiB, 300);
            EXPECT_EQ(tool(name, options, {source}).err, "erro: " + sentence + "\n");
            EXPECT_EQ(names(), before);
        }
    }
    // Merged with another, the million-page tree fails under its own name, as quickly.
    const auto merged
        = measureBrivlon({"--convert", "pdf", (dir / "repetida.pdf").string(), (dir / "milhao.pdf").string()});
    EXPECT_EQ(merged.exitCode, 1);
    EXPECT_LT(merged.peakMiB, 300);
    EXPECT_EQ(runProgram(BRIVLON_BINARY, {"--convert", "pdf", "repetida.pdf", "milhao.pdf"}, 60, {}, dir.path()).err,
        "erro: Não foi possível ler o arquivo “milhao.pdf”.\n");

    // What can be read is written: a page listed twice stays two pages, and a tree with holes
    // where pages were (which poppler refuses whole, and qpdf too) gives the pages it still has,
    // to the tools and drawn as pictures.
    for (const auto& [source, pages] : {std::pair{"repetida", 2u}, std::pair{"buracos", 4u}})
        for (const auto& [name, options] : tools) {
            SCOPED_TRACE(std::string(source) + " " + name);
            const auto result = tool(name, options, {std::string(source) + ".pdf"});
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const auto made = result.out.substr(0, result.out.size() - 1);
            EXPECT_EQ(name == "pdfSplit" ? size_t(std::distance(fs::directory_iterator(dir / made), {}))
                                         : pageWidths(made).size(),
                pages);
        }
    const auto drawn = runProgram(BRIVLON_BINARY, {"--convert", "png", "buracos.pdf"}, 120, {}, dir.path());
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "buracos (PNG)"), {}), 4);
    EXPECT_EQ(header("buracos (PNG)/buracos - página 004.png", "width"), "2550");
}

TEST_F(HeadlessTool, PDFToolsKeepEveryPageADamagedTreeStillReachesOnce)
{
    // Trees qpdf reads past and readers draw (or draw wrong): a node that is its own kid; a root
    // that counts no page (readers then see none); a catalog naming a page of the tree as the
    // tree; a node typed as a page; and 429 pages behind a cross-reference table that points
    // wrong. And, to be drawn, two pages whose tree was lost with the end of the file.
    ASSERT_EQ(python(R"(
import zlib
page = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>"
content = b"<< /Length 37 >>\nstream\nBT /F1 24 Tf 72 700 Td (Pagina) Tj ET\nendstream"
font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
def tree(name, pages, catalog=b"<< /Type /Catalog /Pages 2 0 R >>", more=[]):
    write(name, [catalog, pages, page, content, font] + more)
tree("laco.pdf", b"<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>")
tree("contagem.pdf", b"<< /Type /Pages /Kids [3 0 R] /Count 0 >>")
tree("raiz.pdf", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>", b"<< /Type /Catalog /Pages 3 0 R >>")
tree("tipo.pdf", b"<< /Type /Pages /Kids [6 0 R] /Count 1 >>",
     more=[b"<< /Type /Page /Parent 2 0 R /Kids [3 0 R] /Count 1 >>"])
objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [%s] /Count 429 >>" % b" ".join(b"%d 0 R" % (4 + 2 * i) for i in range(429)), font]
for i in range(429):
    data = zlib.compress(b"BT /F1 24 Tf 72 700 Td (Pagina %d) Tj ET" % (i + 1))
    objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                b"/Resources << /Font << /F1 3 0 R >> >> >>" % (5 + 2 * i))
    objs.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data + b"\nendstream")
write("longo.pdf", objs)
lost = page.replace(b"/Parent 2 0 R", b"/Parent 9 0 R")
lost = lost.replace(b"4 0 R", b"2 0 R").replace(b"5 0 R", b"3 0 R")
write("perdida.pdf", [b"<< /Type /Catalog /Pages 9 0 R >>", content, font, lost, lost.replace(b"612 792", b"792 612")])
data = bytearray(open("longo.pdf", "rb").read())
xref = data.rindex(b"\nxref") + 1
for n in range(1, len(objs), 3):
    at = xref + len(b"xref\n0 %d\n" % (len(objs) + 1)) + 20 * n
    data[at:at + 10] = b"%010d" % (int(data[at:at + 10]) + 7)
open("longo.pdf", "wb").write(bytes(data))
)"),
        0);
    const auto pagesSeen = [&](const std::string& file) {
        const auto info = output("/usr/bin/pdfinfo", {file});
        const auto at = info.find("Pages:");
        return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
    };
    ASSERT_EQ(pagesSeen("contagem.pdf"), -1);
    const std::vector<std::pair<std::string, std::vector<std::string>>> tools{
        {"pdfRotate", {}}, {"pdfSplit", {}}, {"pdfExtract", {"pages=1-"}}, {"pdfCompress", {}}};
    for (const auto& [source, pages] : {std::pair{"laco", 1}, std::pair{"contagem", 1}, std::pair{"raiz", 1},
             std::pair{"tipo", 1}, std::pair{"longo", 429}}) {
        for (const auto& [name, options] : tools) {
            SCOPED_TRACE(std::string(source) + " " + name);
            const auto result = tool(name, options, {std::string(source) + ".pdf"});
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const auto made = result.out.substr(0, result.out.size() - 1);
            if (name != "pdfSplit") {
                EXPECT_EQ(pagesSeen(made), pages);
                continue;
            }
            EXPECT_EQ(std::distance(fs::directory_iterator(dir / made), {}), pages);
            EXPECT_EQ(pagesSeen(made + "/" + source + " - página 001.pdf"), 1);
        }
        const auto text
            = runProgram(BRIVLON_BINARY, {"--convert", "txt", std::string(source) + ".pdf"}, 120, {}, dir.path());
        EXPECT_EQ(text.exitCode, 0) << source << text.err;
    }
    for (const auto* source : {"contagem.pdf", "perdida.pdf"}) {
        const auto drawn = runProgram(BRIVLON_BINARY, {"--convert", "png", source}, 120, {}, dir.path());
        ASSERT_EQ(drawn.exitCode, 0) << source << drawn.err;
    }
    EXPECT_EQ(header("contagem.png", "width"), "2550");
    EXPECT_EQ(header("perdida (PNG)/perdida - página 001.png", "width"), "2550");
    EXPECT_EQ(header("perdida (PNG)/perdida - página 002.png", "width"), "3300");
}

// A page for each picture, 612 points wide: its image dictionary's own keys and its coded data,
// drawn full page.
std::string picturePages(const std::vector<std::pair<std::string, std::string>>& pictures, int height = 792)
{
    const auto tall = std::to_string(height);
    QPDF pdf;
    pdf.emptyPDF();
    for (const auto& [keys, data] : pictures) {
        auto image = QPDFObjectHandle::newStream(&pdf);
        image.replaceStreamData(data, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
        auto dict = image.getDict();
        for (auto& [key, value] : QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Image " + keys + " >>").ditems())
            dict.replaceKey(key, value);
        auto page = QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 612 " + tall + "] /Resources << /XObject << >> >> >>");
        page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "q 612 0 0 " + tall + " 0 0 cm /Im0 Do Q"));
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setCompressStreams(false);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

TEST_F(HeadlessTool, PDFToolsOnScansFaxesAndPhotosKeepTheirPicturesAsTheyAre)
{
    // A scanner's PDF: a JPEG per page, as scanners and phone apps write them.
    const auto jpeg = [](int seed) {
        auto page = VImage::gaussnoise(850, 1100, VImage::option()->set("sigma", 30 + seed)).cast(VIPS_FORMAT_UCHAR);
        void* bytes = nullptr;
        size_t size = 0;
        page.write_to_buffer(".jpg", &bytes, &size);
        std::string data(static_cast<const char*>(bytes), size);
        g_free(bytes);
        return data;
    };
    const std::string scanned
        = " /Width 850 /Height 1100 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode";
    writeFile(dir / "digitalizado.pdf", picturePages({{scanned, jpeg(0)}, {scanned, jpeg(1)}, {scanned, jpeg(2)}}));
    // A fax: a white page coded CCITT group 4 (a "pass straight down" bit per row and the end of
    // the block); a JBIG2 page (a page's size and its end: white, and nothing qpdf decodes); a
    // picture packed run by run; a JPEG inside deflate.
    const std::string jbig2("\0\0\0\0\x30\0\x01\0\0\0\x13\0\0\0\x40\0\0\0\x10\0\0\0\0\0\0\0\0\0\0\0"
                            "\0\0\0\x01\x31\0\x01\0\0\0\0",
        43);
    Pl_Buffer packed("packed");
    Pl_Flate flate("deflate", &packed, Pl_Flate::a_deflate);
    const auto photo = jpeg(3);
    flate.write(reinterpret_cast<const unsigned char*>(photo.data()), photo.size());
    flate.finish();
    auto packedBuffer = packed.getBufferSharedPointer();
    const std::string inDeflate(reinterpret_cast<const char*>(packedBuffer->getBuffer()), packedBuffer->getSize());
    const std::string jpegInDeflate
        = " /Width 850 /Height 1100 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter [/FlateDecode /DCTDecode]";
    writeFile(dir / "fax.pdf",
        picturePages({{" /Width 64 /Height 16 /ImageMask true /Filter /CCITTFaxDecode "
                       "/DecodeParms << /K -1 /Columns 64 /Rows 16 >>",
                          std::string("\xff\xff\x00\x10\x01", 5)},
            {" /Width 64 /Height 16 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode", jbig2},
            {" /Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /RunLengthDecode",
                std::string("\xc1\x80\x80", 3)},
            {jpegInDeflate, inDeflate}}));
    // The same JPEG inside deflate, the deflate cut short: damage the tools must not copy.
    writeFile(dir / "cortado.pdf",
        picturePages({{scanned, jpeg(0)}, {jpegInDeflate, inDeflate.substr(0, inDeflate.size() / 2)}}));
    // A phone photo made into a PDF by the program itself.
    VImage::gaussnoise(1200, 900)
        .bandjoin({VImage::gaussnoise(1200, 900), VImage::gaussnoise(1200, 900)})
        .cast(VIPS_FORMAT_UCHAR)
        .write_to_file((dir / "foto.jpg").c_str());
    const auto converted = runProgram(BRIVLON_BINARY, {"--convert", "pdf", "foto.jpg"}, 120, {}, dir.path());
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    ASSERT_TRUE(fs::exists(dir / "foto.pdf"));

    const auto opens = [&](const std::string& name) {
        return runProgram("/usr/bin/pdfinfo", {name}, 60, {}, dir.path()).exitCode == 0;
    };
    for (const auto& [stem, pages] :
        std::vector<std::pair<std::string, size_t>>{{"digitalizado", 3}, {"fax", 4}, {"foto", 1}}) {
        SCOPED_TRACE(stem);
        const auto source = stem + ".pdf";
        auto result = tool("pdfRotate", {}, {source});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, stem + " (girado).pdf\n");
        EXPECT_EQ(pageWidths(stem + " (girado).pdf").size(), pages);
        EXPECT_EQ(rotation(stem + " (girado).pdf"), 90);
        EXPECT_TRUE(opens(stem + " (girado).pdf"));

        result = tool("pdfExtract", {"pages=2-, 1"}, {source});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(pageWidths(stem + " (extraído).pdf").size(), pages);
        EXPECT_TRUE(opens(stem + " (extraído).pdf"));

        result = tool("pdfSplit", {}, {source});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(size_t(std::distance(fs::directory_iterator(dir / (stem + " (páginas)")), {})), pages);
        const auto last = stem + " (páginas)/" + stem + " - página 00" + std::to_string(pages) + ".pdf";
        EXPECT_EQ(pageWidths(last).size(), 1u);
        EXPECT_TRUE(opens(last));

        result = tool("pdfCompress", {}, {source});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(pageWidths(stem + " (comprimido).pdf").size(), pages);
    }
    // The pictures went over untouched: the JBIG2 page's data is still JBIG2.
    EXPECT_NE(output("/usr/bin/pdfimages", {"-list", "fax (girado).pdf"}).find("jbig2"), std::string::npos);

    for (const auto& [name, options] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"pdfRotate", {}}, {"pdfSplit", {}}, {"pdfExtract", {"pages=1-2"}}}) {
        SCOPED_TRACE(name);
        const auto before = names();
        const auto result = tool(name, options, {"cortado.pdf"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "erro: O arquivo está danificado ou incompleto.\n");
        EXPECT_EQ(names(), before);
    }
}

TEST_F(HeadlessTool, AScanToPagesDrawsAsManyAtOnceAsTheirPicturesLeaveRoomFor)
{
    // Sixteen pages scanned at 300 dpi, a colour JPEG of 2550 × 1700 each: poppler scales each
    // picture whole for every band, so eight pages drawn at once held 300 MiB.
    std::vector<std::pair<std::string, std::string>> pages;
    auto scan = VImage::gaussnoise(2550, 1700, VImage::option()->set("sigma", 60)).gaussblur(3);
    scan = scan.bandjoin({scan.rot180(), scan}).cast(VIPS_FORMAT_UCHAR);
    for (int i = 0; i < 16; ++i) {
        void* bytes = nullptr;
        size_t size = 0;
        scan.embed(i * 7, 0, 2550, 1700, VImage::option()->set("extend", VIPS_EXTEND_MIRROR))
            .write_to_buffer(".jpg", &bytes, &size);
        pages.emplace_back(" /Width 2550 /Height 1700 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode",
            std::string(static_cast<const char*>(bytes), size));
        g_free(bytes);
    }
    // The pages as the scanner made them, 8.5 × 5.67 inches.
    writeFile(dir / "digitalizado.pdf", picturePages(pages, 408));
    const auto run = measureBrivlon({"--convert", "png", (dir / "digitalizado.pdf").string()});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakMiB, 256) << run.peakMiB;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "digitalizado (PNG)"), {}), 16);
    EXPECT_EQ(header("digitalizado (PNG)/digitalizado - página 016.png", "width"), "2550");
}

TEST_F(HeadlessTool, PDFCompressDownsamplesLargeImagesAndKeepsText)
{
    // A 3000 × 2000 photograph on a Letter page, with a line of text.
    auto photo = VImage::gaussnoise(3000, 2000, VImage::option()->set("sigma", 40)).gaussblur(2);
    photo = photo.bandjoin(photo.flip(VIPS_DIRECTION_HORIZONTAL)).bandjoin(photo).cast(VIPS_FORMAT_UCHAR);
    size_t size = 0;
    auto* pixels = static_cast<char*>(photo.write_to_memory(&size));
    std::string data(pixels, size);
    g_free(pixels);
    QPDF pdf;
    pdf.emptyPDF();
    auto image = QPDFObjectHandle::newStream(&pdf, data);
    image.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Image /Width 3000 /Height 2000 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>"));
    auto page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << /Font << /F1 << /Type "
                                        "/Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>");
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::parse("<< >>"));
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
    page.replaceKey("/Contents",
        QPDFObjectHandle::newStream(
            &pdf, "BT /F1 24 Tf 72 720 Td (Texto mantido) Tj ET q 468 0 0 312 72 300 cm /Im0 Do Q"));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    QPDFWriter writer(pdf, (dir / "foto.pdf").c_str());
    writer.write();

    auto result = tool("pdfCompress", {}, {"foto.pdf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "foto (comprimido).pdf\n");
    const auto list = output("/usr/bin/pdfimages", {"-list", "foto (comprimido).pdf"});
    // Page 1, image 0, "image", width, height: 11 inches at 150 per inch is the longer side.
    EXPECT_NE(list.find("image    1650  1100"), std::string::npos) << list;
    EXPECT_LT(fs::file_size(dir / "foto (comprimido).pdf"), fs::file_size(dir / "foto.pdf") / 4);
    EXPECT_NE(output("/usr/bin/pdftotext", {"foto (comprimido).pdf", "-"}).find("Texto mantido"), std::string::npos);
}

TEST_F(HeadlessTool, PDFCompressReducesAHugePictureWithoutHoldingItWhole)
{
    // A 20000 × 20000 grey picture (400 MB of samples, 2 MB deflated): dark on the left, light
    // on the right, darker towards the bottom, drawn over a Letter page.
    ASSERT_EQ(python(R"(
import zlib
side, c, parts = 20000, zlib.compressobj(6), []
for band in range(100):
    shade = 200 - band
    row = bytes([shade // 3]) * (side // 2) + bytes([shade]) * (side // 2)
    parts.append(c.compress(row * (side // 100)))
data = b"".join(parts) + c.flush()
write("planta.pdf", [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /XObject << /Im0 5 0 R >> >> >>",
      b"<< /Length 30 >>\nstream\nq 612 0 0 792 0 0 cm /Im0 Do Q\nendstream",
      b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray /BitsPerComponent 8 "
      b"/Filter /FlateDecode /Length %d >>\nstream\n" % (side, side, len(data)) + data + b"\nendstream"])
)"),
        0);
    const auto run = measureBrivlon({"--tool", "pdfCompress", "--", (dir / "planta.pdf").string()});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakMiB, 300) << run.peakMiB;
    EXPECT_NE(output("/usr/bin/pdfimages", {"-list", "planta (comprimido).pdf"}).find("image    1275  1275  gray"),
        std::string::npos);
    // The same picture, smaller: drawn small, the two pages agree.
    for (const auto* name : {"planta", "planta (comprimido)"})
        ASSERT_EQ(runProgram("/usr/bin/pdftoppm",
                      {"-r", "10", "-gray", "-singlefile", std::string(name) + ".pdf", std::string(name) + " 10dpi"},
                      60, {}, dir.path())
                      .exitCode,
            0);
    const auto before = VImage::new_from_file((dir / "planta 10dpi.pgm").c_str());
    const auto after = VImage::new_from_file((dir / "planta (comprimido) 10dpi.pgm").c_str());
    EXPECT_LT((before.cast(VIPS_FORMAT_INT) - after.cast(VIPS_FORMAT_INT)).abs().max(), 12);
}

TEST_F(HeadlessTool, MediaTools)
{
    // A second of each, at a low frame rate: what is checked is the stream layout, not the pictures.
    const auto clip = [&](const std::string& name, const std::string& size) {
        // 4:4:4 takes odd sizes too.
        ASSERT_TRUE(makeMedia(dir / name, "testsrc=duration=1:rate=5:size=" + size,
            {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=44100", "-pix_fmt", "yuv444p", "-shortest"}));
    };
    clip("paisagem.mp4", "640x360");
    clip("retrato.mov", "360x640");
    clip("pequeno.mkv", "160x90");
    clip("ímpar.mp4", "161x91");
    // tool, pairs, input, output, "width,height" of the HEVC stream
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> compress = {
        {"resolution=240", "paisagem.mp4", "paisagem (comprimido).mp4", "426,240"},
        {"resolution=240", "retrato.mov", "retrato (comprimido).mp4", "240,426"},
        {"resolution=720", "pequeno.mkv", "pequeno (comprimido).mp4", "160,90"},
        {"resolution=0", "ímpar.mp4", "ímpar (comprimido).mp4", "160,90"},
    };
    for (const auto& [pair, input, out, size] : compress) {
        SCOPED_TRACE(input);
        auto result = tool("vidCompress", {pair, "quality=85"}, {input});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, out + "\n");
        EXPECT_EQ(probe(out, "stream=codec_name,codec_tag_string,width,height"), "hevc,hvc1," + size + "\naac,mp4a\n");
    }

    auto result = tool("vidMute", {}, {"pequeno.mkv"});
    EXPECT_EQ(result.out, "pequeno (sem áudio).mkv\n");
    const auto videoCodec = probe("pequeno.mkv", "stream=codec_name").substr(0, 4);
    EXPECT_EQ(probe("pequeno (sem áudio).mkv", "stream=codec_name,codec_type"), "h264,video\n");
    EXPECT_EQ(videoCodec, "h264");

    result = tool("vidRotate", {}, {"paisagem.mp4"});
    EXPECT_EQ(probe("paisagem (girado).mp4", "stream=width,height").substr(0, 8), "360,640\n");

    result = tool("vidTrim", {"start=0,4", "end=0:00.8"}, {"paisagem.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(std::stod(probe("paisagem (aparado).mp4", "format=duration")), 0.4, 0.1);
    result = tool("vidTrim", {"start=10", "end=5"}, {"paisagem.mp4"});
    EXPECT_EQ(result.err, "erro: O fim precisa ser depois do início.\n");

    ASSERT_TRUE(makeMedia(dir / "voz.wav", "sine=duration=1:sample_rate=44100"));
    ASSERT_TRUE(makeMedia(dir / "voz.flac", "sine=duration=1:sample_rate=44100", {"-ac", "2"}));
    result = tool("audNormalize", {}, {"voz.wav", "voz.flac"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe("voz (normalizado).wav", "stream=sample_rate"), "44100\n");
    EXPECT_EQ(probe("voz (normalizado).flac", "stream=sample_rate"), "44100\n");
    result = tool("audTrim", {"start=0,5"}, {"voz.flac"});
    EXPECT_NEAR(std::stod(probe("voz (aparado).flac", "format=duration")), 0.5, 0.05);

    // An audiobook's chapters end where the kept sound does: players show the chapter track's
    // length, which would otherwise run on to the book's end.
    writeFile(dir / "capítulos.txt",
        ";FFMETADATA1\ntitle=Livro\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=Um\n[CHAPTER]\n"
        "TIMEBASE=1/1000\nSTART=2000\nEND=4000\ntitle=Dois\n");
    ASSERT_TRUE(makeMedia(dir / "livro.m4b", "sine=duration=4",
        {"-i", (dir / "capítulos.txt").string(), "-map_metadata", "1", "-map_chapters", "1", "-c:a", "aac", "-f",
            "ipod"}));
    for (const auto& [start, end, kept] :
        std::vector<std::tuple<std::string, std::string, double>>{{"0", "2", 2}, {"1,5", "2,5", 1}}) {
        result = tool("audTrim", {"start=" + start, "end=" + end}, {"livro.m4b"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto made = result.out.substr(0, result.out.find('\n'));
        EXPECT_NEAR(std::stod(probe(made, "format=duration")), kept, 0.05) << start;
        const auto ends = probe(made, "chapter=end_time");
        ASSERT_FALSE(ends.empty()) << "chapters are kept, cut to the sound";
        EXPECT_NEAR(std::stod(ends.substr(ends.rfind('\n', ends.size() - 2) + 1)), kept, 0.05) << start;
    }

    // A DVD's VOB keeps its container when muted, as every other video does.
    ASSERT_TRUE(makeMedia(dir / "VTS_01_1.VOB", "testsrc=duration=1:rate=25:size=352x288",
        {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=48000", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}));
    result = tool("vidMute", {}, {"VTS_01_1.VOB"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "VTS_01_1 (sem áudio).vob\n");
    const auto kept = probe("VTS_01_1 (sem áudio).vob", "stream=codec_name,codec_type");
    EXPECT_TRUE(kept.starts_with("mpeg2video,video") && kept.find("audio") == std::string::npos) << kept;
}

// The media tools on files as phones and encoders write them: a video held upright keeps the way
// it is shown (turned once more by vidRotate), a LAME MP3 keeps its rate, and trims read clock
// times with a decimal comma.
TEST_F(HeadlessTool, PhoneVideosAndLameMP3s)
{
    ASSERT_TRUE(makePhoneVideo(dir / "retrato.mp4"));
    ASSERT_TRUE(makeLameMP3(dir / "lame.mp3", 4));
    const auto shown = shownFrame(dir / "retrato.mp4");

    auto result = tool("vidMute", {}, {"retrato.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(samePicture(shownFrame(dir / "retrato (sem áudio).mp4"), shown));
    // The rotation's side data follows its stream's line.
    EXPECT_EQ(probe("retrato (sem áudio).mp4", "stream=codec_type").substr(0, 6), "video,");
    EXPECT_EQ(probe("retrato (sem áudio).mp4", "stream=codec_type").find("audio"), std::string::npos);
    result = tool("vidCompress", {"resolution=240"}, {"retrato.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(samePicture(shownFrame(dir / "retrato (comprimido).mp4"), shown));
    result = tool("vidTrim", {"start=0", "end=0:00,5"}, {"retrato.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(samePicture(shownFrame(dir / "retrato (aparado).mp4"), shown));
    EXPECT_NEAR(std::stod(probe("retrato (aparado).mp4", "format=duration")), 0.5, 0.1);
    result = tool("vidRotate", {}, {"retrato.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe("retrato (girado).mp4", "stream=width,height").substr(0, 6), "96,64\n");

    result = tool("audNormalize", {}, {"lame.mp3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe("lame (normalizado).mp3", "stream=sample_rate").substr(0, 6), "44100,");
    result = tool("audTrim", {"start=0:01,5", "end=0:03"}, {"lame.mp3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(std::stod(probe("lame (aparado).mp3", "format=duration")), 1.5, 0.1);
}

// Every media tool checks what ffmpeg made as the conversions do. A DSF whose header promises
// sound it never holds normalises into nothing, an audiobook of chapters alone has no sound, an
// MP4 of sound alone has no picture to keep, and a trim that starts past the end keeps nothing:
// each says so, and leaves no file.
TEST_F(HeadlessTool, OutputsWithoutTheirStreamsFail)
{
    // A DSF's three chunks with no samples in the last.
    std::string dsf = "DSD ";
    const auto number = [&](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            dsf += char(value >> (8 * i) & 0xff);
    };
    number(28, 8), number(92, 8), number(0, 8);
    dsf += "fmt ";
    number(52, 8), number(1, 4), number(0, 4), number(2, 4), number(2, 4), number(2822400, 4), number(1, 4),
        number(0, 8), number(4096, 4), number(0, 4);
    dsf += "data";
    number(12, 8);
    writeFile(dir / "vazio.dsf", dsf);
    writeFile(dir / "capitulos.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=Um\n");
    writeFile(dir / "capitulos.srt", "1\n00:00:00,000 --> 00:00:01,000\nUm\n");
    ASSERT_EQ(runProgram("/usr/bin/ffmpeg",
                  {"-loglevel", "error", "-i", "capitulos.srt", "-i", "capitulos.txt", "-map", "0", "-map_chapters",
                      "1", "-c:s", "mov_text", "-f", "ipod", "capitulos.m4b"},
                  60, {}, dir.path())
                  .exitCode,
        0);
    ASSERT_TRUE(makeMedia(dir / "voz.mp4", "sine=duration=1", {"-c:a", "aac"}));
    ASSERT_TRUE(makeMedia(dir / "curto.mp4", "testsrc=duration=1:rate=5:size=160x90", {"-pix_fmt", "yuv420p"}));
    // Cut short after its header, which still says ten seconds.
    ASSERT_TRUE(makeMedia(dir / "cortado.mp4", "testsrc2=size=160x120:rate=10:duration=10",
        {"-c:v", "mpeg4", "-movflags", "+faststart"}));
    fs::resize_file(dir / "cortado.mp4", fs::file_size(dir / "cortado.mp4") * 3 / 10);
    const auto before = names();
    const std::vector<Failure> cases = {
        {"audNormalize", {}, "vazio.dsf", "O arquivo não tem áudio."},
        {"audNormalize", {}, "capitulos.m4b", "O arquivo não tem áudio."},
        {"audTrim", {"start=0,2"}, "capitulos.m4b", "O arquivo não tem áudio."},
        {"vidMute", {}, "voz.mp4", "O arquivo não tem vídeo."},
        {"vidRotate", {}, "voz.mp4", "O arquivo não tem vídeo."},
        {"vidTrim", {"start=5", "end=9"}, "curto.mp4", "Nenhum trecho selecionado."},
        {"vidMute", {}, "cortado.mp4", "O arquivo está danificado ou incompleto."},
        {"vidRotate", {}, "cortado.mp4", "O arquivo está danificado ou incompleto."},
    };
    expectFailures(cases, before);
    // A trim past the end keeps what there is.
    const auto result = tool("vidTrim", {"start=0,5", "end=9"}, {"curto.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(std::stod(probe("curto (aparado).mp4", "format=duration")), 0.5, 0.1);
}

// Sounds that end within a second, headers no decoder opens, and a score that is no sound: each
// says what is wrong, and nothing is left behind.
TEST_F(HeadlessTool, ShortDamagedAndScoreSoundsSayWhy)
{
    ASSERT_TRUE(makeMedia(dir / "segundo.mp3", "sine=duration=1"));
    ASSERT_TRUE(makeMedia(dir / "segundo.opus", "sine=duration=1"));
    // A WAV whose header declares 65,535 channels of 16 bits.
    std::string wav = "RIFF";
    const auto number = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav += char(value >> (8 * i) & 0xff);
    };
    number(36 + 4096, 4), wav += "WAVEfmt ", number(16, 4), number(1, 2), number(65535, 2), number(8000, 4);
    number(8000u * 65535 * 2, 4), number(65535 * 2 & 0xffff, 2), number(16, 2), wav += "data", number(4096, 4);
    writeFile(dir / "largo.wav", wav + std::string(4096, '\0'));
    writeFile(dir / "partitura.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0", 26));
    const auto before = names();
    const std::vector<Failure> cases = {
        {"audTrim", {"start=1", "end=3"}, "segundo.mp3", "Nenhum trecho selecionado."},
        {"audTrim", {"start=1", "end=3"}, "segundo.opus", "Nenhum trecho selecionado."},
        {"audNormalize", {}, "largo.wav", "O arquivo está danificado ou incompleto."},
        {"audTrim", {"start=0", "end=1"}, "largo.wav", "O arquivo está danificado ou incompleto."},
        {"audNormalize", {}, "partitura.mid", "Conversão não suportada."},
    };
    expectFailures(cases, before);
    // Within the sound, a short range is kept.
    const auto result = tool("audTrim", {"start=0,9", "end=3"}, {"segundo.mp3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(std::stod(probe("segundo (aparado).mp3", "format=duration")), 0.1, 0.06);
}

TEST_F(HeadlessTool, Joins)
{
    for (const auto* name : {"parte 10.mp4", "parte 2.mp4", "it's.mp4"})
        ASSERT_TRUE(makeMedia(dir / name, "testsrc=duration=1:rate=5:size=160x90",
            {"-f", "lavfi", "-i", "sine=duration=1", "-pix_fmt", "yuv420p", "-shortest"}));
    fs::create_directories(dir / "tmp");
    const std::vector<std::pair<std::string, std::string>> tmp = {{"TMPDIR", (dir / "tmp").string()}};

    auto result = tool("vidJoin", {}, {"parte 10.mp4", "parte 2.mp4"}, tmp);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "parte 2 (juntos).mp4\n");
    EXPECT_NEAR(std::stod(probe("parte 2 (juntos).mp4", "format=duration")), 2, 0.3);

    result = tool("vidJoin", {}, {"parte 2.mp4", "it's.mp4"}, tmp);
    EXPECT_EQ(result.out, "it's (juntos).mp4\n") << result.err;

    // Mixed formats are re-encoded to the first one's.
    ASSERT_TRUE(makeMedia(dir / "b.mov", "testsrc=duration=1:rate=5:size=320x180", {"-pix_fmt", "yuv420p"}));
    result = tool("vidJoin", {}, {"parte 2.mp4", "b.mov"}, tmp);
    EXPECT_EQ(result.out, "b (juntos).mov\n") << result.err;
    EXPECT_NEAR(std::stod(probe("b (juntos).mov", "format=duration")), 2, 0.3);
    // The first file's size for all, and silence where a file has no sound.
    EXPECT_EQ(probe("b (juntos).mov", "stream=codec_type,width,height"), "video,320,180\naudio\n");
    // Every file is read with its own decoders: the concat demuxer would read the AVI's MPEG-4
    // part as H.264 and keep only the first second.
    ASSERT_TRUE(makeMedia(dir / "c.avi", "testsrc=duration=1:rate=5:size=160x120",
        {"-f", "lavfi", "-i", "sine=duration=1", "-c:v", "mpeg4", "-shortest"}));
    result = tool("vidJoin", {}, {"parte 2.mp4", "c.avi"}, tmp);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "c (juntos).avi\n");
    EXPECT_NEAR(std::stod(probe("c (juntos).avi", "format=duration")), 2, 0.3);

    ASSERT_TRUE(makeMedia(dir / "a.mp3", "sine=duration=1"));
    ASSERT_TRUE(makeMedia(dir / "c.wav", "sine=duration=1:sample_rate=22050"));
    result = tool("audJoin", {}, {"c.wav", "a.mp3"}, tmp);
    EXPECT_EQ(result.out, "a (juntos).mp3\n") << result.err;
    EXPECT_NEAR(std::stod(probe("a (juntos).mp3", "format=duration")), 2, 0.3) << "each part whole";

    // A part that cannot be read fails the join: the list would end there and call it done.
    writeFile(dir / "d.mp3", "ID3 e nada mais");
    result = tool("audJoin", {}, {"a.mp3", "d.mp3"}, tmp);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(dir / "a (juntos) 2.mp3"));

    for (const auto& entry : fs::recursive_directory_iterator(dir / "tmp"))
        EXPECT_EQ(entry.path().filename().string().find("lista-"), std::string::npos) << entry.path();
}

// The concat demuxer takes the first part's streams for all and reads every part as if it were
// like the first, so a copy joins only parts alike in every stream. A phone clip without sound
// before one with it, clips of two sizes, sound at two rates: each joins whole, at the first
// part's size, with silence where a part has none, as long as the part's picture.
TEST_F(HeadlessTool, JoinsCopyOnlyPartsAlikeInEveryStream)
{
    const auto clip = [&](const std::string& name, const std::string& size, bool sound) {
        std::vector<std::string> options = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
            "-metadata", "creation_time=2026-05-01T10:00:00Z"};
        if (sound)
            options.insert(options.begin(),
                {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=48000", "-c:a", "aac", "-shortest"});
        ASSERT_TRUE(makeMedia(dir / name, "testsrc=duration=1:rate=10:size=" + size, options));
    };
    clip("1 mudo.mp4", "320x180", false);
    clip("2 com som.mp4", "320x180", true);
    clip("3 pequeno.mp4", "160x90", true);
    // Each frame's "width,height"; ffprobe adds lines of side data, which hold no size.
    const auto frames = [&](const std::string& file) {
        auto sizes = probe(file, "frame=width,height");
        std::set<std::string> distinct;
        for (size_t at = 0, end; (end = sizes.find('\n', at)) != std::string::npos; at = end + 1)
            if (const auto line = sizes.substr(at, end - at); line.find_first_of("123456789") == 0)
                distinct.insert(line.substr(0, line.find(',', line.find(',') + 1)));
        return distinct;
    };
    const auto length = [&](const std::string& file, const std::string& streams) {
        return std::atof(output("/usr/bin/ffprobe",
            {"-v", "error", "-select_streams", streams, "-show_entries", "stream=duration", "-of", "csv=p=0", file})
                             .c_str());
    };

    auto result = tool("vidJoin", {}, {"2 com som.mp4", "1 mudo.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "1 mudo (juntos).mp4\n");
    EXPECT_EQ(probe("1 mudo (juntos).mp4", "stream=codec_type"), "video\naudio\n") << "the second part's sound";
    EXPECT_NEAR(length("1 mudo (juntos).mp4", "v:0"), 2, 0.3);
    EXPECT_NEAR(length("1 mudo (juntos).mp4", "a:0"), 2, 0.3);

    result = tool("vidJoin", {}, {"2 com som.mp4", "3 pequeno.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(frames("2 com som (juntos).mp4"), std::set<std::string>{"320,180"});
    EXPECT_NEAR(length("2 com som (juntos).mp4", "v:0"), 2, 0.3);
    EXPECT_NEAR(length("2 com som (juntos).mp4", "a:0"), 2, 0.3);

    // Parts alike are still copied: past the first picture, which carries the codec's settings
    // once more, the packets are the first part's.
    fs::copy_file(dir / "2 com som.mp4", dir / "4 cópia.mp4");
    result = tool("vidJoin", {}, {"2 com som.mp4", "4 cópia.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto sizes = [&](const std::string& file) {
        return output("/usr/bin/ffprobe",
            {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size", "-of", "csv=p=0", file})
            .substr(0, 200);
    };
    const auto copied = sizes("2 com som (juntos) 2.mp4"), original = sizes("2 com som.mp4");
    EXPECT_TRUE(copied.substr(copied.find('\n')).starts_with(original.substr(original.find('\n')))) << copied;
    EXPECT_NEAR(length("2 com som (juntos) 2.mp4", "v:0"), 2, 0.3);

    // A silent screen recording states no length in its header: its silence is as long as the
    // picture it holds, not the placeholder's days.
    ASSERT_TRUE(makeRecording(dir / "0 gravação muda.mp4", false));
    result = tool("vidJoin", {}, {"2 com som.mp4", "0 gravação muda.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe("0 gravação muda (juntos).mp4", "stream=codec_type"), "video\naudio\n");
    EXPECT_NEAR(length("0 gravação muda (juntos).mp4", "v:0"), 3, 0.2);
    EXPECT_NEAR(length("0 gravação muda (juntos).mp4", "a:0"), 3, 0.2);

    ASSERT_TRUE(makeMedia(dir / "a.mp3", "sine=duration=1:sample_rate=44100"));
    ASSERT_TRUE(makeMedia(dir / "b.mp3", "sine=duration=1:sample_rate=22050", {"-ac", "2"}));
    result = tool("audJoin", {}, {"a.mp3", "b.mp3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(length("a (juntos).mp3", "a:0"), 2, 0.2);
}

// Normalising hands ffmpeg its filter chain through a FIFO that is filled while ffmpeg starts.
// An ffmpeg that never opens it, on a source it cannot read or one without sound, still ends the
// run with the usual sentence, leaving neither an output nor the FIFO's folder.
TEST_F(HeadlessTool, ANormaliseThatFailsLeavesNothing)
{
    writeFile(dir / "falso.wav", "nada");
    ASSERT_TRUE(makeMedia(dir / "mudo.mp4", "testsrc=duration=1:rate=5:size=160x90", {"-pix_fmt", "yuv420p"}));
    fs::rename(dir / "mudo.mp4", dir / "mudo.m4a");
    fs::create_directories(dir / "tmp");
    for (const auto& [file, sentence] : {std::pair{"falso.wav", "O arquivo está danificado ou incompleto."},
             {"mudo.m4a", "O arquivo não tem áudio."}}) {
        const auto result = tool("audNormalize", {}, {file}, {{"TMPDIR", (dir / "tmp").string()}});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "erro: " + std::string(sentence) + "\n");
    }
    EXPECT_EQ(names(), (std::set<std::string>{"falso.wav", "mudo.m4a", "tmp"}));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(HeadlessTool, ArgumentsAndNoFiles)
{
    VImage::black(100, 50).write_to_file((dir / "a.png").c_str());
    VImage::black(100, 50).write_to_file((dir / "b.png").c_str());
    auto result = tool("imgResize", {"scale=abc", "scale=40", "junk"}, {"b.png", "a.png"});
    EXPECT_EQ(result.out, "b (redimensionado).png\na (redimensionado).png\n");
    EXPECT_EQ(header("a (redimensionado).png", "width"), "40");
    EXPECT_EQ(tool("imgCompress", {}, {}).out, "");
    // No "--", or no such tool: not this mode, so the program starts as usual, which here, with
    // no display, says it needs one.
    const auto started = runBrivlon({"--tool", "imgcompress", "--", "a.png"}, 20, {{"DISPLAY", ""}});
    EXPECT_EQ(started.exitCode, 1);
    EXPECT_NE(started.err.find("sessão gráfica"), std::string::npos) << started.err;
}

TEST_F(HeadlessTool, SameNamesFromEightProcessesAtOnce)
{
    VImage::black(64, 48).write_to_file((dir / "foto.jpg").c_str());
    fs::copy_file(dir / "foto.jpg", dir / "foto.jpeg");
    std::vector<std::future<RunResult>> runs;
    for (int i = 0; i < 8; ++i)
        runs.push_back(std::async(std::launch::async, [this, i] {
            return tool("imgRotate", {}, {i % 2 ? "foto.jpg" : "foto.jpeg"});
        }));
    std::set<std::string> printed;
    for (auto& run : runs)
        printed.insert(run.get().out);
    EXPECT_EQ(printed.size(), 8u);
    EXPECT_EQ(names().size(), 10u);
    EXPECT_TRUE(names().count("foto (girado) 8.jpg"));
}

TEST_F(HeadlessTool, ASplitPageThatCannotBeWrittenFailsTheWholeSplit)
{
    // The second page carries 200 kB that do not compress; files may grow to 64 kB only (the
    // signal that limit sends is ignored, so the write fails instead).
    QPDF pdf;
    pdf.emptyPDF();
    std::string noise;
    for (unsigned value = 1; noise.size() < 200000; value = value * 1103515245 + 12345)
        noise += char(value >> 16);
    for (const auto& content : {std::string("q Q"), "% " + noise}) {
        auto page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 200] /Resources << >> >>");
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, (dir / "doc.pdf").c_str());
    writer.setCompressStreams(false);
    writer.write();

    auto result = runProgram("/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f 128; exec \"$0\" --tool pdfSplit -- doc.pdf", BRIVLON_BINARY}, 60, {},
        dir.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "erro: Não foi possível salvar o arquivo convertido.\n");
    EXPECT_EQ(names(), std::set<std::string>{"doc.pdf"});
}

TEST_F(HeadlessTool, AnInterruptedCompressLeavesNothing)
{
    const auto input = dir / "longo.mp4";
    // Quick to make, seconds for x265 to compress.
    ASSERT_TRUE(makeMedia(input, "testsrc=duration=20:size=640x360:rate=25", {"-c:v", "mpeg4", "-q:v", "5"}));
    Process::Child run({BRIVLON_BINARY, {"--tool", "vidCompress", "--", input.string()}, {}, {}});
    ASSERT_TRUE(pumpUntil(60, [&] {
        return processes("ffmpeg", input.string()) > 0;
    }));
    ::kill(run.pid(), SIGTERM);
    ASSERT_TRUE(pumpUntil(20, [&] {
        return processes("brivlon", input.string()) + processes("ffmpeg", input.string()) == 0;
    }));
    const int status = run.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_EQ(names(), std::set<std::string>{"longo.mp4"});
}
