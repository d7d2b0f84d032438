#include "core/base/commands.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/time_text.h"
#include "core/jobs/job_boundary.h"
#include "core/jobs/job_store.h"
#include "support/test_support.h"
#include "trim/fake_preview_player.h"
#include "trim/trim_session.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <unistd.h>

using namespace TestSupport;

namespace {

using Spans = std::vector<std::pair<double, double>>;

Spans spans(const TrimClip& clip)
{
    Spans list;
    for (const auto& range : clip.segments())
        list.emplace_back(range.start, range.end);
    return list;
}

std::vector<ClipRange> ranges(const Spans& list)
{
    std::vector<ClipRange> made;
    for (const auto& [start, end] : list)
        made.push_back({QUuid::createUuid(), start, end});
    return made;
}

// A loaded clip of `duration` seconds with the given ranges.
std::unique_ptr<TrimClip> clipWith(double duration, const Spans& list = {}, int active = 0)
{
    auto clip = std::make_unique<TrimClip>("/tmp/x.mp4", true);
    clip->applyProbe(duration, true);
    if (!list.empty())
        clip->setSegments(ranges(list), active);
    return clip;
}

void expectSpans(const TrimClip& clip, const Spans& expected)
{
    const auto actual = spans(clip);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].first, expected[i].first, 1e-9) << i;
        EXPECT_NEAR(actual[i].second, expected[i].second, 1e-9) << i;
    }
}

// Children of this process still running, by every thread; none are reaped here.
int children()
{
    int count = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        const auto text = readFile(task.path() / "children");
        count += int(std::count(text.begin(), text.end(), ' '));
    }
    return count;
}

fs::path makeClip(const fs::path& path, int seconds)
{
    const auto length = ":duration=" + std::to_string(seconds);
    Commands::run("/usr/bin/ffmpeg",
        {"-f", "lavfi", "-i", "testsrc2=rate=10:size=160x120" + length, "-f", "lavfi", "-i", "sine=440" + length,
            "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", path.string()});
    return path;
}

}

TEST(TrimClip, SettersClampToNeighboursAndMinimumLength)
{
    TrimClip fresh("/tmp/x.mp4", true);
    EXPECT_EQ(spans(fresh), (Spans{{0, 0}}));
    EXPECT_FALSE(fresh.isTrimmed());
    EXPECT_EQ(fresh.kept(), 0);
    // A clip that never loaded has nothing to start in: marking its start keeps 0, never less.
    fresh.setStart(1.5);
    EXPECT_EQ(spans(fresh), (Spans{{0, 0}}));

    auto clip = clipWith(10);
    EXPECT_FALSE(clip->isTrimmed());
    clip->setStart(0.005);
    EXPECT_FALSE(clip->isTrimmed());
    clip->setStart(0.02);
    EXPECT_TRUE(clip->isTrimmed());

    struct Case {
        Spans given;
        int active;
        bool start;
        double value;
        double expected;
    };
    for (const auto& c : std::vector<Case>{{{{0, 10}}, 0, true, 12, 9.95}, {{{0, 10}}, 0, false, -3, 0.05},
             {{{0, 10}}, 0, true, -1, 0}, {{{0, 10}}, 0, false, 99, 10}, {{{0, 4}, {6, 10}}, 1, true, 3, 4},
             {{{0, 4}, {6, 10}}, 0, false, 8, 6}, {{{2, 4}}, 0, false, 2.01, 2.05},
             // A split can leave a first piece shorter than the minimum: its start stays at 0.
             {{{0, 0.03}, {0.5, 10}}, 0, true, 0.02, 0}}) {
        auto edited = clipWith(10, c.given, c.active);
        c.start ? edited->setStart(c.value) : edited->setEnd(c.value);
        EXPECT_NEAR(c.start ? edited->start() : edited->end(), c.expected, 1e-9) << c.value;
    }
}

TEST(TrimClip, SplitAddRemoveMerge)
{
    struct Split {
        double at;
        bool done;
        Spans after;
    };
    for (const auto& c : std::vector<Split>{{5, true, {{0, 5}, {5.5, 10}}}, {9.97, false, {{0, 10}}},
             {9.9, true, {{0, 9.9}, {9.95, 10}}}, {9.94, true, {{0, 9.94}, {9.97, 10}}}, {0.04, false, {{0, 10}}}}) {
        auto clip = clipWith(10);
        EXPECT_EQ(clip->split(c.at), c.done) << c.at;
        expectSpans(*clip, c.after);
        EXPECT_EQ(clip->active(), c.done ? 1 : 0);
    }

    struct Add {
        Spans given;
        double at;
        bool done;
        Spans after;
        int active;
    };
    for (const auto& c : std::vector<Add>{{{{0, 1}, {8, 10}}, 2, true, {{0, 1}, {2, 5}, {8, 10}}, 1},
             {{{0, 1}, {8, 10}}, 7.95, true, {{0, 1}, {7.9, 8}, {8, 10}}, 1}, {{{0, 10}}, 5, false, {{0, 10}}, 0},
             {{{2, 4}, {5, 10}}, 9, true, {{1.9, 2}, {2, 4}, {5, 10}}, 0},
             {{{2, 4}, {5, 10}}, 3, true, {{2, 4}, {4, 5}, {5, 10}}, 1}, {{{0, 9.95}}, 9.96, false, {{0, 9.95}}, 0}}) {
        auto clip = clipWith(10, c.given);
        EXPECT_EQ(clip->addSegment(c.at), c.done) << c.at;
        expectSpans(*clip, c.after);
        EXPECT_EQ(clip->active(), c.active) << c.at;
    }

    auto clip = clipWith(10);
    clip->removeActive();
    EXPECT_EQ(spans(*clip), (Spans{{0, 10}}));
    clip = clipWith(10, {{0, 1}, {2, 3}, {4, 5}}, 2);
    clip->removeActive();
    EXPECT_EQ(spans(*clip), (Spans{{0, 1}, {2, 3}}));
    EXPECT_EQ(clip->active(), 1);
    clip->selectSegment(0.5);
    EXPECT_EQ(clip->active(), 0);
    clip->selectSegment(1.5);
    EXPECT_EQ(clip->active(), 0) << "a gap leaves the active range";
    const auto before = clip->segments().front().id;
    clip->setActive(1);
    clip->mergeToSingle();
    EXPECT_EQ(spans(*clip), (Spans{{0, 3}}));
    EXPECT_EQ(clip->active(), 0);
    EXPECT_NE(clip->segments().front().id, before);
}

TEST(TimeText, FormatsAndParses)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [seconds, text] : std::vector<std::pair<double, std::string>>{{0, "0:00.00"}, {0.004, "0:00.00"},
             {0.005, "0:00.01"}, {59.999, "1:00.00"}, {61.5, "1:01.50"}, {3599.994, "59:59.99"},
             {3599.995, "1:00:00.00"}, {3725.5, "1:02:05.50"}, {inf, "0:00.00"}, {std::nan(""), "0:00.00"}})
        EXPECT_EQ(TimeText::format(seconds), text) << seconds;
    EXPECT_FALSE(TimeText::format(1e300).empty());
    EXPECT_FALSE(TimeText::format(-5).empty());

    for (const auto& [text, seconds] : std::vector<std::pair<std::string, double>>{
             {" 1:02,5 ", 62.5}, {"90", 90}, {"1,5", 1.5}, {"1:00:00", 3600}, {"\t12.25", 12.25}})
        EXPECT_EQ(TimeParse::parse(text), seconds) << text;
    for (const auto* text : {"", "   ", "abc", "1:xx", "inf"})
        EXPECT_FALSE(TimeParse::parse(text)) << text;
}

class TrimSessionTest : public ::testing::Test {
public:
    // Waits for the clips' own loads to land, then gives them known lengths.
    void settle(TrimSession& session, const std::vector<double>& durations)
    {
        for (auto* clip : session.clips())
            ASSERT_TRUE(QTest::qWaitFor([clip] {
                return clip->loaded();
            }));
        for (size_t i = 0; i < durations.size(); ++i)
            session.clips()[i]->applyProbe(durations[i], true);
    }

    FakePlayer& player(TrimSession& session) { return dynamic_cast<FakePlayer&>(session.player()); }

    std::shared_ptr<FakePlayers> players = std::make_shared<FakePlayers>();
    Installed<PreviewPlayers> installed{players};
    int beeps = 0;
    std::function<void()> previousBeep = std::exchange(TrimSession::beep(), [this] {
        ++beeps;
    });
    ~TrimSessionTest() override { TrimSession::beep() = previousBeep; }
    TempDir folder;
};

TEST_F(TrimSessionTest, PlaysOnlyTheKeptRanges)
{
    TrimSession session({folder / "b.mp4", folder / "a.mp4"}, MediaKind::video);
    ASSERT_EQ(session.clips().size(), 2u);
    EXPECT_EQ(session.clips()[0]->url.filename(), "a.mp4");
    EXPECT_EQ(session.selected(), session.clips()[0]);
    auto& fake = player(session);
    EXPECT_EQ(fake.source, folder / "a.mp4");
    settle(session, {10, 10});
    auto* clip = session.selected();
    clip->setSegments(ranges({{0, 2}, {5, 7}}), 0);
    fake.completeSeeks();

    session.seek(-3);
    EXPECT_EQ(session.playhead(), 0);
    session.seek(99);
    EXPECT_EQ(session.playhead(), 10);
    session.seek(0);
    fake.completeSeeks();
    session.togglePlay();
    EXPECT_TRUE(session.isPlaying() && fake.playing);
    session.tick(1.5);
    EXPECT_EQ(session.playhead(), 1.5);
    session.tick(2.02);
    EXPECT_EQ(session.playhead(), 5) << "over the gap";
    EXPECT_EQ(session.pendingSeeks(), 1);
    session.tick(3.0);
    EXPECT_EQ(session.playhead(), 5) << "the tick waits while a seek is in flight";
    fake.completeSeeks();
    session.tick(6.5);
    EXPECT_TRUE(session.isPlaying());
    session.tick(7.03);
    EXPECT_FALSE(session.isPlaying() || fake.playing);
    EXPECT_EQ(session.playhead(), 7);
    fake.completeSeeks();
    session.togglePlay();
    EXPECT_EQ(session.playhead(), 0) << "play after the end starts over";

    // Within 0.05 s of a range's end play goes on to the next range.
    session.togglePlay();
    session.seek(1.96);
    session.togglePlay();
    EXPECT_EQ(session.playhead(), 5);

    // Choosing another clip pauses and loads it; the arrows stop at both ends.
    session.move(+1);
    EXPECT_EQ(session.selected(), session.clips()[1]);
    EXPECT_FALSE(session.isPlaying());
    EXPECT_EQ(fake.source, folder / "b.mp4");
    session.move(+1);
    EXPECT_EQ(session.selected(), session.clips()[1]);
    session.move(-5);
    EXPECT_EQ(session.selected(), session.clips()[0]);
}

TEST_F(TrimSessionTest, SplitsAddsAndCutsForAll)
{
    TrimSession session({folder / "a.mp4", folder / "b.mp4", folder / "c.mp4"}, MediaKind::video);
    settle(session, {10, 10, 0});
    auto& a = *session.clips()[0];
    auto& b = *session.clips()[1];
    b.setSegments(ranges({{1, 3}, {6, 9}}), 1);

    session.addSegmentAtPlayhead();
    EXPECT_EQ(beeps, 1) << "no free stretch";
    EXPECT_TRUE(session.advanced());
    session.seek(5);
    session.splitAtPlayhead();
    EXPECT_EQ(spans(a), (Spans{{0, 5}, {5.5, 10}}));
    EXPECT_EQ(session.playhead(), 5.5);

    session.headCut = 2;
    session.tailCut = 3;
    session.applyToAll();
    expectSpans(a, {{2, 5}, {5.5, 7}});
    expectSpans(b, {{2, 3}, {6, 7}});
    EXPECT_EQ(spans(*session.clips()[2]), (Spans{{0, 0}})) << "a clip without a length is left alone";
    session.resetAll();
    EXPECT_EQ(spans(a), (Spans{{0, 10}}));
    EXPECT_FALSE(session.advanced());
    EXPECT_EQ(session.playhead(), 0);

    session.headCut = 20;
    session.applyToAll();
    expectSpans(a, {{9.9, 10}});
    session.headCut = 0;
    session.tailCut = 0;
    b.setSegments(ranges({{1, 3}, {6, 9}}), 0);
    session.applyToAll();
    expectSpans(b, {{0, 3}, {6, 10}});
}

TEST_F(TrimSessionTest, ExportsEveryLoadedClipAsAJob)
{
    auto& store = JobStore::shared();
    store.setJobs({});
    const auto source = makeClip(folder / "a.mp4", 2);
    fs::copy_file(source, folder / "b.mp4");
    fs::copy_file(source, folder / "c.mp4");
    fs::create_directory(folder / "Aparados");
    fs::create_directory(folder / "Aparados 2");
    auto finished = [&store] {
        return std::none_of(store.jobs().begin(), store.jobs().end(), [](const Job& job) {
            return job.isRunning();
        });
    };
    {
        TrimSession session(
            {folder / "a.mp4", folder / "b.mp4", folder / "c.mp4", folder / "none.mp4"}, MediaKind::video);
        settle(session, {2, 2, 2, 0});
        session.clips()[1]->setSegments(ranges({{0, 0.5}, {1, 1.5}}), 0);
        session.exportClips();
        session.stop();
    }
    ASSERT_EQ(store.jobs().size(), 3u) << "the clip without a length is left out";
    for (const auto& job : store.jobs())
        EXPECT_EQ(job.target, "Aparar");
    ASSERT_TRUE(QTest::qWaitFor(finished, 60000));
    for (const auto& name : {"a.mp4", "b.mp4", "c.mp4"})
        EXPECT_TRUE(fs::exists(folder / "Aparados 3" / name)) << name;
    for (const auto& job : store.jobs())
        EXPECT_TRUE(job.state.is(Job::State::Kind::done)) << job.state.message;

    store.setJobs({});
    {
        TrimSession session({folder / "a.mp4"}, MediaKind::video);
        settle(session, {2});
        session.selected()->setStart(1);
        session.exportClips();
    }
    ASSERT_TRUE(QTest::qWaitFor(finished, 60000));
    ASSERT_EQ(store.jobs().size(), 1u);
    EXPECT_EQ(store.jobs().front().state.url, folder / "a (aparado).mp4");
    EXPECT_FALSE(fs::exists(folder / "Aparados 4"));

    // Cancelled from the job list while ffmpeg works: no child left, no file, however partial.
    store.setJobs({});
    const auto before = std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator());
    const auto longer = makeClip(folder / "long.mp4", 30);
    {
        TrimSession session({longer}, MediaKind::video);
        settle(session, {30});
        session.outputExt = "webm";
        session.exportClips();
    }
    ASSERT_EQ(store.jobs().size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([] {
        return children() > 0;
    }));
    store.cancel(store.jobs().front().id);
    EXPECT_TRUE(store.jobs().front().state.is(Job::State::Kind::cancelled));
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            return children() == 0;
        },
        5000));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), before + 1)
        << "only the source made for this";
}

TEST_F(TrimSessionTest, VideoThePlayerCannotShowGetsStillFrames)
{
    const auto first = makeClip(folder / "a.mp4", 4);
    fs::copy_file(first, folder / "b.mp4");
    players->playable = false;
    TrimSession session({first, folder / "b.mp4"}, MediaKind::video);
    auto& fake = player(session);
    ASSERT_TRUE(QTest::qWaitFor([&session] {
        return session.clips()[1]->loaded();
    }));
    EXPECT_TRUE(fake.hasSource()) << "the first clip went into the player before its load said otherwise";
    session.move(+1);
    EXPECT_FALSE(fake.hasSource());
    session.togglePlay();
    EXPECT_FALSE(session.isPlaying());
    // Only the last of quick seeks makes a frame.
    session.seek(1);
    session.seek(3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&session] {
            return !session.poster().isNull();
        },
        10000));
    EXPECT_EQ(session.poster().height(), 540);
    EXPECT_EQ(session.playhead(), 3);
}

TEST_F(TrimSessionTest, LoadingARealClip)
{
    const auto source = makeClip(folder / "clip.mp4", 10);
    TrimSession session({source}, MediaKind::video);
    auto* clip = session.selected();
    ASSERT_TRUE(QTest::qWaitFor(
        [clip] {
            return clip->loaded() && !clip->peaks().empty() && !clip->thumbs().empty();
        },
        30000));
    EXPECT_NEAR(clip->duration(), 10, 0.1);
    EXPECT_EQ(spans(*clip), (Spans{{0, clip->duration()}}));
    EXPECT_GE(clip->peaks().size(), 600u);
    EXPECT_LT(clip->peaks().size(), 1200u);
    ASSERT_EQ(clip->thumbs().size(), 10u);
    for (const auto& thumb : clip->thumbs())
        EXPECT_EQ(thumb.height(), 90);
    // The thumbnails are of different moments, in order.
    EXPECT_NE(clip->thumbs().front(), clip->thumbs().back());
}

TEST_F(TrimSessionTest, ALooksToolsReadTheClipAloneInsideAJobsBounds)
{
    if (!JobBoundary::filesFenced() || !JobBoundary::networkFilterInstalls())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp filter";
    // Stand-ins for the tools, which say what they may do: a clip beside the home, whose folder
    // holds a file a look at the clip, which opens the clip alone, may not read.
    const fs::path away = fs::path(std::getenv("HOME")) / ("clipes-" + std::to_string(::getpid()));
    fs::create_directories(away);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> removed(&away, [](const fs::path* path) {
        FileSafety::removeTree(*path);
    });
    TempDir resources;
    const auto report = folder / "relato.txt";
    writeFile(away / "segredo.txt", "ao lado");
    makeReportingTools(resources.path(), report, away / "segredo.txt");
    {
        Process::EnvironmentChange change;
        ::setenv("BRIVLON_RESOURCES", resources.path().c_str(), 1);
    }
    writeFile(away / "a.mp4", "lido só pelas ferramentas");
    std::promise<size_t> made;
    {
        TrimClip clip(away / "a.mp4", true);
        clip.load();
        TrimClip::makeThumbs(away / "a.mp4", 10, [&made](std::vector<QImage> thumbs) {
            made.set_value(thumbs.size());
        });
        EXPECT_EQ(made.get_future().get(), 0u);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return clip.complete();
        }));
    }
    {
        Process::EnvironmentChange change;
        ::unsetenv("BRIVLON_RESOURCES");
    }
    const auto lines = reportLines(report);
    // Ten thumbnails, the waveform's decode, the streams' list and the length's probe.
    EXPECT_EQ(lines.size(), 13u);
    for (const auto& line : lines)
        EXPECT_TRUE(line.ends_with(" NoNewPrivs:1 Seccomp:2 recusado")) << line;
}

// "Cancelar tudo" while two clips export into their common folder: the folder goes with the last
// of them, so the next export of the same clips takes the plain name again.
TEST_F(TrimSessionTest, ACancelledBatchLeavesNoEmptyFolder)
{
    auto& store = JobStore::shared();
    store.setJobs({});
    const auto first = makeClip(folder / "a.mp4", 30);
    fs::copy_file(first, folder / "b.mp4");
    auto exportBoth = [&] {
        TrimSession session({first, folder / "b.mp4"}, MediaKind::video);
        settle(session, {30, 30});
        session.outputExt = "webm";
        session.exportClips();
    };
    exportBoth();
    ASSERT_TRUE(fs::is_directory(folder / "Aparados"));
    ASSERT_TRUE(QTest::qWaitFor([] {
        return children() > 0;
    }));
    store.cancelAll();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !fs::exists(folder / "Aparados") && Task::awaitDetached(std::chrono::milliseconds(0));
        },
        10000))
        << "the empty folder stayed";

    store.setJobs({});
    exportBoth();
    EXPECT_TRUE(fs::is_directory(folder / "Aparados"));
    EXPECT_FALSE(fs::exists(folder / "Aparados 2"));
    store.cancelAll();
    EXPECT_TRUE(QTest::qWaitFor([] {
        return children() == 0 && Task::awaitDetached(std::chrono::milliseconds(0));
    }));
}
