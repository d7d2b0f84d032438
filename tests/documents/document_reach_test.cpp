// What a converted document may reach besides itself: pictures in its own folder, and nothing
// of the reader's elsewhere or on the network, through our printer and through the office suite.

#include "core/base/process.h"
#include "documents/office_engine.h"
#include "documents/zip_tools.h"

#include "support/loopback_server.h"
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sstream>

using namespace TestSupport;

namespace {

const std::vector<std::pair<std::string, std::string>> noSuite = {{"BRIVLON_NO_COMPONENTS", "1"}};
const fs::path office = "/usr/lib/libreoffice/program/soffice";

// The reader's private photo and the one a saved page keeps beside it differ in size, which is
// what the outputs are searched for.
const std::string secretSize = "77x55";
const std::string besideSize = "40x30";

void makePhoto(const fs::path& path, int width, int height)
{
    const auto made = runProgram("/usr/bin/vips",
        {"gaussnoise", path.string(), std::to_string(width), std::to_string(height)});
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

// "WxH" of every picture a PDF draws.
std::multiset<std::string> pdfPictures(const fs::path& pdf)
{
    const auto listed = runProgram("/usr/bin/pdfimages", {"-list", pdf.string()});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    std::multiset<std::string> sizes;
    std::istringstream lines(listed.out);
    std::string line;
    for (int header = 0; header < 2 && std::getline(lines, line); ++header) { }
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string page, number, type, width, height;
        fields >> page >> number >> type >> width >> height;
        if (type == "image")
            sizes.insert(width + "x" + height);
    }
    return sizes;
}

std::multiset<std::string> odtPictures(const fs::path& odt)
{
    std::multiset<std::string> sizes;
    TempDir unpacked;
    ZipTools::unpack(odt, unpacked.path());
    if (!fs::is_directory(unpacked / "Pictures"))
        return sizes;
    for (const auto& entry : fs::directory_iterator(unpacked / "Pictures")) {
        const std::string bytes = readFile(entry.path());
        const QImage image = QImage::fromData(QByteArray(bytes.data(), qsizetype(bytes.size())));
        sizes.insert(std::to_string(image.width()) + "x" + std::to_string(image.height()));
    }
    return sizes;
}

// A Word document whose one picture is linked, not held: `target` is a path or an address.
void makeLinkedDocx(const fs::path& path, const std::string& target)
{
    const auto made = runProgram("/usr/bin/python3",
        {"-c",
            "import sys, zipfile\n"
            "W='http://schemas.openxmlformats.org/'\n"
            "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            " z.writestr('[Content_Types].xml', '<?xml version=\"1.0\"?><Types xmlns=\"'+W+'package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/word/document.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>')\n"
            " z.writestr('_rels/.rels', '<?xml version=\"1.0\"?><Relationships xmlns=\"'+W+'package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\"'+W+'officeDocument/2006/relationships/officeDocument\" "
            "Target=\"word/document.xml\"/></Relationships>')\n"
            " z.writestr('word/_rels/document.xml.rels', '<?xml version=\"1.0\"?><Relationships xmlns=\"'+W+'package/2006/"
            "relationships\"><Relationship Id=\"rIdFoto\" Type=\"'+W+'officeDocument/2006/relationships/image\" "
            "Target=\"'+sys.argv[2]+'\" TargetMode=\"External\"/></Relationships>')\n"
            " z.writestr('word/document.xml', '<?xml version=\"1.0\"?><w:document xmlns:w=\"'+W+'wordprocessingml/2006/main\" "
            "xmlns:r=\"'+W+'officeDocument/2006/relationships\" xmlns:wp=\"'+W+'drawingml/2006/wordprocessingDrawing\" "
            "xmlns:a=\"'+W+'drawingml/2006/main\" xmlns:pic=\"'+W+'drawingml/2006/picture\"><w:body><w:p><w:r>"
            "<w:t>Relatório com foto</w:t></w:r></w:p><w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"952500\" "
            "cy=\"714375\"/><wp:docPr id=\"1\" name=\"Foto\"/><a:graphic><a:graphicData uri=\"'+W+'drawingml/2006/picture\">"
            "<pic:pic><pic:nvPicPr><pic:cNvPr id=\"1\" name=\"foto.jpg\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill>"
            "<a:blip r:link=\"rIdFoto\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm>"
            "<a:off x=\"0\" y=\"0\"/><a:ext cx=\"952500\" cy=\"714375\"/></a:xfrm><a:prstGeom prst=\"rect\"/></pic:spPr>"
            "</pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p></w:body></w:document>')\n",
            path.string(), target});
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

fs::path converted(const fs::path& source, const std::string& ext,
    const std::vector<std::pair<std::string, std::string>>& env = noSuite)
{
    const auto result = runBrivlon({"--convert", ext, source.string()}, 120, env);
    EXPECT_EQ(result.exitCode, 0) << source << " → " << ext << ": " << result.err;
    std::string out = result.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// Answers every request with the secret photo and keeps count.
struct PictureServer {
    std::string photo;
    LoopbackServer server{[this](const std::string&, int socket) {
        LoopbackServer::send(socket,
            "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(photo.size())
                + "\r\nConnection: close\r\n\r\n" + photo);
    }};
};

bool userNamespaces()
{
    return runProgram("/usr/bin/unshare", {"--user", "--map-current-user", "--net", "--", "/bin/true"}).exitCode == 0;
}

}

TEST(DocumentReach, APagePrintsThePicturesBesideItAndNoneOfTheReadersFiles)
{
    TempDir dir;
    fs::create_directories(dir / "privado");
    makePhoto(dir / "privado" / "foto.jpg", 77, 55);
    PictureServer web{readFile(dir / "privado" / "foto.jpg")};
    const fs::path secret = dir / "privado" / "foto.jpg";

    // A saved page: its pictures in "<name>_files", one of them a link someone planted.
    const fs::path page = dir / "Página salva";
    fs::create_directories(page / "notícia_files");
    makePhoto(page / "notícia_files" / "foto 1.png", 40, 30);
    fs::create_symlink(secret, page / "notícia_files" / "atalho.jpg");
    writeFile(page / "notícia.html",
        "<html><head><title>Notícia</title><link rel=\"stylesheet\" href=\"" + (dir / "privado" / "x.css").string()
            + "\"></head><body><h1>Manchete</h1>\n"
              "<p><img src=\"notícia_files/foto%201.png\"></p>\n"
              "<p><img src=\"file://"
            + secret.string() + "\"> <img src=\"" + secret.string()
            + "\"> <img src=\"../privado/foto.jpg\"> <img src=\"notícia_files/atalho.jpg\"> <img src=\""
            + web.server.url("/foto.jpg") + "\" width=\"77\" height=\"55\"></p>\n<p>Fim da notícia.</p></body></html>");
    writeFile(dir / "privado" / "x.css", "body { color: red }");

    const auto pdf = converted(page / "notícia.html", "pdf");
    const auto printed = pdfPictures(pdf);
    EXPECT_EQ(printed.count(besideSize), 1u);
    EXPECT_EQ(printed.count(secretSize), 0u);
    const auto odt = odtPictures(converted(page / "notícia.html", "odt"));
    EXPECT_EQ(odt.count(besideSize), 1u);
    EXPECT_EQ(odt.count(secretSize), 0u);

    // Markdown pictures become their text, and our own Word reader reads no linked picture.
    writeFile(page / "nota.md", "# Nota\n\n![foto](" + secret.string() + ") e [link](file://" + secret.string() + ")\n");
    EXPECT_EQ(pdfPictures(converted(page / "nota.md", "pdf")).count(secretSize), 0u);
    makeLinkedDocx(page / "carta.docx", "file://" + secret.string());
    EXPECT_EQ(pdfPictures(converted(page / "carta.docx", "pdf")).count(secretSize), 0u);
    EXPECT_TRUE(web.server.requests().empty());
}

TEST(DocumentReach, TheOfficeSuiteEmbedsNoLinkedPictureAndFetchesNothing)
{
    if (!fs::exists(office))
        GTEST_SKIP() << "LibreOffice is not installed";
    TempDir dir;
    fs::create_directories(dir / "privado");
    const fs::path secret = dir / "privado" / "foto.jpg";
    makePhoto(secret, 77, 55);
    PictureServer web{readFile(secret)};

    // A profile kept from before, which lets documents load their links: the run shuts them again.
    const fs::path settings
        = fs::path(std::getenv("XDG_DATA_HOME")) / "Brivlon/Componentes/perfil-libreoffice/user/registrymodifications.xcu";
    fs::create_directories(settings.parent_path());
    writeFile(settings,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"BlockUntrustedRefererLinks\" "
        "oor:op=\"fuse\"><value>false</value></prop></item>\n"
        "<item oor:path=\"/org.openoffice.Office.Writer/Content/Update\"><prop oor:name=\"Link\" oor:op=\"fuse\">"
        "<value>2</value></prop></item>\n</oor:items>\n");

    const fs::path inbox = dir / "recebidos";
    fs::create_directories(inbox);
    makeLinkedDocx(inbox / "local.docx", "file://" + secret.string());
    makeLinkedDocx(inbox / "remoto.docx", web.server.url("/remoto.jpg"));
    writeFile(inbox / "campo.rtf",
        "{\\rtf1\\ansi Relat\\'f3rio {\\field{\\*\\fldinst INCLUDEPICTURE \"file://" + secret.string()
            + "\" \\\\d}{\\fldrslt }}\\par {\\field{\\*\\fldinst INCLUDEPICTURE \"" + web.server.url("/campo.jpg")
            + "\" \\\\d}{\\fldrslt }}\\par}");
    for (const char* name : {"local.docx", "remoto.docx", "campo.rtf"}) {
        const auto pdf = converted(inbox / name, "pdf", {});
        ASSERT_TRUE(fs::is_regular_file(pdf)) << name;
        EXPECT_EQ(pdfPictures(pdf).count(secretSize), 0u) << name;
    }
    EXPECT_TRUE(web.server.requests().empty()) << web.server.requests().front();
    const std::string kept = readFile(settings);
    EXPECT_EQ(kept.find("BlockUntrustedRefererLinks"), kept.rfind("BlockUntrustedRefererLinks"));
    EXPECT_NE(kept.find("BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true"), std::string::npos) << kept;
}

TEST(DocumentReach, TheSuiteRunsWithoutANetworkWhereTheSystemAllowsOne)
{
    if (!userNamespaces())
        GTEST_SKIP() << "no user namespaces here";
    TempDir dir;
    PictureServer web;
    // A stand-in for the suite that calls home before it writes its PDF.
    const fs::path fake = dir / "soffice";
    writeFile(fake,
        "#!/usr/bin/python3\nimport socket, sys, os\n"
        "try:\n socket.create_connection(('127.0.0.1', " + web.server.url("").substr(17)
            + "), 5).sendall(b'GET /casa HTTP/1.0\\r\\n\\r\\n')\nexcept OSError:\n pass\n"
              "out = sys.argv[sys.argv.index('--outdir') + 1]\n"
              "open(os.path.join(out, os.path.splitext(os.path.basename(sys.argv[-1]))[0] + '.pdf'), 'w').write('%PDF-1.4')\n");
    fs::permissions(fake, fs::perms::owner_all);
    writeFile(dir / "carta.rtf", "{\\rtf1 carta}");
    fs::create_directories(dir / "saida");
    const auto product = OfficeEngine::convertWithSuite(
        fake, dir / "carta.rtf", "pdf", dir / "saida", dir / "perfil", std::chrono::seconds(60));
    ASSERT_TRUE(product);
    EXPECT_TRUE(web.server.requests().empty());
    EXPECT_TRUE(fs::is_regular_file(dir / "perfil" / "user" / "registrymodifications.xcu"));
}
