#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "menus/drawing_kit.h"
#include "shell/hud_controller.h"
#include "shell/hud_view.h"
#include "shell/sparkle_burst.h"
#include "support/test_support.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using namespace TestSupport;

namespace {

struct FakeWindow final : HudController::Window {
    std::vector<std::string> calls;
    std::vector<QRectF> frames;
    std::function<void()> leaving;
    bool onScreen = false;
    QRectF area{0, 28, 1440, 850};

    void enter(QRectF target) override { calls.push_back("enter"), frames.push_back(target), onScreen = true; }
    void move(QRectF target) override { calls.push_back("move"), frames.push_back(target); }
    void leave(std::function<void()> done) override { calls.push_back("leave"), leaving = std::move(done); }
    void orderOut() override { calls.push_back("out"), onScreen = false; }
    std::optional<QRectF> screenArea() const override { return area; }
    void finishLeaving()
    {
        if (auto done = std::exchange(leaving, nullptr))
            done();
    }
};

// A clock the test moves by hand.
struct FakeScheduler final : HudController::Scheduler {
    double now = 0;
    std::optional<double> due;
    std::function<void()> work;
    void after(double seconds, std::function<void()> w) override { due = now + seconds, work = std::move(w); }
    void cancel() override { due.reset(), work = nullptr; }
    void advance(double seconds)
    {
        now += seconds;
        if (due && *due <= now) {
            due.reset();
            std::exchange(work, nullptr)();
        }
    }
};

class HudControllerTest : public ::testing::Test {
protected:
    JobStore store;
    FakeWindow* window = new FakeWindow;
    FakeScheduler* clock = new FakeScheduler;
    std::unique_ptr<HudController> controller;

    void SetUp() override
    {
        Defaults::remove(SettingKey::hudHidden);
        controller = std::make_unique<HudController>(
            store, std::unique_ptr<HudController::Window>(window), std::unique_ptr<HudController::Scheduler>(clock));
    }
    QUuid add(const std::string& name) { return store.add(name, "WEBM"); }
    void finish(const QUuid& id) { store.finish(id, Job::State::done("/tmp/x.webm")); }
};

Job job(Job::State state, std::optional<double> progress = std::nullopt, bool started = true)
{
    Job j;
    j.sourceName = "foto.heic";
    j.target = "JPG";
    j.state = std::move(state);
    j.progress = progress;
    j.started = started;
    return j;
}

}

TEST_F(HudControllerTest, ComesInAtTheTopRightAndGrowsWithTheRowsUpToFive)
{
    EXPECT_TRUE(window->calls.empty()) << "no jobs at launch: nothing shows, nothing is scheduled";
    EXPECT_FALSE(clock->due);

    const auto first = add("a.mov");
    ASSERT_EQ(window->calls, std::vector<std::string>{"enter"});
    EXPECT_EQ(window->frames.back(), QRectF(1440 - 330 - 14, 28 + 10, 330, 96));
    for (const char* name : {"b", "c", "d", "e", "f", "g"})
        add(name);
    EXPECT_EQ(window->frames.back().height(), 304);
    EXPECT_EQ(window->frames.back().top(), 38) << "only the bottom edge moves";
    const auto moves = window->calls.size();
    store.setProgress(first, 0.5);
    EXPECT_EQ(window->calls.size(), moves) << "a progress change keeps the frame";
    EXPECT_FALSE(clock->due) << "nothing is cleared while a job runs";
}

TEST_F(HudControllerTest, ClearsTheFinishedJobsSixSecondsAfterTheLastChange)
{
    const auto a = add("a.mov"), b = add("b.mov");
    finish(a);
    EXPECT_FALSE(clock->due);
    finish(b);
    ASSERT_TRUE(clock->due);
    clock->advance(5);
    // A new job within the six seconds keeps the finished ones listed.
    const auto c = add("c.mov");
    clock->advance(2);
    EXPECT_EQ(store.jobs().size(), 3u);
    finish(c);
    clock->advance(5.9);
    EXPECT_EQ(store.jobs().size(), 3u);
    clock->advance(0.2);
    EXPECT_TRUE(store.jobs().empty());
    EXPECT_EQ(window->calls.back(), "leave");
    window->finishLeaving();
    EXPECT_EQ(window->calls.back(), "out");
}

TEST_F(HudControllerTest, TheHiddenSwitchKeepsThePanelAwayButNotTheClearing)
{
    const auto a = add("a.mov");
    HudController::hideByUser();
    EXPECT_EQ(window->calls.back(), "leave");
    EXPECT_FALSE(controller->isShown());
    window->finishLeaving();
    add("b.mov");
    EXPECT_EQ(window->calls.back(), "out") << "a new job does not bring the hidden panel";
    finish(a);
    HudController::setHidden(false);
    EXPECT_EQ(window->calls.back(), "enter");
    EXPECT_EQ(window->frames.back().height(), HudView::height(2));
    store.cancelAll();
    HudController::setHidden(true);
    clock->advance(6);
    EXPECT_TRUE(store.jobs().empty()) << "finished jobs are cleared while hidden";
    HudController::setHidden(false);
}

TEST_F(HudControllerTest, AJobDuringTheDismissalBringsThePanelBackIn)
{
    const auto a = add("a.mov");
    store.cancel(a);
    store.clearFinished();
    EXPECT_EQ(window->calls.back(), "leave");
    add("b.mov");
    EXPECT_EQ(window->calls.back(), "enter");
    window->finishLeaving();
    EXPECT_EQ(window->calls.back(), "enter") << "the old fade's end leaves the panel up";
    EXPECT_TRUE(window->onScreen);
}

TEST(HudView, HeaderCountsTheRunningJobsAndNamesTheRest)
{
    std::vector<Job> jobs{job(Job::State::done("/tmp/a.png")), job(Job::State::failed("não deu"))};
    EXPECT_EQ(HudView::headerTitle(jobs), "Brivlon!");
    auto boxes = HudView::layout(jobs, {330, 200});
    EXPECT_TRUE(boxes.clear && !boxes.cancelAll);
    jobs.push_back(job(Job::State::running()));
    EXPECT_EQ(HudView::headerTitle(jobs), "Fazendo a mágica…");
    boxes = HudView::layout(jobs, {330, 200});
    EXPECT_TRUE(boxes.clear && !boxes.cancelAll);
    for (int i = 0; i < 4; ++i)
        jobs.push_back(job(Job::State::running(), 0.1));
    EXPECT_EQ(HudView::headerTitle(jobs), "Fazendo 5 mágicas…");
    EXPECT_EQ(HudView::overflow(jobs), "+2");
    boxes = HudView::layout(jobs, {330, 304});
    ASSERT_TRUE(boxes.cancelAll && boxes.clear);
    EXPECT_LT(boxes.cancelAll->right(), boxes.clear->left());
    EXPECT_LT(boxes.clear->right(), boxes.hide.left());
    // The newest five, oldest at the top; the bottom row ends 10 points above the panel's edge.
    ASSERT_EQ(boxes.rows.size(), 5u);
    EXPECT_EQ(boxes.rows.front().id, jobs[2].id);
    EXPECT_EQ(boxes.rows.back().frame.bottom(), 304 - 10);
    EXPECT_EQ(HudView::hit(boxes, boxes.rows[1].cancel->center()).target, HudView::Target::cancelRow);
    EXPECT_EQ(HudView::hit(boxes, boxes.rows[1].frame.center()).job, jobs[3].id);
    EXPECT_EQ(HudView::hit(boxes, boxes.hide.center()).target, HudView::Target::hide);
    EXPECT_FALSE(HudView::layout({jobs[0]}, {330, 96}).rows[0].cancel) << "a finished row has no cancel button";
    EXPECT_FALSE(HudView::overflow(std::vector<Job>(5, job(Job::State::running()))));
}

TEST(HudView, RowsSayWhatTheirJobIsDoing)
{
    using HudView::Row::Icon;
    struct Case {
        Job job;
        std::string subtitle;
        Icon icon;
    };
    const std::vector<Case> cases{
        {job(Job::State::done("/tmp/out/foto.jpg")), "Brivlon! foto.jpg · clique para ver", Icon::star},
        {job(Job::State::failed("O arquivo não pôde ser lido.")), "O arquivo não pôde ser lido.", Icon::failed},
        {job(Job::State::info("Copiado")), "Copiado", Icon::info},
        {job(Job::State::cancelled()), "Cancelado", Icon::cancelled},
        {job(Job::State::running(), std::nullopt, false), "Esperando a vez no palco…", Icon::clock},
        {job(Job::State::running()), "Fazendo a mágica…", Icon::spinner},
        {job(Job::State::running(), 0.999), "Fazendo a mágica… 99%", Icon::ring},
        {job(Job::State::running(), 0.0), "Fazendo a mágica… 0%", Icon::ring},
        // Progress without a place at the gate still shows the ring.
        {job(Job::State::running(), 0.42, false), "Fazendo a mágica… 42%", Icon::ring},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HudView::Row::subtitle(c.job), c.subtitle);
        EXPECT_EQ(HudView::Row::icon(c.job), c.icon) << c.subtitle;
        EXPECT_EQ(HudView::Row::tooltip(c.job), c.job.state.is(Job::State::Kind::failed) ? c.subtitle : "");
    }
    auto plain = job(Job::State::running());
    EXPECT_EQ(HudView::Row::title(plain), "foto.heic → JPG");
    plain.target.clear();
    EXPECT_EQ(HudView::Row::title(plain), "foto.heic");
}

TEST(HudView, TheRingFillsClockwiseFromTwelve)
{
    const auto colours = HudView::Colours::of(false, AppTheme::macos);
    auto ringAt = [&](double progress, HudView::Looks looks = {}) {
        const std::vector<Job> jobs{job(Job::State::running(), progress)};
        QImage image(330, 96, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        HudView::paint(painter, jobs, {330, 96}, colours, looks);
        painter.end();
        return std::pair{image, HudView::layout(jobs, {330, 96}).rows[0].icon.center()};
    };
    auto accentish = [&](QRgb pixel) {
        return std::abs(qRed(pixel) - colours.accent.red()) + std::abs(qGreen(pixel) - colours.accent.green())
            + std::abs(qBlue(pixel) - colours.accent.blue())
            < 60;
    };
    const auto [quarter, c] = ringAt(0.3);
    // 8.5 points out: the middle of the 3-point line of a 20-point ring.
    EXPECT_TRUE(accentish(quarter.pixel((c + QPointF(0, -8.5)).toPoint())));
    EXPECT_TRUE(accentish(quarter.pixel((c + QPointF(8.5, 0)).toPoint()))) << "a quarter turn clockwise";
    EXPECT_FALSE(accentish(quarter.pixel((c + QPointF(-8.5, 0)).toPoint())));
    const auto [empty, c0] = ringAt(0);
    EXPECT_FALSE(accentish(empty.pixel((c0 + QPointF(0, -8.5)).toPoint())));
    EXPECT_NE(empty.pixel((c0 + QPointF(0, -8.5)).toPoint()), qRgb(255, 255, 255)) << "the track shows";
    // On its way from nothing to 0.3 the ring has not reached three o'clock yet.
    HudView::Looks easing;
    easing.ringProgress = [](const Job&) {
        return 0.1;
    };
    const auto [moving, c1] = ringAt(0.3, easing);
    EXPECT_TRUE(accentish(moving.pixel((c1 + QPointF(3, -8)).toPoint())));
    EXPECT_FALSE(accentish(moving.pixel((c1 + QPointF(8.5, 0)).toPoint())));
    // A row just listed is not drawn yet; a quarter second later it is nearly in place.
    EXPECT_EQ(HudView::entry(0).opacity, 0);
    EXPECT_GT(HudView::entry(0.25).opacity, 0.95);
    EXPECT_LT(HudView::entry(0.25).offset, 1);
    EXPECT_EQ(HudView::entry(0.5).offset, 0);
}

TEST(SparkleBurst, StarsFlyOutTurnAndFadeWithinNineTenths)
{
    EXPECT_TRUE(SparkleBurst::frame(0).empty());
    EXPECT_EQ(SparkleBurst::frame(0.05).size(), 6u) << "the star with a 0.05 s delay has not started";
    const auto mid = SparkleBurst::frame(0.45);
    ASSERT_EQ(mid.size(), 11u);
    const auto& first = mid.front();
    EXPECT_NEAR(std::hypot(first.offset.x(), first.offset.y()), 27.375, 1e-9);
    EXPECT_LT(first.offset.y(), -26) << "-80 degrees points nearly straight up";
    EXPECT_NEAR(first.size, 7 * (1 - 0.7 * 0.25 / 0.75), 1e-9);
    EXPECT_NEAR(first.rotation, 78.75, 1e-9);
    EXPECT_EQ(first.opacity, 1);
    EXPECT_LT(SparkleBurst::frame(0.85).front().opacity, 0.3);
    EXPECT_TRUE(SparkleBurst::frame(0.9).empty());
    EXPECT_TRUE(SparkleBurst::frame(5).empty());
}

TEST(RenderView, TheProgressPanelWithTwoSampleJobs)
{
    TempDir dir;
    const auto out = dir / "hud.png";
    const auto run = runBrivlon({"--render-view", "hud", out.string()}, 30);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QImage image(QString::fromStdString(out.string()));
    EXPECT_EQ(image.size(), QSize(330, 160));
    // Two rows: each darker than the ground somewhere along its middle.
    const QRgb ground = image.pixel(2, 2);
    for (int y : {10 + 24 + 6 + 23, 10 + 24 + 6 + 46 + 6 + 23})
        EXPECT_NE(image.pixel(200, y), ground);
    EXPECT_EQ(image.pixel(200, 150), ground);
}
