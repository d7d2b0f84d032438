#include "core/alert.h"
#include "core/app_paths.h"
#include "core/conversion_error.h"
#include "core/conversion_runner.h"
#include "core/error_log.h"
#include "core/job_store.h"
#include "core/limiter.h"
#include "core/magic_burst.h"
#include "core/quality.h"
#include "core/settings.h"
#include "core/task.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

using namespace TestSupport;
using JobFakes::pumpUntil;
using Kind = Job::State::Kind;

namespace {

// The runner over an engine whose calls report half done, then wait until the test says how they
// end; a call cancelled while it waits throws a cancellation, as the real engines do. Every call
// records what its task context held.
class RunnerTest : public ::testing::Test {
protected:
    struct Call {
        std::string engine;
        std::vector<fs::path> items;
        std::optional<fs::path> overrideDir;
        std::optional<QualityLevel> quality;
    };

    void SetUp() override
    {
        Defaults::remove("revealWhenDone");
        Defaults::remove("doneSound");
        fs::remove(AppPaths::stateDir() / "erros.log");
        MagicBurst::reset();
        Alert::Presenter::set(alerts);
    }
    void TearDown() override
    {
        // Every job thread through the gate before the fakes go, also after a failed expectation.
        store.cancelAll();
        EXPECT_TRUE(pumpUntil([&] {
            return runner.limiter().running() == 0 && runner.limiter().waiting() == 0;
        }));
        QCoreApplication::processEvents();
        Alert::Presenter::set(nullptr);
    }
    ConversionEngines engines()
    {
        ConversionEngines engines;
        engines.convert
            = [this](const fs::path& url, MediaKind kind, const OutputFormat& format, const Progress& progress) {
                  std::unique_lock lock(mutex);
                  calls.push_back({MediaKinds::rawValue(kind) + " " + format.label, {url}, Task::current().overrideDir,
                      Task::current().qualityOverride});
                  progress(0.5);
                  while (!outcomes.count(url)) {
                      if (Task::isCancelled())
                          throw CancellationError();
                      changed.wait_for(lock, std::chrono::milliseconds(5));
                  }
                  auto outcome = outcomes[url];
                  lock.unlock();
                  return outcome();
              };
        auto batch = [this](const std::string& engine, const std::vector<fs::path>& items) {
            std::lock_guard lock(mutex);
            calls.push_back({engine, items, Task::current().overrideDir, Task::current().qualityOverride});
            return items.front().parent_path() / "lote.out";
        };
        engines.mergePDF = [batch](const std::vector<fs::path>& items) {
            return batch("pdf", items);
        };
        engines.mergeImages = [batch](const std::vector<fs::path>& items) {
            return batch("images", items);
        };
        engines.createArchive = [batch](const std::vector<fs::path>& items, const OutputFormat& format) {
            return batch("archive " + format.ext, items);
        };
        return engines;
    }
    void release(const fs::path& url, std::function<fs::path()> outcome)
    {
        std::lock_guard lock(mutex);
        outcomes[url] = std::move(outcome);
        changed.notify_all();
    }
    void succeed(const fs::path& url)
    {
        release(url, [url] {
            return fs::path(url).replace_extension(".out");
        });
    }
    size_t callCount()
    {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    std::vector<fs::path> files(const std::vector<std::string>& names)
    {
        std::vector<fs::path> urls;
        for (const auto& name : names)
            writeFile(urls.emplace_back(dir / name), "x");
        return urls;
    }
    const Job& job(size_t index) { return store.jobs().at(index); }
    size_t count(const std::function<bool(const Job&)>& holds)
    {
        return size_t(std::ranges::count_if(store.jobs(), holds));
    }
    bool allEnded() { return count(&Job::isRunning) == 0; }
    OutputFormat jpg() { return Catalog::fmts({"jpg"}).front(); }

    std::mutex mutex;
    std::condition_variable changed;
    std::map<fs::path, std::function<fs::path()>> outcomes;
    std::vector<Call> calls;  // read once the jobs have ended, or through callCount()
    JobFakes::SoundFixture sound;
    TempDir dir;
    JobStore store;
    ConversionRunner runner{store, engines()};
    std::vector<Alert::Request> asked;
    // Answers every question with `answer` and keeps what was asked.
    struct Alerts final : Alert::Presenter {
        RunnerTest* test;
        explicit Alerts(RunnerTest* test) : test(test) { }
        int ask(const Alert::Request& request) override
        {
            test->asked.push_back(request);
            return test->answer;
        }
    };
    std::shared_ptr<Alerts> alerts = std::make_shared<Alerts>(this);
    int answer = 0;
};

TEST_F(RunnerTest, JobsRunThreeAtATimeFirstInFirstOutAndCancelAnywhere)
{
    const auto threads = [] {
        return std::distance(fs::directory_iterator("/proc/self/task"), {});
    };
    const auto before = threads();
    auto urls = files({"e.png", "c.png", "a.png", "d.png", "b.png", "f.png", "g.png", "h.png"});
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(job(0).sourceName + job(3).sourceName + job(7).sourceName, "a.pngd.pngh.png");
    ASSERT_TRUE(pumpUntil([&] {
        return count([](const Job& each) {
            return each.started;
        }) == 3
            && callCount() == 3;
    }));
    EXPECT_TRUE(job(0).started && job(1).started && job(2).started);
    EXPECT_EQ(runner.limiter().waiting(), 5);
    // Five jobs wait for a place without holding a thread each.
    EXPECT_LT(threads(), before + 3 + 5);

    // Cancelled while waiting: at once, and it never reaches the engine; cancelled while
    // running: its engine stops and its place goes to the oldest waiter.
    store.cancel(job(7).id);
    EXPECT_EQ(job(7).state.kind, Kind::cancelled);
    store.cancel(job(2).id);
    ASSERT_TRUE(pumpUntil([&] {
        return job(3).started;
    }));
    EXPECT_FALSE(job(4).started);
    // Each end lets the oldest waiter in, whichever of the three ended.
    succeed(dir / "b.png");
    ASSERT_TRUE(pumpUntil([&] {
        return job(4).started;
    }));
    EXPECT_FALSE(job(5).started);
    EXPECT_EQ(job(1).state.kind, Kind::done);
    for (const auto& url : urls)
        succeed(url);
    ASSERT_TRUE(pumpUntil([&] {
        return allEnded();
    }));
    EXPECT_EQ(count([](const Job& each) {
        return each.state.kind == Kind::done && each.progress == 1.0;
    }),
        6u);
    EXPECT_TRUE(job(2).state.kind == Kind::cancelled && job(7).state.kind == Kind::cancelled && !job(7).started);
    EXPECT_EQ(callCount(), 7u);
    // One completion sound, for the last job.
    EXPECT_EQ(sound.played().size(), 1u);
    // Every output was pointed at one new common folder beside the first file.
    for (const auto& call : calls)
        EXPECT_EQ(call.engine + " in " + call.overrideDir.value_or("").string(),
            "image JPG in " + (dir / "Convertidos para JPG").string());
}

TEST_F(RunnerTest, FailuresCancellationsAndProgressFromTheEngine)
{
    for (const auto& name : {"a.png", "b.png", "c.png"})
        runner.run(
            files({name}), jpg(), name == std::string("a.png") ? std::optional(QualityLevel::web) : std::nullopt);
    ASSERT_TRUE(pumpUntil([&] {
        return callCount() == 3 && job(0).progress == 0.5 && job(2).progress == 0.5;
    }));
    release(dir / "a.png", []() -> fs::path {
        throw ConversionError::unreadable();
    });
    // A cancellation nobody asked for is still a cancellation, not a failure; something that is
    // not a std::exception must not take the program down.
    release(dir / "b.png", []() -> fs::path {
        throw CancellationError();
    });
    release(dir / "c.png", []() -> fs::path {
        throw 42;
    });
    ASSERT_TRUE(pumpUntil([&] {
        return allEnded();
    }));
    EXPECT_EQ(job(0).state.message, "Não foi possível ler o arquivo.");
    EXPECT_EQ(job(1).state.kind, Kind::cancelled);
    EXPECT_EQ(job(2).state.message, "Erro inesperado.");
    EXPECT_NE(ErrorLog::recent(2).find("  c.png → JPG: Erro inesperado."), std::string::npos) << ErrorLog::recent(2);
    // One file: no common folder, and the quality travels with its own job only.
    for (const auto& call : calls) {
        EXPECT_FALSE(call.overrideDir.has_value());
        EXPECT_EQ(
            call.quality, call.items.front().filename() == "a.png" ? std::optional(QualityLevel::web) : std::nullopt);
    }
}

TEST_F(RunnerTest, MixedFormatsAskFirst)
{
    auto urls = files({"foto.png", "outra.heic"});
    for (int declined : {1, -1}) {
        answer = declined;
        runner.run(urls, jpg(), std::nullopt);
        EXPECT_TRUE(store.jobs().empty());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    }
    EXPECT_EQ(asked.at(1).message, "Converter 2 arquivos para JPG?");
    EXPECT_TRUE(asked[0].informative.starts_with("A seleção tem 2 formatos diferentes (PNG, HEIC)."));

    answer = 0;
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(store.jobs().size(), 2u);
}

TEST_F(RunnerTest, BatchFormatsMakeOneJobWithoutFolder)
{
    fs::create_directories(dir / "pasta b");
    fs::create_directories(dir / "pasta a");
    const std::vector<std::tuple<std::vector<fs::path>, OutputFormat, std::string>> cases = {
        {files({"b.pdf", "a.pdf"}), Catalog::mergedPDF(), "pdf"},
        {files({"b.png", "a.jpg"}), Catalog::mergedPDF(), "images"},
        {{dir / "pasta b", dir / "pasta a"}, Catalog::packFormats().front(), "archive zip"},
    };
    for (const auto& [urls, format, engine] : cases) {
        store.setJobs({});
        runner.run(urls, format, QualityLevel::light);
        ASSERT_TRUE(pumpUntil([&] {
            return allEnded();
        })) << engine;
        EXPECT_TRUE(store.jobs().size() == 1 && job(0).state.kind == Kind::done) << engine;
        EXPECT_EQ(calls.back().engine, engine);
        EXPECT_EQ(calls.back().items, Catalog::sorted(urls));
        EXPECT_FALSE(calls.back().overrideDir.has_value());
        EXPECT_EQ(calls.back().quality, QualityLevel::light);
    }
    EXPECT_TRUE(asked.empty());
}

TEST(LimiterTest, PlacesGoOutFirstInFirstOut)
{
    Limiter limiter(2);
    limiter.acquire();
    limiter.acquire();
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        limiter.enqueue()->whenGranted([&order, i] {
            order.push_back(i);
        });
    for (size_t granted = 1; granted <= 3; ++granted) {
        limiter.release();
        EXPECT_EQ(limiter.running(), 2);  // handed over, not freed
        EXPECT_EQ(order.size(), granted);
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    limiter.release();
    limiter.release();
    EXPECT_EQ(limiter.running(), 0);
}

}
