// Inputs as users have them: pages in their own charsets with scripts before the markup, Word
// documents with ruby and hostile links, spreadsheets whose cells read like formulas.

#include "core/engines/pdf_text.h"
#include "documents/xlsx.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace TestSupport;

namespace {


fs::path convert(const fs::path& source, const std::string& ext, std::string* error = nullptr)
{
    return convertWithoutSuite(source, ext, error);
}

// Text encoded by Python's codec of that name.
void writeEncoded(const fs::path& path, const std::string& text, const std::string& codec)
{
    const auto made = runProgram("/usr/bin/python3",
        {"-c", "import sys; open(sys.argv[1], 'wb').write(sys.argv[2].encode(sys.argv[3]))", path.string(), text,
            codec});
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

// A package of the given entries, as Word and spreadsheets zip them.
void writeZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::vector<std::string> arguments = {"-c",
        "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        " for i in range(2, len(sys.argv), 2): z.writestr(sys.argv[i], sys.argv[i + 1])",
        path.string()};
    for (const auto& [name, content] : entries) {
        arguments.push_back(name);
        arguments.push_back(content);
    }
    const auto made = runProgram("/usr/bin/python3", arguments);
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

const std::string wordNamespaces = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                                   "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string docxBody(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><w:document " + wordNamespaces + "><w:body>"
        + body + "</w:body></w:document>";
}

}

TEST(DocumentInputs, PagesAreReadInTheCharsetTheyDeclareWhateverStandsBeforeTheirMarkup)
{
    TempDir dir;
    // A Russian news page as such sites send it: a counter's script before everything, with "<"
    // in its code, and the charset in an http-equiv meta further down.
    std::string paragraphs;
    for (int i = 0; i < 200; ++i)
        paragraphs += "<p>Новости дня номер " + std::to_string(i) + ": погода в Москве.</p>\n";
    writeEncoded(dir / "noticias.html",
        "<script type=\"text/javascript\">var d = document; if (d.images.length < 3) d.write('<img src=c.gif>');"
        "</script>\n<style>/* <ie7 */ .aviso::before { content: \"<<\" }</style>\n<!DOCTYPE html>\n<html><head><meta "
        "http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1251\"><title>Новости</title></head><body>"
            + paragraphs + "</body></html>",
        "cp1251");
    for (const std::string ext : {"txt", "md", "docx", "odt", "rtf", "pdf"}) {
        std::string error;
        const auto output = convert(dir / "noticias.html", ext, &error);
        ASSERT_FALSE(output.empty()) << ext << ": " << error;
        EXPECT_GT(fs::file_size(output), 2000u) << ext;
    }
    const auto text = readFile(convert(dir / "noticias.html", "txt"));
    EXPECT_NE(text.find("Новости дня номер 199: погода в Москве."), std::string::npos) << text.substr(0, 300);
    EXPECT_EQ(text.find("d.write"), std::string::npos);

    // An Arabic page declaring its charset with <meta charset>; a page whose byte-order mark says
    // UTF-8 is read so whatever its meta claims.
    writeEncoded(dir / "arabe.html",
        "<html><head><meta charset=\"iso-8859-6\"></head><body><p>مرحبا بالعالم</p></body></html>", "iso-8859-6");
    EXPECT_EQ(readFile(convert(dir / "arabe.html", "txt")), "مرحبا بالعالم");
    writeFile(dir / "marcada.html", "\xEF\xBB\xBF<meta charset=\"windows-1252\"><p>coração</p>");
    EXPECT_EQ(readFile(convert(dir / "marcada.html", "txt")), "coração");
    // An XHTML page says it in its XML declaration.
    writeEncoded(dir / "grego.html",
        "<?xml version=\"1.0\" encoding=\"iso-8859-7\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
        "<p>Καλημέρα</p></body></html>",
        "iso-8859-7");
    EXPECT_EQ(readFile(convert(dir / "grego.html", "txt")), "Καλημέρα");
    // Undeclared pages keep the guess: UTF-8 when they are, else Latin-1.
    writeEncoded(dir / "antiga.html", "<p>ação</p>", "latin-1");
    EXPECT_EQ(readFile(convert(dir / "antiga.html", "txt")), "ação");

    // A picture leaves nothing behind in Markdown, and markup written as text stays text.
    writeFile(dir / "foto.html", "<p>antes <img src=\"nada.png\" alt=\"x\"> depois &lt;b&gt;</p>");
    EXPECT_EQ(readFile(convert(dir / "foto.html", "md")), "antes  depois \\<b\\>\n");
}

TEST(DocumentInputs, WordRubyLinksAndMarkupInText)
{
    TempDir dir;
    const std::string ruby = "<w:p><w:r><w:ruby><w:rubyPr><w:rubyAlign w:val=\"distributeSpace\"/></w:rubyPr>"
                             "<w:rt><w:r><w:t>とう</w:t></w:r></w:rt><w:rubyBase><w:r><w:t>東</w:t></w:r></w:rubyBase>"
                             "</w:ruby></w:r><w:r><w:ruby><w:rubyPr/><w:rt><w:r><w:t>きょう</w:t></w:r></w:rt>"
                             "<w:rubyBase><w:r><w:t>京</w:t></w:r></w:rubyBase></w:ruby></w:r></w:p>";
    // Right-to-left and moved text sit in wrappers of their own.
    const std::string wrapped = "<w:p><w:dir w:val=\"rtl\"><w:r><w:t>שלום</w:t></w:r></w:dir><w:moveTo w:id=\"1\">"
                                "<w:r><w:t xml:space=\"preserve\"> movido</w:t></w:r></w:moveTo></w:p>";
    const std::string links
        = "<w:p><w:hyperlink r:id=\"rJs\"><w:r><w:t>clique aqui</w:t></w:r></w:hyperlink><w:r><w:t "
          "xml:space=\"preserve\">"
          " e </w:t></w:r><w:hyperlink r:id=\"rData\"><w:r><w:t>aqui</w:t></w:r></w:hyperlink><w:r><w:t xml:space="
          "\"preserve\"> ou </w:t></w:r><w:hyperlink r:id=\"rWiki\"><w:r><w:t>Lua</w:t></w:r></w:hyperlink></w:p>"
          "<w:p><w:r><w:t>&lt;script&gt;alert(1)&lt;/script&gt;</w:t></w:r></w:p>";
    const std::string rels
        = "<?xml version=\"1.0\"?><Relationships "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rJs\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\""
          " Target=\" JavaScript:alert(document.cookie)\" TargetMode=\"External\"/>"
          "<Relationship Id=\"rData\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "hyperlink\" Target=\"data:text/html;base64,PHNjcmlwdD4=\" TargetMode=\"External\"/>"
          "<Relationship Id=\"rWiki\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "hyperlink\" Target=\"https://pt.wikipedia.org/wiki/Lua_(satélite)\" TargetMode=\"External\"/>"
          "</Relationships>";
    writeZip(dir / "japones.docx",
        {{"word/document.xml", docxBody(ruby + wrapped + links)}, {"word/_rels/document.xml.rels", rels}});

    const auto text = readFile(convert(dir / "japones.docx", "txt"));
    EXPECT_EQ(text, "東京\nשלום movido\nclique aqui e aqui ou Lua\n<script>alert(1)</script>");
    const auto markdown = readFile(convert(dir / "japones.docx", "md"));
    EXPECT_EQ(markdown,
        "東京\n\nשלום movido\n\nclique aqui e aqui ou [Lua](https://pt.wikipedia.org/wiki/Lua_%28satélite%29)\n\n"
        "\\<script\\>alert(1)\\</script\\>\n");
    const auto html = readFile(convert(dir / "japones.docx", "html"));
    for (const char* active : {"javascript", "JavaScript", "data:", "<script"})
        EXPECT_EQ(html.find(active), std::string::npos) << active << "\n" << html;
    EXPECT_NE(html.find("clique aqui"), std::string::npos);

    // Text only where no reader looks is a failure, never an empty file.
    writeZip(dir / "estranho.docx",
        {{"word/document.xml", docxBody("<w:p><w:futuro><w:r><w:t>perdido</w:t></w:r></w:futuro></w:p>")}});
    std::string error;
    EXPECT_TRUE(convert(dir / "estranho.docx", "txt", &error).empty());
    EXPECT_TRUE(error.ends_with("erro: Não foi possível ler o arquivo.\n")) << error;
    EXPECT_FALSE(fs::exists(dir / "estranho.txt"));

    // The Markdown written reads back as it was written: the address whole, the markup as text,
    // and a hostile link in a Markdown source is plain text too.
    fs::create_directory(dir / "volta");
    writeFile(dir / "volta" / "japones.md",
        readFile(dir / "japones.md") + "\n[x](javascript:alert(1)) e ![foto](a_(b).png) fim\n");
    const auto back = readFile(convert(dir / "volta" / "japones.md", "html"));
    EXPECT_NE(back.find("href=\"https://pt.wikipedia.org/wiki/Lua_%28sat"), std::string::npos) << back;
    EXPECT_NE(back.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << back;
    EXPECT_EQ(back.find("javascript"), std::string::npos) << back;
    EXPECT_NE(back.find(">x</span>"), std::string::npos) << back;
    EXPECT_NE(back.find("> e foto fim"), std::string::npos) << back;
}

TEST(DocumentInputs, CodeAndWordsWiderThanThePageWrapInPdf)
{
    TempDir dir;
    std::string command = "find / -name '*.log'";
    for (int i = 0; i < 30; ++i)
        command += " -o -name arquivo" + std::to_string(i);
    command += " -print FIMDALINHA";
    writeFile(dir / "codigo.md",
        "# Script\n\n```\n" + command + "\n" + std::string(150, 'x') + "FIMDOTOKEN\n```\n\nEndereço "
            + std::string(200, 'y') + "FIMDAPALAVRA\n");
    const auto pdf = convert(dir / "codigo.md", "pdf");
    ASSERT_FALSE(pdf.empty());
    std::string text;
    for (const auto& page : PDFText::pageTexts(pdf))
        text += page;
    // Every piece is on the page, the long line over several lines.
    for (const char* end : {"FIMDALINHA", "FIMDAPALAVRA"})
        EXPECT_NE(text.find(end), std::string::npos) << end << "\n" << text;
    EXPECT_NE(text.find("DOTOKEN"), std::string::npos) << text;
    const auto start = text.find("find / -name");
    ASSERT_NE(start, std::string::npos) << text;
    EXPECT_LT(text.find('\n', start), text.find("FIMDALINHA")) << text;
}

// Only a cell a spreadsheet would run as a formula reaching outside the sheet (a program, a link,
// a fetch, another book) is written as text; what a person typed as data comes back as typed.
TEST(DocumentInputs, SpreadsheetCellsReachingOutsideTheSheetStayTextAndTypedValuesStayAsTyped)
{
    TempDir dir;
    writeFile(dir / "dados.csv",
        "nome;valor;nota\n=cmd|' /C calc'!A0;-12,5;@SUM(A1:A9)\n\"=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\";+3;-\n"
        "\tTAB;1e5;-abc\n");
    const std::string typed = "-1.234,50\t-R$ 10,00\t+55 (11) 9876-5432\t-\r\n-texto com traço\t@menção\t-----\t"
                              "=SOMA(A1:A3)\r\n= WEBSERVICE(A1)\t+_xlfn.IMPORTXML(A1;B1)\t@Planilha2!$B$7\t"
                              "- Atenção!\r\n";
    writeFile(dir / "valores.tsv", typed);
    const std::string outside = "'= WEBSERVICE(A1)\t'+_xlfn.IMPORTXML(A1;B1)\t'@Planilha2!$B$7";
    const std::map<std::string, std::string> expected = {
        {"dados.csv",
            "\xEF\xBB\xBFnome,valor,nota\r\n'=cmd|' /C calc'!A0,\"-12,5\",@SUM(A1:A9)\r\n"
            "\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\",+3,-\r\n\tTAB,1e5,-abc\r\n"},
        {"valores.tsv", typed.substr(0, typed.find("= WEB")) + outside + "\t- Atenção!\r\n"}};
    for (const auto& [name, text] : expected) {
        const fs::path source = dir / name;
        const auto there = source.extension() == ".csv" ? "csv" : "tsv";
        for (const std::string ext : {"xlsx", source.extension() == ".csv" ? "tsv" : "csv"}) {
            const auto output = convert(source, ext);
            ASSERT_FALSE(output.empty()) << name << " → " << ext;
            // Through XLSX and back, or straight to the other text and back.
            fs::create_directories(dir / ext);
            fs::rename(output, dir / ext / output.filename());
            const auto back = convert(dir / ext / output.filename(), there);
            EXPECT_EQ(readFile(back), text) << name << " → " << ext;
            fs::remove_all(dir / ext);
        }
    }
}

TEST(DocumentInputs, WorkbooksAreFoundThroughTheirRelationshipsWhereverTheyLie)
{
    TempDir dir;
    const std::string ns = "http://schemas.openxmlformats.org";
    const auto relationships = [&](const std::string& items) {
        return "<?xml version=\"1.0\"?><Relationships xmlns=\"" + ns + "/package/2006/relationships\">" + items
            + "</Relationships>";
    };
    const auto relationship = [&](const std::string& id, const std::string& kind, const std::string& target) {
        return "<Relationship Id=\"" + id + "\" Type=\"" + ns + "/officeDocument/2006/relationships/" + kind
            + "\" Target=\"" + target + "\"/>";
    };
    const std::string workbook = "<?xml version=\"1.0\"?><workbook xmlns=\"" + ns
        + "/spreadsheetml/2006/main\" "
          "xmlns:r=\""
        + ns
        + "/officeDocument/2006/relationships\"><sheets><sheet name=\"Vendas\" sheetId=\"1\" "
          "r:id=\"rS\"/></sheets></workbook>";
    const std::string strings = "<?xml version=\"1.0\"?><sst xmlns=\"" + ns
        + "/spreadsheetml/2006/main\"><si><t>produto</t></si><si><t>café</t></si></sst>";
    const std::string sheet = "<?xml version=\"1.0\"?><worksheet xmlns=\"" + ns
        + "/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>12</v>"
          "</c></row><row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c><c r=\"B2\"><v>3.5</v></c></row></sheetData>"
          "</worksheet>";
    // Everything at the package's root, as some exporters write it.
    writeZip(dir / "raiz.xlsx",
        {{"_rels/.rels", relationships(relationship("r1", "officeDocument", "workbook.xml"))},
            {"workbook.xml", workbook},
            {"_rels/workbook.xml.rels",
                relationships(
                    relationship("rS", "worksheet", "folha.xml") + relationship("rT", "sharedStrings", "textos.xml"))},
            {"textos.xml", strings}, {"folha.xml", sheet}});
    // The workbook in a folder of its own name, its parts named from the root and from a sibling.
    writeZip(dir / "pasta.xlsx",
        {{"_rels/.rels", relationships(relationship("r1", "officeDocument", "/wtf/workbook.xml"))},
            {"wtf/workbook.xml", workbook},
            {"wtf/_rels/workbook.xml.rels",
                relationships(relationship("rS", "worksheet", "../planilhas/./a.xml")
                    + relationship("rT", "sharedStrings", "/wtf/cadeias.xml"))},
            {"wtf/cadeias.xml", strings}, {"planilhas/a.xml", sheet}});
    // A producer that wrote Windows' separators.
    EXPECT_EQ(SpreadsheetEngine::resolvePart("xl/workbook.xml", "worksheets\\sheet1.xml"), "xl/worksheets/sheet1.xml");
    for (const std::string name : {"raiz", "pasta"}) {
        std::string error;
        const auto csv = convert(dir / (name + ".xlsx"), "csv", &error);
        ASSERT_FALSE(csv.empty()) << name << ": " << error;
        EXPECT_EQ(readFile(csv), "\xEF\xBB\xBFproduto,12\r\ncafé,3.5\r\n") << name;
    }
}

TEST(DocumentInputs, LockedOfficeDocumentsSayTheyNeedTheirPassword)
{
    TempDir dir;
    // What Office writes for a document saved with a password: a compound file holding the
    // encryption's description and the encrypted package, nothing of the zip outside.
    const auto made = runProgram("/usr/bin/python3",
        {"-c",
            "import struct, sys\n"
            "header = bytearray(512)\n"
            "header[0:8] = bytes.fromhex('D0CF11E0A1B11AE1')\n"
            "struct.pack_into('<HHHHH', header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)\n"
            "struct.pack_into('<IIIIIII', header, 0x2C, 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE)\n"
            "struct.pack_into('<109I', header, 0x4C, 0, *([0xFFFFFFFF] * 108))\n"
            "fat = struct.pack('<128I', 0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFE, *([0xFFFFFFFF] * 125))\n"
            "def entry(name, kind, start=0xFFFFFFFE, size=0, left=0xFFFFFFFF, right=0xFFFFFFFF, child=0xFFFFFFFF):\n"
            "    e = bytearray(128)\n"
            "    n = name.encode('utf-16-le') + b'\\0\\0'\n"
            "    e[0:len(n)] = n\n"
            "    struct.pack_into('<HBB', e, 64, len(n), kind, 1)\n"
            "    struct.pack_into('<III', e, 68, left, right, child)\n"
            "    struct.pack_into('<II', e, 116, start, size)\n"
            "    return bytes(e)\n"
            "directory = entry('Root Entry', 5, child=1) + entry('EncryptionInfo', 2, right=2)"
            " + entry('EncryptedPackage', 2, start=2, size=512) + bytes(128)\n"
            "data = bytes(header) + fat + directory + bytes(range(256)) * 2\n"
            "for path in sys.argv[1:]: open(path, 'wb').write(data)\n",
            (dir / "salarios.xlsx").string(), (dir / "contrato.docx").string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    // An OpenDocument saved with a password: its parts encrypted, as its manifest says.
    writeZip(dir / "diario.odt",
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
            {"META-INF/manifest.xml",
                "<?xml version=\"1.0\"?><manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:"
                "manifest:1.0\"><manifest:file-entry manifest:full-path=\"content.xml\" "
                "manifest:media-type=\"text/xml\">"
                "<manifest:encryption-data manifest:checksum-type=\"SHA1/1K\"><manifest:algorithm "
                "manifest:algorithm-name=\"Blowfish CFB\"/></manifest:encryption-data></manifest:file-entry>"
                "</manifest:manifest>"},
            {"content.xml", std::string("\x8f\x13\xa2\x00\x7f\xee garbled", 15)}});
    const std::vector<std::pair<fs::path, std::string>> runs
        = {{dir / "salarios.xlsx", "csv"}, {dir / "contrato.docx", "txt"}, {dir / "contrato.docx", "pdf"},
            {dir / "diario.odt", "md"}, {dir / "diario.odt", "pdf"}};
    for (const auto& [source, ext] : runs) {
        std::string error;
        EXPECT_TRUE(convert(source, ext, &error).empty()) << source << " → " << ext;
        EXPECT_TRUE(error.ends_with("erro: O arquivo está protegido por senha.\n")) << source << " → " << ext << error;
    }
}

TEST(DocumentInputs, WhatOnlyTheSuiteReadsGoesToItAndBombsNeverDo)
{
    if (!fs::exists("/usr/lib/libreoffice/program/soffice"))
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    // Word 2003's XML document, saved as ".doc" as Word offered.
    writeFile(dir / "memorando.doc",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<?mso-application progid=\"Word.Document\"?>\n"
        "<w:wordDocument xmlns:w=\"http://schemas.microsoft.com/office/word/2003/wordml\"><w:body><w:p><w:r>"
        "<w:t>Memorando de março</w:t></w:r></w:p></w:body></w:wordDocument>");
    const auto text = runBrivlon({"--convert", "txt", (dir / "memorando.doc").string()}, 120);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(readFile(dir / "memorando.txt"), "Memorando de março");

    // A 25 MB RTF of five million paragraphs and a 35 KB DOCX of four million: the suite held
    // gigabytes for three minutes on them; our readers refuse them in seconds.
    const auto made = runProgram("/usr/bin/python3",
        {"-c",
            "import sys, zipfile\n"
            "open(sys.argv[1], 'w').write('{\\\\rtf1\\\\ansi ' + '\\\\par\\n' * 5000000 + '}')\n"
            "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            " z.writestr('word/document.xml', '<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas."
            "openxmlformats.org/wordprocessingml/2006/main\"><w:body>' + '<w:p/>' * 4000000 + "
            "'</w:body></w:document>')\n",
            (dir / "paragrafos.rtf").string(), (dir / "elementos.docx").string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const char* name : {"paragrafos.rtf", "elementos.docx"}) {
        const auto result = runBrivlon({"--convert", "pdf", (dir / name).string()}, 60);
        EXPECT_FALSE(result.timedOut) << name;
        EXPECT_EQ(result.exitCode, 1) << name;
        EXPECT_TRUE(result.err.ends_with("erro: O documento é grande demais para abrir.\n")) << name << result.err;
    }
    EXPECT_FALSE(fs::exists(dir / "paragrafos.pdf"));
    EXPECT_FALSE(fs::exists(dir / "elementos.pdf"));
}

// Form templates put a content control around each cell, row, paragraph or run a user fills in,
// and custom XML wraps them the same way: every route of our own reads through them.
TEST(DocumentInputs, WordContentControlsAreReadThroughWhereverTheyStand)
{
    TempDir dir;
    const auto control = [](const std::string& inner) {
        return "<w:sdt><w:sdtPr><w:alias w:val=\"campo\"/></w:sdtPr><w:sdtContent>" + inner + "</w:sdtContent></w:sdt>";
    };
    const auto paragraph = [](const std::string& text) {
        return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>";
    };
    const auto cell = [&](const std::string& text) {
        return "<w:tc>" + paragraph(text) + "</w:tc>";
    };
    const std::string body = control(paragraph("Ficha")) + "<w:tbl>"
        + control("<w:tr>" + control(cell("Nome")) + control(cell("Idade")) + "</w:tr>") + "<w:tr>"
        + control(cell("Ana")) + "<w:tc>" + control(paragraph("41")) + "</w:tc></w:tr><w:customXml><w:tr>"
        + cell("Rui") + "<w:tc><w:p>" + control("<w:r><w:t>77</w:t></w:r>") + "</w:p></w:tc></w:tr></w:customXml>"
        + "</w:tbl>";
    writeZip(dir / "ficha.docx", {{"word/document.xml", docxBody(body)}});
    // Each output read back as text by our own reader of its format; Markdown has no tables.
    const auto words = [](const fs::path& file) {
        std::istringstream in(readFile(file));
        std::string all, word;
        while (in >> word)
            all += word + " ";
        return all;
    };
    EXPECT_EQ(readFile(convert(dir / "ficha.docx", "txt")), "Ficha\n\nNome\tIdade\nAna\t41\nRui\t77\n");
    for (const std::string ext : {"md", "html", "rtf", "odt"}) {
        const auto output = convert(dir / "ficha.docx", ext);
        ASSERT_FALSE(output.empty()) << ext;
        fs::create_directories(dir / ext);
        fs::rename(output, dir / ext / output.filename());
        EXPECT_EQ(words(convert(dir / ext / output.filename(), "txt")), "Ficha Nome Idade Ana 41 Rui 77 ") << ext;
    }
}

// Nesting the office suite cannot take (tables in cells a hundred thousand deep, a thousand in
// an RTF, a million RTF groups) is refused before it in a moment; our own readers still take the text of the RTF, and
// a document nested as real ones are goes on to the suite.
TEST(DocumentInputs, NestingTheSuiteCannotTakeIsRefusedBeforeIt)
{
    if (!fs::exists("/usr/lib/libreoffice/program/soffice"))
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    const auto made = runProgram("/usr/bin/python3",
        {"-c",
            "import sys, zipfile\n"
            "n = 100000\n"
            "open('grupos.rtf', 'w').write('{\\\\rtf1\\\\ansi ' + '{' * 1000000 + 'fundo' + '}' * 1000000 + '}')\n"
            "tables = '\\\\pard\\\\intbl\\\\itap1000 fundo\\\\nestcell'\n"
            "for k in range(1000, 1, -1):\n"
            "    tables += '{\\\\*\\\\nesttableprops\\\\trowd\\\\cellx1000\\\\nestrow}{\\\\nonesttables\\\\par}'"
            " + '\\\\pard\\\\intbl\\\\itap%d' % (k - 1) + ('\\\\nestcell' if k > 2 else '\\\\cell')\n"
            "open('tabelas.rtf', 'w').write('{\\\\rtf1\\\\ansi ' + tables + '\\\\trowd\\\\cellx1000\\\\row}')\n"
            "def word(name, n):\n"
            "    body = '<w:tbl><w:tr><w:tc>' * n + '<w:p><w:r><w:t>fundo</w:t></w:r></w:p>'"
            " + '</w:tc></w:tr></w:tbl><w:p/>' * n\n"
            "    with zipfile.ZipFile(name, 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "        z.writestr('word/document.xml', '<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas."
            "openxmlformats.org/wordprocessingml/2006/main\"><w:body>' + body + '</w:body></w:document>')\n"
            "word('tabelas.docx', n)\n"
            "word('poucas.docx', 4)\n"
            "body = '<table:table><table:table-row><table:table-cell>' * n + '<text:p>fundo</text:p>'"
            " + '</table:table-cell></table:table-row></table:table>' * n\n"
            "with zipfile.ZipFile('tabelas.odt', 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "    z.writestr('mimetype', 'application/vnd.oasis.opendocument.text')\n"
            "    z.writestr('content.xml', '<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:"
            "xmlns:office:1.0\" xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" xmlns:text=\"urn:"
            "oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:text>' + body"
            " + '</office:text></office:body></office:document-content>')\n"},
        60, {}, dir.path());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const char* name : {"grupos.rtf", "tabelas.rtf", "tabelas.docx", "tabelas.odt"}) {
        const auto result = runBrivlon({"--convert", "pdf", (dir / name).string()}, 60);
        EXPECT_FALSE(result.timedOut) << name;
        EXPECT_EQ(result.exitCode, 1) << name;
        EXPECT_TRUE(result.err.ends_with("erro: O documento é grande demais para abrir.\n")) << name << result.err;
    }
    EXPECT_EQ(readFile(convertWithoutSuite(dir / "grupos.rtf", "txt")), "fundo");
    const auto few = runBrivlon({"--convert", "pdf", (dir / "poucas.docx").string()}, 120);
    ASSERT_EQ(few.exitCode, 0) << few.err;
    EXPECT_NE(PDFText::pageTexts(dir / "poucas.pdf").at(0).find("fundo"), std::string::npos);
    for (const char* name : {"grupos.pdf", "tabelas.pdf"})
        EXPECT_FALSE(fs::exists(dir / name)) << name;
}
