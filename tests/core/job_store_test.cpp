#include "core/base/error_log.h"
#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <thread>

using namespace TestSupport;
using JobFakes::Played, Chime::Kind::failure, Chime::Kind::wand;

namespace {

class JobStoreTest : public ::testing::Test {
protected:
    void SetUp() override { Defaults::remove(SettingKey::revealWhenDone); }

    JobFakes::SoundFixture sound;
    JobStore store;
    std::shared_ptr<Fakes::Viewer> viewer = std::make_shared<Fakes::Viewer>();
    Installed<FileViewer> installedViewer{viewer};
};

TEST_F(JobStoreTest, ACancelledJobStaysCancelledAndItsLateOutputIsDeleted)
{
    TempDir dir;
    writeFile(dir / "pasta/dentro/f", "x");
    const auto log = ErrorLog::recent(1);
    int cancels = 0;
    auto id = store.add("b.pdf", "PNG");
    store.setCanceler(id, [&] {
        ++cancels;
    });
    store.setProgress(id, 0.4);
    store.cancel(id);
    store.cancel(id);
    EXPECT_EQ(cancels, 1);

    store.markStarted(id);
    store.setProgress(id, 0.9);
    store.finish(id, Job::State::done(dir / "pasta"));
    store.finish(id, Job::State::failed("tarde"));
    EXPECT_FALSE(fs::exists(dir / "pasta"));
    const Job& job = store.jobs().front();
    EXPECT_TRUE(job.state.is(Job::State::Kind::cancelled) && job.progress == 0.4 && !job.started);
    EXPECT_EQ(ErrorLog::recent(1), log);
    EXPECT_TRUE(sound.played().empty());
}

TEST_F(JobStoreTest, CancelAllAndClearFinishedKeepTheOrder)
{
    std::vector<QUuid> ids;
    std::string cancelled;
    for (char name : std::string("01234"))
        store.setCanceler(ids.emplace_back(store.add({name}, "PNG")), [&cancelled, name] {
            cancelled += name;
        });
    store.finish(ids[1], Job::State::done("/tmp/nothing-here"));
    store.finish(ids[3], Job::State::info("aviso"));
    store.cancel(ids[1]);  // finished: nothing left to cancel
    store.clearFinished();
    EXPECT_TRUE(store.jobs().size() == 3 && store.jobs()[1].id == ids[2]);
    store.cancelAll();
    EXPECT_EQ(cancelled, "024");
    store.clearFinished();
    EXPECT_TRUE(store.jobs().empty());
}

TEST_F(JobStoreTest, FailureIsHeardAtOnceAndLoggedSuccessOnlyWhenTheLastJobEnds)
{
    auto other = store.add("outro.mov", "MP4");
    store.finish(store.add("photo.heic", ""), Job::State::failed("Não foi possível ler o arquivo."));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{failure, 0.5}}));
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  photo.heic → ?: Não foi possível ler o arquivo."));

    auto second = store.add("b.png", "JPG");
    store.finish(other, Job::State::done("/tmp/a.mp4"));
    store.finish(second, Job::State::done("/tmp/b.jpg"));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{failure, 0.5}, {wand, 0.42}}));

    Defaults::set(SettingKey::revealWhenDone, true);
    store.finish(store.add("c.png", "JPG"), Job::State::done("/tmp/c.jpg"));
    store.finish(store.add("d.png", "JPG"), Job::State::failed("x"));
    EXPECT_EQ(viewer->revealed, (std::vector<fs::path>{"/tmp/c.jpg"}));
}

TEST_F(JobStoreTest, APickClaimedWithinThreeSecondsEndsInABurstThere)
{
    auto bursts = std::make_shared<Fakes::Bursts>();
    Installed<MagicBurst::Presenter> installed(bursts);
    MagicBurst::notePick({40, 50});
    sound.now += 2.9;
    store.finish(store.add("a.png", "JPG"), Job::State::done("/tmp/a.jpg"));
    EXPECT_TRUE(sound.played().empty());
    ASSERT_TRUE(JobFakes::pumpUntil([&] {
        return !bursts->shown.empty();
    }));
    EXPECT_EQ(sound.played(), (std::vector<Played>{{wand, 0.42}}));

    // Too late a claim, or a failed or cancelled job, forgets the pick: the sound plays at once.
    for (int way = 0; way < 3; ++way, sound.now += 10) {
        MagicBurst::notePick({1, 2});
        sound.now += way == 0 ? 3.0 : 0.0;
        auto doomed = store.add("x.png", "JPG");
        way == 2 ? store.cancel(doomed)
                 : store.finish(doomed, way == 1 ? Job::State::failed("x") : Job::State::done("/x"));
        store.finish(store.add("y.png", "JPG"), Job::State::done("/tmp/y.jpg"));
    }
    EXPECT_EQ(std::count(sound.played().begin(), sound.played().end(), Played{wand, 0.42}), 5);
    QCoreApplication::processEvents();
    EXPECT_EQ(bursts->shown, (std::vector<QPointF>{{40, 50}}));
}

}

// The list is not guarded: a change from a background thread must stop the program at once rather
// than corrupt the list now and then.
TEST(JobStoreDeathTest, AChangeOffTheMainThreadEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    JobStore store;
    const auto id = store.add("a.png", "JPG");
    EXPECT_DEATH(std::thread([&] {
        store.setProgress(id, 0.5);
    }).join(),
        "off the main thread");
}
