// The document engine end to end through --convert on files the tests make, and our own readers
// on what LibreOffice writes (and LibreOffice on what we write).

#include "core/engines/pdf_text.h"
#include "documents/docx.h"
#include "documents/odt.h"
#include "documents/rtf.h"
#include "documents/styled_text.h"

#include "support/test_support.h"

#include <poppler-qt6.h>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace TestSupport;

namespace {

const std::vector<std::pair<std::string, std::string>> noSuite = {{"BRIVLON_NO_COMPONENTS", "1"}};
const std::string office = "/usr/lib/libreoffice/program/soffice";

const char* sample = "# Título do relatório\n\nTexto com **negrito**, *itálico* e [um link](http://exemplo.org/a).\n\n"
                     "- maçã\n- pêra\n\n1. primeiro\n2. segundo\n";

std::string textOf(const fs::path& file)
{
    const auto ext = file.extension().string();
    if (ext == ".pdf") {
        std::string all;
        for (const auto& page : PDFText::pageTexts(file))
            all += page + "\n";
        return all;
    }
    if (ext == ".docx")
        return Docx::read(file).plainText().toStdString();
    if (ext == ".odt")
        return Odt::read(file).plainText().toStdString();
    if (ext == ".rtf")
        return Rtf::read(readFile(file)).plainText().toStdString();
    return readFile(file);
}

fs::path convert(const fs::path& source, const std::string& ext)
{
    auto result = runBrivlon({"--convert", ext, source.string()}, 60, noSuite);
    EXPECT_EQ(result.exitCode, 0) << source << " → " << ext << ": " << result.err;
    std::string out = result.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

StyledText::Document letterDocument()
{
    StyledText::Document document;
    document.blocks.push_back({{{{"Carta com página própria"}}}, nullptr});
    auto table = std::make_shared<StyledText::Table>();
    table->rows = {{{{{{"célula A"}}}}, {{{{"célula B"}}}}}};
    document.blocks.push_back({{}, table});
    document.blocks.push_back({{{{"depois da tabela", true}}}, nullptr});
    document.page = StyledText::PageSetup{612, 792, 36, 90, 45, 72};
    return document;
}

std::optional<StyledText::PageSetup> pageOf(const fs::path& file)
{
    const auto ext = file.extension().string();
    if (ext == ".docx")
        return Docx::read(file).page;
    if (ext == ".odt")
        return Odt::read(file).page;
    return Rtf::read(readFile(file)).page;
}

}

TEST(DocumentEngine, EveryDocumentPairThroughTheCommandLine)
{
    TempDir dir;
    writeFile(dir / "nota.md", sample);
    writeFile(dir / "nota.txt", sample);
    writeFile(
        dir / "nota.html", "<h1>Título do relatório</h1><p>Texto com <b>negrito</b></p><ol><li>primeiro</li></ol>");
    const std::vector<std::string> targets = {"docx", "pdf", "odt", "rtf", "html", "txt", "md"};
    std::vector<fs::path> sources = {dir / "nota.md", dir / "nota.txt", dir / "nota.html"};
    for (const std::string ext : {"docx", "odt", "rtf"}) {
        fs::create_directory(dir / ext);
        fs::copy_file(dir / "nota.md", dir / ext / "nota.md");
        sources.push_back(convert(dir / ext / "nota.md", ext));
    }
    for (const auto& source : sources) {
        for (const auto& target : targets) {
            if (source.extension() == "." + target)
                continue;
            const auto output = convert(source, target);
            ASSERT_TRUE(fs::is_regular_file(output)) << source << " → " << target;
            const auto text = textOf(output);
            EXPECT_NE(text.find("Título do relatório"), std::string::npos) << output << ":\n" << text;
            EXPECT_NE(text.find("primeiro"), std::string::npos) << output << ":\n" << text;
        }
    }
    // What Markdown keeps through each of our office formats.
    for (const std::string ext : {"docx", "odt", "rtf"}) {
        const auto back = convert(dir / ext / ("nota." + ext), "md");
        EXPECT_EQ(readFile(back),
            "# Título do relatório\n\nTexto com **negrito**, *itálico* e [um link](http://exemplo.org/a).\n\n"
            "- maçã\n- pêra\n1. primeiro\n1. segundo\n")
            << ext;
    }
}

TEST(DocumentEngine, PageSizeAndMarginsSurviveTheOfficeFormats)
{
    TempDir dir;
    Docx::write(letterDocument(), dir / "carta.docx");
    const auto rtf = convert(dir / "carta.docx", "rtf");
    const auto odt = convert(rtf, "odt");
    const auto docx = convert(odt, "docx");
    for (const auto& file : {dir / "carta.docx", rtf, odt, docx}) {
        const auto page = pageOf(file);
        ASSERT_TRUE(page) << file;
        EXPECT_NEAR(page->width, 612, 0.1) << file;
        EXPECT_NEAR(page->height, 792, 0.1) << file;
        EXPECT_NEAR(page->top, 36, 0.1) << file;
        EXPECT_NEAR(page->left, 90, 0.1) << file;
        EXPECT_NEAR(page->bottom, 45, 0.1) << file;
        EXPECT_NEAR(page->right, 72, 0.1) << file;
        EXPECT_NE(textOf(file).find("célula B"), std::string::npos) << file;
    }
    // The simple route prints on the recorded page, text starting at the left margin.
    const auto pdf = convert(docx, "pdf");
    auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
    ASSERT_TRUE(document);
    auto page = document->page(0);
    EXPECT_NEAR(page->pageSizeF().width(), 612, 0.5);
    EXPECT_NEAR(page->pageSizeF().height(), 792, 0.5);
    const auto boxes = page->textList();
    ASSERT_FALSE(boxes.empty());
    EXPECT_NEAR(boxes.front()->boundingBox().left(), 90, 2);
}

TEST(DocumentEngine, TextBecomesA4WithItsMarginsOverSeveralPages)
{
    TempDir dir;
    std::string text;
    for (int i = 1; i <= 120; ++i)
        text += "Linha " + std::to_string(i) + " de um texto simples.\n";
    writeFile(dir / "longo.txt", text);
    const auto pdf = convert(dir / "longo.txt", "pdf");
    auto document = Poppler::Document::load(QString::fromStdString(pdf.string()));
    ASSERT_TRUE(document);
    ASSERT_GE(document->numPages(), 2);
    auto first = document->page(0);
    EXPECT_NEAR(first->pageSizeF().width(), 595, 0.5);
    EXPECT_NEAR(first->pageSizeF().height(), 842, 0.5);
    const auto boxes = first->textList();
    ASSERT_FALSE(boxes.empty());
    EXPECT_NEAR(boxes.front()->boundingBox().left(), 56, 1.5);
    EXPECT_GE(boxes.front()->boundingBox().top(), 55);
    EXPECT_LE(boxes.back()->boundingBox().bottom(), 842 - 56 + 1);

    // PDF → DOCX → TXT keeps every line, pages one empty line apart.
    const auto docx = convert(pdf, "docx");
    const auto back = readFile(convert(docx, "txt"));
    for (int i : {1, 60, 120})
        EXPECT_NE(back.find("Linha " + std::to_string(i) + " de um texto simples."), std::string::npos) << back;
}

TEST(DocumentEngine, UnreadableAndUnwritableInputsLeaveNothing)
{
    TempDir dir;
    writeFile(dir / "falso.docx", "isto não é um pacote");
    auto result = runBrivlon({"--convert", "pdf", (dir / "falso.docx").string()}, 60, noSuite);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.ends_with("erro: Não foi possível ler o arquivo.\n")) << result.err;
    // A zip that is neither DOCX nor ODT.
    ASSERT_EQ(
        runProgram("/usr/bin/zip", {"-q", (dir / "zip.docx").string(), "falso.docx"}, 30, {}, dir.path()).exitCode, 0);
    result = runBrivlon({"--convert", "txt", (dir / "zip.docx").string()}, 60, noSuite);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "falso.pdf"));
    EXPECT_FALSE(fs::exists(dir / "zip.txt"));
}

TEST(DocumentEngine, TypeComesFromTheContent)
{
    TempDir dir;
    // An RTF named .doc, an ODT named .docx: read by what they are.
    writeFile(dir / "carta.doc", "{\\rtf1\\ansi\\ansicpg1252 Ol\\'e1 mundo\\par}");
    EXPECT_EQ(readFile(convert(dir / "carta.doc", "txt")), "Olá mundo");
    writeFile(dir / "a.md", "conteúdo ODT");
    const auto odt = convert(dir / "a.md", "odt");
    fs::rename(odt, dir / "disfarce.docx");
    EXPECT_EQ(readFile(convert(dir / "disfarce.docx", "txt")), "conteúdo ODT");
    // A rich text bundle: the RTF inside.
    writeFile(dir / "nota.rtfd" / "TXT.rtf", "{\\rtf1 Nota {\\b forte}\\par}");
    EXPECT_EQ(readFile(convert(dir / "nota.rtfd", "md")), "Nota **forte**\n");
    // A web archive: the main page's HTML inside a binary property list.
    ASSERT_EQ(runProgram("/usr/bin/python3",
                  {"-c",
                      "import plistlib,sys; open(sys.argv[1],'wb').write(plistlib.dumps({'WebMainResource': "
                      "{'WebResourceData': '<p>Página <b>salva</b></p>'.encode(), 'WebResourceMIMEType': 'text/html'}, "
                      "'WebSubresources': []}, fmt=plistlib.FMT_BINARY))",
                      (dir / "pagina.webarchive").string()})
                  .exitCode,
        0);
    EXPECT_EQ(readFile(convert(dir / "pagina.webarchive", "md")), "Página **salva**\n");
}

TEST(RtfReader, GroupsDestinationsAndCharacters)
{
    const auto document
        = Rtf::read("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Times;}}{\\*\\generator x;}{\\*\\unknown hidden}"
                    "\\paperw12240\\paperh15840\\margl1440\\margr1800"
                    "{\\b negrito}\\b0  n\\'e3o \\u8364?euro\\uc2\\u8212\\'97\\'97dash\\tab x\\line y\\par"
                    "{\\field{\\*\\fldinst{HYPERLINK \"http://a.b\"}}{\\fldrslt{link}}}\\par"
                    "\\trowd\\cellx100\\cellx200\\pard\\intbl A\\cell B\\cell\\row\\pard depois\\par}");
    ASSERT_EQ(document.blocks.size(), 4u);
    const auto& first = document.blocks[0].paragraph;
    EXPECT_EQ(first.text(), QString::fromUtf8("negrito não €euro—dash\tx\u2028y"));
    EXPECT_TRUE(first.runs[0].bold);
    EXPECT_FALSE(first.runs[1].bold);
    EXPECT_EQ(document.blocks[1].paragraph.runs.at(0).href, "http://a.b");
    EXPECT_EQ(document.blocks[1].paragraph.text(), "link");
    ASSERT_TRUE(document.blocks[2].table);
    EXPECT_EQ(document.blocks[2].table->rows.at(0).size(), 2u);
    EXPECT_EQ(document.blocks[3].paragraph.text(), "depois");
    ASSERT_TRUE(document.page);
    EXPECT_EQ(document.page->width, 612);
    EXPECT_EQ(document.page->left, 72);
    EXPECT_EQ(document.page->right, 90);
    EXPECT_EQ(document.page->top, 56);
    // Unbalanced and truncated input still reads.
    EXPECT_EQ(Rtf::read("{\\rtf1 a}}}b{\\'").plainText(), "ab");
}

TEST(OfficeSuiteAndUs, EachReadsWhatTheOtherWrites)
{
    if (::access(office.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    writeFile(dir / "nota.md", sample);
    std::vector<fs::path> ours;
    for (const std::string ext : {"docx", "odt", "rtf"})
        ours.push_back(convert(dir / "nota.md", ext));
    const auto suite = [&](const fs::path& file, const std::string& filter, const std::string& folder) {
        auto result = runProgram(office,
            {"-env:UserInstallation=file://" + (dir / "perfil").string(), "--headless", "--norestore", "--convert-to",
                filter, "--outdir", (dir / folder).string(), file.string()},
            120, {{"HOME", dir.path().string()}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
    };
    for (const auto& file : ours) {
        const std::string folder = "lido-" + file.extension().string().substr(1);
        suite(file, "txt:Text (encoded):UTF8", folder);
        auto text = readFile(dir / folder / "nota.txt");
        for (const char* expected : {"Título do relatório", "Texto com negrito, itálico e um link.", "maçã", "segundo"})
            EXPECT_NE(text.find(expected), std::string::npos) << file << ":\n" << text;
    }
    // LibreOffice's own DOCX, ODT and RTF through our readers.
    for (const std::string ext : {"docx", "odt", "rtf"}) {
        suite(dir / "nota.odt", ext, "deles-" + ext);
        const auto theirs = dir / ("deles-" + ext) / ("nota." + ext);
        auto result = runBrivlon({"--convert", "md", theirs.string()}, 60, noSuite);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto md = readFile(dir / ("deles-" + ext) / "nota.md");
        for (const char* expected : {"Título do relatório", "**negrito**", "*itálico*",
                 "[um link](http://exemplo.org/a)", "- maçã", "1. segundo"})
            EXPECT_NE(md.find(expected), std::string::npos) << ext << ":\n" << md;
    }
}
