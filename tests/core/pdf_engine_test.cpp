#define POINTERHOLDER_TRANSITION 4

#include "core/catalog.h"
#include "core/conversion_error.h"
#include "core/pdf_engine.h"
#include "core/task.h"
#include "support/test_support.h"

#include <poppler-qt6.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <charconv>
#include <set>

using namespace TestSupport;

namespace {

std::string number(double value)
{
    char buffer[32];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr};
}

struct PageSpec {
    double width = 612;
    double height = 792;
    int rotate = 0;
    std::string text;
    std::string cropBox;  // "[x0 y0 x1 y1]" when it differs from the media box
};

// A PDF whose pages have the given boxes and rotation and show their text in Helvetica; with a
// password it opens only with that password.
void writePDF(const fs::path& path, const std::vector<PageSpec>& pages, const char* password = nullptr)
{
    QPDF pdf;
    pdf.emptyPDF();
    auto font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    QPDFPageDocumentHelper document(pdf);
    for (const auto& layout : pages) {
        auto page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 " + number(layout.width) + " " +
                                            number(layout.height) + "] /Rotate " + std::to_string(layout.rotate) + " >>");
        if (!layout.cropBox.empty())
            page.replaceKey("/CropBox", QPDFObjectHandle::parse(layout.cropBox));
        auto resources = QPDFObjectHandle::newDictionary();
        auto fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/F1", font);
        resources.replaceKey("/Font", fonts);
        page.replaceKey("/Resources", resources);
        const auto content = layout.text.empty() ? std::string() : "BT /F1 18 Tf 20 20 Td (" + layout.text + ") Tj ET";
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        document.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    if (password)
        writer.setR6EncryptionParameters(password, password, true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
}

std::vector<std::string> pageTexts(const fs::path& pdf)
{
    auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
    EXPECT_TRUE(document);
    std::vector<std::string> texts;
    for (int i = 0; document && i < document->numPages(); ++i)
        texts.push_back(document->page(i)->text(QRectF()).trimmed().toStdString());
    return texts;
}

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.insert(entry.path().filename().string());
    return result;
}

QSize imageSize(const fs::path& image)
{
    return QImageReader(QString::fromStdString(image.string())).size();
}

OutputFormat format(const std::string& ext)
{
    return Catalog::fmts({ext}).front();
}

template <typename Call>
ConversionError::Kind failure(Call call)
{
    try {
        call();
    } catch (const ConversionError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no ConversionError";
    return ConversionError::Kind::ffmpeg;
}

}

TEST(PDFEngine, ManyPagesGoIntoANewFolderOfNumberedImagesWithProgress)
{
    TempDir dir;
    const auto source = dir / "Relatório.pdf";
    writePDF(source, {{.text = "um"}, {.rotate = 90, .text = "dois"}, {.text = "tres"}, {.text = "quatro"}});

    std::vector<double> progress;
    const auto folder = PDFEngine::convert(source, format("png"), [&](double p) { progress.push_back(p); });

    EXPECT_EQ(folder, dir / "Relatório (PNG)");
    EXPECT_EQ(names(folder), (std::set<std::string>{"Relatório - página 001.png", "Relatório - página 002.png",
                                                    "Relatório - página 003.png", "Relatório - página 004.png"}));
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(imageSize(folder / "Relatório - página 001.png"), QSize(2550, 3300));
    EXPECT_EQ(imageSize(folder / "Relatório - página 002.png"), QSize(3300, 2550));

    const QImage page(QString::fromStdString((folder / "Relatório - página 003.png").string()));
    EXPECT_EQ(page.dotsPerMeterX(), 11811);  // 300 dpi
    EXPECT_EQ(page.dotsPerMeterY(), 11811);
    EXPECT_FALSE(page.hasAlphaChannel());
    EXPECT_EQ(page.pixel(page.width() - 1, 0), qRgb(255, 255, 255));
    bool inked = false;  // the text near the bottom-left corner was drawn
    for (int y = page.height() - 200; y < page.height() && !inked; ++y)
        for (int x = 0; x < 400 && !inked; ++x)
            inked = qGray(page.pixel(x, y)) < 128;
    EXPECT_TRUE(inked);

    // A second export never reuses the first folder.
    EXPECT_EQ(PDFEngine::convert(source, format("png"), {}), dir / "Relatório (PNG) 2");
}

TEST(PDFEngine, PixelSizesAreTruncatedFromTheCropBoxAndFollowTheRotation)
{
    struct Case {
        PageSpec page;
        QSize expected;
    };
    const std::vector<Case> cases = {
        {{612, 792, 0}, {2550, 3300}},
        {{612, 792, 90}, {3300, 2550}},
        {{612, 792, 180}, {2550, 3300}},
        {{612, 792, 270}, {3300, 2550}},
        {{595.276, 841.89, 0}, {2480, 3507}},  // 3507.875 is not rounded up
        {{100.3, 50.1, 0}, {417, 208}},
        {{612, 792, 0, "", "[100 100 400 500]"}, {1250, 1666}},
        {{612, 792, 90, "", "[100 100 400 500]"}, {1666, 1250}},
    };
    for (const auto& [page, expected] : cases) {
        TempDir dir;
        writePDF(dir / "p.pdf", {page});
        auto document = Poppler::Document::load(QString::fromStdString((dir / "p.pdf").string()));
        ASSERT_TRUE(document);
        const auto image = PDFEngine::render(*document->page(0), 300);
        ASSERT_TRUE(image) << page.width << "x" << page.height;
        EXPECT_EQ(image->size(), expected) << page.width << "x" << page.height << " rotated " << page.rotate;
    }
}

TEST(PDFEngine, OnePageBecomesOneImageBesideTheSource)
{
    TempDir dir;
    const auto source = dir / "Cartão.pdf";
    writePDF(source, {{.text = "ola"}});

    std::vector<double> progress;
    const auto out = PDFEngine::convert(source, format("jpg"), [&](double p) { progress.push_back(p); });
    EXPECT_EQ(out, dir / "Cartão.jpg");
    EXPECT_EQ(progress, std::vector<double>{1.0});
    const QImage image(QString::fromStdString(out.string()));
    EXPECT_EQ(image.size(), QSize(2550, 3300));
    EXPECT_EQ(image.dotsPerMeterX(), 11811);

    EXPECT_EQ(PDFEngine::convert(source, format("jpg"), {}), dir / "Cartão 2.jpg");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"Cartão.pdf", "Cartão.jpg", "Cartão 2.jpg"}));
}

TEST(PDFEngine, AnUndrawablePageIsNeverReportedAsAWrittenImage)
{
    TempDir dir;
    // A one-page document whose only page is too small for a single pixel fails and writes nothing.
    writePDF(dir / "tiny.pdf", {{0.1, 0.1}});
    EXPECT_EQ(failure([&] { PDFEngine::convert(dir / "tiny.pdf", format("png"), {}); }),
              ConversionError::Kind::writeFailed);
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"tiny.pdf"});

    // Among several pages it is only skipped: no file and no progress for it.
    writePDF(dir / "mixed.pdf", {{.text = "a"}, {0.1, 0.1}, {.text = "c"}});
    std::vector<double> progress;
    const auto folder = PDFEngine::convert(dir / "mixed.pdf", format("png"), [&](double p) { progress.push_back(p); });
    EXPECT_EQ(names(folder), (std::set<std::string>{"mixed - página 001.png", "mixed - página 003.png"}));
    EXPECT_EQ(progress, (std::vector<double>{1.0 / 3, 1.0}));
}

TEST(PDFEngine, TextHoldsEveryPageInOrderSeparatedByALineFeed)
{
    TempDir dir;
    writePDF(dir / "Notas.pdf", {{.text = "Primeira pagina"}, {.text = "Segunda pagina"}});
    bool reported = false;
    const auto out = PDFEngine::convert(dir / "Notas.pdf", format("txt"), [&](double) { reported = true; });
    EXPECT_EQ(out, dir / "Notas.txt");
    EXPECT_FALSE(reported);
    const auto text = readFile(out);
    const auto first = text.find("Primeira pagina");
    const auto second = text.find("Segunda pagina");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second);
    EXPECT_NE(text.substr(first, second - first).find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\f'), std::string::npos);

    // A document without a text layer gives an empty file, not a failure.
    writePDF(dir / "Scan.pdf", {{}, {}});
    EXPECT_EQ(readFile(PDFEngine::convert(dir / "Scan.pdf", format("txt"), {})), "");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"Notas.pdf", "Notas.txt", "Scan.pdf", "Scan.txt"}));
}

TEST(PDFEngine, SourcesThatAreNoPDFOrTargetsThatAreNoImageFail)
{
    TempDir dir;
    writeFile(dir / "falso.pdf", "isto não é um PDF\n");
    writePDF(dir / "ok.pdf", {{.text = "x"}});
    writePDF(dir / "trancado.pdf", {{.text = "segredo"}}, "senha");
    for (const auto& bad : {"falso.pdf", "trancado.pdf"}) {
        EXPECT_EQ(failure([&] { PDFEngine::convert(dir / bad, format("png"), {}); }), ConversionError::Kind::unreadable)
            << bad;
        EXPECT_EQ(failure([&] { PDFEngine::convert(dir / bad, format("txt"), {}); }), ConversionError::Kind::unreadable)
            << bad;
    }
    EXPECT_EQ(failure([&] { PDFEngine::convert(dir / "ok.pdf", format("mp3"), {}); }),
              ConversionError::Kind::unsupported);
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"falso.pdf", "ok.pdf", "trancado.pdf"}));
}

TEST(PDFEngine, ACancelledExportStopsBetweenPagesAndLeavesNothing)
{
    TempDir dir;
    writePDF(dir / "Longo.pdf", {{.text = "1"}, {.text = "2"}, {.text = "3"}});
    auto job = Task::newJob();
    Task::Binder binder(job);
    int pages = 0;
    EXPECT_THROW(PDFEngine::convert(dir / "Longo.pdf", format("png"),
                                    [&](double) {
                                        ++pages;
                                        job.cancel->cancel();
                                    }),
                 CancellationError);
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"Longo.pdf"});
}

TEST(PDFEngine, MergeAppendsEveryPageInOrderUnderAFreeName)
{
    TempDir dir;
    writePDF(dir / "A.pdf", {{.text = "A1"}, {.rotate = 90, .text = "A2"}});
    writePDF(dir / "B.pdf", {{.text = "B1"}, {.text = "B2"}, {.text = "B3"}});
    writePDF(dir / "C.pdf", {{.text = "C1"}});

    const auto out = PDFEngine::merge({dir / "A.pdf", dir / "B.pdf", dir / "C.pdf"});
    EXPECT_EQ(out, dir / "A – combinado.pdf");
    EXPECT_EQ(pageTexts(out), (std::vector<std::string>{"A1", "A2", "B1", "B2", "B3", "C1"}));
    auto merged = Poppler::Document::load(QString::fromStdString(out.string()));
    EXPECT_EQ(merged->page(1)->orientation(), Poppler::Page::Landscape);

    EXPECT_EQ(PDFEngine::merge({dir / "A.pdf", dir / "B.pdf"}), dir / "A – combinado 2.pdf");
    EXPECT_EQ(pageTexts(dir / "A – combinado 2.pdf").size(), 5u);
    // The sources are untouched.
    EXPECT_EQ(pageTexts(dir / "A.pdf"), (std::vector<std::string>{"A1", "A2"}));
}

TEST(PDFEngine, MergeWithAFileThatIsNoPDFWritesNothing)
{
    TempDir dir;
    writePDF(dir / "A.pdf", {{.text = "A1"}});
    writePDF(dir / "B.pdf", {{.text = "B1"}});
    writeFile(dir / "falso.pdf", "isto não é um PDF\n");
    // A PDF cut off after its first bytes.
    writeFile(dir / "cortado.pdf", readFile(dir / "B.pdf").substr(0, 20));
    writePDF(dir / "trancado.pdf", {{.text = "segredo"}}, "senha");
    const auto before = names(dir.path());

    for (const auto& bad : {"falso.pdf", "cortado.pdf", "trancado.pdf"}) {
        EXPECT_EQ(failure([&] { PDFEngine::merge({dir / "A.pdf", dir / bad, dir / "B.pdf"}); }),
                  ConversionError::Kind::unreadable)
            << bad;
        EXPECT_EQ(failure([&] { PDFEngine::merge({dir / bad, dir / "A.pdf"}); }), ConversionError::Kind::unreadable)
            << bad;
    }
    EXPECT_EQ(names(dir.path()), before);
}
