#include "core/app_paths.h"
#include "core/error_log.h"
#include "core/job_store.h"
#include "core/magic_burst.h"
#include "core/settings.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using JobFakes::Played;
using Kind = Job::State::Kind;
using Chime::Kind::failure;
using Chime::Kind::wand;

namespace {

class JobStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* key : {"doneSound", "sound.finale", "revealWhenDone"})
            Defaults::remove(key);
        MagicBurst::reset();
        MagicBurst::setPresenter(nullptr);
        fs::remove(AppPaths::stateDir() / "erros.log");
        store.setRevealer([this](const fs::path& item) { revealed.push_back(item); });
    }
    void TearDown() override { MagicBurst::setPresenter(nullptr); }

    const Job& job(const QUuid& id)
    {
        for (const auto& each : store.jobs())
            if (each.id == id)
                return each;
        throw std::runtime_error("no such job");
    }
    std::string lastLogLine() { return ErrorLog::recent(1); }

    JobFakes::SoundFixture sound;
    JobStore store;
    std::vector<fs::path> revealed;
};

TEST_F(JobStoreTest, LifecycleOfOneJob)
{
    auto id = store.add("foto.heic", "JPG");
    ASSERT_EQ(store.jobs().size(), 1u);
    EXPECT_EQ(job(id).sourceName, "foto.heic");
    EXPECT_EQ(job(id).target, "JPG");
    EXPECT_TRUE(job(id).isRunning());
    EXPECT_FALSE(job(id).started);
    EXPECT_FALSE(job(id).progress.has_value());

    store.markStarted(id);
    EXPECT_TRUE(job(id).started);
    store.setProgress(id, 1.7);
    EXPECT_EQ(job(id).progress, 1.7);

    store.finish(id, Job::State::done("/tmp/foto.jpg"));
    EXPECT_EQ(job(id).state.kind, Kind::done);
    EXPECT_EQ(job(id).state.url, fs::path("/tmp/foto.jpg"));
    EXPECT_EQ(job(id).progress, 1.0);

    // A finished job can be finished again: the new state wins and its reaction runs again.
    store.finish(id, Job::State::failed("falhou"));
    EXPECT_EQ(job(id).state.kind, Kind::failed);
    EXPECT_EQ(job(id).state.message, "falhou");
    EXPECT_EQ(sound.played().back(), (Played{failure, 0.5}));

    // Reports that arrive after the end change nothing.
    store.setProgress(id, 0.3);
    EXPECT_EQ(job(id).progress, 1.0);
}

TEST_F(JobStoreTest, LateDoneOfCancelledJobDeletesItsOutput)
{
    TempDir dir;
    writeFile(dir / "saida.jpg", "x");
    fs::create_directories(dir / "pasta" / "dentro");
    int cancels = 0;
    auto file = store.add("a.png", "JPG");
    auto folder = store.add("b.pdf", "PNG");
    store.setCanceler(file, [&] { ++cancels; });
    store.setProgress(file, 0.4);

    store.cancel(file);
    store.cancel(folder);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(job(file).state.kind, Kind::cancelled);

    store.markStarted(file);
    store.setProgress(file, 0.9);
    store.finish(file, Job::State::done(dir / "saida.jpg"));
    store.finish(folder, Job::State::done(dir / "pasta"));
    EXPECT_FALSE(fs::exists(dir / "saida.jpg"));
    EXPECT_FALSE(fs::exists(dir / "pasta"));
    EXPECT_EQ(job(file).state.kind, Kind::cancelled);
    EXPECT_EQ(job(file).progress, 0.4);
    EXPECT_FALSE(job(file).started);

    // A failure that comes in after the cancel is not a failure the user sees.
    const auto before = lastLogLine();
    store.finish(folder, Job::State::failed("tarde"));
    EXPECT_EQ(job(folder).state.kind, Kind::cancelled);
    EXPECT_EQ(lastLogLine(), before);
    EXPECT_TRUE(sound.played().empty());
}

TEST_F(JobStoreTest, CancelTouchesOnlyRunningJobs)
{
    int cancels = 0;
    auto done = store.add("a.png", "JPG");
    store.setCanceler(done, [&] { ++cancels; });
    store.finish(done, Job::State::done("/tmp/a.jpg"));
    store.cancel(done);
    EXPECT_EQ(job(done).state.kind, Kind::done);
    EXPECT_EQ(cancels, 0);

    // The canceller of a finished job was dropped by finish, so a stray one is never called.
    auto info = store.add("aviso", "");
    store.setCanceler(info, [&] { ++cancels; });
    store.finish(info, Job::State::info("Convertido pela rota simples."));
    store.cancel(info);
    EXPECT_EQ(job(info).state.kind, Kind::info);

    store.cancel(QUuid::createUuid());
    store.finish(QUuid::createUuid(), Job::State::failed("?"));
    EXPECT_EQ(cancels, 0);
    EXPECT_EQ(store.jobs().size(), 2u);
}

TEST_F(JobStoreTest, CancelAllAndClearFinished)
{
    store.clearFinished();
    EXPECT_TRUE(store.jobs().empty());

    std::vector<QUuid> ids;
    std::vector<int> cancelled;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(store.add("f" + std::to_string(i), "PNG"));
        store.setCanceler(ids.back(), [&cancelled, i] { cancelled.push_back(i); });
    }
    store.finish(ids[1], Job::State::done("/tmp/nothing-here"));
    store.finish(ids[3], Job::State::failed("x"));
    store.clearFinished();
    ASSERT_EQ(store.jobs().size(), 3u);
    EXPECT_EQ(store.jobs()[0].id, ids[0]);
    EXPECT_EQ(store.jobs()[1].id, ids[2]);
    EXPECT_EQ(store.jobs()[2].id, ids[4]);

    store.cancelAll();
    EXPECT_EQ(cancelled, (std::vector<int>{0, 2, 4}));
    for (const auto& each : store.jobs())
        EXPECT_EQ(each.state.kind, Kind::cancelled);
    store.clearFinished();
    EXPECT_TRUE(store.jobs().empty());
}

TEST_F(JobStoreTest, FailurePlaysSoundAndWritesLogLine)
{
    struct Case {
        std::string target;
        std::string expected;
    };
    for (const auto& [target, expected] : std::vector<Case>{
             {"JPG", "photo.heic → JPG: Não foi possível ler o arquivo."},
             {"", "photo.heic → ?: Não foi possível ler o arquivo."},
         }) {
        sound.now += 10;
        sound.played().clear();
        auto other = store.add("outro.mov", "MP4");
        auto id = store.add("photo.heic", target);
        store.finish(id, Job::State::failed("Não foi possível ler o arquivo."));
        // Heard at once, although another job still runs.
        EXPECT_EQ(sound.played(), (std::vector<Played>{{failure, 0.5}}));
        EXPECT_TRUE(lastLogLine().ends_with("  " + expected)) << lastLogLine();
        store.cancel(other);
    }
}

TEST_F(JobStoreTest, SuccessSoundOnlyWhenLastRunningJobEnds)
{
    auto first = store.add("a.png", "JPG");
    auto second = store.add("b.png", "JPG");
    store.finish(first, Job::State::done("/tmp/a.jpg"));
    EXPECT_TRUE(sound.played().empty());
    store.finish(second, Job::State::done("/tmp/b.jpg"));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{wand, 0.42}}));

    // With the completion sound switched off nothing plays.
    Defaults::set("doneSound", false);
    auto third = store.add("c.png", "JPG");
    store.finish(third, Job::State::done("/tmp/c.jpg"));
    EXPECT_EQ(sound.played().size(), 1u);
}

TEST_F(JobStoreTest, PickIsClaimedWithinThreeSeconds)
{
    // Claimed 2.9 s after the pick: the burst shows at the pick point, with the sound, and not
    // before 0.75 s after the pick.
    std::vector<QPointF> shown;
    MagicBurst::setPresenter([&](QPointF at) { shown.push_back(at); });
    MagicBurst::notePick({40, 50});
    sound.now += 2.9;
    auto id = store.add("a.png", "JPG");
    EXPECT_TRUE(MagicBurst::claimed());
    store.finish(id, Job::State::done("/tmp/a.jpg"));
    EXPECT_TRUE(sound.played().empty());
    EXPECT_FALSE(MagicBurst::dropPoint().has_value());
    ASSERT_TRUE(JobFakes::pumpUntil([&] { return !shown.empty(); }, 5));
    EXPECT_EQ(shown.front(), QPointF(40, 50));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{wand, 0.42}}));

    // 3.0 s after the pick: not claimed, the point is dropped, the sound plays at once.
    sound.played().clear();
    MagicBurst::notePick({1, 2});
    sound.now += 3.0;
    id = store.add("b.png", "JPG");
    EXPECT_FALSE(MagicBurst::claimed());
    EXPECT_FALSE(MagicBurst::dropPoint().has_value());
    store.finish(id, Job::State::done("/tmp/b.jpg"));
    EXPECT_EQ(sound.played().size(), 1u);
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(JobStoreTest, FailureOrCancelForgetsThePick)
{
    std::vector<QPointF> shown;
    MagicBurst::setPresenter([&](QPointF at) { shown.push_back(at); });
    for (bool failing : {true, false}) {
        sound.played().clear();
        MagicBurst::notePick({5, 5});
        auto doomed = store.add("a.png", "JPG");
        auto survivor = store.add("b.png", "JPG");
        if (failing)
            store.finish(doomed, Job::State::failed("x"));
        else
            store.cancel(doomed);
        EXPECT_FALSE(MagicBurst::dropPoint().has_value());
        store.finish(survivor, Job::State::done("/tmp/b.jpg"));
        EXPECT_EQ(sound.played().back(), (Played{wand, 0.42}));
        sound.now += 10;
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown.empty());
}

TEST_F(JobStoreTest, WithoutAPanelTheSoundStillWaitsForTheBurst)
{
    MagicBurst::notePick({5, 5});
    auto id = store.add("a.png", "JPG");
    EXPECT_TRUE(MagicBurst::claimed());
    store.finish(id, Job::State::done("/tmp/a.jpg"));
    EXPECT_TRUE(sound.played().empty());
    EXPECT_FALSE(MagicBurst::dropPoint().has_value());
    ASSERT_TRUE(JobFakes::pumpUntil([&] { return !sound.played().empty(); }, 5));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{wand, 0.42}}));
}

TEST_F(JobStoreTest, SubscriberGetsCurrentListThenEveryChange)
{
    store.add("antes.png", "JPG");
    std::vector<std::vector<std::string>> seen;
    QObject context;
    store.subscribe(&context, [&](const std::vector<Job>& jobs) {
        std::vector<std::string> names;
        for (const auto& each : jobs)
            names.push_back(each.sourceName);
        seen.push_back(names);
    });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{"antes.png"}));
    store.add("depois.png", "JPG");
    EXPECT_EQ(seen.back(), (std::vector<std::string>{"antes.png", "depois.png"}));
    Job notice;
    notice.sourceName = "aviso";
    notice.state = Job::State::info("texto");
    store.append(notice);
    EXPECT_EQ(seen.back().size(), 3u);
}

TEST_F(JobStoreTest, RevealsOutputOnlyWhenAsked)
{
    auto id = store.add("a.png", "JPG");
    store.finish(id, Job::State::done("/tmp/a.jpg"));
    EXPECT_TRUE(revealed.empty());

    Defaults::set("revealWhenDone", true);
    id = store.add("b.png", "JPG");
    store.finish(id, Job::State::done("/tmp/b.jpg"));
    id = store.add("c.png", "JPG");
    store.finish(id, Job::State::failed("x"));
    EXPECT_EQ(revealed, (std::vector<fs::path>{"/tmp/b.jpg"}));
}

}
