#include "core/base/commands.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/time_text.h"
#include "core/engines/tool_params.h"
#include "core/engines/trim_media.h"
#include "core/jobs/job_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstring>
#include <locale>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <tuple>

using namespace TestSupport;
using namespace TrimMedia::Detail;
using TrimMedia::Range;

namespace {

fs::path makeClip(const fs::path& path, int seconds, bool sound = true, const std::string& size = "160x120")
{
    const auto length = ":duration=" + std::to_string(seconds);
    std::vector<std::string> arguments = {"-f", "lavfi", "-i", "testsrc2=rate=10:size=" + size + length};
    if (sound)
        arguments.insert(arguments.end(), {"-f", "lavfi", "-i", "sine=440" + length, "-c:a", "aac"});
    arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-g", "10", path.string()});
    Commands::run("/usr/bin/ffmpeg", arguments);
    return path;
}

double lengthOf(const fs::path& path) { return FFmpeg::duration(path).value_or(-1); }

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const auto& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::string samples(const std::vector<int16_t>& values)
{
    std::string bytes;
    for (auto value : values) {
        bytes += char(uint16_t(value) & 0xff);
        bytes += char(uint16_t(value) >> 8);
    }
    return bytes;
}

// A locale that writes a decimal comma, for the C++ side and, where installed, for C's printf.
struct CommaLocale : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

}

TEST(TrimMediaArguments, RangesFormatsAndTheReferenceCommands)
{
    EXPECT_EQ(usable({{5, 8}, {1, 2}, {3, 3}, {4, 3.5}, {1, 1.5}}), (std::vector<Range>{{1, 2}, {1, 1.5}, {5, 8}}));
    EXPECT_EQ(usable({{1, 4}, {3, 6}}), (std::vector<Range>{{1, 4}, {3, 6}})) << "overlaps are kept as given";

    EXPECT_EQ(targetExt("/x/clip.mov", "", MediaKind::video), "mov");
    EXPECT_EQ(targetExt("/x/clip.MOV", "", MediaKind::video), "mov");
    EXPECT_EQ(targetExt("/x/clip.m2ts", "", MediaKind::video), "mp4");
    EXPECT_EQ(targetExt("/x/song.wma", "", MediaKind::audio), "m4a");
    EXPECT_EQ(targetExt("/x/clip.mov", "webm", MediaKind::video), "webm");

    EXPECT_EQ(shortest(12.5), "12.5");
    EXPECT_EQ(shortest(90), "90.0");
    EXPECT_EQ(shortest(0.1 + 0.2), "0.30000000000000004");

    const auto previousC = std::string(std::setlocale(LC_ALL, nullptr));
    const bool portuguese = std::setlocale(LC_ALL, "pt_BR.UTF-8") != nullptr;
    const auto previous = std::locale::global(std::locale(std::locale::classic(), new CommaLocale));
    EXPECT_EQ(joined(fastCut("/x/clip.mp4", {1.5, 4.25}, "/x/clip (aparado).mp4")),
        "-ss 1.500 -to 4.250 -protocol_whitelist file -format_whitelist " + FFmpeg::mediaFormats()
            + " -i /x/clip.mp4 -map 0 -map -0:d? -map_chapters -1 -c copy -avoid_negative_ts make_zero /x/clip "
              "(aparado).mp4");
    EXPECT_EQ(joinGraph({{1, 2.5}, {4, 6}}, true, true).text,
        "[0:v]trim=start=1.000:end=2.500,setpts=PTS-STARTPTS[v0];[0:a]atrim=start=1.000:end=2.500,asetpts=PTS-"
        "STARTPTS[a0];[0:v]trim=start=4.000:end=6.000,setpts=PTS-STARTPTS[v1];[0:a]atrim=start=4.000:end=6.000,"
        "asetpts=PTS-STARTPTS[a1];[v0][a0][v1][a1]concat=n=2:v=1:a=1[vc][ac];[vc]scale=trunc(iw/2)*2:trunc(ih/"
        "2)*2[vo]");
    std::locale::global(previous);
    std::setlocale(LC_ALL, previousC.c_str());
    if (!portuguese)
        std::printf("pt_BR.UTF-8 is not installed; the C locale part was not exercised\n");

    const auto audioOnly = joinGraph({{1, 2}, {3, 4}}, false, true);
    EXPECT_TRUE(audioOnly.text.ends_with("concat=n=2:v=0:a=1[ac]")) << audioOnly.text;
    EXPECT_EQ(audioOnly.text.find("[0:v]"), std::string::npos);
    EXPECT_EQ(audioOnly.maps, (std::vector<std::string>{"-map", "[ac]"}));
    const auto silent = joinGraph({{1, 2}, {3, 4}}, true, false);
    EXPECT_NE(silent.text.find("[v0][v1]concat=n=2:v=1:a=0[vc];"), std::string::npos) << silent.text;
    EXPECT_EQ(silent.text.find("[a"), std::string::npos);
    EXPECT_EQ(silent.maps, (std::vector<std::string>{"-map", "[vo]"}));

    // The graph scales; the codec list's own filter goes, and only that.
    const auto join = exactJoin("/x/a.mp4", {{0, 1}, {2, 3}}, true, true,
        {"-c:v", "libx264", "-vf", "scale=1:1", "-c:a", "aac", "-vf", "other"}, "/x/out.mp4");
    EXPECT_TRUE(
        joined(join).ends_with("-map [vo] -map [ac] -map_chapters -1 -c:v libx264 -c:a aac -vf other /x/out.mp4"));
}

// The list's commas separate ranges and mark decimals alike: a comma is a time's own wherever
// the rest still reads as a list, and nothing unreadable is dropped or read as 0.
TEST(TrimRangeLists, DecimalCommasBelongToTheirTimes)
{
    using List = std::vector<std::pair<double, double>>;
    for (const auto& [text, ranges] :
        std::vector<std::pair<std::string, List>>{{"0,5-1,5,3-4", {{0.5, 1.5}, {3, 4}}}, {"1:02,5-1:04", {{62.5, 64}}},
            {"0:01-0:02,7,4-6", {{1, 2.7}, {4, 6}}}, {"1-2,5-6", {{1, 2}, {5, 6}}}, {"1-2,5,6-7", {{1, 2.5}, {6, 7}}},
            {"1,5-2,5", {{1.5, 2.5}}}, {" 0:10 - 0:20 , 1:00:00-1:00:01,25", {{10, 20}, {3600, 3601.25}}},
            {"0.5-1.5,3-4", {{0.5, 1.5}, {3, 4}}}, {"4-2", {{4, 2}}}})
        EXPECT_EQ(TimeParse::ranges(text), ranges) << text;
    for (const char* text :
        {"", "5", "1-2,", ",1-2", "1-2,,3-4", "1-2-3", "a-b", "1-2,x", "0,5-1,5,3", "1,5,5-2", "1e-3-2"})
        EXPECT_FALSE(TimeParse::ranges(text)) << text;
}

TEST(TrimMediaPeaks, BlocksOfTheLoudestSampleScaledToTheLoudest)
{
    EXPECT_TRUE(reducePeaks("", 600).empty());
    EXPECT_TRUE(reducePeaks(samples({1000}), 600).empty());
    EXPECT_EQ(reducePeaks(samples({1000}) + "x", 600), std::vector<float>{1.0f}) << "an odd byte is no sample";

    std::vector<int16_t> thousand(1000, 0);
    thousand[10] = -32768;
    thousand[20] = 16384;
    auto peaks = reducePeaks(samples(thousand), 600);
    ASSERT_EQ(peaks.size(), 1000u);
    EXPECT_FLOAT_EQ(peaks[10], 1.0f);
    EXPECT_FLOAT_EQ(peaks[20], 0.5f);

    // 2000 samples in blocks of 3: the loudest of each block; the odd end makes a block of two.
    std::vector<int16_t> ramp(2000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = int16_t(i);
    peaks = reducePeaks(samples(ramp), 600);
    ASSERT_EQ(peaks.size(), 667u);
    EXPECT_FLOAT_EQ(peaks[0], 2.0f / 1999);
    EXPECT_FLOAT_EQ(peaks.back(), 1.0f);

    // Silence stays flat, and a whisper is not blown up to full height.
    for (float peak : reducePeaks(samples(std::vector<int16_t>(5000, 0)), 600))
        ASSERT_EQ(peak, 0.0f);
    EXPECT_NEAR(reducePeaks(samples(std::vector<int16_t>(700, 33)), 600).front(), 0.1, 0.001);
}

class TrimMediaRun : public ::testing::Test {
public:
    static const fs::path& clip()
    {
        static TempDir clips;
        static const auto path = makeClip(clips / "clip.mp4", 10);
        return path;
    }

    fs::path trim(const fs::path& source, const std::vector<Range>& ranges, const std::string& ext, bool fast,
        bool inFolder = false, const Progress& progress = {})
    {
        Task::Binder binder(Task::newJob(out.path()));
        return TrimMedia::exportRanges(source, ranges, ext, fast, MediaKind::video, inFolder, progress);
    }

    TempDir out, sources;
};

TEST_F(TrimMediaRun, FastAndExactCutsAndJoins)
{
    auto fast = trim(clip(), {{2, 6}}, "", true);
    EXPECT_EQ(fast, out / "clip (aparado).mp4");
    EXPECT_NEAR(lengthOf(fast), 4, 0.6) << "a copy starts at a keyframe";

    auto exact = trim(clip(), {{1.5, 4.25}}, "", false);
    EXPECT_EQ(exact, out / "clip (aparado) 2.mp4");
    EXPECT_NEAR(lengthOf(exact), 2.75, 0.15);
    EXPECT_TRUE(TrimMedia::hasStream(exact, "v") && TrimMedia::hasStream(exact, "a"));

    // Three parts cut by copy, reported within the first 0.9, then joined.
    std::vector<double> reports;
    auto joined = trim(clip(), {{7, 8}, {1, 3}, {4, 5}}, "", true, true, [&](double p) {
        reports.push_back(p);
    });
    EXPECT_EQ(joined, out / "clip.mp4");
    // The parts' folder may hold a quote, which the join list escapes.
    const auto quoted = sources / "it's";
    fs::create_directory(quoted);
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    setenv("TMPDIR", quoted.c_str(), 1);
    EXPECT_NO_THROW(trim(clip(), {{1, 2}, {4, 5}}, "", true, true));
    previous ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_TRUE(fs::exists(out / "clip 2.mp4"));
    EXPECT_NEAR(lengthOf(joined), 4, 1.0);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), 1.0);
    EXPECT_LE(*std::max_element(reports.begin(), reports.end() - 1), 0.9);

    // A different format always re-encodes; two ranges to MP3 keep only the sound.
    auto mp3 = trim(clip(), {{5, 8}, {0, 2}}, "mp3", true);
    EXPECT_EQ(mp3, out / "clip (aparado).mp3");
    EXPECT_NEAR(lengthOf(mp3), 5, 0.15);
    EXPECT_FALSE(TrimMedia::hasStream(mp3, "v"));
    // The encoder's own sound filter (Vorbis and Opus take only some rates and layouts) ends the join.
    for (const auto* ext : {"ogg", "opus"})
        EXPECT_NEAR(lengthOf(trim(clip(), {{0, 1}, {2, 3}}, ext, false)), 2, 0.15) << ext;
    auto mkv = trim(clip(), {{0, 1}, {2, 3}}, "mkv", false);
    EXPECT_NEAR(lengthOf(mkv), 2, 0.15);
    EXPECT_TRUE(TrimMedia::hasStream(mkv, "v"));
    // Without sound the join keeps the picture alone.
    auto silent = trim(makeClip(sources / "mute.mp4", 4, false), {{0, 1}, {2, 3.5}}, "", false);
    EXPECT_NEAR(lengthOf(silent), 2.5, 0.15);
    EXPECT_TRUE(TrimMedia::hasStream(silent, "v") && !TrimMedia::hasStream(silent, "a"));
}

TEST_F(TrimMediaRun, FailuresLeaveNothing)
{
    auto mute = makeClip(sources / "mute.mp4", 3, false);
    EXPECT_STREQ(
        thrown(&TrimMediaRun::trim, this, mute, std::vector<Range>{{0, 1}, {2, 3}}, "mp3", false, false, Progress{})
            .what(),
        "Não foi possível ler o arquivo.");
    try {
        trim(clip(), {{3, 3}, {5, 2}}, "", true);
        ADD_FAILURE() << "nothing selected went through";
    } catch (const ToolError& error) {
        EXPECT_STREQ(error.what(), "Nenhum trecho selecionado.");
    }
    EXPECT_TRUE(fs::is_empty(out.path()));

    // Cancelled at its first progress report: the child is gone and so is the partial file.
    auto context = Task::newJob(out.path());
    Task::Binder binder(context);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_THROW(TrimMedia::exportRanges(clip(), {{0, 10}}, "webm", false, MediaKind::video, false,
                     [&](double) {
                         context.cancel->cancel();
                     }),
        CancellationError);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is left";
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

TEST_F(TrimMediaRun, SameNamesExportedTogetherIntoOneFolderKeepBoth)
{
    fs::create_directories(sources / "a");
    fs::create_directories(sources / "b");
    fs::copy_file(clip(), sources / "a/clip.mp4");
    fs::copy_file(clip(), sources / "b/clip.mp4");
    std::vector<fs::path> outputs(2);
    std::vector<std::thread> runs;
    for (size_t i = 0; i < outputs.size(); ++i)
        runs.emplace_back([&, i] {
            EXPECT_NO_THROW(outputs[i] = trim(sources / (i ? "b/clip.mp4" : "a/clip.mp4"), {{0, 4}}, "", false, true));
        });
    for (auto& run : runs)
        run.join();
    EXPECT_EQ(
        std::set<fs::path>(outputs.begin(), outputs.end()), (std::set<fs::path>{out / "clip.mp4", out / "clip 2.mp4"}));
}

TEST_F(TrimMediaRun, PeaksFramesAndStreams)
{
    auto peaks = TrimMedia::peaks(clip(), 600);
    EXPECT_GE(peaks.size(), 600u);
    EXPECT_LT(peaks.size(), 1200u);
    EXPECT_FLOAT_EQ(*std::max_element(peaks.begin(), peaks.end()), 1.0f);
    EXPECT_TRUE(TrimMedia::peaks(sources / "missing.mp4", 600).empty());

    auto frame = TrimMedia::frame(clip(), 4.5, 90);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), QSize(120, 90));
    EXPECT_FALSE(TrimMedia::frame(clip(), 60, 90)) << "no frame past the end";

    auto mute = makeClip(sources / "mute.mp4", 1, false);
    EXPECT_FALSE(TrimMedia::hasStream(mute, "a"));
    EXPECT_TRUE(TrimMedia::hasStream(mute, "v"));
    EXPECT_FALSE(TrimMedia::hasStream(sources / "missing.mp4", "v"));
}

// The editor's looks of a Matroska file of 500 small video streams beside its sound, each within
// the share of a job's budget a look has: the first picture and sound are probed, heard and drawn.
TEST_F(TrimMediaRun, AFileOfManyStreamsIsLookedAtThroughItsFirstStreams)
{
    const auto one = makeClip(sources / "um.mkv", 1);
    std::vector<std::string> copies = {"-i", one.string()};
    for (int i = 0; i < 500; ++i)
        copies.insert(copies.end(), {"-map", "0:v"});
    copies.insert(copies.end(), {"-map", "0:a", "-c", "copy", (sources / "muitos.mkv").string()});
    Commands::run("/usr/bin/ffmpeg", copies);
    const auto many = sources / "muitos.mkv";

    auto context = Task::current();
    context.bounds = JobProcess::reading(many, 200ull << 20);
    Task::Binder binder(std::move(context));
    const auto taken = TrimMedia::streamsTaken(many);
    EXPECT_FALSE(taken.empty());
    EXPECT_NEAR(TrimMedia::length(many, taken).value_or(0), 1, 0.1);
    EXPECT_FALSE(TrimMedia::peaks(many, 100, taken).empty());
    const auto frame = TrimMedia::frame(many, 0.5, 90, taken);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), QSize(120, 90));
    // A file of a few streams is taken whole, as it always was.
    EXPECT_TRUE(TrimMedia::streamsTaken(one).empty());
}

TEST_F(TrimMediaRun, CommandLine)
{
    const auto source = sources / "a.mp4";
    fs::copy_file(clip(), source);
    auto run = runBrivlon({"--trim", "1,5", "3", "keep", "fast", source.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, (sources / "a (aparado).mp4").string() + "\n");

    // List mode: a comma before a time's decimals is the time's; clock times read as minutes and
    // seconds.
    run = runBrivlon({"--trim", "0:01-0:02,7,4-6", "-", "mp3", "x", source.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "a (aparado).mp3"), 3.7, 0.15);
    run = runBrivlon({"--trim", "0,5-1,5,3-4", "-", "wav", "x", source.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "a (aparado).wav"), 2, 0.05);
    run = runBrivlon({"--trim", "0:02,5-0:04", "-", "keep", "x", source.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "a (aparado) 2.mp4"), 1.5, 0.15);

    // What cannot be read is refused, never read as 0 or dropped: "10-12" is no time, "2-x" no
    // range.
    const auto before = std::distance(fs::directory_iterator(sources.path()), fs::directory_iterator());
    run = runBrivlon({"--trim", "5", "10-12", "keep", "x", source.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        run.err, "erro: Não foi possível ler o tempo \"10-12\". Use segundos (12,5) ou minutos e segundos (1:02,5).\n");
    run = runBrivlon({"--trim", "0-1,2-x", "-", "keep", "x", source.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.starts_with("erro: Não foi possível ler os trechos \"0-1,2-x\".")) << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(sources.path()), fs::directory_iterator()), before);
}

// A video held upright keeps the way it is shown whether copied, re-encoded or joined; a LAME
// MP3 trims like any sound. A range past the end stops at the end, and one that starts there
// keeps nothing.
TEST_F(TrimMediaRun, PhoneVideosLameMP3sAndRangesPastTheEnd)
{
    const auto phone = sources / "retrato.mp4";
    ASSERT_TRUE(makePhoneVideo(phone));
    const auto shown = shownFrame(phone);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"0", "0,5", "keep", "fast"}, {"0", "0,5", "webm", "x"}, {"0-0.4,0.5-0.9", "-", "mkv", "x"}}) {
        auto command = arguments;
        command.insert(command.begin(), "--trim");
        command.push_back(phone.string());
        const auto run = runBrivlon(command);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(samePicture(shownFrame(run.out.substr(0, run.out.find('\n'))), shown)) << run.out;
    }

    ASSERT_TRUE(makeLameMP3(sources / "lame.mp3", 3));
    auto run = runBrivlon({"--trim", "0,5", "1,5", "keep", "x", (sources / "lame.mp3").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "lame (aparado).mp3"), 1, 0.1);
    run = runBrivlon({"--trim", "0-1,2-2.5", "-", "wav", "x", (sources / "lame.mp3").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "lame (aparado).wav"), 1.5, 0.05);

    const auto clip = makeClip(sources / "a.mp4", 3);
    const auto before = std::distance(fs::directory_iterator(sources.path()), fs::directory_iterator());
    for (const auto& [start, end, ext, fast] :
        std::vector<std::tuple<std::string, std::string, std::string, std::string>>{{"50", "200", "keep", "x"},
            {"50", "200", "keep", "fast"}, {"4", "9", "mp3", "x"}, {"50-60,70-80", "-", "keep", "x"},
            {"50-60,70-80", "-", "keep", "fast"}}) {
        run = runBrivlon({"--trim", start, end, ext, fast, clip.string()});
        EXPECT_EQ(run.exitCode, 1) << start << " " << end << " " << ext << " " << fast;
        EXPECT_EQ(run.err, "erro: Nenhum trecho selecionado.\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(sources.path()), fs::directory_iterator()), before);
    // A recording whose header states no length: ranges stop where its fragments do.
    const auto recording = sources / "gravação.mp4";
    ASSERT_TRUE(makeRecording(recording));
    // A copy starts at the key frame before the range: 0.5 s, two a second.
    for (const auto& [list, fast, kept] : std::vector<std::tuple<std::string, std::string, double>>{
             {"1-10", "x", 1}, {"0-0,5,1,5-9", "x", 1}, {"1-10", "fast", 1.5}}) {
        run = runBrivlon({"--trim", list, "-", "keep", fast, recording.string()});
        ASSERT_EQ(run.exitCode, 0) << list << " " << fast << ": " << run.err;
        EXPECT_NEAR(lengthOf(run.out.substr(0, run.out.find('\n'))), kept, 0.15) << list << " " << fast;
    }
    run = runBrivlon({"--trim", "2", "200", "keep", "x", clip.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(lengthOf(sources / "a (aparado).mp4"), 1, 0.15);
    for (const auto& [ext, fast] : {std::pair{"mkv", "x"}, {"keep", "fast"}}) {
        run = runBrivlon({"--trim", "0-1,2-9,50-60", "-", ext, fast, clip.string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NEAR(lengthOf(run.out.substr(0, run.out.find('\n'))), 2, 0.3) << fast;
    }
}

// A trim to GIF takes its palette from what it keeps, in a run of its own as a conversion does:
// made in the frames' run, it would hold every kept frame in memory until the last. Four times
// the range takes about the same; several ranges make the same frames (rate and size) as one.
TEST_F(TrimMediaRun, AGifOfALongRangeTakesAboutWhatAShortOneDoes)
{
    const auto film = sources / "filme longo.mp4";
    ASSERT_TRUE(makeMedia(film, "testsrc2=size=320x180:rate=25:duration=90",
        {"-f", "lavfi", "-i", "sine=440:duration=90", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}));
    const auto brief = measureBrivlon({"--trim", "0", "20", "gif", "x", film.string()});
    ASSERT_EQ(brief.exitCode, 0);
    const auto whole = measureBrivlon({"--trim", "5", "85", "gif", "x", film.string()});
    ASSERT_EQ(whole.exitCode, 0);
    EXPECT_LT(whole.peakMiB, brief.peakMiB + 60) << brief.peakMiB;
    EXPECT_NEAR(lengthOf(sources / "filme longo (aparado) 2.gif"), 80, 0.3);

    const auto frames = [](const std::string& printed) {
        const auto gif = printed.substr(0, printed.find('\n'));
        return runProgram("/usr/bin/ffprobe",
            {"-v", "error", "-count_frames", "-show_entries", "stream=width,height,nb_read_frames", "-of", "csv=p=0",
                gif})
            .out;
    };
    const auto one = runBrivlon({"--trim", "1", "3", "gif", "x", film.string()});
    const auto two = runBrivlon({"--trim", "1-2,4-5", "-", "gif", "x", film.string()});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(two.exitCode, 0) << two.err;
    EXPECT_EQ(frames(two.out), frames(one.out));
    EXPECT_FALSE(frames(one.out).empty());
}
