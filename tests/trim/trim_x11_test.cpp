// The trim editor on a real X server with Qt Multimedia's player: the scripted scenarios of the
// command line, and a trim made with the pointer and the keyboard. Runs through support/with-x.

#include "core/base/commands.h"
#include "core/engines/ffmpeg.h"
#include "core/jobs/job_store.h"
#include "support/test_support.h"
#include "trim/timeline_bar.h"
#include "trim/trim_editor.h"
#include "trim/trim_session.h"

#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

using namespace TestSupport;

// The editor's widgets need the widgets' application.
const bool widgets = TestSupport::wantWidgets();

namespace {

const fs::path& clip()
{
    static TempDir clips;
    static const auto path = [] {
        auto made = clips / "clip.mp4";
        Commands::run("/usr/bin/ffmpeg",
            {"-f", "lavfi", "-i", "testsrc2=rate=25:size=640x360:duration=10", "-f", "lavfi", "-i",
                "sine=440:duration=10", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", made.string()});
        return made;
    }();
    return path;
}

// "início=… agulha antes=… depois de 1,5 s=… tocando=…" as its four values.
struct PlayReport {
    double start = -1, before = -1, after = -1;
    std::string playing;
};

PlayReport parse(const std::string& line)
{
    static const QRegularExpression pattern(
        "^início=([0-9.]+) agulha antes=([0-9.]+) depois de 1,5 s=([0-9.]+) tocando=(sim|não)\n$");
    const auto match = pattern.match(QString::fromStdString(line));
    if (!match.hasMatch())
        return {};
    return {match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble(),
        match.captured(4).toStdString()};
}

bool isYellow(QRgb pixel) { return qRed(pixel) == 255 && qGreen(pixel) == 204 && qBlue(pixel) == 0; }

// The bounding box of the fully yellow pixels: the active range's handles and outline.
QRect yellowBox(const QImage& image, int belowY = 0)
{
    QRect box;
    for (int y = belowY; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isYellow(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

}

TEST(TrimX11, PlayTestPrintsWhereThePlayheadWent)
{
    auto single = runBrivlon({"--play-test", "2", "x", clip().string()}, 60);
    ASSERT_EQ(single.exitCode, 0) << single.err;
    auto report = parse(single.out);
    EXPECT_EQ(report.start, 2.0) << single.out;
    EXPECT_EQ(report.before, 2.0);
    // The report comes once 1.5 s of the range have played; a late look adds a little.
    EXPECT_GT(report.after, 3.0);
    EXPECT_LT(report.after, 4.3);
    EXPECT_EQ(report.playing, "sim");

    // From 1.5 in the first of 1–2 and 3–5: over the gap, the second range active throughout.
    auto multi = runBrivlon({"--play-test", "1.5", "multi", clip().string()}, 60);
    ASSERT_EQ(multi.exitCode, 0) << multi.err;
    report = parse(multi.out);
    EXPECT_EQ(report.start, 3.0) << multi.out;
    EXPECT_EQ(report.before, 1.5);
    // 0.5 s of the first range, then 1 s of the second: past its start and still playing.
    EXPECT_GT(report.after, 3.0) << "it went over the gap";
    EXPECT_LT(report.after, 4.9);
    EXPECT_EQ(report.playing, "sim");

    // A clip that never loads has no length: the start marked at the playhead stays at 0.
    TempDir dir;
    writeFile(dir / "quebrado.mp4", std::string(4096, '\x5a'));
    auto missing = runBrivlon({"--play-test", "1", "x", (dir / "quebrado.mp4").string()}, 60);
    ASSERT_EQ(missing.exitCode, 0) << missing.err;
    EXPECT_EQ(missing.out.rfind("início=0.00 ", 0), 0u) << missing.out;

    auto none = runBrivlon({"--play-test", "abc", "x", "/tmp/nothing.pdf"}, 60);
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "sem sessão\n");
}

// A machine with no sound output (no sound server, as in CI): the clip still plays, its playhead
// on the clock, and stops at the end of the range.
TEST(TrimX11, AudioPlaysWithoutASoundDevice)
{
    TempDir dir;
    const auto voice = dir / "voz.wav";
    Commands::run("/usr/bin/ffmpeg", {"-f", "lavfi", "-i", "sine=330:duration=4", voice.string()});
    ASSERT_TRUE(fs::exists(voice));
    const std::vector<std::pair<std::string, std::string>> noDevice{{"PULSE_SERVER", (dir / "nada").string()}};
    auto run = runBrivlon({"--play-test", "1.5", "x", voice.string()}, 60, noDevice);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto report = parse(run.out);
    EXPECT_EQ(report.start, 1.5) << run.out;
    EXPECT_EQ(report.before, 1.5);
    EXPECT_GT(report.after, 2.8) << "the playhead stood still";
    EXPECT_LT(report.after, 3.8);
    EXPECT_EQ(report.playing, "sim");

    // From 3 s the range ends at 4 s, before the 1.5 s are over.
    run = runBrivlon({"--play-test", "3", "x", voice.string()}, 60, noDevice);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    report = parse(run.out);
    EXPECT_NEAR(report.after, 4.0, 0.05) << run.out;
    EXPECT_EQ(report.playing, "não");
}

TEST(TrimX11, RenderTrimShowsTheEditorWithAndWithoutDemoRanges)
{
    TempDir out;
    // Side by side: each pictures the editor once its clip has loaded.
    RunResult plain;
    std::thread first([&] {
        plain = runBrivlon({"--render-trim", (out / "plain.png").string(), clip().string()}, 60);
    });
    auto demo
        = runBrivlon({"--render-trim", (out / "demo.png").string(), clip().string()}, 60, {{"DEMO_SEGMENTS", "1"}});
    first.join();
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_EQ(demo.exitCode, 0) << demo.err;
    QImage before(QString::fromStdString((out / "plain.png").string()));
    QImage after(QString::fromStdString((out / "demo.png").string()));
    ASSERT_EQ(before.size(), QSize(980, 660));
    ASSERT_EQ(after.size(), QSize(980, 660));

    // Without ranges the handles stand at both ends of the strip; with them, at 42 % and 60 %.
    const auto whole = yellowBox(before);
    const double left = whole.left() + 7, width = whole.right() - 7 - left;
    ASSERT_GT(width, 500);
    const auto active = yellowBox(after);
    EXPECT_NEAR((active.left() + 7 - left) / width, 0.42, 0.01);
    EXPECT_NEAR((active.right() - 7 - left) / width, 0.60, 0.01);

    // Along the waveform the three ranges stay light and what lies between them is shaded.
    const int row = active.bottom() - 3;
    auto lightness = [&](double fraction) {
        return QColor(after.pixel(int(left + fraction * width), row)).lightness();
    };
    for (double kept : {0.2, 0.55, 0.85})
        EXPECT_GT(lightness(kept), 150) << kept;
    for (double dropped : {0.02, 0.36, 0.68, 0.975})
        EXPECT_LT(lightness(dropped), 130) << dropped;
}

TEST(TrimX11, AClickTheKeyOAndExportWriteTheFirstHalf)
{
    TempDir folder;
    const auto source = folder / "clip.mp4";
    fs::copy_file(clip(), source);
    ASSERT_TRUE(TrimEditor::open({source}));
    auto* window = TrimEditor::shared().window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    auto* session = TrimEditor::shared().session();
    auto* trimmed = session->selected();
    ASSERT_TRUE(QTest::qWaitFor(
        [trimmed] {
            return trimmed->loaded();
        },
        15000));
    QCoreApplication::processEvents();

    auto* bar = window->findChild<TimelineBar*>();
    const auto strip = Timeline::strip(bar->size());
    QTest::mouseClick(bar, Qt::LeftButton, {}, strip.center().toPoint());
    EXPECT_NEAR(session->playhead(), 5, 0.1);
    QTest::keyClick(window, Qt::Key_O);
    EXPECT_NEAR(trimmed->end(), 5, 0.1);
    QPushButton* exportButton = nullptr;
    for (auto* candidate : window->findChildren<QPushButton*>())
        if (candidate->text() == "Exportar")
            exportButton = candidate;
    ASSERT_NE(exportButton, nullptr);
    QTest::mouseClick(exportButton, Qt::LeftButton);
    EXPECT_EQ(TrimEditor::shared().session(), nullptr) << "exporting closes the editor";

    auto& store = JobStore::shared();
    ASSERT_EQ(store.jobs().size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor(
        [&store] {
            return !store.jobs().front().isRunning();
        },
        60000));
    const auto& job = store.jobs().front();
    ASSERT_TRUE(job.state.is(Job::State::Kind::done)) << job.state.message;
    EXPECT_EQ(job.state.url, folder / "clip (aparado).mp4");
    EXPECT_NEAR(FFmpeg::duration(*job.state.url).value_or(0), 5, 0.15);
}
