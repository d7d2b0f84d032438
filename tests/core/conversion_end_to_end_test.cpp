// Real conversions through the runner, each in a worker process of the built program, as the
// desktop program runs them.

#include "core/base/app_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/jobs/worker_pool.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <regex>
#include <set>

using namespace TestSupport;
using JobFakes::pumpUntil;
using Kind = Job::State::Kind;

namespace {

class EndToEndTest : public ::testing::Test {
protected:
    void start(WorkerPool::Options options)
    {
        options.executable = BRIVLON_BINARY;
        options.env["BRIVLON_WORKER"] = BRIVLON_TRAP_WORKER;
        pool = std::make_shared<WorkerPool>(options);
        runner.emplace(store, inWorkers(pool));
    }
    bool allEnd()
    {
        return pumpUntil(120, [&] {
            return std::ranges::none_of(store.jobs(), &Job::isRunning);
        });
    }
    // With the runner and the pool gone, waiting workers included, no worker may be left.
    void TearDown() override
    {
        store.cancelAll();
        EXPECT_TRUE(pumpUntil(120, [&] {
            return runner->limiter().running() == 0 && runner->limiter().waiting() == 0;
        }));
        QCoreApplication::processEvents();
        runner.reset();
        pool.reset();
        EXPECT_EQ(JobFakes::processes("brivlon-worker"), 0);
    }

    JobFakes::SoundFixture sound;
    TempDir dir;
    JobStore store;
    std::shared_ptr<WorkerPool> pool;
    std::optional<ConversionRunner> runner;
};

TEST_F(EndToEndTest, CrashesAndHangsEndOnlyTheirOwnJob)
{
    // A name with a line feed and a backslash must survive the trip to the worker.
    const std::string odd = "quadro\\n\nx.png";
    ASSERT_TRUE(makeMedia(dir / odd, "testsrc=size=64x48", {"-frames:v", "1"}));
    for (const auto& copy : {"quebra.png", "trava.png", "b.png", "cresce.png"})
        fs::copy_file(dir / odd, dir / copy);
    ASSERT_TRUE(makeMedia(dir / "clipe.mp4", "testsrc=duration=1:size=160x120:rate=10", {"-pix_fmt", "yuv420p"}));
    // The worker's address space is bounded lower than it would be, so that the one that grows
    // without end reaches its bound at once.
    start({.stallLimit = std::chrono::seconds(3),
        .ready = 2,
        .env = {{"BRIVLON_WORKER_ABORT_ON", "quebra.png"}, {"BRIVLON_WORKER_SPIN_ON", "trava.png"},
            {"BRIVLON_WORKER_GROW_ON", "cresce.png"}},
        .memoryLimit = 4ULL << 30});

    for (const auto& name : {odd, std::string("quebra.png"), std::string("trava.png")})
        runner->run({dir / name}, Catalog::fmts({"jpg"}).front(), std::nullopt);
    runner->run({dir / "clipe.mp4"}, Catalog::fmts({"mov"}).front(), std::nullopt);
    runner->run({dir / odd, dir / "b.png"}, Catalog::mergedPDF(), std::nullopt);
    runner->run({dir / "cresce.png"}, Catalog::fmts({"jpg"}).front(), std::nullopt);
    ASSERT_TRUE(allEnd());
    const auto& jobs = store.jobs();
    EXPECT_EQ(jobs.at(1).state.message, WorkerPool::crashed());
    EXPECT_EQ(jobs.at(2).state.message, WorkerPool::stalled());
    EXPECT_EQ(jobs.at(5).state.message, ErrorCauses::tooMuchMemory);
    for (size_t i : {0, 3, 4}) {
        SCOPED_TRACE(jobs[i].sourceName);
        ASSERT_EQ(jobs[i].state.kind, Kind::done) << jobs[i].state.message;
        EXPECT_GT(fs::file_size(jobs[i].state.url.value()), 0u);
        EXPECT_EQ(jobs[i].state.url->parent_path(), dir.path());
    }
    EXPECT_EQ(jobs[0].state.url->filename(), "quadro\\n\nx.jpg");
}

TEST_F(EndToEndTest, AJobBeyondItsMemoryEndsWithTheSentenceLeavingNothingWhileOthersGoOn)
{
    // A plain 6000² picture is a 100 KB file that a PDF holds whole (200 MB); a small photo beside
    // it needs a few. The jobs' memory is set low, as a bomb would find it: the picture's own
    // check, a share of that memory, refuses it with the sentence that names the picture, before
    // the watch would end it with the generic one.
    const auto big = runProgram("/usr/bin/vips", {"black", (dir / "grande.png").string(), "6000", "6000", "--bands", "3"});
    ASSERT_EQ(big.exitCode, 0) << big.err;
    ASSERT_TRUE(makeMedia(dir / "foto.png", "testsrc=size=320x240", {"-frames:v", "1"}));
    ASSERT_TRUE(makeMedia(dir / "clipe.mkv", "testsrc2=size=1920x1080:rate=30:duration=2", {"-pix_fmt", "yuv420p"}));
    const std::vector<std::pair<std::string, std::string>> little = {{"BRIVLON_JOB_MEMORY", "120"}};
    start({.env = {{little.front().first, little.front().second}}});
    runner->run({dir / "grande.png"}, Catalog::fmts({"pdf"}).front(), std::nullopt);
    runner->run({dir / "foto.png"}, Catalog::fmts({"jpg"}).front(), std::nullopt);
    ASSERT_TRUE(allEnd());
    const auto& jobs = store.jobs();
    EXPECT_TRUE(jobs.at(0).state.message.starts_with("A imagem é grande demais para converter com a memória livre"))
        << jobs.at(0).state.message;
    EXPECT_EQ(jobs.at(1).state.kind, Kind::done) << jobs.at(1).state.message;

    // The command line's video road, ffmpeg started by the program itself, is bounded alike.
    const auto video = runBrivlon({"--convert", "MP4", (dir / "clipe.mkv").string()}, 60, little);
    EXPECT_EQ(video.exitCode, 1);
    EXPECT_NE(video.err.find(ErrorCauses::tooMuchMemory), std::string::npos) << video.err;

    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"grande.png", "foto.png", "foto.jpg", "clipe.mkv"}));
}

TEST_F(EndToEndTest, EveryOperationWithItsWholeRequest)
{
    // What the worker must receive besides the paths: the format's action (extract, not repack),
    // the batch operations, the job's quality and its common folder.
    fs::create_directories(dir / "pasta/sub");
    writeFile(dir / "pasta/sub/nota.txt", "olá");
    const auto zipped = runProgram("/usr/bin/python3",
        {"-c",
            "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
            " z.writestr('dentro/a.txt', 'conteúdo'); z.writestr('b.txt', '')",
            (dir / "pacote.zip").string()});
    ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
    for (const char* name : {"um.pdf", "dois.pdf"}) {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFPageDocumentHelper(pdf).addPage(
            pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 100] >>")), false);
        QPDFWriter(pdf, (dir / name).c_str()).write();
    }
    for (const char* name : {"x.png", "y.png"})
        ASSERT_TRUE(makeMedia(dir / name, "testsrc=size=320x240", {"-frames:v", "1"}));
    start({});

    const auto tgz = *std::ranges::find(Catalog::packFormats(), std::string("tgz"), &OutputFormat::ext);
    const auto jpg = Catalog::fmts({"jpg"}).front();
    runner->run({dir / "pacote.zip"}, Catalog::extractFormat(), std::nullopt);
    runner->run({dir / "pasta"}, tgz, std::nullopt);
    runner->run({dir / "um.pdf", dir / "dois.pdf"}, Catalog::mergedPDF(), std::nullopt);
    runner->run({dir / "x.png", dir / "y.png"}, jpg, QualityLevel::light);
    ASSERT_TRUE(allEnd());
    runner->run({dir / "x.png", dir / "y.png"}, jpg, QualityLevel::max);
    ASSERT_TRUE(allEnd());
    const auto& jobs = store.jobs();
    for (const auto& job : jobs)
        ASSERT_EQ(job.state.kind, Kind::done) << job.sourceName << ": " << job.state.message;

    EXPECT_EQ(jobs[0].state.url, dir / "pacote");
    EXPECT_EQ(readFile(dir / "pacote/dentro/a.txt"), "conteúdo");
    EXPECT_EQ(jobs[1].state.url, dir / "pasta.tar.gz");
    const auto listed = runProgram("/usr/bin/tar", {"-tzf", jobs[1].state.url->string()});
    EXPECT_NE(listed.out.find("pasta/sub/nota.txt"), std::string::npos) << listed.out;
    QPDF merged;
    merged.processFile(jobs[2].state.url->c_str());
    EXPECT_EQ(QPDFPageDocumentHelper(merged).getAllPages().size(), 2u);
    // Light and maximum quality, each pair in a folder of its own.
    EXPECT_EQ(jobs[3].state.url, dir / "Convertidos para JPG/x.jpg");
    EXPECT_EQ(jobs[5].state.url, dir / "Convertidos para JPG 2/x.jpg");
    EXPECT_LT(fs::file_size(*jobs[3].state.url) * 2, fs::file_size(*jobs[5].state.url));
}

TEST_F(EndToEndTest, AWorkersFailureArrivesAsTheUsersSentence)
{
    // An output folder gone before the worker writes: the file system's error, in Portuguese.
    ASSERT_TRUE(makeMedia(dir / "a.png", "testsrc=size=64x48", {"-frames:v", "1"}));
    start({});
    const Request request{
        Request::Op::convert, {dir / "a.png"}, MediaKind::image, Catalog::fmts({"jpg"}).front(), {}, dir / "sumiu"};
    try {
        pool->run(request, {});
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(std::string(error.what()), "Não foi possível encontrar “sumiu”.");
    }
}

TEST_F(EndToEndTest, AKeptWorkerServesEveryRequestAndOutlivesAJobThatCrashes)
{
    // As --convert runs: one worker for every file. Each job runs in a process of its own, so
    // a job that crashes leaves the worker as it was, ready for the next.
    ASSERT_TRUE(makeMedia(dir / "a.png", "testsrc=size=64x48", {"-frames:v", "1"}));
    fs::copy_file(dir / "a.png", dir / "quebra.png");
    start({.ready = 0, .env = {{"BRIVLON_WORKER_ABORT_ON", "quebra.png"}}, .reuse = true});
    const auto jpg = Catalog::fmts({"jpg"}).front();
    const auto request = [&](const char* name) {
        return Request{Request::Op::convert, {dir / name}, MediaKind::image, jpg};
    };
    EXPECT_EQ(pool->run(request("a.png"), {}), dir / "a.jpg");
    const auto workers = [] {
        return JobFakes::processes("brivlon-worker");
    };
    EXPECT_EQ(workers(), 1);
    EXPECT_EQ(pool->run(request("a.png"), {}), dir / "a 2.jpg");
    EXPECT_EQ(workers(), 1);
    EXPECT_THROW(pool->run(request("quebra.png"), {}), ConversionError);
    EXPECT_EQ(workers(), 1);
    EXPECT_EQ(pool->run(request("a.png"), {}), dir / "a 3.jpg");
    EXPECT_EQ(workers(), 1);
}

TEST_F(EndToEndTest, AWaitingWorkerPrintingMoreThanAPipeHoldsIsReadMeanwhileAndServesItsJob)
{
    ASSERT_TRUE(makeMedia(dir / "a.png", "testsrc=size=64x48", {"-frames:v", "1"}));
    const auto printed = dir / "impresso";
    start({.stallLimit = std::chrono::seconds(20), .ready = 1, .env = {{"BRIVLON_WORKER_IDLE_NOISE", printed.string()}}});
    pool->prewarm();
    // No job runs yet: the worker gets to the end of its text only if the pool reads it now.
    EXPECT_TRUE(pumpUntil(30, [&] {
        return fs::exists(printed);
    }));
    const Request request{Request::Op::convert, {dir / "a.png"}, MediaKind::image, Catalog::fmts({"jpg"}).front()};
    EXPECT_EQ(pool->run(request, {}), dir / "a.jpg");
    // Its first and last lines, under the name of its program.
    const auto log = ErrorLog::recent(500);
    const auto program = fs::path(BRIVLON_BINARY).filename().string();
    for (const char* line : {"ocioso 0000", "ocioso 1999"})
        EXPECT_TRUE(std::regex_search(
            log, std::regex("(^|\n)[-0-9T:]+Z  " + program + R"(: \(worker:\d+\): GLib-WARNING \*\*: )" + line + " ~")))
            << line;
}

TEST_F(EndToEndTest, AWaitingWorkerReleasedWithoutAJobLeavesWhatItPrintedInTheLog)
{
    fs::remove(AppPaths::stateDir() / "erros.log");
    const auto printed = dir / "impresso";
    start({.ready = 2, .env = {{"BRIVLON_WORKER_IDLE_NOISE", printed.string()}}});
    pool->prewarm();
    ASSERT_TRUE(pumpUntil(30, [&] {
        return fs::exists(printed);
    }));
    pool->release();
    EXPECT_EQ(JobFakes::processes("brivlon-worker"), 0);
    EXPECT_NE(ErrorLog::recent(500).find("ocioso 1999 ~"), std::string::npos);
}

TEST_F(EndToEndTest, WorkersConvertingOneSourceAtOnceNeverShareAName)
{
    // Each worker picks its free name on its own; publishing without replacing keeps them apart.
    ASSERT_TRUE(makeMedia(dir / "a.png", "testsrc=size=640x480", {"-frames:v", "1"}));
    start({});
    for (int i = 0; i < 3; ++i)
        runner->run({dir / "a.png"}, Catalog::fmts({"jpg"}).front(), std::nullopt);
    ASSERT_TRUE(allEnd());
    std::set<fs::path> outputs;
    for (const auto& job : store.jobs()) {
        ASSERT_EQ(job.state.kind, Kind::done) << job.state.message;
        outputs.insert(job.state.url.value());
    }
    EXPECT_EQ(outputs, (std::set<fs::path>{dir / "a.jpg", dir / "a 2.jpg", dir / "a 3.jpg"}));
}

TEST_F(EndToEndTest, CancelledVideoLeavesNoProcessAndNoOutput)
{
    ASSERT_TRUE(makeMedia(dir / "longo.mp4", "testsrc=duration=30:size=640x480:rate=30", {"-preset", "ultrafast"}));
    start({});
    runner->run({dir / "longo.mp4"}, Catalog::fmts({"webm"}).front(), std::nullopt);
    const auto& job = store.jobs().front();
    // The tool runs inside the worker; its command line names the file.
    ASSERT_TRUE(pumpUntil(60, [&] {
        return JobFakes::processes("ffmpeg", dir.path().string()) > 0 || !job.isRunning();
    }));
    ASSERT_TRUE(job.isRunning()) << job.state.message;

    store.cancel(job.id);
    EXPECT_EQ(job.state.kind, Kind::cancelled);
    EXPECT_TRUE(pumpUntil(10, [&] {
        return runner->limiter().running() == 0 && JobFakes::processes("ffmpeg", dir.path().string()) == 0;
    }));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "an output was left";
}

}
