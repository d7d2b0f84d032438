#include "core/alert.h"
#include "core/app_paths.h"
#include "core/conversion_error.h"
#include "core/conversion_runner.h"
#include "core/error_log.h"
#include "core/job_store.h"
#include "core/limiter.h"
#include "core/magic_burst.h"
#include "core/process.h"
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
// while it waits throws a cancellation, as the real engines do.
class FakeEngine {
public:
    struct Call {
        fs::path url;
        MediaKind kind;
        OutputFormat format;
        std::optional<fs::path> overrideDir;
        std::optional<QualityLevel> quality;
    };
    struct Batch {
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
                                 const Progress& progress) { return convert(url, kind, format, progress); };
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
    std::vector<Batch> batches()
    {
        std::lock_guard lock(mutex_);
        return batches_;
    }
    bool entered(const fs::path& url)
    {
        for (const auto& call : calls())
            if (call.url == url)
                return true;
        return false;
    }
    // Progress values to report before waiting.
    std::vector<double> progressToReport;

private:
    fs::path convert(const fs::path& url, MediaKind kind, const OutputFormat& format, const Progress& progress)
    {
        std::unique_lock lock(mutex_);
        const auto& context = Task::current();
        calls_.push_back({url, kind, format, context.overrideDir, context.qualityOverride});
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
        const auto& context = Task::current();
        batches_.push_back({engine, items, context.overrideDir, context.qualityOverride});
        return items.front().parent_path() / "lote.out";
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<fs::path, Outcome> outcomes_;
    std::vector<Call> calls_;
    std::vector<Batch> batches_;
};

class RunnerTest : public ::testing::Test {
protected:
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
        // Every job thread must be through the gate before the fakes go away, also after a failed
        // expectation left work waiting.
        store.cancelAll();
        EXPECT_TRUE(pumpUntil([&] { return runner.limiter().running() == 0 && runner.limiter().waiting() == 0; }));
        QCoreApplication::processEvents();
        Alert::Presenter::set(nullptr);
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
    std::vector<std::string> names()
    {
        std::vector<std::string> list;
        for (const auto& each : store.jobs())
            list.push_back(each.sourceName);
        return list;
    }
    size_t startedCount()
    {
        size_t count = 0;
        for (const auto& each : store.jobs())
            count += each.started ? 1 : 0;
        return count;
    }
    bool allEnded()
    {
        for (const auto& each : store.jobs())
            if (each.isRunning())
                return false;
        return true;
    }
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
    // Answers every question with `answer` and keeps what was asked.
    struct Alerts final : Alert::Presenter {
        RunnerTest* test;
        explicit Alerts(RunnerTest* test) : test(test) {}
        int ask(const Alert::Request& request) override
        {
            test->asked.push_back(request);
            return test->answer;
        }
    };
    std::shared_ptr<Alerts> alerts = std::make_shared<Alerts>(this);
    int answer = 0;
};

TEST_F(RunnerTest, FiveFilesRunThreeAtATimeInOrder)
{
    auto urls = files({"e.png", "c.png", "a.png", "d.png", "b.png"});
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.png", "b.png", "c.png", "d.png", "e.png"}));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(runner.limiter().running(), 3);
    EXPECT_EQ(runner.limiter().waiting(), 2);

    ASSERT_TRUE(pumpUntil([&] { return startedCount() == 3 && fake.calls().size() == 3; }));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(job(i).started) << i;
    EXPECT_FALSE(job(3).started);
    EXPECT_FALSE(job(4).started);

    // Each end lets the oldest waiter in, whichever of the three ended.
    fake.succeed(dir / "b.png");
    ASSERT_TRUE(pumpUntil([&] { return job(3).started; }));
    EXPECT_FALSE(job(4).started);
    EXPECT_EQ(job(1).state.kind, Kind::done);
    fake.succeed(dir / "a.png");
    ASSERT_TRUE(pumpUntil([&] { return job(4).started; }));

    for (const auto& name : {"c.png", "d.png", "e.png"})
        fake.succeed(dir / name);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    for (const auto& each : store.jobs()) {
        EXPECT_EQ(each.state.kind, Kind::done);
        EXPECT_EQ(each.progress, 1.0);
    }
    // One completion sound, for the last job.
    EXPECT_EQ(sound.played().size(), 1u);

    // All five outputs were pointed at one new common folder beside the first file.
    const auto folder = dir / "Convertidos para JPG";
    EXPECT_TRUE(fs::is_directory(folder));
    for (const auto& call : fake.calls()) {
        EXPECT_EQ(call.overrideDir, folder);
        EXPECT_EQ(call.kind, MediaKind::image);
        EXPECT_EQ(call.format, jpg());
        EXPECT_FALSE(call.quality.has_value());
    }
}

TEST_F(RunnerTest, WaitingJobsHoldNoThread)
{
    auto threads = [] {
        return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
    };
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("f" + std::to_string(i) + ".png");
    const auto urls = files(names);
    const auto before = threads();
    runner.run(urls, jpg(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return fake.calls().size() == 3; }));
    EXPECT_LT(threads(), before + 10);
    for (const auto& url : urls)
        fake.succeed(url);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
}

TEST_F(RunnerTest, CancelledWaitingJobNeverReachesTheEngine)
{
    runner.run(files({"a.png", "b.png", "c.png", "d.png"}), jpg(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return fake.calls().size() == 3; }));
    const QUuid waiting = job(3).id;
    store.cancel(waiting);
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
    fake.succeed(dir / "c.png");
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
}

TEST_F(RunnerTest, FailuresAndCancellationsFromTheEngine)
{
    runner.run(files({"a.png"}), jpg(), QualityLevel::web);
    runner.run(files({"b.png"}), jpg(), std::nullopt);
    runner.run(files({"c.png"}), jpg(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return fake.calls().size() == 3; }));
    fake.release(dir / "a.png", []() -> fs::path { throw ConversionError::unreadable(); });
    ASSERT_TRUE(pumpUntil([&] { return !job(0).isRunning(); }));
    EXPECT_EQ(job(0).state.kind, Kind::failed);
    EXPECT_EQ(job(0).state.message, "Não foi possível ler o arquivo.");
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  a.png → JPG: Não foi possível ler o arquivo."));
    EXPECT_EQ(sound.played(), (std::vector<JobFakes::Played>{{Chime::Kind::failure, 0.5}}));

    // A cancellation nobody asked for is still a cancellation, not a failure.
    fake.release(dir / "b.png", []() -> fs::path { throw CancellationError(); });
    // Something that is not a std::exception must not take the program down.
    fake.release(dir / "c.png", []() -> fs::path { throw 42; });
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    EXPECT_EQ(job(1).state.kind, Kind::cancelled);
    EXPECT_EQ(job(2).state.kind, Kind::failed);
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  c.png → JPG: Erro inesperado.")) << ErrorLog::recent(1);

    // One file: no common folder, and the quality travels with the job.
    auto calls = fake.calls();
    for (const auto& call : calls) {
        EXPECT_FALSE(call.overrideDir.has_value());
        EXPECT_EQ(call.quality, call.url.filename() == "a.png" ? std::optional(QualityLevel::web) : std::nullopt);
    }
}

TEST_F(RunnerTest, ProgressReachesTheStoreOnTheMainThread)
{
    fake.progressToReport = {0.25, 0.5};
    runner.run(files({"a.png"}), jpg(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return job(0).progress == 0.5; }));
    EXPECT_TRUE(job(0).started);
    fake.succeed(dir / "a.png");
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    EXPECT_EQ(job(0).progress, 1.0);
}

TEST_F(RunnerTest, MixedFormatsAskFirst)
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

    answer = 0;
    runner.run(urls, jpg(), std::nullopt);
    EXPECT_EQ(store.jobs().size(), 2u);
    EXPECT_TRUE(fs::is_directory(dir / "Convertidos para JPG"));
    for (const auto& url : urls)
        fake.succeed(url);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
}

TEST_F(RunnerTest, CommonFolderTakesAFreeName)
{
    auto urls = files({"um.png", "dois.png"});
    writeFile(dir / "Convertidos para WEBP", "a file in the way");
    const auto webp = Catalog::fmts({"webp"}).front();
    for (const auto& expected : {"Convertidos para WEBP 2", "Convertidos para WEBP 3"}) {
        runner.run(urls, webp, std::nullopt);
        EXPECT_TRUE(fs::is_directory(dir / expected)) << expected;
    }
    for (const auto& url : urls)
        fake.succeed(url);
    ASSERT_TRUE(pumpUntil([&] { return allEnded(); }));
    ASSERT_EQ(fake.calls().size(), 4u);
    std::map<fs::path, int> perFolder;
    for (const auto& call : fake.calls())
        ++perFolder[call.overrideDir.value_or("")];
    EXPECT_EQ(perFolder, (std::map<fs::path, int>{{dir / "Convertidos para WEBP 2", 2}, {dir / "Convertidos para WEBP 3", 2}}));
}

TEST_F(RunnerTest, BatchFormatsMakeOneJobWithoutFolder)
{
    struct Case {
        std::vector<std::string> names;
        OutputFormat format;
        std::string engine;
    };
    fs::create_directories(dir / "pasta b");
    fs::create_directories(dir / "pasta a");
    const std::vector<Case> cases = {
        {{"b.pdf", "a.pdf"}, Catalog::mergedPDF(), "pdf"},
        {{"b.png", "a.jpg"}, Catalog::mergedPDF(), "images"},
        {{}, Catalog::packFormats().front(), "archive zip"},
    };
    for (const auto& [names, format, engine] : cases) {
        store.setJobs({});
        auto urls = names.empty() ? std::vector<fs::path>{dir / "pasta b", dir / "pasta a"} : files(names);
        const auto before = fake.batches().size();
        runner.run(urls, format, QualityLevel::light);
        ASSERT_EQ(store.jobs().size(), 1u) << engine;
        EXPECT_EQ(job(0).sourceName, Catalog::describe(urls));
        EXPECT_EQ(job(0).target, format.label);
        ASSERT_TRUE(pumpUntil([&] { return allEnded(); })) << engine;
        EXPECT_EQ(job(0).state.kind, Kind::done);
        ASSERT_EQ(fake.batches().size(), before + 1);
        const auto batch = fake.batches().back();
        EXPECT_EQ(batch.engine, engine);
        EXPECT_EQ(batch.items, Catalog::sorted(urls));
        EXPECT_FALSE(batch.overrideDir.has_value());
        EXPECT_EQ(batch.quality, QualityLevel::light);
    }
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(fs::exists(dir / "Convertidos para PDF ÚNICO"));
}

TEST_F(RunnerTest, NothingForASelectionWithoutOptions)
{
    runner.run({}, jpg(), std::nullopt);
    runner.run(files({"a.png", "b.mp4"}), jpg(), std::nullopt);
    EXPECT_TRUE(store.jobs().empty());
    EXPECT_TRUE(asked.empty());
}

TEST(RunnerCancelTest, CancelStopsTheJobsChildProcess)
{
    JobFakes::SoundFixture sound;
    TempDir dir;
    writeFile(dir / "a.png", "x");
    JobStore store;
    ConversionEngines engines;
    engines.convert = [](const fs::path&, MediaKind, const OutputFormat&, const Progress&) -> fs::path {
        Process::Command command;
        command.executable = "/usr/bin/sleep";
        command.arguments = {"30"};
        command.cancellable = true;
        Process::run(command);
        return "/nowhere";
    };
    ConversionRunner runner(store, engines);
    runner.run({dir / "a.png"}, Catalog::fmts({"jpg"}).front(), std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return JobFakes::childProcesses("sleep") == 1; }));
    store.cancel(store.jobs().front().id);
    EXPECT_EQ(store.jobs().front().state.kind, Kind::cancelled);
    ASSERT_TRUE(pumpUntil([&] { return runner.limiter().running() == 0; }, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(JobFakes::childProcesses("sleep"), 0);
    EXPECT_EQ(store.jobs().front().state.kind, Kind::cancelled);
    EXPECT_TRUE(sound.played().empty());
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

    // With a gate of its own (as the tool runner has), cancelled from the store while working:
    // the work sees it and the job ends cancelled.
    auto gate = std::make_shared<Limiter>(1);
    auto second = store.add("outro.mov", "Cortar");
    ConversionRunner::launch(store, gate, second, Task::newJob(), []() -> fs::path {
        for (;;) {
            Task::checkCancelled();
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return store.jobs().back().started; }));
    store.cancel(second);
    ASSERT_TRUE(pumpUntil([&] { return gate->running() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(store.jobs().back().state.kind, Kind::cancelled);
    EXPECT_EQ(sound.played().size(), 1u);
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
