// The bounds of a job, whatever reads its file: no picture of the reader's outside the file's own
// folder, nothing from the network and no wait on a FIFO, through every road that follows
// references (drawings, pages, Markdown, documents through the office suite, workbooks).

#include "documents/zip_tools.h"

#include "support/loopback_server.h"
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

// The secret is a flat colour no page, text or test pattern has.
constexpr int secretRed = 213, secretGreen = 17, secretBlue = 171;

bool isSecret(QRgb pixel)
{
    return std::abs(qRed(pixel) - secretRed) < 24 && std::abs(qGreen(pixel) - secretGreen) < 24
        && std::abs(qBlue(pixel) - secretBlue) < 24;
}

// Pixels of the secret's colour in the picture file, whatever its size.
int secretPixels(const fs::path& picture)
{
    const QImage image(QString::fromStdString(picture.string()));
    int found = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            found += isSecret(image.pixel(x, y));
    return found;
}

// Pixels of the secret's colour in an output: a picture itself, a PDF's pages as drawn and every
// picture it holds, an ODT's pictures.
int secretPixelsIn(const fs::path& output)
{
    const auto ext = output.extension().string();
    if (ext == ".png" || ext == ".jpg")
        return secretPixels(output);
    TempDir seen;
    if (ext == ".pdf") {
        runProgram("/usr/bin/pdftoppm", {"-r", "40", "-png", output.string(), (seen / "pagina").string()});
        runProgram("/usr/bin/pdfimages", {"-png", output.string(), (seen / "imagem").string()});
    } else if (ext == ".odt") {
        ZipTools::unpack(output, seen.path());
    }
    int found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(seen.path()))
        if (entry.is_regular_file())
            found += secretPixels(entry.path());
    return found;
}

// A flat picture of the secret's colour.
void makeSecret(const fs::path& secret)
{
    const auto black = runProgram("/usr/bin/vips",
        {"black", (secret.parent_path() / "preto.v").string(), "83", "61", "--bands", "3"});
    ASSERT_EQ(black.exitCode, 0) << black.err;
    const auto coloured = runProgram("/usr/bin/vips",
        {"linear", (secret.parent_path() / "preto.v").string(), secret.string(), "1 1 1",
            std::to_string(secretRed) + " " + std::to_string(secretGreen) + " " + std::to_string(secretBlue),
            "--uchar"});
    ASSERT_EQ(coloured.exitCode, 0) << coloured.err;
    ASSERT_GT(secretPixels(secret), 5000);
}

// The reader's folder "privado" with the secret in it, and the folder "docs" beside it.
fs::path privateAndDocuments(const TempDir& dir)
{
    fs::create_directories(dir / "privado");
    fs::create_directories(dir / "docs");
    const fs::path secret = dir / "privado" / "segredo.png";
    makeSecret(secret);
    return secret;
}

void writeZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& parts)
{
    std::vector<std::string> arguments = {"-c",
        "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        " for i in range(2, len(sys.argv), 2): z.writestr(sys.argv[i], sys.argv[i + 1])\n",
        path.string()};
    for (const auto& [name, text] : parts) {
        arguments.push_back(name);
        arguments.push_back(text);
    }
    const auto made = runProgram("/usr/bin/python3", arguments);
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

const std::string ooxml = "http://schemas.openxmlformats.org/";

std::string types(const std::string& part, const std::string& type)
{
    return "<?xml version=\"1.0\"?><Types xmlns=\"" + ooxml
        + "package/2006/content-types\"><Default Extension=\"rels\" "
          "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
          "ContentType=\"application/xml\"/><Override PartName=\"/"
        + part + "\" ContentType=\"" + type + "\"/></Types>";
}

std::string relationships(const std::string& inside)
{
    return "<?xml version=\"1.0\"?><Relationships xmlns=\"" + ooxml + "package/2006/relationships\">" + inside
        + "</Relationships>";
}

std::string link(const std::string& id, const std::string& type, const std::string& target)
{
    return "<Relationship Id=\"" + id + "\" Type=\"" + ooxml + "officeDocument/2006/relationships/" + type
        + "\" Target=\"" + target + "\" TargetMode=\"External\"/>";
}

// A Word document drawing one linked picture for each target.
void makeDocx(const fs::path& path, const std::vector<std::string>& targets)
{
    std::string rels, body;
    for (size_t i = 0; i < targets.size(); ++i) {
        const auto id = "rIdFoto" + std::to_string(i);
        rels += link(id, "image", targets[i]);
        body += "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"952500\" cy=\"714375\"/><wp:docPr id=\""
            + std::to_string(i + 1)
            + "\" name=\"Foto\"/><a:graphic><a:graphicData uri=\"" + ooxml
            + "drawingml/2006/picture\"><pic:pic><pic:nvPicPr><pic:cNvPr id=\"1\" name=\"f.png\"/><pic:cNvPicPr/>"
              "</pic:nvPicPr><pic:blipFill><a:blip r:link=\""
            + id
            + "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/>"
              "<a:ext cx=\"952500\" cy=\"714375\"/></a:xfrm><a:prstGeom prst=\"rect\"/></pic:spPr></pic:pic>"
              "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>";
    }
    writeZip(path,
        {{"[Content_Types].xml",
             types("word/document.xml",
                 "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml")},
            {"_rels/.rels",
                relationships("<Relationship Id=\"rId1\" Type=\"" + ooxml
                    + "officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>")},
            {"word/_rels/document.xml.rels", relationships(rels)},
            {"word/document.xml",
                "<?xml version=\"1.0\"?><w:document xmlns:w=\"" + ooxml + "wordprocessingml/2006/main\" xmlns:r=\""
                    + ooxml + "officeDocument/2006/relationships\" xmlns:wp=\"" + ooxml
                    + "drawingml/2006/wordprocessingDrawing\" xmlns:a=\"" + ooxml + "drawingml/2006/main\" xmlns:pic=\""
                    + ooxml + "drawingml/2006/picture\"><w:body><w:p><w:r><w:t>Carta</w:t></w:r></w:p>" + body
                    + "</w:body></w:document>"}});
}

// An ODT text drawing one linked picture for each target.
void makeOdt(const fs::path& path, const std::vector<std::string>& targets)
{
    std::string frames;
    for (const auto& target : targets)
        frames += "<text:p><draw:frame svg:width=\"3cm\" svg:height=\"2cm\"><draw:image xlink:href=\"" + target
            + "\" xlink:type=\"simple\" xlink:show=\"embed\" xlink:actuate=\"onLoad\"/></draw:frame></text:p>";
    writeZip(path,
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
            {"META-INF/manifest.xml",
                "<?xml version=\"1.0\"?><manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:"
                "manifest:1.0\" manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" "
                "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/><manifest:file-entry "
                "manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/></manifest:manifest>"},
            {"content.xml",
                "<?xml version=\"1.0\"?><office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:"
                "office:1.0\" xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" xmlns:draw=\"urn:oasis:"
                "names:tc:opendocument:xmlns:drawing:1.0\" xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-"
                "compatible:1.0\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.2\"><office:body>"
                "<office:text><text:p>Carta</text:p>"
                    + frames + "</office:text></office:body></office:document-content>"}});
}

// A workbook whose sheet links the targets, as a picture and as addresses.
void makeXlsx(const fs::path& path, const std::vector<std::string>& targets)
{
    std::string rels;
    for (size_t i = 0; i < targets.size(); ++i)
        rels += link("rIdL" + std::to_string(i), i % 2 ? "hyperlink" : "image", targets[i]);
    writeZip(path,
        {{"[Content_Types].xml",
             types("xl/workbook.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml")},
            {"_rels/.rels",
                relationships("<Relationship Id=\"rId1\" Type=\"" + ooxml
                    + "officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>")},
            {"xl/workbook.xml",
                "<?xml version=\"1.0\"?><workbook xmlns=\"" + ooxml + "spreadsheetml/2006/main\" xmlns:r=\"" + ooxml
                    + "officeDocument/2006/relationships\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
                      "</sheets></workbook>"},
            {"xl/_rels/workbook.xml.rels",
                relationships("<Relationship Id=\"rId1\" Type=\"" + ooxml
                    + "officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>")},
            {"xl/worksheets/_rels/sheet1.xml.rels", relationships(rels)},
            {"xl/worksheets/sheet1.xml",
                "<?xml version=\"1.0\"?><worksheet xmlns=\"" + ooxml
                    + "spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is>"
                      "</c></row></sheetData></worksheet>"}});
}

}

TEST(JobBoundary, AJobReachesNothingButItsOwnFilesAndNoNetwork)
{
    TempDir dir;
    const fs::path secret = privateAndDocuments(dir);
    const std::string photo = readFile(secret);
    LoopbackServer web([&photo](const std::string&, int socket) {
        LoopbackServer::send(socket,
            "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string(photo.size())
                + "\r\nConnection: close\r\n\r\n" + photo);
    });
    // Beside the documents: a link someone planted towards the secret, and a FIFO no one writes.
    const fs::path docs = dir / "docs";
    fs::create_symlink(secret, docs / "atalho.png");
    ASSERT_EQ(::mkfifo((docs / "fila.png").c_str(), 0600), 0);
    const std::vector<std::string> targets = {secret.string(), "../privado/segredo.png", "file://" + secret.string(),
        "atalho.png", (docs / "atalho.png").string(), "fila.png", web.url("/foto.png")};

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                      "width=\"600\" height=\"80\"><rect width=\"600\" height=\"80\" fill=\"white\"/>";
    std::string html = "<html><body><p>Página</p>", markdown = "# Nota\n\n";
    std::string rtf = "{\\rtf1\\ansi Relat\\'f3rio ";
    for (size_t i = 0; i < targets.size(); ++i) {
        svg += "<image x=\"" + std::to_string(i * 85) + "\" y=\"0\" width=\"83\" height=\"61\" xlink:href=\""
            + targets[i] + "\"/>";
        html += "<img src=\"" + targets[i] + "\">";
        markdown += "![foto](" + targets[i] + ")\n\n";
        rtf += "{\\field{\\*\\fldinst INCLUDEPICTURE \"" + targets[i] + "\" \\\\d}{\\fldrslt }}\\par ";
    }
    writeFile(docs / "desenho.svg", svg + "</svg>");
    writeFile(docs / "pagina.html", html + "</body></html>");
    writeFile(docs / "nota.md", markdown);
    writeFile(docs / "campo.rtf", rtf + "}");
    makeDocx(docs / "carta.docx", targets);
    makeOdt(docs / "texto.odt", targets);
    makeXlsx(docs / "tabela.xlsx", targets);
    // A compressed drawing cut short is refused at once.
    const auto packed = runProgram("/usr/bin/python3",
        {"-c", "import gzip, sys; d = gzip.compress(open(sys.argv[1], 'rb').read()); open(sys.argv[2], 'wb').write(d[:185])",
            (docs / "desenho.svg").string(), (docs / "corte.svgz").string()});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    const std::vector<std::pair<std::string, std::string>> roads = {{"desenho.svg", "PNG"}, {"desenho.svg", "PDF"},
        {"pagina.html", "PDF"}, {"pagina.html", "ODT"}, {"nota.md", "PDF"}, {"nota.md", "ODT"}, {"campo.rtf", "PDF"},
        {"carta.docx", "PDF"}, {"texto.odt", "PDF"}, {"tabela.xlsx", "CSV"}, {"corte.svgz", "PNG"}};
    for (const auto& [name, format] : roads) {
        SCOPED_TRACE(name + " → " + format);
        const auto began = std::chrono::steady_clock::now();
        const auto run = runBrivlon({"--convert", format, (docs / name).string()}, 60);
        const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        EXPECT_FALSE(run.timedOut);
        EXPECT_LT(took, 30);
        if (name == "corte.svgz") {
            EXPECT_EQ(run.exitCode, 1);
            continue;
        }
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::string output = run.out;
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        EXPECT_EQ(secretPixelsIn(output), 0) << output;
    }
    EXPECT_TRUE(web.requests().empty()) << web.requests().front();
}

// Where the kernel cannot bound a job's files, the readers' own rules are all that holds: every
// reference of a page, by attribute or in a style, settles as its pictures do, and a document's
// fields that would make the office suite pull in a file are emptied before the suite sees it.
TEST(JobBoundary, WithoutFileBoundsPagesAndDocumentsStillReachNoFileOfTheReaders)
{
    TempDir dir;
    const fs::path secret = privateAndDocuments(dir);
    writeFile(dir / "privado" / "fundo.css", "p { background-image: url(" + secret.string() + ") }");
    const fs::path text = dir / "privado" / "segredo.txt";
    writeFile(text, "PALAVRASECRETA");
    const fs::path docs = dir / "docs";
    const std::string path = secret.string(), address = "file://" + secret.string();
    writeFile(docs / "pagina.html",
        "<html><head><link rel=\"stylesheet\" href=\"" + (dir / "privado" / "fundo.css").string()
            + "\"><style>@import url(" + (dir / "privado" / "fundo.css").string() + "); div { background: url('"
            + address + "') }</style></head><body background=\"" + path + "\"><table background=\"" + path
            + "\" width=\"400\" height=\"200\"><tr><td background=\"" + address
            + "\" width=\"200\" height=\"150\">Célula</td></tr></table><p style=\"background:url(" + path
            + ")\">Texto com fundo</p><div>Bloco</div></body></html>");
    writeFile(docs / "campo.rtf",
        "{\\rtf1\\ansi Relat\\'f3rio {\\field{\\*\\fldinst INCLUDEPICTURE \"" + path
            + "\" \\\\d}{\\fldrslt }}\\par {\\field{\\*\\fldinst {\\rtlch includepicture }{\"" + address
            + "\"}}{\\fldrslt antigo}}\\par {\\field{\\*\\fldinst INCLUDETEXT \"" + text.string()
            + "\"}{\\fldrslt }}\\par Fim\\par}");
    const std::vector<std::pair<std::string, std::string>> unfenced = {{"BRIVLON_WORKER", BRIVLON_TRAP_WORKER}, {"BRIVLON_WORKER_NO_FILE_FENCE", "1"}};
    for (const auto& [name, format] : std::vector<std::pair<std::string, std::string>>{
             {"pagina.html", "PDF"}, {"pagina.html", "ODT"}, {"campo.rtf", "PDF"}}) {
        SCOPED_TRACE(name + " → " + format);
        const auto run = runBrivlon({"--convert", format, (docs / name).string()}, 120, unfenced);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::string output = run.out;
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        EXPECT_EQ(secretPixelsIn(output), 0) << output;
        if (fs::path(output).extension() == ".pdf") {
            const auto printed = runProgram("/usr/bin/pdftotext", {output, "-"});
            EXPECT_EQ(printed.out.find("PALAVRASECRETA"), std::string::npos) << printed.out;
            EXPECT_NE(printed.out.find(name == "campo.rtf" ? "Fim" : "Bloco"), std::string::npos) << printed.out;
        }
        fs::remove(output);
    }
}
