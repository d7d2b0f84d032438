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

#include <cctype>
#include <tuple>

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

TEST(DocumentEngine, AnOpenDocumentWhoseStylesHoldAFooterStillGivesItsPage)
{
    // The office suite keeps a master page's footer text, and the indentation of a hand-edited
    // file, in styles.xml: text where the style reader looks only at elements.
    const std::string ns = R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
                           R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
                           R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
                           R"(xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0")";
    const std::string styles = "<office:document-styles " + ns + ">\n  <office:automatic-styles>"
        + R"(<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="10in" )"
        + R"(fo:page-height="5in" fo:margin-top="1in" fo:margin-left="1in" fo:margin-bottom="1in" fo:margin-right="1in"/>)"
        + "</style:page-layout></office:automatic-styles>\n  <office:master-styles>"
        + R"(<style:master-page style:name="Standard" style:page-layout-name="pm1"><style:footer><text:p>Página</text:p>)"
        + "</style:footer></style:master-page></office:master-styles></office:document-styles>";
    const auto document = Odt::parse(
        "<office:document-content " + ns + "><office:body><office:text><text:p>corpo</text:p></office:text>"
            + "</office:body></office:document-content>",
        styles);
    ASSERT_TRUE(document.page);
    EXPECT_EQ(document.page->width, 720);
    EXPECT_EQ(document.page->height, 360);
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

TEST(DocumentEngine, PrintedTextIsTheTextAsWritten)
{
    // Every printable ASCII character in groups a line can hold, the Portuguese letters, and
    // the spots where a font's contextual forms would draw other characters.
    std::string ascii;
    for (char c = '!'; c <= '~'; ++c)
        ascii += std::string(1, c) + ((c - '!') % 12 == 11 ? " " : "");
    const std::string letters = "áéíóúâêôãõçà ÁÉÍÓÚÂÊÔÃÕÇÀ";
    const std::string contexts = "a<b e 5 < 6 e 2*3 e A-B e 10:30 e 3x4 e (A) [1] {B} @C ~D <=> -> -- fim";
    const auto escapedHTML = [](const std::string& text) {
        return QString::fromStdString(text).toHtmlEscaped().toStdString();
    };
    // pdftotext breaks lines where the layout did, so only what is not blank is compared.
    const auto inked = [](const std::string& text) {
        std::string result;
        for (char c : text)
            if (!std::isspace(static_cast<unsigned char>(c)))
                result += c;
        return result;
    };
    TempDir dir;
    writeFile(dir / "todos.txt", ascii + "\n" + letters + "\n" + contexts + "\n");
    writeFile(dir / "todos.html",
        "<p>" + escapedHTML(ascii) + "</p><p>" + letters + "</p><h2>" + escapedHTML(contexts) + "</h2>");
    writeFile(dir / "todos.md", "# " + contexts + "\n\n" + letters + "\n");
    StyledText::Document rich;
    rich.blocks.push_back({{{{QString::fromStdString(ascii), true}}}, nullptr});
    rich.blocks.push_back({{{{QString::fromStdString(letters + " " + contexts), false, true}}}, nullptr});
    Docx::write(rich, dir / "todos.docx");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"todos.txt", ascii + letters + contexts},
        {"todos.html", ascii + letters + contexts},
        {"todos.md", contexts + letters},
        {"todos.docx", ascii + letters + contexts},
    };
    for (const auto& [name, expected] : cases) {
        const auto pdf = convert(dir / name, "pdf");
        const auto text = runProgram("/usr/bin/pdftotext", {"-enc", "UTF-8", pdf.string(), "-"});
        ASSERT_EQ(text.exitCode, 0) << text.err;
        EXPECT_EQ(inked(text.out), inked(expected)) << name;
    }
    // The look stays Inter's: its faces embedded, and its kerning (pairs of A and V close up).
    const auto fonts = runProgram("/usr/bin/pdffonts", {(dir / "todos.pdf").string()});
    EXPECT_NE(fonts.out.find("Inter-Regular "), std::string::npos) << fonts.out;
    const auto docxFonts = runProgram("/usr/bin/pdffonts", {(dir / "todos 4.pdf").string()});
    EXPECT_NE(docxFonts.out.find("Inter-Bold "), std::string::npos) << docxFonts.out;
    EXPECT_NE(docxFonts.out.find("Inter-Italic "), std::string::npos) << docxFonts.out;
    writeFile(dir / "pares.txt", "AVAVAVAVAVAVAVAVAVAV AAAAAAAAAAVVVVVVVVVV\n");
    auto document = Poppler::Document::load(QString::fromStdString(convert(dir / "pares.txt", "pdf").string()));
    ASSERT_TRUE(document);
    const auto words = document->page(0)->textList();
    ASSERT_EQ(words.size(), 2u);
    EXPECT_LT(words[0]->boundingBox().width(), words[1]->boundingBox().width() - 5);
}

TEST(DocumentEngine, DocxTextBoxesReadWhereTheyAreAnchored)
{
    // As Word writes a text box: a drawing for itself and the same box as a VML picture for older
    // readers, both inside one AlternateContent, anchored in a run of the paragraph; then a box as
    // older Word wrote it alone, in a table's cell.
    const std::string box = "<w:txbxContent><w:p><w:r><w:t>Texto da caixa</w:t></w:r></w:p>"
                            "<w:p><w:r><w:t>segunda linha</w:t></w:r></w:p></w:txbxContent>";
    const std::string document
        = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
          "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
          "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
          "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
          "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
          "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\" "
          "xmlns:v=\"urn:schemas-microsoft-com:vml\" mc:Ignorable=\"wps\"><w:body>"
          "<w:p><w:r><w:t>Antes</w:t></w:r></w:p>"
          "<w:p><w:r><w:t xml:space=\"preserve\">Início </w:t></w:r><w:r><mc:AlternateContent>"
          "<mc:Choice Requires=\"wps\"><w:drawing><wp:anchor><wp:extent cx=\"1\" cy=\"1\"/><a:graphic><a:graphicData>"
          "<wps:wsp><wps:txbx>"
        + box
        + "</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing>"
          "</mc:Choice><mc:Fallback><w:pict><v:shape><v:textbox>"
        + box
        + "</v:textbox></v:shape></w:pict>"
          "</mc:Fallback></mc:AlternateContent></w:r><w:r><w:t>fim</w:t></w:r></w:p>"
          "<w:tbl><w:tr><w:tc><w:p><w:r><w:pict><v:shape><v:textbox><w:txbxContent><w:p><w:r><w:t>Caixa antiga"
          "</w:t></w:r></w:p></w:txbxContent></v:textbox></v:shape></w:pict></w:r></w:p></w:tc></w:tr></w:tbl>"
          "<w:sectPr/></w:body></w:document>";
    TempDir dir;
    const auto zipped = runProgram("/usr/bin/python3",
        {"-c",
            "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            " z.writestr('[Content_Types].xml', '<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats"
            ".org/package/2006/content-types\"><Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>')\n"
            " z.writestr('word/document.xml', sys.argv[2])",
            (dir / "caixa.docx").string(), document});
    ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
    EXPECT_EQ(readFile(convert(dir / "caixa.docx", "txt")),
        "Antes\nInício \nTexto da caixa\nsegunda linha\nfim\n\nCaixa antiga\n");
    EXPECT_EQ(readFile(convert(dir / "caixa.docx", "md")),
        "Antes\n\nInício\n\nTexto da caixa\n\nsegunda linha\n\nfim\n\nCaixa antiga\n");
    const auto html = readFile(convert(dir / "caixa.docx", "html"));
    for (const char* text : {"Texto da caixa", "segunda linha", "Caixa antiga"}) {
        const auto first = html.find(text);
        EXPECT_NE(first, std::string::npos) << text << "\n" << html;
        EXPECT_EQ(html.find(text, first + 1), std::string::npos) << text << "\n" << html;
    }
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

TEST(RtfReader, TablesConvertToEveryTargetWithRowsAsLinesOfText)
{
    // Rows as Word writes them (row properties after the cells, a nested row in between) and as
    // other writers do (properties first, a row with one more cell, an empty row).
    TempDir dir;
    writeFile(dir / "Tabela de preços.rtf",
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"
        "\\pard\\plain\\intbl{Produto}\\cell\\pard\\intbl{Pre\\'e7o}\\cell\\pard\\plain\\intbl"
        "{\\trowd\\irow0\\trgaph108\\cellx3000\\cellx6000\\row}\n"
        "\\pard\\plain\\intbl{Caf\\'e9}\\cell\\pard\\intbl{4,50}\\cell\\pard\\plain\\intbl"
        "{\\*\\nesttableprops\\trowd\\cellx3000\\nestrow}{\\trowd\\irow1\\lastrow\\cellx3000\\cellx6000\\row}\n"
        "\\pard\\plain Depois da primeira\\par\n"
        "\\trowd\\cellx2000\\cellx4000\\cellx6000\\pard\\intbl um\\cell dois\\par linhas\\cell tr\\u234?s\\cell\\row\n"
        "\\trowd\\row\n\\pard Fim\\par}\n");
    for (const auto* ext : {"txt", "docx", "odt", "html", "md", "pdf"}) {
        const auto output = convert(dir / "Tabela de preços.rtf", ext);
        ASSERT_TRUE(fs::exists(output)) << ext;
        const auto text = textOf(output);
        for (const auto* word : {"Produto", "Preço", "Café", "4,50", "Depois da primeira", "linhas", "três", "Fim"})
            EXPECT_NE(text.find(word), std::string::npos) << ext << ": " << word << " in " << text;
    }
    EXPECT_EQ(readFile(dir / "Tabela de preços.txt"),
        "\nProduto\tPreço\nCafé\t4,50\nDepois da primeira\n\num\tdois linhas\ttrês\n\t\t\nFim");
}

// The words the test above leaves out: character resets, punctuation, the two list syntaxes and
// the remaining margins, each where a word processor puts it.
TEST(RtfReader, ListsPunctuationAndCharacterResets)
{
    const auto document = Rtf::read(
        "{\\rtf1\\ansi\\paperw11906\\paperh16838\\margt1134\\margb-567"
        "{\\i\\ul\\fs36 grande}\\ul sub\\ulnone linhado {\\b\\i\\fs20 x\\plain y}\\par"
        "\\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote\\~\\_\\{\\}\\\\\\uc0\\u-3912\\par"
        "\\pard{\\*\\pn\\pnlvlblt{\\pntxtb \\'b7}}{\\pntext \\'b7\\tab}um\\par"
        "\\pard{\\*\\pn\\pnlvlbody\\pndec\\pnlvl3}{\\pntext 1.\\tab}dois\\par"
        "\\pard\\ls1\\ilvl1{\\listtext 2.\\tab}tres\\par"
        "\\pard\\ls2{\\listtext \\'95\\tab}quatro\\par"
        "\\pard fora\\par}");
    ASSERT_EQ(document.blocks.size(), 7u);
    const auto& styled = document.blocks[0].paragraph.runs;
    ASSERT_EQ(styled.size(), 5u);
    EXPECT_TRUE(styled[0].italic && styled[0].underline);
    EXPECT_EQ(styled[0].size, 18);
    EXPECT_TRUE(!styled[1].italic && styled[1].underline && styled[1].size == 0);
    EXPECT_EQ(styled[2].text, "linhado ");
    EXPECT_FALSE(styled[2].underline);
    EXPECT_TRUE(styled[3].bold && styled[3].italic && styled[3].size == 10);
    EXPECT_TRUE(!styled[4].bold && !styled[4].italic && styled[4].size == 0);
    EXPECT_EQ(document.blocks[1].paragraph.text(),
        QString::fromUtf8("—–•‘’“”\u00a0\u2011{}\\") + QChar(char16_t(65536 - 3912)));

    auto list = [&](size_t block) {
        const auto& paragraph = document.blocks[block].paragraph;
        return std::tuple(paragraph.text().toStdString(), paragraph.listLevel, paragraph.ordered);
    };
    EXPECT_EQ(list(2), std::tuple("um", 1, false));
    EXPECT_EQ(list(3), std::tuple("dois", 3, true));
    EXPECT_EQ(list(4), std::tuple("tres", 2, true));
    EXPECT_EQ(list(5), std::tuple("quatro", 1, false));
    EXPECT_EQ(list(6), std::tuple("fora", 0, false));

    ASSERT_TRUE(document.page);
    EXPECT_NEAR(document.page->width, 595.3, 0.01);
    EXPECT_EQ(document.page->top, 56.7);
    EXPECT_EQ(document.page->bottom, 28.35);
    // A page too small to be one is no page.
    EXPECT_FALSE(Rtf::read("{\\rtf1\\paperw1000\\paperh15840 a}").page);
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
