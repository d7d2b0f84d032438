// Word packages as generators and Word write them, with pictures and their main part wherever the
// relationships put it, through every output; and what our XML writers make of hostile text.

#include "core/engines/pdf_text.h"
#include "documents/docx.h"
#include "documents/odt.h"
#include "documents/rtf.h"
#include "documents/styled_text.h"
#include "documents/xlsx.h"
#include "documents/zip_tools.h"

#include "support/test_support.h"

#include <QBuffer>
#include <QImage>
#include <QString>
#include <QTextDocument>
#include <QtEndian>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>

#include <zlib.h>

using namespace TestSupport;

namespace {


// A package of the entries (name and bytes), as our own writers pack theirs.
void writePackage(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& entries)
{
    TempDir parts;
    for (const auto& [name, bytes] : entries) {
        fs::create_directories((parts / name).parent_path());
        writeFile(parts / name, bytes);
    }
    ZipTools::packContents(path, parts.path());
}

// A red PNG of that size; one past a few thousand pixels a side keeps only its header's word for
// it (the size it says, and a single pixel's data), which is all that what reads headers reads.
std::string png(int width, int height)
{
    const bool real = width * double(height) < 1e6;
    QImage image(real ? width : 1, real ? height : 1, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    if (!real) {
        // IHDR's width and height, then the chunk's CRC over its type and data.
        qToBigEndian<quint32>(quint32(width), bytes.data() + 16);
        qToBigEndian<quint32>(quint32(height), bytes.data() + 20);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.constData() + 12), 17);
        qToBigEndian<quint32>(quint32(crc), bytes.data() + 29);
    }
    return bytes.toStdString();
}

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";
const std::string relationshipsRoot = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A Word package whose main part is `main`, holding `body`, with the picture `picture` as
// relationship "rIdFoto" and its styles as "estilos.xml" beside the main part.
std::vector<std::pair<std::string, std::string>> wordPackage(
    const std::string& main, const std::string& body, const std::string& picture)
{
    const auto slash = main.rfind('/');
    const std::string folder = main.substr(0, slash + 1), name = main.substr(slash + 1);
    return {{"[Content_Types].xml",
                header
                    + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                      "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"png\" "
                      "ContentType=\"image/png\"/><Override PartName=\"/"
                    + main
                    + "\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
                      "</Types>"},
        {"_rels/.rels",
            header + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                + "<Relationship Id=\"rId1\" Type=\"" + relationshipsRoot + "/officeDocument\" Target=\"/" + main
                + "\"/></Relationships>"},
        {folder + "_rels/" + name + ".rels",
            header + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                + "<Relationship Id=\"rIdFoto\" Type=\"" + relationshipsRoot
                + "/image\" Target=\"media/foto.png\"/><Relationship Id=\"rIdEstilos\" Type=\"" + relationshipsRoot
                + "/styles\" Target=\"estilos.xml\"/></Relationships>"},
        {folder + "estilos.xml",
            header
                + "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:style "
                  "w:type=\"character\" w:styleId=\"Forte\"><w:rPr><w:b/></w:rPr></w:style></w:styles>"},
        {folder + "media/foto.png", picture},
        {main,
            header
                + "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                  "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                  "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
                  "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
                  "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body>"
                + body + "</w:body></w:document>"}};
}

// A paragraph with the picture between two runs, shown 72 × 54 points.
const std::string pictureParagraph
    = "<w:p><w:r><w:t xml:space=\"preserve\">Antes da foto </w:t></w:r><w:r><w:drawing><wp:inline>"
      "<wp:extent cx=\"914400\" cy=\"685800\"/><wp:docPr id=\"1\" name=\"Foto\" descr=\"Um quadrado vermelho\"/>"
      "<a:graphic><a:graphicData><pic:pic><pic:blipFill><a:blip r:embed=\"rIdFoto\"/></pic:blipFill></pic:pic>"
      "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r><w:r><w:t xml:space=\"preserve\"> depois da "
      "foto</w:t></w:r></w:p>";

fs::path convert(const fs::path& source, const std::string& ext, std::string* error = nullptr)
{
    std::string said;
    auto output = convertWithoutSuite(source, ext, &said);
    EXPECT_TRUE(error || !output.empty()) << source << " → " << ext << ": " << said;
    if (error)
        *error = said;
    return output;
}

// Every XML part of a package, by name; a part that is not well-formed fails the test.
std::map<std::string, std::string> xmlParts(const fs::path& package)
{
    std::map<std::string, std::string> parts;
    const auto listed = ZipTools::entries(package);
    EXPECT_TRUE(listed) << package;
    for (const auto& entry : listed.value_or(std::vector<ZipTools::Entry>{})) {
        if (!entry.name.ends_with(".xml") && !entry.name.ends_with(".rels"))
            continue;
        const std::string bytes = ZipTools::readEntry(package, entry.name).value_or("");
        QXmlStreamReader reader(QByteArray::fromStdString(bytes));
        while (!reader.atEnd())
            reader.readNext();
        EXPECT_FALSE(reader.hasError()) << package << " " << entry.name << ": " << reader.errorString().toStdString();
        parts[entry.name] = bytes;
    }
    return parts;
}

}

TEST(OfficePackages, AWordDocumentsPicturesReachOdtHtmlAndRtf)
{
    TempDir dir;
    writePackage(dir / "foto.docx", wordPackage("word/document.xml", pictureParagraph, png(8, 6)));
    const std::string bytes = png(8, 6);

    const auto odt = convert(dir / "foto.docx", "odt");
    const auto parts = xmlParts(odt);
    const std::string content = parts.count("content.xml") ? parts.at("content.xml") : "";
    const auto href = content.find("xlink:href=\"Pictures/");
    ASSERT_NE(href, std::string::npos) << content;
    const auto start = href + 12;
    const std::string stored = content.substr(start, content.find('"', start) - start);
    EXPECT_EQ(ZipTools::readEntry(odt, stored).value_or(""), bytes) << stored;
    EXPECT_NE(parts.at("META-INF/manifest.xml").find("\"" + stored + "\""), std::string::npos);
    EXPECT_NE(content.find("svg:width=\"72"), std::string::npos) << content;
    EXPECT_LT(content.find("Antes da foto"), href);
    EXPECT_GT(content.find("depois da foto"), href);

    const auto page = convert(dir / "foto.docx", "html");
    const auto html = readFile(page);
    const std::string data = "data:image/png;base64," + QByteArray::fromStdString(bytes).toBase64().toStdString();
    EXPECT_NE(html.find(data), std::string::npos) << html;
    EXPECT_NE(html.find("<img"), std::string::npos);

    // and back into a Word document, as Word keeps a picture.
    const auto docx = convert(page, "docx");
    xmlParts(docx);
    EXPECT_EQ(ZipTools::readEntry(docx, "word/media/imagem1.png").value_or(""), bytes);
    bool found = false;
    StyledText::forEachPicture(Docx::read(docx), [&](const StyledText::Picture& picture) {
        found = picture.bytes.toStdString() == bytes && std::lround(picture.width) == 72;
    });
    EXPECT_TRUE(found);

    const auto rtf = readFile(convert(dir / "foto.docx", "rtf"));
    EXPECT_NE(rtf.find("{\\pict\\pngblip\\picw8\\pich6\\picwgoal1440\\pichgoal1080"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find(QByteArray::fromStdString(bytes).toHex().left(64).toStdString()), std::string::npos);

    // Text outputs keep the text around it, and no picture's bytes.
    EXPECT_EQ(readFile(convert(dir / "foto.docx", "txt")), "Antes da foto  depois da foto");
    EXPECT_EQ(readFile(convert(dir / "foto.docx", "md")).find("data:"), std::string::npos);

    // A picture that says it is 30,000 × 30,000 is refused for a PDF rather than left out of it.
    writePackage(dir / "enorme.docx", wordPackage("word/document.xml", pictureParagraph, png(30000, 30000)));
    std::string error;
    EXPECT_TRUE(convert(dir / "enorme.docx", "pdf", &error).empty());
    // Which bound it passes first depends on the memory free.
    EXPECT_NE(error.find("erro: A imagem é grande demais para"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "enorme.pdf"));
}

TEST(OfficePackages, AWordMainPartIsFoundByThePackagesRelationships)
{
    // As generator libraries write it: the main part under a name of their own, its styles and
    // pictures named by its own relationships.
    TempDir dir;
    const std::string body = "<w:p><w:r><w:rPr><w:rStyle w:val=\"Forte\"/></w:rPr><w:t>Relatório gerado</w:t></w:r>"
                             "</w:p>"
        + pictureParagraph;
    writePackage(dir / "gerado.docx", wordPackage("word/document2.xml", body, png(8, 6)));
    for (const std::string ext : {"txt", "md", "html", "odt", "rtf", "pdf"}) {
        const auto output = convert(dir / "gerado.docx", ext);
        ASSERT_FALSE(output.empty()) << ext;
        std::string text = readFile(output);
        if (ext == "odt")
            text = Odt::read(output).plainText().toStdString();
        else if (ext == "rtf")
            text = Rtf::read(text).plainText().toStdString();
        else if (ext == "pdf")
            text = PDFText::pageTexts(output).at(0);
        EXPECT_NE(text.find("Relatório gerado"), std::string::npos) << ext << ": " << text;
        EXPECT_NE(text.find("depois da foto"), std::string::npos) << ext;
    }
    EXPECT_TRUE(readFile(dir / "gerado.md").starts_with("**Relatório gerado**")) << readFile(dir / "gerado.md");
    EXPECT_NE(readFile(dir / "gerado.html").find("data:image/png;base64,"), std::string::npos);

    // A workbook's package names its main part the same way, and is no Word document.
    auto workbook = wordPackage("xl/workbook.xml", "", png(8, 6));
    auto& types = workbook.front().second;
    types.replace(types.find("wordprocessingml.document"), 25, "spreadsheetml.sheet");
    writePackage(dir / "planilha.docx", workbook);
    EXPECT_FALSE(Docx::isDocx(dir / "planilha.docx"));
    EXPECT_TRUE(Docx::isDocx(dir / "gerado.docx"));
}

TEST(OfficePackages, EveryXmlWeWriteIsWellFormedWhateverTheText)
{
    // Unpaired surrogates, controls XML forbids, the two non-characters, markup, and a pair that
    // is a real character.
    const QString hostile = QString("a") + QChar(0xD800) + "b" + QChar(0xDC00) + "c" + QChar(0x01) + QChar(0x0B)
        + QChar(0xFFFE) + QChar(0xFFFF) + "<&>\"'" + QString::fromUtf8("\xF0\x9F\x98\x80") + QChar(0xD83D);
    TempDir dir;

    // An RTF as the issue's: \u with negative values for the surrogates.
    writeFile(dir / "texto.rtf", "{\\rtf1\\ansi\\uc1 antes\\u-10240?meio\\u-9216?\\u1?\\u-2?\\u-1?fim\\par}");
    for (const std::string ext : {"odt", "docx"}) {
        const auto output = convert(dir / "texto.rtf", ext);
        const auto parts = xmlParts(output);
        const std::string main = ext == "odt" ? "content.xml" : "word/document.xml";
        ASSERT_TRUE(parts.count(main)) << output;
        EXPECT_NE(parts.at(main).find("antes\xEF\xBF\xBDmeio\xEF\xBF\xBD"), std::string::npos) << parts.at(main);
    }

    StyledText::Document document;
    StyledText::Run run{hostile};
    run.href = "http://exemplo.org/" + hostile;
    document.blocks.push_back({{{run}}, nullptr});
    auto table = std::make_shared<StyledText::Table>();
    table->rows = {{{{{{hostile}}}}}};
    document.blocks.push_back({{}, table});
    Docx::write(document, dir / "nosso.docx");
    Odt::write(*StyledText::toQt(document), {}, dir / "nosso.odt");
    SpreadsheetEngine::writeXLSX({{hostile.toStdString(), {{hostile.toStdString(), "1"}}}}, dir / "nosso.xlsx");
    for (const char* name : {"nosso.docx", "nosso.odt", "nosso.xlsx"})
        EXPECT_GE(xmlParts(dir / name).size(), 3u) << name;
    // What can be kept is.
    const QString back = Docx::read(dir / "nosso.docx").plainText();
    EXPECT_TRUE(back.contains(QString::fromUtf8("<&>\"'\xF0\x9F\x98\x80"))) << back.toStdString();
    EXPECT_TRUE(back.startsWith(QString("a") + QChar::ReplacementCharacter + "b")) << back.toStdString();
}
