#include "core/base/catalog.h"
#include "core/base/error_log.h"
#include "core/base/process.h"
#include "core/jobs/worker_pool.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <csignal>
#include <set>
#include <sstream>
#include <tuple>
#include <unistd.h>
#include <vips/vips8>

using namespace TestSupport;
using JobFakes::processes, JobFakes::pumpUntil;

struct HeadlessConversion : ::testing::Test {
    // A noisy picture, so that quality levels make a visible difference in size.
    static void makeImage(const fs::path& path, int width = 64, int height = 48)
    {
        auto noise = vips::VImage::gaussnoise(width, height);
        noise.bandjoin({noise, noise.rot180()}).cast(VIPS_FORMAT_UCHAR).write_to_file(path.c_str());
    }
    // Runs --convert in `dir` on names relative to it; what it prints has `dir` taken out.
    RunResult convert(const std::string& format, std::vector<std::string> names, const char* quality = "")
    {
        names.insert(names.begin(), {"--convert", format});
        auto result = runProgram(BRIVLON_BINARY, names, 120, {{"BRIVLON_QUALITY", quality}}, dir.path());
        for (size_t at; (at = result.out.find(dir.path().string() + "/")) != std::string::npos;)
            result.out.erase(at, dir.path().string().size() + 1);
        return result;
    }

    TempDir dir;
};

TEST_F(HeadlessConversion, FormatChoiceOutputsAndExitCodes)
{
    for (const auto& name : {"a.jpg", "b.png", "c.png"})
        makeImage(dir / name);
    writeFile(dir / "b.mp4", "x");
    writeFile(dir / "docs/readme.txt", "hello");
    writeFile(dir / "notas\nda ana's\\b/c.txt", "x");
    writeFile(dir / "fotos.zip/praia.jpg", "x");
    // Refused (no output): a selection's own format, two kinds, another kind's format. Labels and
    // extensions match in any case: "pdf" is a PDF per image (common folder, argument order), "PDF
    // ÚNICO" merges; a folder offers only batch formats; an archive's "tgz" repacks, "extrair" and "" unpack.
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases = {
        {"jpg", {"a.jpg"}, ""},
        {"png", {"a.jpg", "b.mp4"}, ""},
        {"mp3", {"a.jpg"}, ""},
        {"PNG", {"a.jpg"}, "a.png\n"},
        {"png", {"a.jpg"}, "a 2.png\n"},
        {"pdf", {"c.png", "b.png"}, "Convertidos para PDF/c.pdf\nConvertidos para PDF/b.pdf\n"},
        {"pdf único", {"c.png", "b.png"}, "b – combinado.pdf\n"},
        {"tar.gz", {"docs"}, "docs.tar.gz\n"},
        {"ZIP", {"docs"}, "docs.zip\n"},
        {"tgz", {"docs.zip"}, "docs 2.tar.gz\n"},
        {"EXTRAIR", {"docs.zip"}, "docs 2\n"},
        {"", {"docs.zip"}, "docs 3\n"},
        // A folder named like an archive is a folder: packed, never extracted.
        {"tar", {"fotos.zip"}, "fotos.zip.tar\n"},
        {"extrair", {"fotos.zip"}, ""},
        // A name with a line feed is quoted, so that every output stays one line.
        {"zip", {"notas\nda ana's\\b"}, "$'notas\\nda ana\\'s\\\\b.zip'\n"},
        {"", {"notas\nda ana's\\b.zip"}, "$'notas\\nda ana\\'s\\\\b 2'\n"},
        // A folder as the shell completes it, or named from inside, is the folder by its name.
        {"zip", {"docs/"}, "docs 2.zip\n"},
        {"tgz", {"docs/."}, "docs 3.tar.gz\n"},
        {"tar", {(dir / "docs/").string()}, "docs.tar\n"},
    };
    for (const auto& [format, inputs, out] : cases) {
        auto result = convert(format, inputs);
        EXPECT_EQ(result.exitCode, out.empty() ? 2 : 0) << format << result.err;
        EXPECT_EQ(result.out, out) << format;
        EXPECT_EQ(result.err.find("sem essa conversão") != std::string::npos, out.empty()) << format;
    }
}

TEST_F(HeadlessConversion, CommonFoldersQualityAndFailures)
{
    makeImage(dir / "a.png", 400, 300);
    makeImage(dir / "b.tiff", 400, 300);
    // "Light" is no level: the saved choice (high) applies.
    for (const auto* level : {"light", "Light"})
        EXPECT_EQ(convert("jpg", {"a.png", "b.tiff"}, level).exitCode, 0);
    EXPECT_LT(fs::file_size(dir / "Convertidos para JPG/a.jpg"), fs::file_size(dir / "Convertidos para JPG 2/a.jpg"));

    // A failure stops at the failing file; earlier outputs stay.
    writeFile(dir / "b.png", "not really a picture");
    makeImage(dir / "c.png");
    auto result = convert("jpg", {"a.png", "b.png", "c.png"});
    EXPECT_TRUE(result.exitCode == 1 && result.err.find("erro: ") != std::string::npos) << result.err;
    EXPECT_EQ(result.out, "Convertidos para JPG 3/a.jpg\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Convertidos para JPG 3"), {}), 1);
    // Failing at the first file made the run's folder for nothing: it goes.
    result = convert("jpg", {"b.png", "c.png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "Convertidos para JPG 4"));
    // A name with a line feed in the sentence is quoted as the printed paths are: one line.
    ASSERT_EQ(runProgram("/usr/bin/qpdf", {"--empty", (dir / "a.pdf").string()}).exitCode, 0);
    writeFile(dir / "ruim\nx.pdf", "lixo");
    result = convert("pdf único", {"a.pdf", "ruim\nx.pdf"});
    EXPECT_EQ(result.err, "erro: Não foi possível ler o arquivo $'ruim\\nx.pdf'.\n");

    // A copy of the program whose helper folder lacks its resources has no video engine.
    const fs::path copy = dir / "copia";
    fs::create_directories(copy / "bin");
    fs::create_directories(copy / "libexec");
    fs::copy(fs::path(BRIVLON_HELPER_DIR), copy / "libexec/brivlon", fs::copy_options::recursive);
    fs::remove_all(copy / "libexec/brivlon/resources");
    fs::copy_file(BRIVLON_BINARY, copy / "bin/brivlon");
    writeFile(dir / "tone.wav", "RIFF");
    auto alone = runProgram((copy / "bin/brivlon").string(), {"--convert", "mp3", (dir / "tone.wav").string()});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_NE(alone.err.find("erro: O motor de vídeo do Brivlon está faltando. Reinstale o app."), std::string::npos)
        << alone.err;
}

namespace {

// A one-page PDF with `text` as a small writer leaves it, its cross-reference table missing.
std::string smallWriterPDF(const std::string& text)
{
    const std::string content = "BT /F1 24 Tf 72 700 Td (" + text + ") Tj ET";
    return "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
           "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R "
           ">> >> /Contents 5 0 R >> endobj\n"
           "4 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj\n"
           "5 0 obj << /Length " + std::to_string(content.size()) + " >>\nstream\n" + content
        + "\nendstream endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
}

// A live worker process whose parent is `parent` (a worker program, or the run forked): its
// program's file name and its maps; empty while there is none.
struct ChildWorker {
    std::string program;
    std::string maps;
    std::string pid;
};
// Whether `folder` holds no worker's private folder (Qt keeps its runtime folder there too).
bool noKalvimorfFolder(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find("kalvimorf") != std::string::npos)
            return false;
    return true;
}

// The worker that `parent` started.
ChildWorker childWorker(int parent)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto stat = readFile(entry.path() / "stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (close == std::string::npos || close + 2 > stat.size()
            || !stat.substr(open + 1, close - open - 1).starts_with("brivlon-worker"))
            continue;
        std::string state, ppid;
        std::istringstream(stat.substr(close + 2)) >> state >> ppid;
        std::error_code error;
        if (state != "Z" && ppid == std::to_string(parent))
            return {fs::read_symlink(entry.path() / "exe", error).filename().string(), readFile(entry.path() / "maps"),
                entry.path().filename().string()};
    }
    return {};
}

}

TEST_F(HeadlessConversion, TerminationSignalsEndTheRunAndItsToolsLeavingNothing)
{
    const auto input = dir / "longo.mov";
    ASSERT_TRUE(makeMedia(input, "testsrc=duration=40:size=640x480"));
    fs::create_directories(dir / "tmp");
    const auto noWorkerFolder = [&] { return noKalvimorfFolder(dir / "tmp"); };
    // A conversion, a trim and a media tool run their ffmpeg in the front itself, with no worker
    // and no window.
    const std::vector<std::pair<int, std::vector<std::string>>> runs{{SIGTERM, {"--convert", "mp4", input.string()}},
        {SIGINT, {"--convert", "mp4", input.string()}}, {SIGKILL, {"--convert", "mp4", input.string()}},
        {SIGTERM, {"--trim", "1", "39", "mp4", "x", input.string()}},
        {SIGTERM, {"--tool", "vidCompress", "--", input.string()}}};
    for (const auto& [signal, arguments] : runs) {
        SCOPED_TRACE(arguments.front() + " " + std::to_string(signal));
        Process::Child run({BRIVLON_BINARY, arguments, {}, {{"TMPDIR", dir / "tmp"}}});
        // ffmpeg runs in a process group of its own, out of reach of a signal to the program.
        ASSERT_TRUE(pumpUntil(60, [&] {
            return processes("ffmpeg", input.string()) > 0;
        }));
        // The engines, and the libraries they stand on, are loaded by the worker alone; Qt Gui and the
        // desktop's libraries by no command-line run.
        const auto maps = readFile("/proc/" + std::to_string(run.pid()) + "/maps");
        for (const char* library : {"libvips", "libpoppler", "libqpdf", "libQt6Gui", "libQt6Widgets",
                 "libQt6Multimedia", "libQt6DBus", "libxcb", "brivlon-desktop"})
            EXPECT_EQ(maps.find(library), std::string::npos) << library;
        EXPECT_TRUE(childWorker(run.pid()).program.empty());
        ::kill(run.pid(), signal);
        // Gone (a zombie has no command line) without being reaped, so that waiting cannot hang.
        ASSERT_TRUE(pumpUntil(20, [&] {
            return processes("brivlon", input.string()) + processes("ffmpeg", input.string()) == 0;
        }));
        const int status = run.wait();
        if (signal == SIGKILL)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
        EXPECT_TRUE(signal == SIGKILL ? pumpUntil(20, noWorkerFolder) : noWorkerFolder());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "an output was left";
    }
}

// The processor time of the first ffmpeg whose command line mentions `file`, in seconds.
static double ffmpegTime(const std::string& file)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto stat = readFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (stat.find("(ffmpeg)") == std::string::npos || close == std::string::npos
            || readFile(entry.path() / "cmdline").find(file) == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14)
                ticks += std::stod(field);
        return ticks / double(::sysconf(_SC_CLK_TCK));
    }
    return 0;
}

// An interrupted output is thrown away, so its encoder is not asked to finish first: VP9 would
// spend a second or two on the frames it holds before the run could end.
TEST_F(HeadlessConversion, AnInterruptedVideoConversionEndsAtOnce)
{
    const auto input = dir / "aula gravada.mov";
    ASSERT_TRUE(makeMedia(input, "testsrc=duration=40:size=1280x720", {"-c:v", "mpeg4", "-q:v", "5"}));
    Process::Child run({BRIVLON_BINARY, {"--convert", "webm", input.string()}, {}, {}});
    // Well into the encoding, with frames held for looking ahead.
    ASSERT_TRUE(pumpUntil(120, [&] {
        return ffmpegTime(input.string()) >= 1.5;
    }));
    const auto begin = std::chrono::steady_clock::now();
    ::kill(run.pid(), SIGINT);
    const int status = run.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
    EXPECT_TRUE(pumpUntil(20, [&] {
        return processes("ffmpeg", input.string()) == 0;
    }));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "an output was left";
}

// A GIF's palette comes from the whole clip. Made in the same pass as the frames, it would keep
// every frame in memory until the clip's end: gigabytes for minutes of film. Four times the
// length takes about the same: only the table of colours met grows, and it fills up.
TEST_F(HeadlessConversion, AGifOfALongClipTakesAboutWhatAShortOneDoes)
{
    for (const auto& [name, seconds] : {std::pair{"curto.mp4", "20"}, {"longo.mp4", "80"}})
        ASSERT_TRUE(makeMedia(dir / name, std::string("testsrc2=size=320x180:rate=25:duration=") + seconds,
            {"-c:v", "libx264", "-preset", "ultrafast"}));
    const auto brief = measureBrivlon({"--convert", "gif", (dir / "curto.mp4").string()});
    const auto whole = measureBrivlon({"--convert", "gif", (dir / "longo.mp4").string()});
    ASSERT_EQ(brief.exitCode, 0);
    ASSERT_EQ(whole.exitCode, 0);
    EXPECT_LT(whole.peakMiB, brief.peakMiB + 60) << brief.peakMiB;
    EXPECT_TRUE(fs::exists(dir / "longo.gif"));
}

TEST_F(HeadlessConversion, AKilledRunsWorkerEndsItselfAndRemovesItsFolder)
{
    // A killed run cannot end its worker: the worker notices its parent's end on its socket, ends
    // what it runs and, once it is gone, removes its folder itself. Its spin hook holds it on the
    // second file.
    makeImage(dir / "a.png");
    makeImage(dir / "trava.png");
    fs::create_directories(dir / "tmp");
    Process::Child run({BRIVLON_BINARY, {"--convert", "jpg", (dir / "a.png").string(), (dir / "trava.png").string()},
        {}, {{"BRIVLON_WORKER", BRIVLON_TRAP_WORKER}, {"BRIVLON_WORKER_SPIN_ON", "trava.png"}, {"TMPDIR", dir / "tmp"}}});
    ASSERT_TRUE(pumpUntil(60, [&] {
        return fs::exists(dir / "Convertidos para JPG/a.jpg") && !childWorker(run.pid()).program.empty();
    }));
    EXPECT_FALSE(noKalvimorfFolder(dir / "tmp"));
    ::kill(run.pid(), SIGKILL);
    run.wait();
    EXPECT_TRUE(pumpUntil(20, [&] {
        return noKalvimorfFolder(dir / "tmp");
    }));
}

TEST_F(HeadlessConversion, ACrashOrAHangInTheWorkerEndsTheRunKeepingEarlierOutputs)
{
    // The worker's fault hooks stand in for the damaged files that make an image library or
    // poppler abort or spin for ever, in the module the job opened; the run goes on to report it.
    for (const auto* name : {"a.png", "quebra.png", "trava.png", "d.png"})
        makeImage(dir / name);
    for (const auto* name : {"a.pdf", "quebra.pdf", "trava.pdf", "d.pdf"})
        writeFile(dir / name, smallWriterPDF("Texto de " + std::string(name)));
    fs::create_directories(dir / "tmp");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"quebra", "erro: O conversor parou inesperadamente.\n"},
        {"trava", "erro: O conversor parou de responder e foi interrompido.\n"},
    };
    for (const std::string ext : {"png", "pdf"}) {
        const std::string format = ext == "png" ? "jpg" : "txt", label = ext == "png" ? "JPG" : "TXT";
        const std::vector<std::pair<std::string, std::string>> env{{"BRIVLON_WORKER", BRIVLON_TRAP_WORKER}, {"BRIVLON_WORKER_ABORT_ON", "quebra." + ext},
            {"BRIVLON_WORKER_SPIN_ON", "trava." + ext}, {"BRIVLON_STALL_SECONDS", "2"},
            {"TMPDIR", (dir / "tmp").string()}};
        int run = 0;
        for (const auto& [bad, said] : cases) {
            SCOPED_TRACE(bad + "." + ext);
            const auto result = runProgram(
                BRIVLON_BINARY, {"--convert", format, "a." + ext, bad + "." + ext, "d." + ext}, 60, env, dir.path());
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.err, said);
            const auto folder = dir / ("Convertidos para " + label + (run++ ? " 2" : std::string()));
            EXPECT_EQ(result.out, folder.string() + "/a." + format + "\n");
            // Nothing of the bad file, the next one not begun, no worker folder left.
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
            for (const auto& entry : fs::directory_iterator(dir / "tmp"))
                EXPECT_EQ(entry.path().filename().string().find("kalvimorf"), std::string::npos) << entry.path();
        }
    }
    // What the crashing worker printed is in the error log instead of the user's terminal.
    const auto logged = ErrorLog::recent(40);
    const auto said = std::string("brivlon-worker: free(): invalid next size (normal)");
    EXPECT_NE(logged.find(said), std::string::npos) << logged;
    EXPECT_NE(logged.find(said, logged.find(said) + 1), std::string::npos) << "one crash a format";
}

// A long encode is not a hang: ffmpeg making an animated WebP of a GIF has no length to measure
// its progress by, but reports each frame it makes, and the run waits for it well past the bound
// on silence.
TEST_F(HeadlessConversion, ALongEncodeThatKeepsReportingIsNoHang)
{
    ASSERT_TRUE(makeMedia(dir / "longo.gif", "testsrc2=size=320x240:rate=25:duration=24", {"-vf", "noise=alls=60:allf=t"}));
    const auto started = std::chrono::steady_clock::now();
    const auto result
        = runProgram(BRIVLON_BINARY, {"--convert", "webp", "longo.gif"}, 300, {{"BRIVLON_STALL_SECONDS", "3"}}, dir.path());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, (dir / "longo.webp").string() + "\n");
    // Only a run longer than the bound shows anything.
    EXPECT_GT(took, std::chrono::seconds(4));
}

TEST_F(HeadlessConversion, TheWorkerLoadsTheImageLibrarysFormatModulesOnlyForFilesThatNeedThem)
{
    // A PNG or a JPEG is read and written by the library's own code; a HEIC only by its HEIF
    // module, which must then come in (reading it, and writing one), in that job's own process
    // alone. The worker, held on a second file by its spin hook once the first is written, has
    // the library and not the module, so every job it forks next begins without it. (The next
    // job's own process cannot be told from the last one's while that one is still leaving.)
    makeImage(dir / "a.png");
    makeImage(dir / "b.heic");
    makeImage(dir / "trava.png");
    const std::vector<std::tuple<std::string, std::string, bool>> cases{
        {"jpg", "a.png", false}, {"jpg", "b.heic", true}, {"heic", "a.png", true}};
    for (const auto& [format, first, needsModule] : cases) {
        SCOPED_TRACE(first + " → " + format);
        const auto folder = dir / ("Convertidos para " + QString::fromStdString(format).toUpper().toStdString());
        fs::remove_all(folder);
        Process::Child run({BRIVLON_BINARY, {"--convert", format, (dir / first).string(), (dir / "trava.png").string()},
            {}, {{"BRIVLON_WORKER", BRIVLON_TRAP_WORKER}, {"BRIVLON_WORKER_SPIN_ON", "trava.png"}}});
        std::string maps;
        ASSERT_TRUE(pumpUntil(60, [&] {
            maps = childWorker(run.pid()).maps;
            return fs::exists(folder) && std::distance(fs::directory_iterator(folder), {}) == 1 && !maps.empty();
        }));
        EXPECT_NE(maps.find("libvips"), std::string::npos);
        EXPECT_EQ(maps.find("vips-heif"), std::string::npos) << "left by a job that " << (needsModule ? "needed" : "had no use for") << " it";
        ::kill(run.pid(), SIGTERM);
        run.wait();
    }
}

TEST_F(HeadlessConversion, ARunsWorkerOpensTheModulesItsJobsNeedAndNothingMore)
{
    // Each run's worker, held on a second file by its spin hook once the first is written, shows
    // what it has loaded: an image conversion libvips without the PDF, face and office libraries;
    // a PDF rotation none of the imaging libraries; a PDF's text poppler alone. (The media tools
    // start no worker: see the signals' test.)
    makeImage(dir / "a.png");
    makeImage(dir / "trava.png");
    ASSERT_EQ(convert("pdf", {"a.png"}).exitCode, 0);
    fs::copy_file(dir / "a.pdf", dir / "trava.pdf");
    writeFile(dir / "notas.pdf", smallWriterPDF("Texto da pagina"));
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
        std::vector<std::string> loaded;
    };
    const std::vector<Case> cases{
        {{"--convert", "jpg", "a.png", "trava.png"}, "Convertidos para JPG/a.jpg", {"brivlon-images.so", "libvips"}},
        {{"--tool", "pdfRotate", "--", "a.pdf", "trava.pdf"}, "a (girado).pdf", {}},
        {{"--convert", "txt", "notas.pdf", "trava.pdf"}, "Convertidos para TXT/notas.txt",
            {"brivlon-pdf-text.so", "libpoppler.so"}},
    };
    for (const auto& [arguments, output, loaded] : cases) {
        SCOPED_TRACE(arguments[1]);
        auto paths = arguments;
        for (auto& argument : paths)
            if (fs::exists(dir / argument))
                argument = (dir / argument).string();
        Process::Child run({BRIVLON_BINARY, paths, {}, {{"BRIVLON_WORKER", BRIVLON_TRAP_WORKER}, {"BRIVLON_WORKER_SPIN_ON", arguments.back()}}});
        ChildWorker worker;
        ASSERT_TRUE(pumpUntil(60, [&] {
            worker = childWorker(run.pid());
            return fs::exists(dir / output) && !worker.maps.empty();
        }));
        EXPECT_EQ(worker.program, "brivlon-worker");
        for (const auto& library : loaded)
            EXPECT_NE(worker.maps.find(library), std::string::npos) << library;
        for (const char* library : {"brivlon-documents", "brivlon-faces", "libpoppler-qt6", "libopencv", "libQt6Gui",
                 "libQt6Network", "libraw"})
            EXPECT_EQ(worker.maps.find(library), std::string::npos) << library;
        if (loaded.empty())
            for (const char* library : {"brivlon-images", "brivlon-pdf-text", "libvips", "libpoppler"})
                EXPECT_EQ(worker.maps.find(library), std::string::npos) << library;
        if (arguments[1] == "txt")
            EXPECT_EQ(readFile(dir / output).find("Texto da pagina"), 0u);
        ::kill(run.pid(), SIGTERM);
        run.wait();
        EXPECT_TRUE(pumpUntil(20, [&] {
            return childWorker(run.pid()).program.empty();
        }));
    }
}

TEST_F(HeadlessConversion, AWorkerOpensAModuleForAJobThatNeedsItAndKeepsTheRestOut)
{
    // A worker that warmed nothing runs a merge on qpdf alone, then an image tool through the
    // images module; then faces blurred through the faces module with OpenCV, still without the
    // documents module's libraries. A second pool's worker warms the documents module while it
    // waits.
    makeImage(dir / "a.png");
    makeImage(dir / "b.png");
    for (const char* name : {"a.png", "b.png"})
        ASSERT_EQ(convert("pdf", {name}).exitCode, 0);
    fs::copy_file(BRIVLON_TEST_DATA "/astronaut.jpg", dir / "rosto.jpg");
    const auto convertRequest = [&](const std::vector<fs::path>& sources, const std::string& label) {
        const auto offered = Catalog::options(sources);
        const auto format = std::ranges::find(offered->formats, label, &OutputFormat::label);
        return Requests::plan(sources, offered->kind, *format, std::nullopt, std::nullopt).front();
    };
    const std::vector<std::pair<Request, std::vector<std::string>>> steps{
        {convertRequest({dir / "a.pdf", dir / "b.pdf"}, "PDF ÚNICO"), {}},
        {Requests::forTool(Tool::imgRotate, {dir / "a.png"}, {}), {"libvips", "brivlon-images.so"}},
        {Requests::forTool(Tool::imgBlurFaces, {dir / "rosto.jpg"}, {}), {"libopencv_core", "brivlon-faces.so"}},
    };
    {
        WorkerPool pool({.ready = 0, .reuse = true, .warm = {}});
        std::set<std::string> in;
        for (const auto& [request, loaded] : steps) {
            EXPECT_TRUE(fs::exists(pool.run(request, {})));
            const auto maps = childWorker(::getpid()).maps;
            in.insert(loaded.begin(), loaded.end());
            for (const char* library : {"brivlon-images", "brivlon-faces", "brivlon-documents", "brivlon-pdf-text",
                     "libvips", "libpoppler", "libopencv", "libQt6Gui", "libraw"}) {
                const bool wanted = std::ranges::any_of(in, [&](const std::string& name) {
                    return name.starts_with(library);
                });
                EXPECT_EQ(maps.find(library) != std::string::npos, wanted) << library;
            }
        }
    }
    WorkerPool pool({.ready = 1, .reuse = true, .warm = {EngineModules::Module::documents}});
    pool.prewarm();
    EXPECT_TRUE(pumpUntil(30, [&] {
        return childWorker(::getpid()).maps.find("brivlon-documents.so") != std::string::npos;
    }));
}

TEST_F(HeadlessConversion, ASignalLeavesNoPartOfAnOutputOfSeveralFilesNorAnyStagedOne)
{
    // A report of 600 pages, drawn page by page; a folder of 120 MB that does not compress, as
    // photos do. Each output is built under a hidden name beside its place: the run is stopped
    // once that holds something, and nothing of it may stay, visible or hidden.
    writeFile(dir / "um.pdf", smallWriterPDF("Relatorio anual"));
    std::string pages;
    for (int page = 0; page < 600; ++page)
        pages += page ? ",1" : "1";
    ASSERT_EQ(runProgram("/usr/bin/qpdf",
                  {"--empty", "--pages", (dir / "um.pdf").string(), pages, "--", (dir / "relatorio.pdf").string()})
                  .exitCode,
        0);
    fs::remove(dir / "um.pdf");
    ASSERT_EQ(runProgram("/usr/bin/python3",
                  {"-c",
                      "import os\nos.mkdir('fotos')\nfor i in range(4): open(f'fotos/img{i}.raw', 'wb')"
                      ".write(os.urandom(30 << 20))\n"},
                  60, {}, dir.path())
                  .exitCode,
        0);
    fs::create_directories(dir / "tmp");
    const auto entries = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.insert(entry.path().filename().string());
        return names;
    };
    const auto inputs = entries();
    // Something made under a hidden name in the folder, with a file in it that has bytes. The run
    // renames or removes what it stages at any moment, so a name just listed may be gone.
    const auto staging = [&] {
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with(".kalvimorf-") && entry.is_directory()) {
                std::error_code error;
                for (fs::directory_iterator inside(entry.path(), error), end; !error && inside != end;
                     inside.increment(error)) {
                    const auto size = inside->file_size(error);
                    if (!error && inside->is_regular_file(error) && size > 0)
                        return true;
                    error.clear();
                }
            }
        return false;
    };
    const std::vector<std::vector<std::string>> runs{{"--convert", "png", "relatorio.pdf"},
        {"--tool", "pdfSplit", "--", "relatorio.pdf"}, {"--convert", "zip", "fotos"}, {"--convert", "tar.gz", "fotos"}};
    for (const auto& arguments : runs)
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(arguments[1] + " " + std::to_string(signal));
            auto paths = arguments;
            paths.back() = (dir / paths.back()).string();
            Process::Child run({BRIVLON_BINARY, paths, {}, {{"TMPDIR", dir / "tmp"}}});
            ASSERT_TRUE(pumpUntil(60, staging));
            ::kill(run.pid(), signal);
            const int status = run.wait();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
            EXPECT_EQ(entries(), inputs);
            EXPECT_TRUE(noKalvimorfFolder(dir / "tmp"));
        }
}
