// The office route with fake suites (shell scripts standing in for soffice) and with the real
// LibreOffice: the order of the suites, the time limit and cancellation ending the suite's whole
// process group, one run at a time, the notice of the simple route and the run folders.

#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/pdf_text.h"
#include "core/jobs/request.h"
#include "core/jobs/worker.h"
#include "core/state/office_events.h"
#include "documents/docx.h"
#include "documents/office_engine.h"
#include "documents/office_fields.h"

#include "support/test_support.h"

#include <poppler-qt6.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace TestSupport;
using namespace std::chrono_literals;

namespace {

// Every fake finds its output folder and input like soffice does and logs its arguments.
const char* prelude = R"(#!/bin/sh
out=""; prev=""; last=""
for a in "$@"; do [ "$prev" = "--outdir" ] && out="$a"; prev="$a"; last="$a"; done
stem=$(basename "$last"); stem="${stem%.*}"
echo "$(basename "$0") $*" >> "$(dirname "$0")/log"
)";

fs::path fake(const TempDir& dir, const std::string& name, const std::string& body)
{
    const fs::path path = dir / name;
    writeFile(path, prelude + body + "\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

const std::string writes = R"(printf '%%PDF-1.4 falso' > "$out/$stem.pdf")";
const std::string leavesChild = R"(sleep 300 & echo $! > "$(dirname "$0")/filho.pid")";

std::vector<std::string> logLines(const TempDir& dir)
{
    std::vector<std::string> lines;
    std::istringstream in(fs::exists(dir / "log") ? readFile(dir / "log") : "");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool endsSoon(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        if (::kill(pid, 0) != 0)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

pid_t childOf(const TempDir& dir) { return pid_t(std::stol(readFile(dir / "filho.pid"))); }

struct RecordedEvents : OfficeEvents {
    std::vector<std::string> notices;
    int wanted = 0;
    void simpleMode(const std::string& message) override { notices.push_back(message); }
    void componentWanted() override { ++wanted; }
};

// Run folders go to a private temporary folder for the test, where none may be left.
struct PrivateTemp {
    TempDir dir;
    std::string previous = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    PrivateTemp() { ::setenv("TMPDIR", dir.path().c_str(), 1); }
    ~PrivateTemp() { previous.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", previous.c_str(), 1); }
    bool noRunFolders() const
    {
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with("brivlon-"))
                return false;
        return true;
    }
};

}

// Fields that pull in a file or an address lose their instruction however it is spelt (split in
// groups, in another case, with escaped letters); every other field and all text stay as they were.
TEST(OfficeRoute, FieldsThatReachOutsideAreEmptiedBeforeTheSuiteSeesThem)
{
    const std::string kept = "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://a.b\"}{\\fldrslt link}} "
                             "{\\field{\\*\\fldinst { PAGE }}{\\fldrslt 1}} {\\pict\\bin3 {{}}\\par}";
    EXPECT_EQ(OfficeFields::neutralisedRtf(kept), kept);
    const std::string reaching = "{\\rtf1 a {\\field{\\*\\fldinst INCLUDEPICTURE \"/x.png\" \\\\d}{\\fldrslt foto}}"
                                 " b {\\field{\\*\\fldinst {\\b incl}{ude}\\'54EXT \"/y\"}{\\fldrslt }} c "
                                 "{\\field{\\*\\fldinst \\u76?ink Excel \"/z.xls\"}{\\fldrslt tabela}} d}";
    EXPECT_EQ(OfficeFields::neutralisedRtf(reaching),
        "{\\rtf1 a {\\field{\\*\\fldinst }{\\fldrslt foto}} b {\\field{\\*\\fldinst }{\\fldrslt }} c "
        "{\\field{\\*\\fldinst }{\\fldrslt tabela}} d}");

    // Word's simple fields, and complex ones whose instruction comes in pieces, under any prefix.
    const std::string word = "<w:p><w:fldSimple w:instr=\" PAGE \"/><w:fldSimple w:instr=\"&#73;NCLUDEPICTURE "
                             "&quot;/x.png&quot;\"/><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><x:instrText "
                             "xml:space=\"preserve\"> INCLUDE</x:instrText></w:r><w:r><w:instrText>TEXT \"/y\""
                             "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>velho"
                             "</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>";
    std::string emptied = word;
    for (const std::string piece : {"&#73;NCLUDEPICTURE &quot;/x.png&quot;", " INCLUDE", "TEXT \"/y\""})
        emptied.erase(emptied.find(piece), piece.size());
    EXPECT_EQ(OfficeFields::neutralisedWordPart(word), emptied);
}

TEST(OfficeRoute, SuitesInOrder)
{
    PrivateTemp temp;
    TempDir dir;
    auto events = std::make_shared<RecordedEvents>();
    Installed<OfficeEvents> installed(events);
    writeFile(dir / "relatório.docx", "qualquer coisa");
    writeFile(dir / "relatório.pdf", "já existe");
    const auto source = dir / "relatório.docx";

    // The component wins and is alone: its failure is final.
    OfficeEngine::Suites suites{
        fake(dir, "componente", writes), dir / "perfil com espaço", {fake(dir, "usuario", writes)}};
    EXPECT_EQ(OfficeEngine::toPDF(source, suites), dir / "relatório 2.pdf");
    EXPECT_EQ(readFile(dir / "relatório 2.pdf"), "%PDF-1.4 falso");
    suites.component = fake(dir, "componente-falha", "exit 1");
    EXPECT_EQ(OfficeEngine::toPDF(source, suites), std::nullopt);
    auto lines = logLines(dir);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        lines[0].starts_with("componente -env:UserInstallation=file://" + (dir / "perfil%20com%20espa%C3%A7o").string()
            + " --headless --norestore --nolockcheck --convert-to pdf --outdir "))
        << lines[0];
    EXPECT_TRUE(lines[1].starts_with("componente-falha "));
    EXPECT_EQ(events->wanted, 0);

    // Without a component: the install is asked for, then the user's suites one after another.
    suites.component.reset();
    suites.user = {fake(dir, "sem-pdf", "exit 0"), fake(dir, "usuario", writes)};
    EXPECT_EQ(OfficeEngine::toPDF(source, suites), dir / "relatório 3.pdf");
    EXPECT_EQ(events->wanted, 1);
    ::setenv("BRIVLON_NO_COMPONENTS", "", 1);
    EXPECT_EQ(OfficeEngine::toPDF(source, suites), std::nullopt);
    ::unsetenv("BRIVLON_NO_COMPONENTS");
    EXPECT_EQ(events->wanted, 2);
    lines = logLines(dir);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[2].starts_with("sem-pdf -env:UserInstallation=file://" + temp.dir.path().string() + "/brivlon-"));
    EXPECT_TRUE(lines[3].starts_with("usuario "));

    // Not a document of the route: nothing runs.
    writeFile(dir / "nota.txt", "x");
    EXPECT_EQ(OfficeEngine::toPDF(dir / "nota.txt", suites), std::nullopt);
    EXPECT_EQ(logLines(dir).size(), 4u);
    EXPECT_TRUE(temp.noRunFolders());
}

TEST(OfficeRoute, TimeLimitAndLeftHelpersEndTheWholeGroup)
{
    PrivateTemp temp;
    TempDir dir;
    writeFile(dir / "a.odt", "x");
    OfficeEngine::Suites suites{{}, {}, {fake(dir, "lento", leavesChild + "\nsleep 300")}, {}, 1s};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(OfficeEngine::toPDF(dir / "a.odt", suites), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_TRUE(endsSoon(childOf(dir)));

    // A suite that ends well but leaves a helper running: the helper goes too.
    suites.user = {fake(dir, "deixa-filho", leavesChild + "\n" + writes)};
    EXPECT_EQ(OfficeEngine::toPDF(dir / "a.odt", suites), dir / "a.pdf");
    EXPECT_TRUE(endsSoon(childOf(dir)));
    EXPECT_TRUE(temp.noRunFolders());
}

TEST(OfficeRoute, CancelEndsTheGroupAndThrows)
{
    PrivateTemp temp;
    TempDir dir;
    writeFile(dir / "a.rtf", "x");
    OfficeEngine::Suites suites{{}, {}, {fake(dir, "lento", leavesChild + "\nsleep 300")}};
    auto context = Task::newJob();
    std::thread canceller([&] {
        for (int i = 0; i < 500 && !fs::exists(dir / "filho.pid"); ++i)
            std::this_thread::sleep_for(10ms);
        context.cancel->cancel();
    });
    {
        Task::Binder binder(context);
        EXPECT_THROW(OfficeEngine::toPDF(dir / "a.rtf", suites), CancellationError);
    }
    canceller.join();
    EXPECT_TRUE(endsSoon(childOf(dir)));
    EXPECT_FALSE(fs::exists(dir / "a.pdf"));
    EXPECT_TRUE(temp.noRunFolders());
}

TEST(OfficeRoute, OneRunAtATime)
{
    // Two documents of the same name going to one folder, as in a batch: each gets its own name.
    TempDir dir;
    writeFile(dir / "a" / "carta.docx", "1");
    writeFile(dir / "b" / "carta.docx", "2");
    const auto batch = Task::with(Task::newJob(), dir / "saida");
    fs::create_directory(dir / "saida");
    const OfficeEngine::Suites suites{{}, {},
        {fake(dir, "devagar",
            "echo começo >> \"$(dirname \"$0\")/vez\"; sleep 0.3; echo fim >> \"$(dirname \"$0\")/vez\"\n" + writes)}};
    std::thread other([&] {
        Task::Binder binder(batch);
        OfficeEngine::toPDF(dir / "a" / "carta.docx", suites);
    });
    {
        Task::Binder binder(batch);
        OfficeEngine::toPDF(dir / "b" / "carta.docx", suites);
    }
    other.join();
    EXPECT_EQ(readFile(dir / "vez"), "começo\nfim\ncomeço\nfim\n");
    EXPECT_TRUE(fs::exists(dir / "saida" / "carta.pdf"));
    EXPECT_TRUE(fs::exists(dir / "saida" / "carta 2.pdf"));
}

TEST(OfficeRoute, SimpleModeIsNotedOnce)
{
    auto events = std::make_shared<RecordedEvents>();
    Installed<OfficeEvents> installed(events);
    ::setenv("BRIVLON_FORCE_OFFLINE", "1", 1);
    OfficeEngine::noteSimpleMode();
    ::unsetenv("BRIVLON_FORCE_OFFLINE");
    OfficeEngine::noteSimpleMode();
    EXPECT_EQ(events->notices,
        std::vector<std::string>{
            "Sem internet: o motor de documentos será instalado sozinho quando a conexão voltar."});
}

TEST(OfficeRoute, RealLibreOfficeLaysOutEveryInput)
{
    const auto suites = OfficeEngine::installedSuites();
    if (suites.user.empty())
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    StyledText::Document document;
    for (int i = 1; i <= 90; ++i)
        document.blocks.push_back({{{{QString("Parágrafo número %1 do documento.").arg(i)}}}, nullptr});
    Docx::write(document, dir / "longo.docx");
    // The suite itself makes the other inputs from ours.
    for (const std::string format : {"odt", "rtf", "doc"}) {
        auto made = OfficeEngine::convertWithSuite(
            suites.user.front(), dir / "longo.docx", format, dir.path(), std::nullopt, 120s);
        ASSERT_TRUE(made) << format;
    }
    for (const std::string ext : {"docx", "odt", "rtf", "doc"}) {
        fs::create_directory(dir / ext);
        fs::rename(dir / ("longo." + ext), dir / ext / ("longo." + ext));
        const auto pdf = OfficeEngine::toPDF(dir / ext / ("longo." + ext), suites);
        ASSERT_TRUE(pdf) << ext;
        auto opened = Poppler::Document::load(QString::fromStdString(pdf->string()));
        ASSERT_TRUE(opened) << ext;
        EXPECT_GE(opened->numPages(), 2) << ext;
        std::string text;
        for (const auto& page : PDFText::pageTexts(*pdf))
            text += page;
        EXPECT_NE(text.find("Parágrafo número 1 do documento."), std::string::npos) << ext;
        EXPECT_NE(text.find("Parágrafo número 90 do documento."), std::string::npos) << ext;
    }
}

namespace {

// Processes whose command line mentions `text` (and `also`).
std::vector<pid_t> processesMentioning(const std::string& text, const std::string& also = {})
{
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // A process that ends while its line is read fails the read (libstdc++ throws then).
        std::string line;
        try {
            std::ifstream in(entry.path() / "cmdline", std::ios::binary);
            line.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } catch (const std::ios_base::failure&) {
            continue;
        }
        if (line.find(text) != std::string::npos && line.find(also) != std::string::npos)
            found.push_back(pid_t(std::stol(name)));
    }
    return found;
}

}

// The desktop program cancels a job by ending its worker's whole group at once: the suite and
// the helper it forked must go with it, or the helper would keep the profile.
TEST(OfficeRoute, EndingTheWorkerEndsTheSuite)
{
    if (OfficeEngine::installedSuites().user.empty())
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    StyledText::Document document;
    for (int i = 1; i <= 20000; ++i)
        document.blocks.push_back({{{{QString("Linha %1 de um documento comprido.").arg(i)}}}, nullptr});
    Docx::write(document, dir / "longo.docx");
    writeFile(dir / "curto.txt", "x");
    const std::string marker = (dir / "dados").string();
    // The profile the worker's suite will use, made beforehand: the first start of a profile
    // restarts the helper once, and the helper that converts is the one that must end.
    const auto suite = OfficeEngine::installedSuites().user.front();
    ASSERT_TRUE(OfficeEngine::convertWithSuite(suite, dir / "curto.txt", "odt", dir.path(),
        dir / "dados" / "Brivlon" / "Componentes" / "perfil-libreoffice", 120s));

    Process::Command command;
    command.executable = BRIVLON_BINARY;
    command.arguments = {"--worker"};
    command.env = {{"XDG_DATA_HOME", marker}, {"XDG_STATE_HOME", (dir / "estado").string()}};
    Process::Child worker(command);
    Request request;
    request.sources = {dir / "longo.docx"};
    request.kind = MediaKind::document;
    request.format = {"pdf", "PDF"};
    const QByteArray bytes = Worker::frame(Requests::pack(request));
    ASSERT_EQ(::send(worker.channel(), bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), ssize_t(bytes.size()));

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    // The helper the suite forks does the work; the worker ends while it runs.
    while (processesMentioning(marker, "soffice.bin").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(processesMentioning(marker, "soffice.bin").empty()) << "the suite never started";
    worker.kill();
    worker.wait();
    // Far sooner than the suite would finish the document.
    const auto gone = std::chrono::steady_clock::now() + 1s;
    while (!processesMentioning(marker).empty() && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(processesMentioning(marker).empty());
}

// The suite named as its program folder names it: through a link on PATH to the real program, a
// bootstrap file written with Windows line ends, or none at all.
TEST(OfficeRoute, TheSuiteIsNamedWithItsVersion)
{
    TempDir dir;
    const auto program = dir / "opt" / "libreoffice24.2" / "program";
    fs::create_directories(program);
    writeFile(program / "soffice", "#!/bin/sh\n");
    writeFile(program / "bootstraprc",
        "[Bootstrap]\r\nInstallMode=<installmode>\r\nProductKey=LibreOffice 24.2\r\nUserInstallation=x\r\n");
    fs::create_directories(dir / "bin");
    fs::create_symlink(program / "soffice", dir / "bin" / "soffice");
    EXPECT_EQ(OfficeEngine::suiteName(dir / "bin" / "soffice"), "LibreOffice 24.2");
    fs::remove(program / "bootstraprc");
    EXPECT_EQ(OfficeEngine::suiteName(program / "soffice"), "LibreOffice");
    if (fs::exists("/usr/lib/libreoffice/program/bootstraprc")) {
        const auto suite = OfficeEngine::systemSuite();
        ASSERT_TRUE(suite);
        EXPECT_TRUE(suite->name.starts_with("LibreOffice ")) << suite->name;
    }
}
