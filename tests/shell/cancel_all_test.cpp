// "Cancelar tudo" while ten conversions run, as the tray menu and the panel do it: every job ends
// cancelled and neither a worker nor an encoder stays behind.
#include "core/job_fakes.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/base/task.h"
#include "core/jobs/worker_pool.h"
#include "shell/status_menu.h"
#include "support/test_support.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace TestSupport;

TEST(CancelAll, TenRunningConversionsLeaveNoChildProcess)
{
    JobFakes::SoundFixture sound;
    TempDir dir;
    ASSERT_TRUE(makeMedia(dir / "0.mp4", "testsrc=size=640x480:rate=30", {"-t", "20"}));
    for (int i = 1; i < 10; ++i)
        fs::copy_file(dir / "0.mp4", dir / (std::to_string(i) + ".mp4"));
    JobStore store;
    auto pool = std::make_shared<WorkerPool>(WorkerPool::Options{.executable = BRIVLON_BINARY});
    std::optional<ConversionRunner> runner(std::in_place, store, inWorkers(pool));
    for (int i = 0; i < 10; ++i)
        runner->run({dir / (std::to_string(i) + ".mp4")}, OutputFormat{"webm", "WEBM", false}, std::nullopt);
    // Three encode while seven wait for a place.
    ASSERT_TRUE(JobFakes::pumpUntil(60, [&] {
        return JobFakes::processes("ffmpeg", dir.path().string()) == 3;
    }));
    EXPECT_EQ(StatusMenu::trayTitle(store.jobs()).substr(0, 4), " 10 ");

    store.cancelAll();
    ASSERT_TRUE(JobFakes::pumpUntil(60, [&] {
        return std::ranges::none_of(store.jobs(), &Job::isRunning) && runner->limiter().running() == 0;
    }));
    for (const auto& job : store.jobs())
        EXPECT_EQ(job.state.kind, Job::State::Kind::cancelled) << job.sourceName;
    EXPECT_TRUE(JobFakes::pumpUntil(10, [&] {
        return JobFakes::processes("ffmpeg", dir.path().string()) == 0;
    }));
    runner.reset();
    pool.reset();
    // The jobs' threads still hand their ends to the main thread, addressed to this store: they
    // land while it lives, not in a later test.
    EXPECT_TRUE(Task::awaitDetached(std::chrono::seconds(30)));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(JobFakes::processes("brivlon"), 0);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".webm") << entry.path();
}
