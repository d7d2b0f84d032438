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

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace TestSupport;
using JobFakes::pumpUntil;
using Kind = Job::State::Kind;

namespace {

// An engine whose calls wait until the test says how they end; a call that the user cancels
// while it waits throws a cancellation, as the real engines do. It records what each call saw.
class FakeEngine {
public:
    struct Call {
        std::string engine;
        std::vector<fs::path> items;
        std::optional<fs::path> overrideDir;
        std::optional<QualityLevel> quality;
    };
    using Outcome = std::function<fs::path()>;

    ConversionEngines engines()
    {
        ConversionEngines engines;
        engines.convert = [this](const fs::path& url, MediaKind kind, const OutputFormat& format,
                                 const Progress& progress) {
            return convert(url, MediaKinds::rawValue(kind) + " " + format.label, progress);
        };
        engines.mergePDF = [this](const std::vector<fs::path>& items) { return batch("pdf", items); };
        engines.mergeImages = [this](const std::vector<fs::path>& items) { return batch("images", items); };
        engines.createArchive = [this](const std::vector<fs::path>& items, const OutputFormat& format) {
            return batch("archive " + format.ext, items);
        };
        return engines;
    }
    void release(const fs::path& url, Outcome outcome)
    {
        std::lock_guard lock(mutex_);
        outcomes_[url] = std::move(outcome);
        changed_.notify_all();
    }
    void succeed(const fs::path& url)
    {
        release(url, [url] { return fs::path(url).replace_extension(".out"); });
    }
    std::vector<Call> calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    bool entered(const fs::path& url)
    {
        for (const auto& call : calls())
            if (call.items.front() == url)
                return true;
        return false;
    }
    std::vector<double> progressToReport;

private:
    void record(const std::string& engine, const std::vector<fs::path>& items)
    {
        const auto& context = Task::current();
        calls_.push_back({engine, items, context.overrideDir, context.qualityOverride});
    }
    fs::path convert(const fs::path& url, const std::string& engine, const Progress& progress)
    {
        std::unique_lock lock(mutex_);
        record(engine, {url});
        for (double value : progressToReport)
            progress(value);
        while (!outcomes_.count(url)) {
            if (Task::isCancelled())
                throw CancellationError();
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
        auto outcome = outcomes_[url];
        lock.unlock();
        return outcome();
    }
    fs::path batch(const std::string& engine, const std::vector<fs::path>& items)
    {
        std::lock_guard lock(mutex_);
        record(engine, items);
        return items.front().parent_path() / "lote.out";
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<fs::path, Outcome> outcomes_;
    std::vector<Call> calls_;
};

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Defaults::remove("revealWhenDone");
        Defaults::remove("doneSound");
        fs::remove(AppPaths::stateDir() / "erros.log");
        MagicBurst::reset();
        Alert::setPresenter([this](const Alert::Request& request) {
            asked.push_back(request);
            return answer;
        });
    }
    void TearDown() override
    {
        // Every job thread must be through the gate before the fakes go away, also after a failed
        // expectation left work waiting.
        store.cancelAll();
        EXPECT_TRUE(pumpUntil([&] { return runner.limiter().running() == 0 && runner.limiter().waiting() == 0; }));
        QCoreApplication::processEvents();
        Alert::setPresenter(nullptr);
    }
    std::vector<fs::path> files(const std::vector<std::string>& names)
    {
        std::vector<fs::path> urls;
        for (const auto& name : names) {
            writeFile(dir / name, "x");
            urls.push_back(dir / name);
        }
        return urls;
    }
    const Job& job(size_t index) { return store.jobs().at(index); }
    size_t count(const std::function<bool(const Job&)>& holds)
    {
        return size_t(std::count_if(store.jobs().begin(), store.jobs().end(), holds));
    }
    bool allEnded() { return count([](const Job& each) { return each.isRunning(); }) == 0; }
    std::set<std::string> folderEntries()
    {
        std::set<std::string> entries;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            entries.insert(entry.path().filename().string());
        return entries;
    }
    OutputFormat jpg() { return Catalog::fmts({"jpg"}).front(); }

    JobFakes::SoundFixture sound;
    TempDir dir;
    JobStore store;
    FakeEngine fake;
    ConversionRunner runner{store, fake.engines()};
    std::vector<Alert::Request> asked;
    int answer = 0;
};

TEST_F(RunnerTest, FilesRunThreeAtATimeInOrderWithoutThreadsForTheWaiting)
{
    const auto threads = [] { return std::distance(fs::directory_iterator("/proc/self/task"), {}); };
    const auto before = threads();
    auto urls = files({"e.png", "c.png", "a.png", "d.png", "b.png", "f.png", "g.png", "h.png"});
    runner.run(urls, jpg(), std::nullopt);
    std::vector<std::string> names;
    for (const auto& each : store.jobs())
        names.push_back(each.sourceName);
    EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.png", "c.png", "d.png", "e.png", "f.png", "g.png", "h.png"}));
    EXPECT_TRUE(asked.empty());
    ASSERT_TRUE(pumpUntil([&] { return count([](const Job& each) { return each.started; }) == 3 && fake.calls().size() == 3; }));
    EXPECT_TRUE(job(0).started && job(1).started && job(2).started);
    EXPECT_EQ(runner.limiter().waiting(), 5);
    // Five jobs wait for a place without holding a thread each.
    EXPECT_LT(threads(), before + 3 + 5);

    // Each end lets the oldest waiter in, whichever of the three ended.
    fake.succeed(dir / "b.png");
    ASSERT_TRUE(pumpUntil([&] { return job(3).started; }));
    EXPECT_FALSE(job(4).started);
    EXPECT_EQ(job(1).state.kind, Kind::done);
    fake.succeed(dir / "a.png");
    ASSERT_TRUE(pumpUntil([&] { return job(4).started; }));
    for (const auto& url : urls)
        fake.succeed(url);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    EXPECT_EQ(count([](const Job& each) { return each.state.kind == Kind::done && each.progress == 1.0; }), 8u);
    // One completion sound, for the last job.
    EXPECT_EQ(sound.played().size(), 1u);
    // Every output was pointed at one new common folder beside the first file.
    for (const auto& call : fake.calls()) {
        EXPECT_EQ(call.overrideDir, dir / "Convertidos para JPG");
        EXPECT_EQ(call.engine, "image JPG");
        EXPECT_FALSE(call.quality.has_value());
    }
}

TEST_F(RunnerTest, CancelledWaitingJobNeverReachesTheEngine)
{
    runner.run(files({"a.png", "b.png", "c.png", "d.png"}), jpg(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return fake.calls().size() == 3; }));
    store.cancel(job(3).id);
    EXPECT_EQ(job(3).state.kind, Kind::cancelled);

    // Its turn comes, it ends at once and hands the place on.
    fake.succeed(dir / "a.png");
    ASSERT_TRUE(pumpUntil([&] { return runner.limiter().running() == 2; }));
    EXPECT_FALSE(fake.entered(dir / "d.png"));
    EXPECT_EQ(job(3).state.kind, Kind::cancelled);
    EXPECT_FALSE(job(3).started);

    // A running job cancelled by the user ends cancelled; its engine stops.
    store.cancel(job(1).id);
    ASSERT_TRUE(pumpUntil([&] { return runner.limiter().running() == 1; }));
    EXPECT_EQ(job(1).state.kind, Kind::cancelled);
}

TEST_F(RunnerTest, FailuresCancellationsAndProgressFromTheEngine)
{
    // Selections without options make no job.
    runner.run({}, jpg(), std::nullopt);
    runner.run(files({"x.png", "y.mp4"}), jpg(), std::nullopt);
    EXPECT_TRUE(store.jobs().empty());

    fake.progressToReport = {0.25, 0.5};
    for (const auto& name : {"a.png", "b.png", "c.png"})
        runner.run(files({name}), jpg(), name == std::string("a.png") ? std::optional(QualityLevel::web) : std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return fake.calls().size() == 3 && job(0).progress == 0.5; }));
    fake.release(dir / "a.png", []() -> fs::path { throw ConversionError::unreadable(); });
    ASSERT_TRUE(pumpUntil([&] { return !job(0).isRunning(); }));
    EXPECT_EQ(job(0).state.kind, Kind::failed);
    EXPECT_EQ(job(0).state.message, "Não foi possível ler o arquivo.");
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  a.png → JPG: Não foi possível ler o arquivo."));
    EXPECT_EQ(sound.played(), (std::vector<JobFakes::Played>{{Chime::Kind::failure, 0.5}}));

    // A cancellation nobody asked for is still a cancellation, not a failure; something that is
    // not a std::exception must not take the program down.
    fake.release(dir / "b.png", []() -> fs::path { throw CancellationError(); });
    fake.release(dir / "c.png", []() -> fs::path { throw 42; });
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    EXPECT_EQ(job(1).state.kind, Kind::cancelled);
    EXPECT_EQ(job(2).state.kind, Kind::failed);
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  c.png → JPG: Erro inesperado.")) << ErrorLog::recent(1);

    // One file: no common folder, and the quality travels with its own job only.
    for (const auto& call : fake.calls()) {
        EXPECT_FALSE(call.overrideDir.has_value());
        EXPECT_EQ(call.quality, call.items.front().filename() == "a.png" ? std::optional(QualityLevel::web) : std::nullopt);
    }
}

TEST_F(RunnerTest, MixedFormatsAskFirstAndCommonFoldersTakeFreeNames)
{
    auto urls = files({"foto.png", "outra.heic"});
    const auto before = folderEntries();
    for (int declined : {1, -1}) {
        answer = declined;
        runner.run(urls, jpg(), std::nullopt);
        EXPECT_TRUE(store.jobs().empty());
        EXPECT_EQ(folderEntries(), before);
    }
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].message, "Converter 2 arquivos para JPG?");
    EXPECT_EQ(asked[0].informative,
              "A seleção tem 2 formatos diferentes (PNG, HEIC). Todos serão convertidos para JPG numa nova "
              "pasta “Convertidos para JPG”.");
    EXPECT_EQ(asked[0].buttons, (std::vector<std::string>{"Converter todos", "Cancelar"}));

    // Accepted: one folder per request, each under the next free name; a file counts as taken.
    answer = 0;
    writeFile(dir / "Convertidos para JPG", "a file in the way");
    runner.run(urls, jpg(), std::nullopt);
    runner.run(urls, jpg(), std::nullopt);
    for (const auto& url : urls)
        fake.succeed(url);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    std::map<fs::path, int> perFolder;
    for (const auto& call : fake.calls())
        ++perFolder[call.overrideDir.value_or("")];
    EXPECT_EQ(perFolder, (std::map<fs::path, int>{{dir / "Convertidos para JPG 2", 2}, {dir / "Convertidos para JPG 3", 2}}));
    EXPECT_EQ(asked.size(), 4u);
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
        ASSERT_EQ(store.jobs().size(), 1u) << engine;
        EXPECT_EQ(job(0).sourceName, Catalog::describe(urls));
        EXPECT_EQ(job(0).target, format.label);
        ASSERT_TRUE(pumpUntil([&] { return allEnded(); })) << engine;
        EXPECT_EQ(job(0).state.kind, Kind::done);
        const auto batch = fake.calls().back();
        EXPECT_EQ(batch.engine, engine);
        EXPECT_EQ(batch.items, Catalog::sorted(urls));
        EXPECT_FALSE(batch.overrideDir.has_value());
        EXPECT_EQ(batch.quality, QualityLevel::light);
    }
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(fs::exists(dir / "Convertidos para PDF ÚNICO"));
}

TEST(RunnerLaunchTest, WorkWithoutAGateRunsAtOnceInItsOwnContext)
{
    JobFakes::SoundFixture sound;
    JobStore store;
    TempDir dir;
    std::atomic<bool> release = false;
    std::optional<fs::path> seenFolder;
    auto id = store.add("clipe.mov", "Cortar");
    ConversionRunner::launch(store, nullptr, id, Task::newJob(dir.path()), [&]() -> fs::path {
        seenFolder = Task::current().overrideDir;
        while (!release)
            std::this_thread::yield();
        return dir / "clipe 2.mov";
    });
    ASSERT_TRUE(pumpUntil([&] { return store.jobs().front().started; }));
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return !store.jobs().front().isRunning(); }));
    EXPECT_EQ(store.jobs().front().state.kind, Kind::done);
    EXPECT_EQ(seenFolder, dir.path());
}

TEST(LimiterTest, PlacesGoOutFirstInFirstOut)
{
    Limiter limiter(2);
    limiter.acquire();
    limiter.acquire();
    std::vector<std::shared_ptr<Limiter::Turn>> turns;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        turns.push_back(limiter.enqueue());
        threads.emplace_back([&, i] {
            turns[size_t(i)]->wait();
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    }
    EXPECT_EQ(limiter.waiting(), 3);
    // A turn can also start its work itself once granted, on the releasing thread.
    std::vector<int> started;
    auto later = limiter.enqueue();
    later->whenGranted([&] { started.push_back(3); });
    for (int i = 0; i < 3; ++i) {
        limiter.release();
        EXPECT_EQ(limiter.running(), 2);
        ASSERT_TRUE(pumpUntil([&] {
            std::lock_guard lock(mutex);
            return order.size() == size_t(i + 1);
        }));
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(started.empty());
    limiter.release();
    EXPECT_EQ(started, (std::vector<int>{3}));
    EXPECT_EQ(limiter.running(), 2);
    limiter.release();
    EXPECT_EQ(limiter.running(), 1);
    limiter.release();
    EXPECT_EQ(limiter.running(), 0);
}

}
