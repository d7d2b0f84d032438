// Inputs as users have them: pages in their own charsets with scripts before the markup, Word
// documents with ruby and hostile links, spreadsheets whose cells read like formulas.

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

const std::vector<std::pair<std::string, std::string>> noSuite = {{"BRIVLON_NO_COMPONENTS", "1"}};

// The output's path, or empty after a failure (whose last line goes to `error`).
fs::path convert(const fs::path& source, const std::string& ext, std::string* error = nullptr)
{
    auto result = runBrivlon({"--convert", ext, source.string()}, 120, noSuite);
    if (error)
        *error = result.err;
    if (result.exitCode != 0)
        return {};
    std::string out = result.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// Text encoded by Python's codec of that name.
void writeEncoded(const fs::path& path, const std::string& text, const std::string& codec)
{
    const auto made = runProgram("/usr/bin/python3",
        {"-c", "import sys; open(sys.argv[1], 'wb').write(sys.argv[2].encode(sys.argv[3]))", path.string(), text, codec});
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
        "</script>\n<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
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
    const std::string links
        = "<w:p><w:hyperlink r:id=\"rJs\"><w:r><w:t>clique aqui</w:t></w:r></w:hyperlink><w:r><w:t xml:space=\"preserve\">"
          " e </w:t></w:r><w:hyperlink r:id=\"rData\"><w:r><w:t>aqui</w:t></w:r></w:hyperlink><w:r><w:t xml:space="
          "\"preserve\"> ou </w:t></w:r><w:hyperlink r:id=\"rWiki\"><w:r><w:t>Lua</w:t></w:r></w:hyperlink></w:p>"
          "<w:p><w:r><w:t>&lt;script&gt;alert(1)&lt;/script&gt;</w:t></w:r></w:p>";
    const std::string rels
        = "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rJs\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\""
          " Target=\" JavaScript:alert(document.cookie)\" TargetMode=\"External\"/>"
          "<Relationship Id=\"rData\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "hyperlink\" Target=\"data:text/html;base64,PHNjcmlwdD4=\" TargetMode=\"External\"/>"
          "<Relationship Id=\"rWiki\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "hyperlink\" Target=\"https://pt.wikipedia.org/wiki/Lua_(satélite)\" TargetMode=\"External\"/>"
          "</Relationships>";
    writeZip(dir / "japones.docx", {{"word/document.xml", docxBody(ruby + links)},
                                       {"word/_rels/document.xml.rels", rels}});

    const auto text = readFile(convert(dir / "japones.docx", "txt"));
    EXPECT_EQ(text, "東京\nclique aqui e aqui ou Lua\n<script>alert(1)</script>");
    const auto markdown = readFile(convert(dir / "japones.docx", "md"));
    EXPECT_EQ(markdown,
        "東京\n\nclique aqui e aqui ou [Lua](https://pt.wikipedia.org/wiki/Lua_%28satélite%29)\n\n"
        "\\<script\\>alert(1)\\</script\\>\n");
    const auto html = readFile(convert(dir / "japones.docx", "html"));
    for (const char* active : {"javascript", "JavaScript", "data:", "<script"})
        EXPECT_EQ(html.find(active), std::string::npos) << active << "\n" << html;
    EXPECT_NE(html.find("clique aqui"), std::string::npos);

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

TEST(DocumentInputs, SpreadsheetCellsThatReadAsFormulasStayText)
{
    TempDir dir;
    writeFile(dir / "dados.csv",
        "nome;valor;nota\n=cmd|' /C calc'!A0;-12,5;@SUM(A1:A9)\n\"=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\";+3;-\n"
        "\tTAB;1e5;-abc\n");
    for (const std::string ext : {"xlsx", "tsv"}) {
        const auto output = convert(dir / "dados.csv", ext);
        ASSERT_FALSE(output.empty()) << ext;
        // Through XLSX and back, or straight to TSV and back to CSV.
        fs::create_directory(dir / ext);
        fs::rename(output, dir / ext / ("dados." + ext));
        const auto csv = readFile(convert(dir / ext / ("dados." + ext), "csv"));
        EXPECT_EQ(csv,
            "\xEF\xBB\xBFnome,valor,nota\r\n'=cmd|' /C calc'!A0,\"-12,5\",'@SUM(A1:A9)\r\n"
            "\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\",+3,'-\r\n'\tTAB,1e5,'-abc\r\n")
            << ext;
    }
}
