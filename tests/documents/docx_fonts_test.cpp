// Preparing a Word document for the office suite: styled face names become families with bold
// and italic marks, the font names a document uses, and packages that must stay untouched.

#include "documents/docx.h"
#include "documents/docx_fonts.h"
#include "documents/zip_tools.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;

// Failures show the texts.
static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

const DocxFonts::Faces known = {
    {"Inter Bold", {"Inter", true, false}},
    {"Inter-BoldItalic", {"Inter", true, true}},
    {"Lato Italic", {"Lato", false, true}},
};

QString rPr(const QString& inner) { return "<w:r><w:rPr>" + inner + "</w:rPr><w:t>x</w:t></w:r>"; }

}

TEST(DocxFonts, FixRewritesStyledNamesInRunProperties)
{
    using DocxFonts::fix;
    EXPECT_EQ(fix(rPr(R"(<w:rFonts w:ascii="Inter Bold" w:hAnsi="Inter Bold"/>)"), known),
        rPr(R"(<w:rFonts w:ascii="Inter" w:hAnsi="Inter"/><w:b/><w:bCs/>)"));
    EXPECT_EQ(fix(rPr(R"(<w:rFonts w:ascii="Inter-BoldItalic"/><w:sz w:val="20"/>)"), known),
        rPr(R"(<w:rFonts w:ascii="Inter"/><w:sz w:val="20"/><w:b/><w:bCs/><w:i/><w:iCs/>)"));
    // Complex-script and East Asian names change but add no marks.
    EXPECT_EQ(fix(rPr(R"(<w:rFonts w:cs="Inter Bold" w:eastAsia="Lato Italic"/>)"), known),
        rPr(R"(<w:rFonts w:cs="Inter" w:eastAsia="Lato"/>)"));
    // Marks already there are not doubled.
    EXPECT_EQ(fix(rPr(R"(<w:b w:val="1"/><w:rFonts w:ascii="Inter Bold"/>)"), known),
        rPr(R"(<w:b w:val="1"/><w:rFonts w:ascii="Inter"/>)"));
    EXPECT_EQ(
        fix(rPr(R"(<w:i/><w:rFonts w:hAnsi="Lato Italic"/>)"), known), rPr(R"(<w:i/><w:rFonts w:hAnsi="Lato"/>)"));
    // Families, unknown fonts and run properties with attributes stay as they are.
    for (const QString& unchanged : {rPr(R"(<w:rFonts w:ascii="Inter" w:hAnsi="Nenhuma Fonte"/>)"),
             QString(R"(<w:rPr w:rsid="1"><w:rFonts w:ascii="Inter Bold"/></w:rPr>)")})
        EXPECT_EQ(fix(unchanged, known), unchanged);
    // Across line breaks, several elements in one part.
    EXPECT_EQ(fix("a<w:rPr>\n<w:rFonts w:ascii=\"Lato Italic\"/>\n</w:rPr>b" + rPr(""), known),
        "a<w:rPr>\n<w:rFonts w:ascii=\"Lato\"/>\n<w:i/><w:iCs/></w:rPr>b" + rPr(""));
}

TEST(DocxFonts, NamesLeaveThemeReferencesOut)
{
    EXPECT_EQ(
        DocxFonts::names(R"(<w:rFonts w:ascii="Inter" w:hAnsi="+mj-lt" w:cs="Lato"/><a:latin typeface="Georgia"/>)"
                         R"(<a:ea typeface="+mn-ea"/><w:rFonts w:eastAsia="Inter"/>)"),
        (std::set<QString>{"Inter", "Lato", "Georgia"}));
}

TEST(DocxFonts, PrepareRewritesOnlyWhatNeedsIt)
{
    TempDir dir;
    writeFile(dir / "plain.rtf", "{\\rtf1 x}");
    auto prepared = DocxFonts::prepare(dir / "plain.rtf", dir / "w0");
    EXPECT_EQ(prepared.input, dir / "plain.rtf");
    EXPECT_TRUE(prepared.families.empty());

    // Our own DOCX names only the family: not repacked, its families still reported.
    StyledText::Document document;
    document.blocks.push_back({{{{"texto"}}}, nullptr});
    Docx::write(document, dir / "nosso.docx");
    fs::create_directory(dir / "w1");
    prepared = DocxFonts::prepare(dir / "nosso.docx", dir / "w1");
    EXPECT_EQ(prepared.input, dir / "nosso.docx");
    EXPECT_TRUE(prepared.families.count("Inter"));

    // A styled name of an installed font: the copy is repacked with the family and a bold mark.
    const auto bold = std::find_if(DocxFonts::faces().begin(), DocxFonts::faces().end(), [](const auto& entry) {
        return entry.second.bold && !entry.second.italic;
    });
    if (bold != DocxFonts::faces().end()) {
        fs::create_directories(dir / "estilo" / "word");
        writeFile(dir / "estilo" / "word" / "document.xml",
            "<w:document><w:rPr><w:rFonts w:ascii=\"" + bold->first.toStdString() + "\"/></w:rPr></w:document>");
        ASSERT_EQ(runProgram("/usr/bin/zip", {"-q", "-r", (dir / "estilo.docx").string(), "."}, 30, {},
                      (dir / "estilo").string())
                      .exitCode,
            0);
        fs::create_directory(dir / "w4");
        prepared = DocxFonts::prepare(dir / "estilo.docx", dir / "w4");
        EXPECT_EQ(prepared.input, dir / "w4" / "estilo.docx");
        EXPECT_EQ(prepared.families, std::set<QString>{bold->second.family});
        EXPECT_EQ(ZipTools::readEntry(prepared.input, "word/document.xml"),
            "<w:document><w:rPr><w:rFonts w:ascii=\"" + bold->second.family.toStdString()
                + "\"/><w:b/><w:bCs/></w:rPr></w:document>");
    }

    // A package holding a link: nothing is unpacked to disk, so nothing can follow the link; the
    // parts are read as entries and the document is used untouched.
    fs::create_directories(dir / "pacote" / "word");
    writeFile(dir / "pacote" / "[Content_Types].xml", "<Types/>");
    writeFile(dir / "pacote" / "word" / "document.xml",
        "<w:document><w:rPr><w:rFonts w:ascii=\"X Bold\"/></w:rPr></w:document>");
    fs::create_symlink("/etc/passwd", dir / "pacote" / "word" / "styles.xml");
    ASSERT_EQ(runProgram("/usr/bin/zip", {"-q", "-r", "-y", (dir / "com-link.docx").string(), "."}, 30, {},
                  (dir / "pacote").string())
                  .exitCode,
        0);
    fs::create_directory(dir / "w2");
    prepared = DocxFonts::prepare(dir / "com-link.docx", dir / "w2");
    EXPECT_EQ(prepared.input, dir / "com-link.docx");
    EXPECT_EQ(prepared.families, std::set<QString>{"X Bold"});
    EXPECT_TRUE(fs::is_empty(dir / "w2"));

    // Unpacking that fails gives the document back.
    writeFile(dir / "quebrado.docx", "não é zip");
    EXPECT_EQ(DocxFonts::prepare(dir / "quebrado.docx", dir / "w3").input, dir / "quebrado.docx");
}

TEST(DocxFonts, OnlyThePartsNamingFontsAreUnpackedAndPicturesAreCopiedThrough)
{
    const auto bold = std::find_if(DocxFonts::faces().begin(), DocxFonts::faces().end(), [](const auto& entry) {
        return entry.second.bold && !entry.second.italic;
    });
    if (bold == DocxFonts::faces().end())
        GTEST_SKIP() << "no bold face installed";
    // A styled name to rewrite, beside a 300 MB picture whose directory says 1,000 bytes.
    TempDir dir;
    const auto made = runProgram("/usr/bin/python3",
        {"-c", R"(
import struct, sys, zipfile
with zipfile.ZipFile("foto.docx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("word/document.xml", '<w:document><w:rPr><w:rFonts w:ascii="%s"/></w:rPr></w:document>' % sys.argv[1])
    with z.open("word/media/image1.png", "w") as f:
        for _ in range(300):
            f.write(bytes(1 << 20))
data = bytearray(open("foto.docx", "rb").read())
at = data.rfind(b"PK")
data[at + 24 : at + 28] = struct.pack("<I", 1000)
open("foto.docx", "wb").write(data)
)",
            bold->first.toStdString()},
        60, {}, dir.path().string());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    fs::create_directory(dir / "w");
    const auto prepared = DocxFonts::prepare(dir / "foto.docx", dir / "w");
    EXPECT_EQ(prepared.input, dir / "w" / "foto.docx");
    EXPECT_EQ(prepared.families, std::set<QString>{bold->second.family});
    uintmax_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "w"))
        if (entry.is_regular_file() && entry.path() != prepared.input)
            written += entry.file_size();
    EXPECT_LT(written, 4096u);
    EXPECT_LT(fs::file_size(prepared.input), fs::file_size(dir / "foto.docx") + 4096);
    const auto entries = ZipTools::entries(prepared.input).value_or(std::vector<ZipTools::Entry>{});
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const ZipTools::Entry& entry) {
        return entry.name == "word/media/image1.png";
    }));
    EXPECT_NE(ZipTools::readEntry(prepared.input, "word/document.xml")->find(bold->second.family.toStdString()),
        std::string::npos);
}

TEST(DocxFonts, DistributionFontsAreNotCopied)
{
    TempDir dir;
    writeFile(dir / "fonts" / "velho.ttf", "antigo");
    DocxFonts::collectFonts({"Inter", "Nenhuma Família"}, dir / "fonts");
    ASSERT_TRUE(fs::is_directory(dir / "fonts"));
    EXPECT_TRUE(fs::is_empty(dir / "fonts"));
}
