#define POINTERHOLDER_TRANSITION 4

#include "core/base/catalog.h"
#include "core/base/error_causes.h"
#include "core/base/task.h"
#include "core/engines/pdf_engine.h"
#include "core/engines/pdf_pieces.h"
#include "core/engines/pdf_text.h"
#include "support/test_support.h"

#include <poppler-qt6.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

using namespace TestSupport;
using enum ConversionError::Kind;

namespace {

struct PageSpec {
    double width = 612, height = 792;
    int rotate = 0;
    std::string text;  // lines apart by '\n', from 72 pt right of and 100 pt below the top-left corner
    std::string cropBox;  // "[x0 y0 x1 y1]" when it differs from the media box
    double left = 0, bottom = 0;  // where the media box starts
    std::string lastInk;  // fill colour operators for the last line ("0 0 1 rg")
};

// A PDF of the given pages in Helvetica; `inheritedRotate` goes on the page tree, not the pages.
void writePDF(const fs::path& path, const std::vector<PageSpec>& pages, int inheritedRotate = 0)
{
    QPDF pdf;
    pdf.emptyPDF();
    auto font
        = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    for (const auto& p : pages) {
        std::ostringstream content, dict;
        content << "BT /F1 18 Tf 22 TL " << p.left + 72 << " " << p.bottom + p.height - 100 + 22 << " Td";
        std::istringstream lines(p.text);
        for (std::string line; std::getline(lines, line);)
            content << (lines.peek() == EOF ? " " + p.lastInk : "") << " (" << line << ") '";
        dict << "<< /Type /Page /MediaBox [" << p.left << " " << p.bottom << " " << p.left + p.width << " "
             << p.bottom + p.height << "]" << (p.rotate ? " /Rotate " + std::to_string(p.rotate) : "")
             << (p.cropBox.empty() ? "" : " /CropBox " + p.cropBox) << " /Resources << /Font << /F1 " << font.unparse()
             << " >> >> /Contents "
             << pdf.makeIndirectObject(QPDFObjectHandle::newStream(&pdf, content.str() + " ET")).unparse() << " >>";
        QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(QPDFObjectHandle::parse(&pdf, dict.str())), false);
    }
    if (inheritedRotate)
        pdf.getRoot().getKey("/Pages").replaceKey("/Rotate", QPDFObjectHandle::newInteger(inheritedRotate));
    QPDFWriter(pdf, path.c_str()).write();
}

void qpdf(std::vector<std::string> options, const fs::path& from, const fs::path& to)
{
    options.insert(options.end(), {"--", from.string(), to.string()});
    const auto run = runProgram("/usr/bin/qpdf", options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.insert(entry.path().filename().string());
    return result;
}

OutputFormat format(const std::string& ext) { return Catalog::fmts({ext}).front(); }
QImage image(const fs::path& file) { return QImage(QString::fromStdString(file.string())); }

}

TEST(PDFEngine, PagesBecomeNumberedImagesInANewFolderOrOneImageBesideTheSource)
{
    TempDir dir;
    const auto source = dir / "Relatório.pdf";
    writePDF(source,
        {{595.276, 841.89, 0, "um"}, {.rotate = 90, .text = "dois"}, {.text = "tres\nazul", .lastInk = "0 0 1 rg"},
            {612, 792, 90, "quatro", "[100 100 400 500]"}});
    std::vector<double> progress;
    const auto folder = PDFEngine::convert(source, format("png"), [&](double p) {
        progress.push_back(p);
    });
    EXPECT_EQ(folder, dir / "Relatório (PNG)");
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    // The crop box at 300 dpi, truncated (2480.3 x 3507.9 for A4), turned with the page.
    const std::vector<QSize> sizes = {{2480, 3507}, {3300, 2550}, {2550, 3300}, {1666, 1250}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(image(folder / ("Relatório - página 00" + std::to_string(i + 1) + ".png")).size(), sizes[i]) << i;
    const auto page = image(folder / "Relatório - página 003.png");
    EXPECT_EQ(QSize(page.dotsPerMeterX(), page.dotsPerMeterY()), QSize(11811, 11811));  // 300 dpi
    int inked = 0, blue = 0;  // the text is drawn, upright, at 300 px by 417 px; its blue line below
    for (int y = 330; y < 520; ++y)
        for (int x = 280; x < 480; ++x)
            (y < 430 ? inked : blue)
                += y < 430 ? qGray(page.pixel(x, y)) < 128 : qBlue(page.pixel(x, y)) - qRed(page.pixel(x, y)) > 150;
    EXPECT_TRUE(inked > 100 && blue > 100) << inked << " black, " << blue << " blue";
    EXPECT_EQ(PDFEngine::convert(source, format("png"), {}), dir / "Relatório (PNG) 2");

    // More pages than cores, widening by a point each: a file holding another page breaks the climb.
    std::vector<PageSpec> strips;
    for (int i = 1; i <= 40; ++i)
        strips.push_back({5.0 + i, 10});
    writePDF(dir / "Tiras.pdf", strips);
    const auto stripFolder = PDFEngine::convert(dir / "Tiras.pdf", format("png"), {});
    for (int i = 1, lastWidth = 0; i <= 40; ++i) {
        const auto width = image(stripFolder / QString::asprintf("Tiras - página %03d.png", i).toStdString()).width();
        EXPECT_GT(width, std::exchange(lastWidth, width)) << i;
    }

    writePDF(dir / "Cartão.pdf", {{.text = "ola"}});
    EXPECT_EQ(PDFEngine::convert(dir / "Cartão.pdf", format("jpg"), {}), dir / "Cartão.jpg");
    EXPECT_EQ(image(dir / "Cartão.jpg").size(), QSize(2550, 3300));
    EXPECT_EQ(PDFEngine::convert(dir / "Cartão.pdf", format("jpg"), {}), dir / "Cartão 2.jpg");
}

TEST(PDFEngine, APageWhoseColourComesLateKeepsWhatWasDrawnBeforeIt)
{
    // Pages are drawn in bands and kept grey until a colour shows: black lines from the top, a
    // blue one at the foot, far below the first band; and a grey page beside it.
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 29; ++i)
        lines += "linha preta\n";
    writePDF(dir / "Cores.pdf", {{.text = lines + "azul", .lastInk = "0 0 1 rg"}, {.text = lines + "cinza"}});
    const auto folder = PDFEngine::convert(dir / "Cores.pdf", format("png"), {});
    const auto coloured = image(folder / "Cores - página 001.png");
    const auto grey = image(folder / "Cores - página 002.png");
    ASSERT_EQ(coloured.size(), QSize(2550, 3300));
    EXPECT_TRUE(grey.isGrayscale());
    // Each line's ink, counted over its band of rows: the first line black, the last one blue.
    const auto ink = [&](const QImage& page, int line, auto&& test) {
        const int top = int((100 - 22 + 22 * line - 14) * 300 / 72.0), bottom = int((100 - 22 + 22 * line + 4) * 300 / 72.0);
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 300; x < 900; ++x)
                count += test(page.pixel(x, y));
        return count;
    };
    const auto black = [](QRgb p) { return qRed(p) < 80 && qGreen(p) < 80 && qBlue(p) < 80; };
    const auto blue = [](QRgb p) { return qBlue(p) - qRed(p) > 150; };
    EXPECT_GT(ink(coloured, 1, black), 500);
    EXPECT_EQ(ink(coloured, 1, blue), 0);
    EXPECT_GT(ink(coloured, 30, blue), 500);
    EXPECT_GT(ink(grey, 30, black), 500);
    // Rows above the blue line are what the grey page shows there.
    EXPECT_EQ(coloured.copy(0, 0, 2550, 3000).convertToFormat(QImage::Format_RGB32),
        grey.copy(0, 0, 2550, 3000).convertToFormat(QImage::Format_RGB32));
}

TEST(PDFEngine, PagesThatCannotBeDrawnAreSkippedAndAnExportThatStopsLeavesNothing)
{
    TempDir dir;
    writePDF(dir / "mixed.pdf", {{.text = "a"}, {0.1, 0.1}, {.text = "c"}});
    std::vector<double> progress;
    const auto folder = PDFEngine::convert(dir / "mixed.pdf", format("png"), [&](double p) {
        progress.push_back(p);
    });
    EXPECT_EQ(names(folder), (std::set<std::string>{"mixed - página 001.png", "mixed - página 003.png"}));
    EXPECT_EQ(progress, (std::vector<double>{1.0 / 3, 1.0}));

    // Too small for one pixel: nothing is written, not even a folder, and the source is what
    // could not be read.
    writePDF(dir / "tiny.pdf", {{0.1, 0.1}, {0.1, 0.1}});
    EXPECT_EQ(thrown(PDFEngine::convert, dir / "tiny.pdf", format("png"), Progress{}).kind(), unreadable);

    // A cancelled job stops before the next page and takes its folder with it.
    auto job = Task::newJob();
    Task::Binder binder(job);
    int pages = 0;
    const auto cancel = [&](double) {
        ++pages, job.cancel->cancel();
    };
    EXPECT_THROW(PDFEngine::convert(dir / "mixed.pdf", format("png"), cancel), CancellationError);
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"mixed.pdf", "mixed (PNG)", "tiny.pdf"}));
}

// The width, height and pixels per metre of a PNG file, from its header and its pHYs chunk.
std::array<uint32_t, 3> pngHeader(const fs::path& file)
{
    const auto bytes = readFile(file);
    const auto number = [&](size_t at) {
        uint32_t value = 0;
        for (size_t i = at; i < at + 4 && i < bytes.size(); ++i)
            value = value << 8 | uint8_t(bytes[i]);
        return value;
    };
    const auto phys = bytes.find("pHYs");
    return {number(16), number(20), phys == std::string::npos ? 0 : number(phys + 4)};
}

TEST(PDFEngine, PagesPastTheBitmapBoundAreDrawnAtTheResolutionThatKeepsThemWithinItAndSaySo)
{
    // A poster of 4000 × 4000 pt would be 16,666 pixels a side at 300 dpi, 833 MB in colour; a
    // plan beside a letter page; a page of the largest size a PDF allows.
    TempDir dir;
    writePDF(dir / "cartaz.pdf", {{.width = 4000, .height = 4000, .text = "Cartaz"}});
    writePDF(dir / "planta.pdf", {{.text = "Indice"}, {.width = 5000, .height = 3500, .text = "Planta"}});
    writePDF(dir / "maximo.pdf", {{.width = 14400, .height = 14400, .text = "Maximo"}});
    EXPECT_EQ(PDFEngine::convert(dir / "cartaz.pdf", format("png"), {}), dir / "cartaz (254 dpi).png");
    EXPECT_EQ(pngHeader(dir / "cartaz (254 dpi).png"), (std::array<uint32_t, 3>{14111, 14111, 10000}));
    const auto folder = PDFEngine::convert(dir / "planta.pdf", format("png"), {});
    EXPECT_EQ(names(folder), (std::set<std::string>{"planta - página 001.png", "planta - página 002 (243 dpi).png"}));
    EXPECT_EQ(pngHeader(folder / "planta - página 002 (243 dpi).png"), (std::array<uint32_t, 3>{16875, 11812, 9567}));
    EXPECT_EQ(pngHeader(folder / "planta - página 001.png"), (std::array<uint32_t, 3>{2550, 3300, 11811}));
    EXPECT_EQ(PDFEngine::convert(dir / "maximo.pdf", format("png"), {}), dir / "maximo (70 dpi).png");
    EXPECT_EQ(pngHeader(dir / "maximo (70 dpi).png")[0], 14000u);
}

// The threads this process runs now, from the kernel's count.
int threadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

TEST(PDFEngine, ALongExportRunsAboutOneThreadPerCore)
{
    // Pages of text and some coloured, three rounds of pages per core: every page is written
    // while the others are drawn, and no writer may bring threads of its own.
    TempDir dir;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    std::string lines;
    for (int i = 0; i < 30; ++i)
        lines += "Capitulo " + std::to_string(i) + " linha de texto corrido ate a margem\n";
    std::vector<PageSpec> pages;
    for (int i = 0; i < 3 * cores; ++i)
        pages.push_back({.text = lines, .lastInk = i % 4 == 0 ? "1 0 0 rg" : ""});
    writePDF(dir / "Livro longo.pdf", pages);
    const int before = threadCount();
    int most = before, reports = 0;
    const auto folder = PDFEngine::convert(dir / "Livro longo.pdf", format("png"), [&](double) {
        most = std::max(most, threadCount());
        ++reports;
    });
    EXPECT_EQ(reports, 3 * cores);
    EXPECT_EQ(names(folder).size(), size_t(3 * cores));
    EXPECT_LE(most - before, cores + 2) << before << " threads before, " << most << " while pages were written";
    EXPECT_TRUE(image(folder / "Livro longo - página 002.png").isGrayscale());
    EXPECT_FALSE(image(folder / "Livro longo - página 005.png").isGrayscale());
}

TEST(PDFEngine, TextHoldsEveryPageInReadingOrderWhateverItsRotationAndBoxes)
{
    TempDir dir;
    const std::string lines = "Primeira linha do texto\nsegunda linha aqui";
    writePDF(dir / "Notas.pdf", {{.text = lines}, {.text = "Outra pagina"}});
    EXPECT_EQ(readFile(PDFEngine::convert(dir / "Notas.pdf", format("txt"), {})), lines + "\n\nOutra pagina");

    writePDF(dir / "herdada.pdf", {{.text = lines}, {.rotate = 180, .text = lines}}, 90);
    writePDF(dir / "deslocada.pdf",
        {{.text = lines, .left = 200, .bottom = -300}, {.text = lines, .cropBox = "[40 300 560 760]"},
            {.rotate = 270, .text = lines, .cropBox = "[60 60 500 760]", .left = 50}});
    qpdf({"--rotate=+90:1", "--rotate=+180:2"}, dir / "Notas.pdf", dir / "girada.pdf");
    for (const std::string name : {"herdada.pdf", "deslocada.pdf", "girada.pdf"}) {
        const auto reference = runProgram("/usr/bin/pdftotext", {(dir / name).string(), "-"});
        EXPECT_EQ(words(readFile(PDFEngine::convert(dir / name, format("txt"), {}))), words(reference.out)) << name;
    }

    // A document without a text layer gives an empty file, not a failure.
    writePDF(dir / "Scan.pdf", {{}, {}});
    EXPECT_EQ(readFile(PDFEngine::convert(dir / "Scan.pdf", format("txt"), {})), "");

    // A long document's pages are laid out on several threads and still come in order, each
    // page without text (the first among them) keeping its place.
    std::vector<PageSpec> book(90);
    for (size_t i = 0; i < book.size(); ++i)
        if (i % 7 != 0)
            book[i].text = "Pagina " + std::to_string(i + 1) + "\nfim da pagina " + std::to_string(i + 1);
    writePDF(dir / "Livro.pdf", book);
    const auto pages = PDFText::pageTexts(dir / "Livro.pdf");
    ASSERT_EQ(pages.size(), book.size());
    EXPECT_EQ(pages.front(), "");
    EXPECT_EQ(words(pages[89]), (std::vector<std::string>{"Pagina", "90", "fim", "da", "pagina", "90"}));
    std::string joined = pages.front();
    for (size_t i = 1; i < pages.size(); ++i)
        joined += "\n" + pages[i];
    EXPECT_EQ(readFile(PDFEngine::convert(dir / "Livro.pdf", format("txt"), {})), joined);
}

TEST(PDFEngine, SourcesThatDoNotOpenFailByNameAndWriteNothing)
{
    TempDir dir;
    writePDF(dir / "A.pdf", {{.text = "A1"}});
    writeFile(dir / "falso.pdf", "isto não é um PDF\n");
    writeFile(dir / "cortado.pdf", readFile(dir / "A.pdf").substr(0, 20));
    qpdf({"--encrypt", "senha", "senha", "256"}, dir / "A.pdf", dir / "trancado.pdf");
    const auto before = names(dir.path());
    for (const std::string bad : {"falso.pdf", "cortado.pdf", "trancado.pdf"}) {
        // A password is named as the cause, as for archives.
        for (const auto* ext : {"png", "txt"}) {
            const auto error = thrown(PDFEngine::convert, dir / bad, format(ext), Progress{});
            if (bad == "trancado.pdf")
                EXPECT_STREQ(error.what(), ErrorCauses::password);
            else
                EXPECT_EQ(error.kind(), unreadable) << bad;
        }
        // A merge says which of its files it could not read, wherever that one stands, and that
        // it is locked when it is.
        for (const auto& files :
            {std::vector{dir / "A.pdf", dir / bad, dir / "A.pdf"}, std::vector{dir / bad, dir / "A.pdf"}}) {
            const std::string said = thrown(PDFEngine::merge, files).what();
            EXPECT_NE(said.find(bad), std::string::npos) << bad;
            EXPECT_EQ(said.find("senha") != std::string::npos, bad == "trancado.pdf") << said;
        }
    }
    EXPECT_EQ(thrown(PDFEngine::convert, dir / "A.pdf", format("mp3"), Progress{}).kind(), unsupported);
    EXPECT_EQ(names(dir.path()), before);
}

TEST(PDFEngine, MergeAppendsEveryPageInOrderUnencryptedUnderAFreeName)
{
    TempDir dir;
    writePDF(dir / "A0.pdf", {{.text = "A1"}, {.rotate = 90, .text = "A2"}});
    // Opens without a password but forbids printing and changes; the merge must not carry that on.
    qpdf({"--encrypt", "", "dono", "256", "--print=none", "--modify=none"}, dir / "A0.pdf", dir / "A.pdf");
    writePDF(dir / "B.pdf", {{.text = "B1"}, {.text = "B2"}, {.text = "B3"}}, 90);
    writePDF(dir / "C.pdf", {{.text = "C1"}});

    const auto out = PDFEngine::merge({dir / "A.pdf", dir / "B.pdf", dir / "C.pdf"});
    EXPECT_EQ(out, dir / "A – combinado.pdf");
    EXPECT_EQ(words(readFile(PDFEngine::convert(out, format("txt"), {}))),
        (std::vector<std::string>{"A1", "A2", "B1", "B2", "B3", "C1"}));
    auto merged = Poppler::Document::load(QString::fromStdString(out.string()));
    for (int page : {1, 2, 4})  // A's own rotation and B's inherited one stay
        EXPECT_EQ(merged->page(page)->orientation(), Poppler::Page::Landscape) << page;
    EXPECT_EQ(runProgram("/usr/bin/qpdf", {"--is-encrypted", out.string()}).exitCode, 2);  // 2: not encrypted

    EXPECT_EQ(PDFEngine::merge({dir / "A.pdf", dir / "B.pdf"}), dir / "A – combinado 2.pdf");
}

TEST(PDFEngine, PagesThatUnpackToGigabytesAndFormsPopplerReadsInSquareTimeFailAtOnce)
{
    // A page whose one string unpacks from a few hundred kilobytes to 300 MiB, once as the page's
    // content and once inside a form the page draws; twelve forms of a few bytes, each drawing
    // the next ten times (a trillion forms to draw); a form of 3,000 fields under one unnamed
    // parent (the parent read again for each of them); and, which still convert, one of 300
    // fields so, as real forms have, and forms three deep that each draw the next ten times.
    TempDir dir;
    const auto made = pythonWithPDFWriter(R"(
import zlib
def stream(data, extra=b""):
    return b"<< /Length %d /Filter /FlateDecode %s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"
c = zlib.compressobj(9)
bomb = c.compress(b"BT /F1 12 Tf 72 700 Td (") + b"".join(c.compress(b"A" * (1 << 20)) for _ in range(300))
bomb += c.compress(b") Tj ET") + c.flush()
head = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"]
page = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> %s >> >>"
font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
write("bomba.pdf", head + [page % b"", stream(bomb), font])
write("bomba-forma.pdf", head + [page % b"/XObject << /X 6 0 R >>", stream(zlib.compress(b"/X Do")), font,
      stream(bomb, b"/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >>")])
def nested(path, depth):
    objs = head + [page % b"/XObject << /X 6 0 R >>", stream(zlib.compress(b"/X Do")), font]
    for n in range(6, 6 + depth):
        inner = b"<< /Font << /F1 5 0 R >> >>" if n == 5 + depth else b"<< /XObject << /X %d 0 R >> >>" % (n + 1)
        body = b"BT /F1 18 Tf 72 700 Td (Ficha de inscricao) Tj ET" if n == 5 + depth else b"".join(
            b"q 1 0 0 1 %d 0 cm (/X Do) %% /X Do\n/X Do Q\n" % k for k in range(10))
        kind = b"/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources "
        objs.append(stream(zlib.compress(body), kind + inner))
    write(path, objs)
nested("formas.pdf", 12)
nested("formas-leves.pdf", 3)
def form(path, count):
    kids = b" ".join(b"%d 0 R" % (7 + i) for i in range(count))
    objs = [b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [%s] >> >>" % kids, head[1],
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [%s] "
            b"/Resources << /Font << /F1 5 0 R >> >> >>" % kids,
            stream(zlib.compress(b"BT /F1 18 Tf 72 700 Td (Ficha de inscricao) Tj ET")), font, b"<< /FT /Tx /Kids [%s] >>" % kids]
    objs += [b"<< /Type /Annot /Subtype /Widget /Parent 6 0 R /Rect [0 0 10 10] /T (campo%d) >>" % i for i in range(count)]
    write(path, objs)
form("campos.pdf", 3000)
form("ficha.pdf", 300)
# Fields each listing their one kid twice, 25 levels down: 2.5 KB that poppler builds into 33
# million fields; and a field that is its own parent and kid, which it leaves out.
shared = [b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] >> >>", head[1],
          page % b"", stream(zlib.compress(b"BT /F1 18 Tf 72 700 Td (Ficha de inscricao) Tj ET")), font]
write("partilhado.pdf", shared + [b"<< /Kids [7 0 R 7 0 R] >>"]
      + [b"<< /Kids [%d 0 R %d 0 R] /Parent %d 0 R >>" % (n + 1, n + 1, n - 1) for n in range(7, 31)]
      + [b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (folha) /Rect [0 0 1 1] /Parent 30 0 R >>"])
write("proprio.pdf", shared + [b"<< /FT /Tx /Parent 6 0 R /Kids [6 0 R 7 0 R] >>",
      b"<< /Type /Annot /Subtype /Widget /Parent 6 0 R /Rect [0 0 10 10] >>"])
)",
        dir.path());
    ASSERT_EQ(made, 0);
    const auto before = names(dir.path());
    const std::map<std::string, std::string> sentences{
        {"bomba.pdf", "O conteúdo de uma página do PDF é grande demais para ser lido."},
        {"bomba-forma.pdf", "O conteúdo de uma página do PDF é grande demais para ser lido."},
        {"formas.pdf", "O conteúdo de uma página do PDF é grande demais para ser lido."},
        {"campos.pdf", "O formulário do PDF é complexo demais para ser lido."},
        {"partilhado.pdf", "O formulário do PDF é complexo demais para ser lido."}};
    for (const auto& [name, sentence] : sentences)
        for (const auto* ext : {"png", "txt"}) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_STREQ(thrown(PDFEngine::convert, dir / name, format(ext), Progress{}).what(), sentence.c_str())
                << name << " " << ext;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name << " " << ext;
        }
    EXPECT_EQ(names(dir.path()), before);
    // A thousand copies of the title, over one another: the words come apart.
    const auto text = readFile(PDFEngine::convert(dir / "formas-leves.pdf", format("txt"), {}));
    EXPECT_NE(text.find("Ficha"), std::string::npos);
    for (const auto* name : {"ficha.pdf", "proprio.pdf"})
        EXPECT_NE(
            readFile(PDFEngine::convert(dir / name, format("txt"), {})).find("Ficha de inscricao"), std::string::npos)
            << name;
}

TEST(PDFEngine, PicturesDecodedWholeAreCountedByTheSizeTheyDeclareBeforeTheyAreDrawn)
{
    // Pages drawing a JBIG2 and a JPEG 2000 picture of 60000 × 60000 in about a kilobyte (their
    // decoders hold the whole picture: 900 MB and 43 GB); a JBIG2 picture whose dictionary says
    // 100 × 100 but whose own data says 60000²; pictures whose data is none of their coding; and
    // a sound JPEG 2000 picture of 64 × 48.
    TempDir dir;
    ASSERT_EQ(runProgram("/usr/bin/vips", {"black", (dir / "quadro.jp2").string(), "64", "48", "--bands", "3"}).exitCode, 0);
    ASSERT_EQ(pythonWithPDFWriter(R"(
import struct
def page(path, size, kind, data, space=b"/DeviceRGB /BitsPerComponent 8"):
    content = b"q 300 0 0 300 100 300 cm /Im1 Do Q BT /F1 18 Tf 72 700 Td (Quadro) Tj ET"
    write(path, [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /XObject << /Im1 5 0 R >> /Font << /F1 6 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace %s /Filter /%s /Length %d >>\nstream\n"
        % (size[0], size[1], space, kind, len(data)) + data + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"])
N = 60000
def segment(number, kind, data): return struct.pack(">IBBBI", number, kind, 0, 1, len(data)) + data
region = struct.pack(">IIIIB", N, N, 0, 0, 0) + bytes([0, 3, 0xff, 0xfd, 0xff, 2, 0xfe, 0xfe, 0xfe]) + bytes(range(256)) * 2
jbig2 = segment(0, 48, struct.pack(">IIIIBH", N, N, 0, 0, 0, 0)) + segment(1, 38, region)
page("jbig2.pdf", (N, N), b"JBIG2Decode", jbig2, b"/DeviceGray /BitsPerComponent 1")
page("jbig2-pequeno.pdf", (100, 100), b"JBIG2Decode", jbig2, b"/DeviceGray /BitsPerComponent 1")
siz = struct.pack(">HHHIIIIIIIIH", 0xff51, 47, 0, N, N, 0, 0, N, N, 0, 0, 3) + bytes([7, 1, 1]) * 3
body = bytes(range(256)) * 2
j2k = (b"\xff\x4f" + siz + struct.pack(">HHBBHBBBBBB", 0xff52, 12, 0, 0, 1, 1, 5, 4, 4, 0, 0)
    + struct.pack(">HHBB", 0xff5c, 4, 0x40, 0x48) + struct.pack(">HHHIBB", 0xff90, 10, 0, 14 + len(body), 0, 1)
    + b"\xff\x93" + body + b"\xff\xd9")
page("jpx.pdf", (N, N), b"JPXDecode", j2k)
page("quadro.pdf", (64, 48), b"JPXDecode", open("quadro.jp2", "rb").read())
for kind in (b"JPXDecode", b"JBIG2Decode", b"DCTDecode"):
    page("lixo-%s.pdf" % kind[:-6].decode(), (100, 100), kind, b"lixo" * 100)
)",
                  dir.path()),
        0);
    for (const auto* name : {"jbig2.pdf", "jbig2-pequeno.pdf", "jpx.pdf"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_STREQ(thrown(PDFEngine::convert, dir / name, format("png"), Progress{}).what(),
            "O conteúdo de uma página do PDF é grande demais para ser lido.")
            << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
        // Laying the text out decodes no picture.
        EXPECT_NE(readFile(PDFEngine::convert(dir / name, format("txt"), {})).find("Quadro"), std::string::npos);
    }
    // A picture whose decoder cannot start on its data is never drawn as a blank page.
    for (const auto* name : {"lixo-JPX.pdf", "lixo-JBIG2.pdf", "lixo-DCT.pdf"})
        EXPECT_EQ(thrown(PDFEngine::convert, dir / name, format("png"), Progress{}).kind(), unreadable) << name;
    const QImage drawn(QString::fromStdString(PDFEngine::convert(dir / "quadro.pdf", format("png"), {}).string()));
    ASSERT_FALSE(drawn.isNull());
    // The black picture where it stands, the white page around it.
    EXPECT_EQ(qGray(drawn.pixel(drawn.width() * 250 / 612, drawn.height() * 340 / 792)), 0);
    EXPECT_EQ(qGray(drawn.pixel(10, 10)), 255);
}

namespace {

// A PDF of `objects` (object n is objects[n - 1]; the first is the catalog), its
// cross-reference offsets counted.
void writeObjects(const fs::path& path, const std::vector<std::string>& objects)
{
    std::string out = "%PDF-1.7\n";
    std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 0; i < objects.size(); ++i) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%010zu 00000 n \n", out.size());
        xref += offset;
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const auto start = out.size();
    out += xref + "trailer << /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + std::to_string(start) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << out;
}

// A long document of small pages that repeat every 20: pages in groups of ten under page-tree
// nodes that hand down their box, rotation and fonts, every other group turned; among them pages
// with resources of their own, a layer the document hides, and a text field whose appearance the
// form asks the reader to make. `padding` numbers in each page's own resources make what a
// reader keeps of every page large enough to see.
void writeRepeatingPDF(const fs::path& path, int count, int padding)
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R] /D << /OFF [5 0 R] >> >>"
        " /AcroForm << /Fields [] /NeedAppearances true /DR << /Font << /Helv 4 0 R >> >> /DA (/Helv 0 Tf 0 g) >> >>",
        "",  // the root of the page tree, once its groups are known
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Type /OCG /Name (Rascunho) >>",
    };
    auto add = [&](std::string body) {
        objects.push_back(std::move(body));
        return std::to_string(objects.size()) + " 0 R";
    };
    auto stream = [&](const std::string& content) {
        return add("<< /Length " + std::to_string(content.size()) + " >>stream\n" + content + "\nendstream");
    };
    std::string numbers;
    for (int i = 0; i < padding; ++i)
        numbers += std::to_string(i) + " ";
    std::string groups, fields;
    for (int first = 0; first < count; first += 10) {
        const int node = int(objects.size()) + 1;
        add("");
        std::string kids;
        for (int k = first; k < std::min(count, first + 10); ++k) {
            const int shown = k % 20;
            const std::string label = "BT /F1 9 Tf 3 12 Td (p" + std::to_string(shown) + ") Tj ET";
            std::string page = "<< /Type /Page /Parent " + std::to_string(node) + " 0 R";
            switch (padding ? 0 : shown % 4) {
            case 0: {
                const auto resources = add("<< /Font << /F1 3 0 R >> /Padding [" + numbers + "] >>");
                page += " /MediaBox [0 0 36 24] /Resources " + resources + " /Contents " + stream("0 0 1 rg " + label);
                break;
            }
            case 1: page += " /Contents " + stream(label); break;
            case 2:
                page += " /Resources << /Font << /F1 3 0 R >> /Properties << /L 5 0 R >> >> /Contents "
                    + stream(label + " /OC /L BDC 1 0 0 rg 0 0 30 8 re f EMC");
                break;
            case 3: {
                const auto widget = add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (campo" + std::to_string(k)
                    + ") /V (v" + std::to_string(shown) + ") /Rect [2 2 34 14] /DA (/Helv 8 Tf 0 0 1 rg) /F 4 >>");
                page += " /Annots [" + widget + "] /Contents " + stream(label);
                fields += widget + " ";
                break;
            }
            }
            kids += add(page + " >>") + " ";
        }
        objects[size_t(node - 1)] = "<< /Type /Pages /Parent 2 0 R /Count " + std::to_string(std::min(10, count - first))
            + " /Kids [" + kids + "] /MediaBox [0 0 40 30] /Resources << /Font << /F1 3 0 R >> >>"
            + (first / 10 % 2 ? " /Rotate 90" : "") + " >>";
        groups += std::to_string(node) + " 0 R ";
    }
    objects[1] = "<< /Type /Pages /Count " + std::to_string(count) + " /Kids [" + groups + "] >>";
    objects[0].replace(objects[0].find("/Fields []"), 10, "/Fields [" + fields + "]");
    writeObjects(path, objects);
}

std::string bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The most this process held since `resetPeak`, in bytes.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
long long peakBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}

}

TEST(PDFEngine, ALongDocumentIsDrawnPageForPageAsAShortOneAndHoldsNoMoreForItsLength)
{
    TempDir dir;
    // Each of the long one's pages is one of the short one's, drawn by the long export from a
    // piece of the document and by the short one from the whole.
    writeRepeatingPDF(dir / "curto.pdf", 20, 0);
    writeRepeatingPDF(dir / "Relatório longo.pdf", 300, 0);
    // The job's temporary folder, where the pieces are written.
    const auto scratch = dir / "tmp";
    fs::create_directory(scratch);
    const std::string oldTemp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", scratch.c_str(), 1);
    struct Restore {
        std::string value;
        ~Restore() { value.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", value.c_str(), 1); }
    } restore{oldTemp};
    const auto shortPages = PDFEngine::convert(dir / "curto.pdf", format("png"), {});
    int reports = 0;
    double last = 0;
    const auto longPages = PDFEngine::convert(dir / "Relatório longo.pdf", format("png"), [&](double done) {
        EXPECT_GT(done, last);
        last = done;
        ++reports;
    });
    EXPECT_EQ(reports, 300);
    ASSERT_EQ(names(longPages).size(), 300u);
    EXPECT_EQ(names(shortPages).size(), 20u);
    for (int page : {1, 2, 3, 4, 15, 16, 17, 18, 19, 20, 281, 284, 299, 300}) {
        char longName[64], shortName[64];
        std::snprintf(longName, sizeof longName, "Relatório longo - página %03d.png", page);
        std::snprintf(shortName, sizeof shortName, "curto - página %03d.png", (page - 1) % 20 + 1);
        EXPECT_EQ(bytesOf(longPages / longName), bytesOf(shortPages / shortName)) << longName;
    }
    EXPECT_TRUE(fs::is_empty(scratch));
    // A cancelled long export leaves neither pages nor pieces.
    {
        auto job = Task::newJob();
        Task::Binder binder(job);
        EXPECT_THROW(PDFEngine::convert(dir / "Relatório longo.pdf", format("png"), [&](double) { job.cancel->cancel(); }),
            CancellationError);
    }
    EXPECT_EQ(names(dir.path()).size(), 5u);
    EXPECT_TRUE(fs::is_empty(scratch));
    // Pages of the second group are turned by their node; the hidden layer's red never shows.
    EXPECT_EQ(image(longPages / "Relatório longo - página 011.png").size(), QSize(125, 166));
    EXPECT_TRUE(image(longPages / "Relatório longo - página 003.png").isGrayscale());

    // Pages that each hold about 16 KB of resources: every drawing thread kept all it had drawn
    // up to its last page, some 200 MB on eight cores for this document.
    writeRepeatingPDF(dir / "Padded.pdf", 4000, 200);
    resetPeak();
    const long long before = peakBytes();
    const auto padded = PDFEngine::convert(dir / "Padded.pdf", format("png"), {});
    EXPECT_EQ(names(padded).size(), 4000u);
    EXPECT_LT(peakBytes() - before, 64LL << 20) << "bytes held above the start";
}

namespace {

// Page k (from 0) of a deep tree: in nodes of 50 pages, the odd ones turned, each of nodes of 7,
// every third of which has a wider media box and the next a crop box; every fifth page has a
// media box of its own. The fonts and the first media box come from the root.
struct DeepPage {
    std::string mediaBox, cropBox;
    int rotate = 0;
};
DeepPage deepPage(int k)
{
    const int leaf = k / 50 * 8 + k % 50 / 7;
    return {k % 5 == 0 ? "[ 0 0 36 24 ]" : leaf % 3 == 1 ? "[ 0 0 50 30 ]" : "[ 0 0 40 30 ]",
        leaf % 3 == 2 ? "[ 0 0 20 20 ]" : "", k / 50 % 2 ? 90 : 0};
}

// `count` pages as deepPage says, each labelled "(pK)" and its dictionary padded with `padding`
// numbers of its own: what a reader keeps of every page's dictionary is large enough to see.
void writeDeepTreePDF(const fs::path& path, int count, int padding)
{
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    auto add = [&](std::string body) {
        objects.push_back(std::move(body));
        return int(objects.size());
    };
    std::string numbers;
    for (int i = 0; i < padding; ++i)
        numbers += std::to_string(i) + " ";
    std::string middles;
    for (int first = 0; first < count; first += 50) {
        const int middle = add("");
        std::string leaves;
        const int end = std::min(count, first + 50);
        for (int start = first; start < end; start += 7) {
            const int leaf = add("");
            std::string kids;
            for (int k = start; k < std::min(end, start + 7); ++k) {
                const std::string label = "BT /F1 9 Tf 3 12 Td (p" + std::to_string(k) + ") Tj ET";
                const int contents = add("<< /Length " + std::to_string(label.size()) + " >>stream\n" + label + "\nendstream");
                kids += std::to_string(add("<< /Type /Page /Parent " + std::to_string(leaf) + " 0 R /Contents "
                            + std::to_string(contents) + " 0 R" + (k % 5 ? "" : " /MediaBox [0 0 36 24]") + " /Padding ["
                            + numbers + "] >>"))
                    + " 0 R ";
            }
            const int index = first / 50 * 8 + (start - first) / 7;
            objects[size_t(leaf - 1)] = "<< /Type /Pages /Parent " + std::to_string(middle) + " 0 R /Count "
                + std::to_string(std::min(end, start + 7) - start) + " /Kids [" + kids + "]"
                + (index % 3 == 1 ? " /MediaBox [0 0 50 30]" : index % 3 == 2 ? " /CropBox [0 0 20 20]" : "") + " >>";
            leaves += std::to_string(leaf) + " 0 R ";
        }
        objects[size_t(middle - 1)] = "<< /Type /Pages /Parent 2 0 R /Count " + std::to_string(end - first) + " /Kids ["
            + leaves + "]" + (first / 50 % 2 ? " /Rotate 90" : "") + " >>";
        middles += std::to_string(middle) + " 0 R ";
    }
    objects[1] = "<< /Type /Pages /Count " + std::to_string(count) + " /Kids [" + middles
        + "] /MediaBox [0 0 40 30] /Resources << /Font << /F1 3 0 R >> >> >>";
    writeObjects(path, objects);
}

}

TEST(PDFEngine, APieceOfALongDocumentHoldsItsPagesAsTheTreeGivesThemAndReadingItHoldsNoMoreForTheLength)
{
    TempDir dir;
    const int count = 3000;
    writeDeepTreePDF(dir / "árvore.pdf", count, 150);
    PDFEngine::PagePieces pieces(dir / "árvore.pdf", dir.path(), count);
    // The first piece reads the whole source once. Each page's dictionary is some 20 KB to qpdf:
    // holding every one read took 130 MB for this document, where a part's pages take about 25 MB
    // whatever the length.
    resetPeak();
    const long long before = peakBytes();
    const auto first = pieces.write(0, 16);
    EXPECT_LT(peakBytes() - before, 48LL << 20) << "bytes held above the start";
    // Pieces across nodes of every level and the parts' edges, and the last page.
    for (auto [from, length] : {std::pair{0, 16}, {250, 6}, {256, 64}, {1000, 24}, {2984, 16}}) {
        const auto path = from ? pieces.write(from, length) : first;
        QPDF piece;
        piece.processFile(path.c_str());
        const auto pages = QPDFPageDocumentHelper(piece).getAllPages();
        ASSERT_EQ(pages.size(), size_t(length)) << from;
        for (int i = 0; i < length; ++i) {
            const int k = from + i;
            QPDFObjectHandle page = pages[size_t(i)].getObjectHandle();
            const auto expected = deepPage(k);
            EXPECT_EQ(page.getKey("/MediaBox").unparse(), expected.mediaBox) << k;
            EXPECT_EQ(page.getKey("/CropBox").isNull() ? "" : page.getKey("/CropBox").unparse(), expected.cropBox) << k;
            EXPECT_EQ(page.getKey("/Rotate").isInteger() ? page.getKey("/Rotate").getIntValue() : 0, expected.rotate) << k;
            EXPECT_TRUE(page.getKey("/Resources").getKey("/Font").getKey("/F1").isDictionary()) << k;
            const auto data = page.getKey("/Contents").getRawStreamData();
            EXPECT_NE(std::string(data->getBuffer(), data->getBuffer() + data->getSize()).find("(p" + std::to_string(k) + ")"),
                std::string::npos)
                << k;
        }
        fs::remove(path);
    }
    // A tree holding more pages than poppler counts makes no pieces: the export draws from the
    // whole document instead.
    fs::create_directory(dir / "tmp");
    PDFEngine::PagePieces fewer(dir / "árvore.pdf", dir / "tmp", count - 1);
    EXPECT_THROW(fewer.write(0, 16), std::exception);
}
