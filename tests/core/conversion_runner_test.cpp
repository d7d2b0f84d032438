#include "core/base/conversion_error.h"
#include "core/base/error_log.h"
#include "core/base/quality.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "job_fakes.h"
#include "support/held_calls.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using JobFakes::pumpUntil;

namespace {

// The runner over a performer whose conversions report half done, then wait until the test says
// how they end ('u' unreadable, 'c' a cancellation, '?' no std::exception, 'n' a file-system error,
// anything else an output); a call cancelled while it waits throws a cancellation, as the real
// engines do. Every request is recorded as "engine: items in folder quality".
class RunnerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every job thread through the gate before the fakes go, also after a failed expectation.
        store.cancelAll();
        EXPECT_TRUE(pumpUntil([&] {
            return runner.limiter().running() == 0 && runner.limiter().waiting() == 0;
        }));
        QCoreApplication::processEvents();
    }
    std::string call(std::string call, const Request& request)
    {
        for (const auto& item : request.sources)
            call += " " + item.filename().string();
        return call + " in " + request.folder.value_or(dir.path()).lexically_relative(dir.path()).string() + " "
            + (request.quality ? QualityLevels::rawValue(*request.quality) : "-");
    }
    Performer performer()
    {
        return [this](const Request& request, const Progress& progress) {
            switch (request.op) {
            case Request::Op::mergePDF: held.record(call("pdf:", request)); return dir / "lote.out";
            case Request::Op::mergeImages: held.record(call("images:", request)); return dir / "lote.out";
            case Request::Op::archive:
                held.record(call("archive " + request.format.ext + ":", request));
                return dir / "lote.out";
            case Request::Op::convert: break;
            }
            const auto& url = request.sources.front();
            if (progress)
                progress(0.5);
            const auto what = MediaKinds::rawValue(request.kind) + " " + request.format.label + ":";
            switch (held.await(call(what, request), url)) {
            case 'u': throw ConversionError::unreadable();
            case 'c': throw CancellationError();
            case '?': throw 42;
            case 'n':
                throw fs::filesystem_error("open", url, std::make_error_code(std::errc::no_such_file_or_directory));
            }
            return fs::path(url).replace_extension(".out");
        };
    }
    void release(const fs::path& url, char outcome = 'o') { held.release(url, outcome); }
    std::vector<fs::path> files(const std::vector<std::string>& names)
    {
        std::vector<fs::path> urls;
        for (const auto& name : names)
            writeFile(urls.emplace_back(dir / name), "x");
        return urls;
    }
    const Job& job(size_t index) { return store.jobs().at(index); }
    std::string marks() { return JobFakes::marks(store); }
    bool marksBecome(const std::string& expected)
    {
        return pumpUntil([&] {
            return marks() == expected;
        });
    }
    static auto threads() { return std::distance(fs::directory_iterator("/proc/self/task"), {}); }
    OutputFormat jpg() { return Catalog::fmts({"jpg"}).front(); }

    HeldCalls held;
    std::shared_ptr<Fakes::Alerts> alerts = std::make_shared<Fakes::Alerts>();
    Installed<Alert::Presenter> installedAlerts{alerts};
    JobFakes::SoundFixture sound;
    TempDir dir;
    JobStore store;
    ConversionRunner runner{store, performer()};
};

TEST_F(RunnerTest, JobsRunThreeAtATimeFirstInFirstOutAndCancelAnywhere)
{
    const auto before = threads();
    auto urls = files({"e.png", "c.png", "a.png", "d.png", "b.png", "f.png", "g.png", "h.png"});
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(job(0).sourceName + job(3).sourceName + job(7).sourceName, "a.pngd.pngh.png");
    ASSERT_TRUE(marksBecome("+++-----")) << marks();
    EXPECT_EQ(runner.limiter().waiting(), 5);
    // Five jobs wait for a place without holding a thread each.
    EXPECT_LT(threads(), before + 3 + 5);

    // Cancelled while waiting: at once, and it never reaches the engine; cancelled while
    // running: its engine stops and its place goes to the oldest waiter.
    store.cancel(job(7).id);
    store.cancel(job(2).id);
    EXPECT_EQ(marks(), "++c----x");
    ASSERT_TRUE(marksBecome("++c+---x")) << marks();
    // Each end lets the oldest waiter in, whichever of the three ended.
    release(dir / "b.png");
    ASSERT_TRUE(marksBecome("+dc++--x")) << marks();
    for (const auto& url : urls)
        release(url);
    ASSERT_TRUE(marksBecome("ddcddddx")) << marks();
    EXPECT_EQ(job(0).progress, 1.0);
    // One completion sound, for the last job.
    EXPECT_EQ(sound.played().size(), 1u);
    // Every output was pointed at one new common folder beside the first file.
    auto calls = held.calls();
    std::ranges::sort(calls);
    ASSERT_EQ(calls.size(), 7u);
    for (char name = 'a'; name < 'h'; ++name)
        EXPECT_EQ(calls[name - 'a'], "image JPG: " + std::string{name} + ".png in Convertidos para JPG -");
}

TEST_F(RunnerTest, ABatchThatWritesNothingLeavesNoFolder)
{
    // Every job cancelled, waiting or running: the common folder goes with the last of them.
    auto urls = files({"a.png", "b.png", "c.png", "d.png", "e.png"});
    runner.run(urls, jpg(), std::nullopt);
    const auto folder = dir / "Convertidos para JPG";
    ASSERT_TRUE(fs::is_directory(folder));
    ASSERT_TRUE(marksBecome("+++--")) << marks();
    store.cancelAll();
    EXPECT_TRUE(pumpUntil([&] {
        return !fs::exists(folder);
    }));

    // One output in it keeps it, whatever became of the others.
    runner.run(urls, jpg(), std::nullopt);
    ASSERT_TRUE(fs::is_directory(folder));
    writeFile(folder / "a.jpg", "x");
    for (const auto& url : urls)
        release(url, 'u');
    ASSERT_TRUE(pumpUntil([&] {
        return runner.limiter().running() == 0 && runner.limiter().waiting() == 0;
    }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(fs::exists(folder / "a.jpg"));
}

TEST_F(RunnerTest, FailuresCancellationsAndProgressFromTheEngine)
{
    for (const auto& name : {"a.png", "b.png", "c.png", "d.png"})
        runner.run(
            files({name}), jpg(), name == std::string("a.png") ? std::optional(QualityLevel::web) : std::nullopt);
    ASSERT_TRUE(pumpUntil([&] {
        return job(0).progress == 0.5 && job(2).progress == 0.5;
    }));
    // A cancellation nobody asked for is still a cancellation, not a failure; something that is
    // not a std::exception must not take the program down; a file-system error reaches the row as
    // a sentence, not as the library's English.
    release(dir / "a.png", 'u');
    release(dir / "b.png", 'c');
    release(dir / "c.png", '?');
    release(dir / "d.png", 'n');
    ASSERT_TRUE(marksBecome("fcff")) << marks();
    EXPECT_EQ(job(0).state.message, "Não foi possível ler o arquivo.");
    EXPECT_EQ(job(2).state.message, "Erro inesperado.");
    EXPECT_EQ(job(3).state.message, "Não foi possível encontrar “d.png”.");
    EXPECT_NE(ErrorLog::recent(3).find("  c.png → JPG: Erro inesperado."), std::string::npos) << ErrorLog::recent(3);
    // One file: no common folder, and the quality travels with its own job only.
    auto calls = held.calls();
    std::ranges::sort(calls);
    EXPECT_EQ(calls,
        (std::vector<std::string>{"image JPG: a.png in . web", "image JPG: b.png in . -", "image JPG: c.png in . -",
            "image JPG: d.png in . -"}));
}

TEST_F(RunnerTest, MixedFormatsAskFirst)
{
    auto urls = files({"foto.png", "outra.heic"});
    for (int declined : {1, -1}) {
        alerts->answer = declined;
        runner.run(urls, jpg(), std::nullopt);
        EXPECT_TRUE(store.jobs().empty() && std::distance(fs::directory_iterator(dir.path()), {}) == 2);
    }
    EXPECT_EQ(alerts->asked.at(1).message, "Converter 2 arquivos para JPG?");
    EXPECT_TRUE(alerts->asked[0].informative.starts_with("A seleção tem 2 formatos diferentes (PNG, HEIC)."));

    alerts->answer = 0;
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(store.jobs().size(), 2u);
}

TEST_F(RunnerTest, BatchFormatsMakeOneJobWithoutFolder)
{
    files({"pasta b/f", "pasta a/f"});
    const std::vector<std::tuple<std::vector<fs::path>, OutputFormat, std::string>> cases = {
        {files({"b.pdf", "a.pdf"}), Catalog::mergedPDF(), "pdf: a.pdf b.pdf"},
        {files({"b.png", "a.jpg"}), Catalog::mergedPDF(), "images: a.jpg b.png"},
        {{dir / "pasta b", dir / "pasta a"}, Catalog::packFormats().front(), "archive zip: pasta a pasta b"},
    };
    for (const auto& [urls, format, call] : cases) {
        store.setJobs({});
        runner.run(urls, format, QualityLevel::light);
        ASSERT_TRUE(marksBecome("d")) << call;
        EXPECT_EQ(held.calls().back(), call + " in . light");
    }
    EXPECT_TRUE(alerts->asked.empty());
}

TEST(LimiterTest, PlacesGoOutFirstInFirstOut)
{
    Limiter limiter(2);
    limiter.acquire();
    limiter.acquire();
    std::string order;
    for (char turn : {'a', 'b', 'c'})
        limiter.enqueue()->whenGranted([&order, turn] {
            order += turn;
        });
    for (const char* granted : {"a", "ab", "abc"}) {
        limiter.release();
        EXPECT_EQ(limiter.running(), 2);  // handed over, not freed
        EXPECT_EQ(order, granted);
    }
}

}
