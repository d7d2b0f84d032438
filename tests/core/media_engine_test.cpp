#include "core/base/commands.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/media_engine.h"
#include "core/engines/media_tools.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <tuple>

using namespace TestSupport;
using enum QualityLevel;

namespace {

// Fixtures come from ffmpeg's own test sources, a few frames a second so that they stay quick.
fs::path make(const fs::path& path, std::vector<std::string> sources)
{
    sources.push_back(path.string());
    return Commands::run("/usr/bin/ffmpeg", sources), path;
}

fs::path makeClip(const fs::path& path, const std::string& size, int seconds, const std::string& sound = "sine=440")
{
    const auto length = ":duration=" + std::to_string(seconds);
    return make(path,
        {"-f", "lavfi", "-i", "testsrc2=rate=10:size=" + size + length, "-f", "lavfi", "-i", sound + length, "-c:v",
            "mpeg4", "-c:a", "pcm_s16le"});
}

// The first stream of each type as ffprobe reports it, plus the container's "format".
std::map<std::string, QJsonObject> probe(const fs::path& path)
{
    auto out = Commands::run(
        "/usr/bin/ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", path.string()});
    auto json = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    std::map<std::string, QJsonObject> found = {{"format", json["format"].toObject()}};
    for (const auto& value : json["streams"].toArray())
        found.emplace(value.toObject()["codec_type"].toString().toStdString(), value.toObject());
    return found;
}

// "video codec/audio codec", a side empty where the stream is missing.
std::string codecs(const fs::path& path)
{
    auto streams = probe(path);
    return (streams["video"]["codec_name"].toString() + "/" + streams["audio"]["codec_name"].toString()).toStdString();
}

}

TEST(FFmpegProgress, FractionOfTheDurationFromRecordsCutAnywhere)
{
    // Records cut anywhere, other keys between them; a record not yet ended reports nothing.
    const std::vector<std::tuple<std::optional<double>, std::vector<std::string>, std::vector<double>>> cases
        = {{60, {"out_time_us=-23220\nout_time_us=90000000\nout_time_us=N/A\nout_time_ms=30000000\n"}, {0.0, 1.0}},
            {60, {"frame=1\nout_time_us=6000000\n\nout_time_us=1", "2000000\nout_", "time_us=18000000\nout_time_us=3"},
                {0.1, 0.2, 0.3}},
            {std::nullopt, {"out_time_us=30000000\n"}, {}}, {0, {"out_time_us=30000000\n"}, {}}};
    for (const auto& [duration, chunks, expected] : cases) {
        std::vector<double> reports;
        FFmpeg::ProgressParser parser(duration, [&](double fraction) {
            reports.push_back(fraction);
        });
        for (const auto& chunk : chunks)
            parser.feed(chunk);
        EXPECT_EQ(reports, expected) << chunks.front();
    }
}

// The length ffmpeg reads comes on standard error, which may be read after every record of a
// short run: the last record still reports once it comes, and later records as usual.
TEST(FFmpegProgress, ALengthOfferedAfterTheRecords)
{
    std::vector<double> reports;
    FFmpeg::ProgressParser parser(std::nullopt, [&](double fraction) {
        reports.push_back(fraction);
    });
    parser.feed("out_time_us=500000\nout_time_us=1000000\nprogress=end\n");
    parser.offer(2);
    parser.offer(4);
    parser.feed("out_time_us=1500000\n");
    EXPECT_EQ(reports, (std::vector<double>{0.5, 0.75}));
}

// A duration found while ffmpeg already runs: records before it is known report nothing, later
// ones report against it, and a probe that found none keeps progress silent.
TEST(FFmpegProgress, ADurationThatComesLater)
{
    for (const std::optional<double> found : {std::optional<double>(60), std::optional<double>()}) {
        std::promise<std::optional<double>> probe;
        std::vector<double> reports;
        FFmpeg::ProgressParser parser(probe.get_future().share(), [&](double fraction) {
            reports.push_back(fraction);
        });
        parser.feed("out_time_us=6000000\n");
        probe.set_value(found);
        parser.feed("out_time_us=12000000\nout_time_us=30000000\n");
        const std::vector<double> expected = found ? std::vector<double>{0.2, 0.5} : std::vector<double>();
        EXPECT_EQ(reports, expected);
    }
    // A run over before its duration is found still reports its last record.
    std::promise<std::optional<double>> probe;
    std::vector<double> reports;
    FFmpeg::ProgressParser parser(probe.get_future().share(), [&](double fraction) {
        reports.push_back(fraction);
    });
    parser.feed("out_time_us=15000000\nout_time_us=30000000\n");
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        probe.set_value(60);
    });
    parser.feed("progress=end\n");
    late.join();
    EXPECT_EQ(reports, std::vector<double>{0.5});
}

// A record whose frames, output time or bytes went on says the work goes on, with or without a
// duration to measure it against; one that repeats the last, or says nothing yet, does not.
TEST(FFmpegProgress, RecordsThatGoOnBeatThePulse)
{
    struct Count : WorkPulse {
        void beat() override { ++beats; }
        int beats = 0;
    };
    const auto count = std::make_shared<Count>();
    Installed<WorkPulse> installed(count);
    const std::vector<std::pair<std::string, int>> cases = {
        {"frame=0\ntotal_size=N/A\nout_time_us=N/A\nprogress=continue\n", 0},
        {"frame=3\ntotal_size=N/A\nout_time_us=N/A\nprogress=continue\n", 1},
        {"frame=3\ntotal_size=N/A\nout_time_us=N/A\nprogress=continue\n", 0},
        {"frame=3\ntotal_size=4096\nout_time_us=N/A\nprogress=continue\n", 1},
        {"frame=3\ntotal_size=4096\nout_time_us=200000\nprogress=continue\nframe=9\ntotal_size=4096\nout_ti", 1},
        {"me_us=200000\nprogress=end\n", 1},
    };
    FFmpeg::ProgressParser parser(std::nullopt, {});
    for (const auto& [chunk, beats] : cases) {
        count->beats = 0;
        parser.feed(chunk);
        EXPECT_EQ(count->beats, beats) << chunk;
    }
}

class MediaEngineRun : public ::testing::Test {
public:
    // ctest runs every case in its own process, so each clip is made on first use only.
    static fs::path clip(const std::string& size)
    {
        static TempDir clips;
        auto path = clips / (size + ".mov");
        return fs::exists(path) ? path : makeClip(path, size, 1);
    }

    fs::path convert(const fs::path& source, const std::string& ext, std::optional<QualityLevel> level = {},
        const Progress& progress = {})
    {
        Task::Binder binder(Task::newJob(out.path(), level));
        return MediaEngine::convert(source, {ext, ext, false}, progress);
    }

    TempDir out, sources;
};

TEST_F(MediaEngineRun, EveryFormatHoldsItsStreamsAtItsSize)
{
    for (const auto& [ext, expected] :
        std::map<std::string, std::string>{{"mp4", "h264/aac"}, {"mov", "h264/aac"}, {"mkv", "h264/aac"},
            {"webm", "vp9/opus"}, {"avi", "mpeg4/pcm_s16le"}, {"gif", "gif/"}, {"mp3", "/mp3"}, {"m4a", "/aac"},
            {"ogg", "/vorbis"}, {"opus", "/opus"}, {"wav", "/pcm_s16le"}, {"flac", "/flac"}, {"aiff", "/pcm_s16be"}}) {
        auto output = convert(clip("320x240"), ext, web);
        EXPECT_EQ(output, out / ("320x240." + ext));
        EXPECT_EQ(codecs(output), expected) << ext;
    }
    // Ready for streaming: the index comes before the media, although ffmpeg wrote an unnamed file.
    auto mp4 = readFile(out / "320x240.mp4");
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));
    // Relative paths reach ffmpeg whole; it would read "take:2.mov" as the protocol "take".
    fs::copy_file(clip("320x240"), out / "take:2.mov");
    const auto previous = fs::current_path();
    fs::current_path(out.path());
    EXPECT_EQ(codecs(convert("take:2.mov", "wav")), "/pcm_s16le");
    fs::current_path(previous);

    // Short-side caps keep both sides even and never enlarge.
    const std::vector<std::tuple<std::string, std::string, QualityLevel, int, int>> sizes = {
        {"1280x960", "mp4", light, 960, 720}, {"736x1280", "webm", light, 720, 1252},
        {"736x1280", "mov", high, 736, 1280}, {"321x241", "avi", max, 320, 240}, {"1280x960", "gif", light, 360, 270}};
    for (const auto& [name, ext, level, width, height] : sizes) {
        auto video = probe(convert(clip(name), ext, level))["video"];
        EXPECT_EQ(std::pair(video["width"].toInt(), video["height"].toInt()), std::pair(width, height)) << ext;
    }
}

// A phone held upright stores landscape pixels and the turn to portrait beside them (a display
// matrix, which ffprobe lists as side data of the stream). Every video output shows the picture
// the same way up, whether its pixels were turned or it carries the same turn.
TEST_F(MediaEngineRun, PhoneVideosInPortraitKeepTheirOrientation)
{
    for (const auto* name : {"retrato.mp4", "retrato.mov"}) {
        const auto phone = sources / name;
        ASSERT_TRUE(makePhoneVideo(phone));
        const auto shown = shownFrame(phone);
        ASSERT_EQ(shown.size(), 64u);
        for (const auto* ext : {"mp4", "mov", "mkv", "webm", "avi", "gif"}) {
            SCOPED_TRACE(std::string(name) + " → " + ext);
            fs::path output;
            ASSERT_NO_THROW(output = convert(phone, ext, light));
            EXPECT_TRUE(samePicture(shownFrame(output), shown));
            EXPECT_NEAR(FFmpeg::probe(output).videoDuration.value_or(FFmpeg::duration(output).value_or(0)), 1, 0.15);
        }
    }
}

// Sound whose tags ffprobe reports as side data of its stream (a ReplayGain): a LAME MP3's own
// tag, a FLAC's comments beside an application block, an Ogg's comments so long that its setup
// headers take several pages, a WavPack's APE tag, which an MP3 made from it carries on.
TEST_F(MediaEngineRun, SoundWithReplayGainConverts)
{
    ASSERT_TRUE(makeLameMP3(sources / "lame.mp3"));
    const auto flac = make(sources / "faixa.flac", {"-f", "lavfi", "-i", "sine=duration=1", "-ac", "2"});
    ASSERT_EQ(runProgram("/usr/bin/metaflac", {"--add-replay-gain", flac.string()}).exitCode, 0);
    // An application block (a tagger's own) right after the stream's description.
    auto bytes = readFile(flac);
    const std::string application = std::string("\x02\x00\x00\x08", 4) + "riffdata";
    bytes.insert(8 + 34, application);
    fs::remove(flac);
    writeFile(flac, bytes);
    writeFile(sources / "tags.txt",
        ";FFMETADATA1\nREPLAYGAIN_TRACK_GAIN=-6.20 dB\nLYRICS=" + std::string(150000, 'a') + "\n");
    const auto ogg = make(sources / "longa.ogg",
        {"-f", "lavfi", "-i", "sine=duration=1", "-i", (sources / "tags.txt").string(), "-map_metadata", "1", "-c:a",
            "libvorbis"});
    const auto wavpack = make(sources / "faixa.wv",
        {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "wavpack", "-metadata", "REPLAYGAIN_TRACK_GAIN=-3.10 dB"});
    const std::vector<std::pair<fs::path, std::string>> cases = {{sources / "lame.mp3", "wav"},
        {sources / "lame.mp3", "m4a"}, {flac, "wav"}, {flac, "mp3"}, {ogg, "m4a"}, {wavpack, "mp3"}};
    for (const auto& [source, ext] : cases) {
        SCOPED_TRACE(source.filename().string() + " → " + ext);
        EXPECT_TRUE(FFmpeg::probe(source).audio);
        fs::path output;
        ASSERT_NO_THROW(output = convert(source, ext, high));
        EXPECT_NEAR(probe(output)["format"]["duration"].toString().toDouble(), 1, 0.1);
    }
}

TEST_F(MediaEngineRun, AudioTheEncodersCannotTakeAsItIsStillConverts)
{
    // A book with a chapter track beside its sound, and sound outside what Vorbis and Opus take.
    writeFile(sources / "chapters.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=Um\n");
    auto book = make(sources / "book.m4b",
        {"-f", "lavfi", "-i", "sine=duration=2", "-i", (sources / "chapters.txt").string(), "-map_chapters", "1",
            "-c:a", "aac"});
    auto narrow = make(sources / "phone.wav", {"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=1", "-ac", "1"});
    auto quad = make(sources / "quad.flac", {"-f", "lavfi", "-i", "anullsrc=channel_layout=4.0:duration=1"});
    auto quadClip = makeClip(sources / "quad.mov", "320x240", 1, "anullsrc=channel_layout=4.0");
    const std::vector<std::tuple<fs::path, std::string, QualityLevel>> cases
        = {{book, "mp3", high}, {book, "m4a", high}, {narrow, "ogg", max}, {narrow, "opus", max}, {quad, "opus", light},
            {quad, "ogg", light}, {quadClip, "webm", light}};
    for (const auto& [source, ext, level] : cases) {
        SCOPED_TRACE(source.filename().string() + " → " + ext);
        auto streams = probe(convert(source, ext, level));
        EXPECT_TRUE(streams.count("audio"));
        EXPECT_NEAR(streams["format"]["duration"].toString().toDouble(), source == book ? 2 : 1, 0.1);
    }
}

TEST_F(MediaEngineRun, ProgressArrivesInOrderOnTheCallingThread)
{
    std::vector<double> reports;
    convert(clip("1280x960"), "mp4", light, [&, caller = std::this_thread::get_id()](double fraction) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        reports.push_back(fraction);
    });
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GT(reports.empty() ? 0 : reports.back(), 0.8);
}

TEST_F(MediaEngineRun, FailuresLeaveNothing)
{
    writeFile(sources / "broken.mov", std::string(4096, '\x17'));
    auto silent = make(sources / "silent.mov", {"-f", "lavfi", "-i", "testsrc2=rate=10:duration=1", "-c:v", "mpeg4"});
    const std::vector<std::tuple<fs::path, std::string, std::string>> cases
        = {{sources / "broken.mov", "mp4", "O arquivo está danificado ou incompleto."},  // the cause ffmpeg named
            {silent, "mp3", "O arquivo não tem áudio."}, {clip("320x240"), "png", "Conversão não suportada."}};
    for (const auto& [source, ext, message] : cases) {
        const std::string what = thrown(&MediaEngineRun::convert, this, source, ext, std::nullopt, Progress{}).what();
        EXPECT_TRUE(what.find(message) != std::string::npos && what.find('\n') == std::string::npos) << what;
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
}

// ffmpeg's closing report stands in for a probe of what it wrote only when it shows the output
// whole; anything short or doubtful is probed, and fails as it always did.
TEST_F(MediaEngineRun, FFmpegsReportPassesWholeOutputsAndLeavesTheRestToTheProbe)
{
    Task::Binder binder(Task::newJob(out.path(), std::nullopt));
    const auto run = [&](const std::string& name, std::vector<std::string> arguments) {
        arguments.push_back((out / name).string());
        return FFmpeg::run(arguments, std::nullopt, {});
    };
    // Nothing is there to probe: only the report can pass these.
    const auto absent = out / "nada.mp4";
    const auto clip = makeClip(sources / "clip.mov", "320x240", 3);
    auto made = run("clip.mp4", {"-i", clip.string(), "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    EXPECT_NO_THROW(FFmpeg::requireWhole(made, absent, true, 3.0, out.path()));
    EXPECT_FALSE(FFmpeg::reportedWhole(made, true, 4.0));
    made = run("clip.mp3", {"-i", clip.string(), "-vn"});
    EXPECT_NO_THROW(FFmpeg::requireWhole(made, absent, false, 3.0, out.path()));
    EXPECT_FALSE(FFmpeg::reportedWhole(made, true, 3.0));

    // A source cut short after its header comes out short, which the probe confirms.
    const auto cut = make(sources / "cut.mp4",
        {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=10", "-c:v", "mpeg4", "-movflags", "+faststart"});
    fs::resize_file(cut, fs::file_size(cut) * 3 / 10);
    made = run("cut.mkv", {"-i", cut.string(), "-c", "copy"});
    EXPECT_LT(made.length.value_or(0), 5);
    EXPECT_FALSE(FFmpeg::reportedWhole(made, true, 10.0));
    EXPECT_TRUE(FFmpeg::reportedWhole(made, true, std::nullopt));
    EXPECT_EQ(std::string(thrown([&] {
        FFmpeg::requireWhole(made, out / "cut.mkv", true, 10.0, out.path());
    }).what()),
        "O arquivo está danificado ou incompleto.");

    // A song whose only picture is its cover: the report cannot tell it from a video's picture.
    const auto song = make(sources / "capa.mp3",
        {"-f", "lavfi", "-i", "sine=duration=2", "-f", "lavfi", "-i", "color=red:size=64x64:duration=1", "-map", "0",
            "-map", "1", "-frames:v", "1", "-c:v", "mjpeg", "-disposition:v", "attached_pic"});
    made = run("capa.mp3", {"-i", song.string(), "-c", "copy"});
    EXPECT_TRUE(FFmpeg::reportedWhole(made, false, 2.0));
    EXPECT_FALSE(FFmpeg::reportedWhole(made, true, 2.0));
    EXPECT_EQ(std::string(thrown([&] {
        FFmpeg::requireWhole(made, out / "capa.mp3", true, 2.0, out.path());
    }).what()),
        "O arquivo não tem vídeo.");

    // Of everything ffmpeg says, a failure is told from its errors alone.
    writeFile(sources / "broken.mov", std::string(4096, '\x17'));
    EXPECT_EQ(std::string(thrown([&] {
        run("broken.mp4", {"-i", (sources / "broken.mov").string()});
    }).what()),
        "O arquivo está danificado ou incompleto.");
}

TEST_F(MediaEngineRun, NamesTakenDuringTheRunAreNeverTouched)
{
    // Someone else writes the chosen name while ffmpeg works: theirs stays, ours goes beside it.
    fs::path theirs;
    auto ours = convert(clip("320x240"), "wav", {}, [&](double) {
        if (theirs.empty())
            theirs = FileSafety::writeNew(out / "320x240.wav", "theirs");
    });
    EXPECT_EQ(ours, out / "320x240 2.wav");
    EXPECT_EQ(codecs(ours), "/pcm_s16le");

    // Runs that know nothing of each other (two command lines) pick the same free name.
    std::vector<fs::path> outputs(4);
    std::vector<std::thread> runs;
    for (auto& output : outputs)
        runs.emplace_back([&, source = clip("320x240")] {
            EXPECT_NO_THROW(output = convert(source, "flac"));
        });
    for (auto& run : runs)
        run.join();
    EXPECT_EQ(std::set(outputs.begin(), outputs.end()).size(), outputs.size());
    for (const auto& output : outputs)
        EXPECT_EQ(codecs(output), "/flac") << output;

    // ffmpeg itself, told a name, refuses to overwrite it.
    EXPECT_THROW(FFmpeg::run({"-i", clip("320x240").string(), theirs.string()}, std::nullopt, {}), ConversionError);
    EXPECT_EQ(readFile(theirs), "theirs");
}

TEST_F(MediaEngineRun, CancellingStopsFFmpegAndLeavesNothing)
{
    makeClip(sources / "long.mov", "640x480", 120);
    const auto begin = std::chrono::steady_clock::now();
    for (bool early : {true, false}) {
        auto context = Task::newJob(out.path(), max);
        if (early)
            context.cancel->cancel();
        Task::Binder binder(context);
        // Else cancelled at its first progress, while VP9 at the best level is far from done.
        const Progress cancel = std::bind(&Task::CancelToken::cancel, context.cancel);
        EXPECT_THROW(MediaEngine::convert(sources / "long.mov", {"webm", "WEBM", false}, cancel), CancellationError);
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is left";
        EXPECT_TRUE(fs::is_empty(out.path()));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
}

// Screen recorders and browsers write fragmented MP4 as they record, with no length in its
// header or all ones standing for "unknown"; what the file holds is in its fragments. A
// recording cut short still fails: its last fragment cannot be read whole.
TEST_F(MediaEngineRun, RecordingsWhoseHeaderStatesNoLengthConvertWhole)
{
    const auto recording = sources / "gravação da tela.mp4";
    ASSERT_TRUE(makeRecording(recording));
    const auto bytes = readFile(recording);
    ASSERT_GT(FFmpeg::duration(recording).value_or(0), 1000) << "the header states its placeholder";

    for (const auto* ext : {"mp4", "gif", "mp3"}) {
        const auto output = convert(recording, ext);
        EXPECT_NEAR(probe(output)["format"]["duration"].toString().toDouble(), 2, 0.3) << ext;
    }

    writeFile(sources / "cortada.mp4", bytes.substr(0, bytes.size() * 6 / 10));
    const std::string what
        = thrown(&MediaEngineRun::convert, this, sources / "cortada.mp4", "mp4", std::nullopt, Progress{}).what();
    EXPECT_EQ(what, "O arquivo está danificado ou incompleto.");
}

// ffmpeg names its causes in its own words, somewhere among lines of giving up; the user reads
// the sentence of the cause, never that a program failed.
TEST_F(MediaEngineRun, FailuresSayWhy)
{
    const auto key = "00112233445566778899aabbccddeeff";
    const auto locked = make(sources / "filme protegido.mp4",
        {"-f", "lavfi", "-i", "testsrc2=rate=10:size=320x240:duration=1", "-f", "lavfi", "-i", "sine=duration=1",
            "-c:v", "libx264", "-c:a", "aac", "-encryption_scheme", "cenc-aes-ctr", "-encryption_key", key,
            "-encryption_kid", key});
    const auto plain = make(sources / "plain.mp4",
        {"-f", "lavfi", "-i", "testsrc2=rate=10:size=320x240:duration=1", "-c:v", "libx264", "-c:a", "aac"});
    // A picture track whose sample description names no codec anyone knows, and one with none.
    auto bytes = readFile(plain);
    const auto stsd = bytes.find("stsd");
    writeFile(sources / "desconhecido.mp4", std::string(bytes).replace(stsd + 16, 4, "zzzz"));
    writeFile(sources / "sem descrição.mp4", std::string(bytes).replace(stsd + 8, 4, std::string(4, '\0')));

    for (const auto& [source, ext, message] : std::vector<std::tuple<fs::path, std::string, std::string>>{
             {locked, "webm", "O arquivo está protegido por senha."},
             {locked, "gif", "O arquivo está protegido por senha."},
             {sources / "desconhecido.mp4", "mp4", "O arquivo usa um formato interno que não é suportado."},
             {sources / "sem descrição.mp4", "webm", "O arquivo está danificado ou incompleto."}}) {
        const std::string what = thrown(&MediaEngineRun::convert, this, source, ext, std::nullopt, Progress{}).what();
        EXPECT_EQ(what, message) << source.filename() << " → " << ext;
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
}

namespace {

// A DVD's subtitle as its packs hold it: a 2 × 2 picture shown for `seconds`, as one
// subpicture unit in a private stream of an MPEG program stream.
std::string dvdSubtitle(double at, double seconds)
{
    const auto two = [](int value) {
        return std::string{char(value >> 8), char(value & 0xff)};
    };
    const std::string picture = "\x90\x90";  // a line of two pixels in each field
    const std::string start("\x01\x03\x32\x10\x04\xff\xf0\x05\0\0\1\0\0\1\x06\0\4\0\5\xff", 20);
    const int first = 4 + int(picture.size()), second = first + 4 + int(start.size());
    const auto body = picture + two(0) + two(second) + start + two(int(seconds * 90000 / 1024)) + two(second)
        + "\x02\xff";
    const auto unit = two(4 + int(body.size())) + two(first) + body;
    const auto pts = (long long)(at * 90000);
    const std::string stamp = {char(0x21 | ((pts >> 29) & 0x0e)), char((pts >> 22) & 0xff),
        char(0x01 | ((pts >> 14) & 0xfe)), char((pts >> 7) & 0xff), char(0x01 | ((pts << 1) & 0xfe))};
    const auto header = std::string("\x81\x80\x05", 3) + stamp;
    const auto data = "\x20" + unit;
    return std::string("\0\0\1\xba\x44\0\x04\0\x04\x01\x01\x89\xc3\xf8", 14) + std::string("\0\0\1\xbd", 4)
        + two(int(header.size() + data.size())) + header + data;
}

}

// What a conversion or a tool takes of a file with more than one picture or sound: the first
// picture as it plays, at the rate its frames are timed at, and sound the encoder can take.
TEST_F(MediaEngineRun, StreamsAreTakenAsTheyPlay)
{
    // A phone's motion photo: the film, then a larger still track of one frame that its header
    // marks as the one to show.
    const auto motion = make(sources / "foto animada.mp4",
        {"-f", "lavfi", "-i", "testsrc=duration=1.5:rate=30:size=320x180", "-f", "lavfi", "-i",
            "testsrc2=duration=0.1:rate=10:size=640x360", "-f", "lavfi", "-i", "sine=duration=1.5", "-map", "0",
            "-map", "1", "-map", "2", "-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error",
            "-tag:v", "hvc1", "-c:a", "aac", "-disposition:v:0", "0", "-disposition:v:1", "default"});
    ToolParams params;
    const auto compressed = [&] {
        Task::Binder binder(Task::newJob(out.path()));
        return MediaTools::run(Tool::vidCompress, motion, params, {});
    }();
    auto streams = probe(compressed);
    EXPECT_EQ(streams["video"]["width"].toInt(), 320);
    EXPECT_NEAR(streams["video"]["duration"].toString().toDouble(), 1.5, 0.1);

    // A DVD rip: its subtitles as the DVD holds them, and a video track whose header states a
    // frame duration (600 a second) its frames are not timed at.
    std::string subtitles;
    for (const double at : {0.1, 0.6})
        subtitles += dvdSubtitle(at, 0.4);
    writeFile(sources / "legendas.vob", subtitles + std::string("\0\0\1\xb9", 4));
    const auto rip = make(sources / "rip.mkv",
        {"-f", "lavfi", "-i", "testsrc=duration=1.2:rate=25:size=720x576", "-f", "mpeg", "-i",
            (sources / "legendas.vob").string(), "-map", "0:v", "-map", "1:s", "-c:v", "libx264", "-preset",
            "ultrafast", "-c:s", "copy"});
    auto bytes = readFile(rip);
    const auto frameLength = bytes.find("\x23\xe3\x83\x84");
    ASSERT_NE(frameLength, std::string::npos);
    bytes.replace(frameLength + 4, 4, std::string("\0\x19\x6e\x6b", 4));
    writeFile(rip, bytes);
    ASSERT_EQ(probe(rip)["video"]["r_frame_rate"].toString(), "600/1");
    streams = probe(convert(rip, "avi"));
    EXPECT_EQ(streams["video"]["nb_frames"].toString(), "30");
    EXPECT_NEAR(streams["format"]["duration"].toString().toDouble(), 1.2, 0.05);

    // Thirty frames at 600 a second beside a second of sound: AVI plays as long as its picture,
    // which holds its last frame to the end.
    const auto burst = make(sources / "rajada.mkv",
        {"-f", "lavfi", "-i", "testsrc=duration=0.05:rate=600:size=320x240", "-f", "lavfi", "-i", "sine=duration=1",
            "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    streams = probe(convert(burst, "avi"));
    EXPECT_NEAR(streams["format"]["duration"].toString().toDouble(), 1.0, 0.1);

    // Speex states no channel layout, which the AAC encoder needs.
    const auto speech = make(
        sources / "fala.spx", {"-f", "lavfi", "-i", "sine=duration=2", "-ar", "16000", "-c:a", "libspeex"});
    for (const auto* ext : {"m4a", "mp3"})
        EXPECT_NEAR(probe(convert(speech, ext))["format"]["duration"].toString().toDouble(), 2, 0.1) << ext;
}

// A frame far beyond any camera's, a few megabytes of one colour, takes gigabytes to decode and
// encode: it is refused from its probed size before ffmpeg starts.
TEST_F(MediaEngineRun, PicturesTooLargeAreRefusedBeforeDecoding)
{
    Commands::run("/usr/bin/vips", {"black", (sources / "quadro.jpg").string(), "16000", "16000"});
    const auto frame = make(sources / "quadro.mkv", {"-i", (sources / "quadro.jpg").string(), "-c", "copy"});
    fs::remove(sources / "quadro.jpg");
    // A PNG frame, which the probe would decode to size it.
    Commands::run("/usr/bin/vips", {"black", (sources / "quadro.png").string(), "16000", "16000"});
    const auto png = make(sources / "quadro-png.mkv", {"-i", (sources / "quadro.png").string(), "-c", "copy"});
    fs::remove(sources / "quadro.png");
    const auto sized = FFmpeg::probe(png);
    EXPECT_EQ(sized.width.value_or(0) * 1LL * sized.height.value_or(0), 16000LL * 16000);
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--convert", "mp4", frame.string()},
             {"--convert", "gif", frame.string()}, {"--tool", "vidCompress", "--", frame.string()},
             {"--convert", "mp4", png.string()}, {"--convert", "webm", png.string()}}) {
        const auto run = measureBrivlon(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments[1] << " " << arguments.back();
        EXPECT_LT(run.peakMiB, 700) << arguments[1] << " " << arguments.back();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(sources.path()), fs::directory_iterator()), 2) << "only the sources";
    const std::string what = thrown(&MediaEngineRun::convert, this, frame, "webm", std::nullopt, Progress{}).what();
    EXPECT_EQ(what, "O vídeo é grande demais para converter (16000 × 16000 pixels por quadro; o máximo é 8192 × 4352).");
}

// A browser's or a site's audio download keeps its sound in a video container: the other video
// containers take it as a file of sound, GIF wants a picture.
TEST_F(MediaEngineRun, SoundAloneInAVideoContainerConvertsAsSound)
{
    const auto webm = make(sources / "baixado.webm", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "libopus"});
    const auto mp4 = make(sources / "baixado.mp4", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "aac"});
    for (const auto& source : {webm, mp4})
        for (const auto* ext : {"mp4", "mov", "mkv", "avi"}) {
            if (source.extension() == std::string(".") + ext)
                continue;
            auto streams = probe(convert(source, ext));
            EXPECT_FALSE(streams.contains("video")) << source << " " << ext;
            EXPECT_FALSE(streams["audio"].isEmpty()) << source << " " << ext;
            EXPECT_NEAR(streams["format"]["duration"].toString().toDouble(), 2, 0.1) << source << " " << ext;
        }
    EXPECT_EQ(std::string(thrown(&MediaEngineRun::convert, this, webm, "gif", std::nullopt, Progress{}).what()),
        "O arquivo não tem vídeo.");
}

// A phone's 4K film at 60 frames a second: MOV takes its streams as they are, and a format that
// needs them encoded bounds the encoder to the memory a job may take.
TEST_F(MediaEngineRun, PhoneFilmsGoIntoMOVAsTheyAre)
{
    const auto sensor = make(sources / "sensor.mp4",
        {"-f", "lavfi", "-i", "testsrc2=duration=1:rate=60:size=3840x2160", "-f", "lavfi", "-i",
            "sine=duration=1:sample_rate=48000", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
            "-c:a", "aac", "-shortest"});
    const auto film = make(
        sources / "VID_20240612_181512.mp4", {"-i", sensor.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    fs::remove(sensor);

    auto run = measureBrivlon({"--convert", "mov", film.string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakMiB, 200);
    const auto copy = sources / "VID_20240612_181512.mov";
    auto made = probe(copy), source = probe(film);
    EXPECT_EQ(made["video"]["codec_name"], source["video"]["codec_name"]);
    EXPECT_EQ(made["video"]["nb_frames"], source["video"]["nb_frames"]);
    EXPECT_EQ(made["audio"]["nb_frames"], source["audio"]["nb_frames"]);
    EXPECT_EQ(made["video"]["side_data_list"], source["video"]["side_data_list"]) << "held upright";

    run = measureBrivlon({"--convert", "mkv", film.string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakMiB, 700);
    EXPECT_EQ(probe(sources / "VID_20240612_181512.mkv")["video"]["height"].toInt(), 3840) << "turned upright";
}

// DSD sound (a DSF file: ffmpeg reads it at an eighth of its bit rate, 705.6 kHz for DSD128) and
// PCM recorded above what a FLAC frame can state: each sound format still writes it, FLAC at the
// highest rate it names of the source's family; a rate FLAC can state stays as it is.
TEST_F(MediaEngineRun, SoundAtRatesBeyondAnEncodersReachIsResampled)
{
    // A second of a stereo DSF, as its header, format and data chunks lay it out: blocks of 4096
    // bytes per channel, one channel's block after the other's.
    const int block = 4096, blocks = 172, rate = 5644800;
    std::string data;
    for (int i = 0; i < block * blocks * 2; ++i)
        data += char((i / 4) % 2 ? 0x69 : 0x96);
    const auto u32 = [](uint32_t v) {
        return std::string(reinterpret_cast<const char*>(&v), 4);
    };
    const auto u64 = [](uint64_t v) {
        return std::string(reinterpret_cast<const char*>(&v), 8);
    };
    const auto format = "fmt " + u64(52) + u32(1) + u32(0) + u32(2) + u32(2) + u32(rate) + u32(1)
        + u64(uint64_t(block) * blocks * 8) + u32(block) + u32(0);
    const auto samples = "data" + u64(12 + data.size()) + data;
    writeFile(sources / "dsd.dsf", "DSD " + u64(28) + u64(28 + format.size() + samples.size()) + u64(0) + format + samples);
    const auto wav = [&](const std::string& name, int hertz) {
        return make(sources / name, {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=" + std::to_string(hertz)});
    };
    const std::vector<std::pair<fs::path, int>> flacs
        = {{sources / "dsd.dsf", 176400}, {wav("768k.wav", 768000), 192000}, {wav("384k.wav", 384000), 384000}};
    for (const auto& [source, expected] : flacs) {
        SCOPED_TRACE(source.filename().string());
        fs::path output;
        ASSERT_NO_THROW(output = convert(source, "flac", max));
        auto sound = probe(output)["audio"];
        EXPECT_EQ(sound["sample_rate"].toString().toInt(), expected);
        EXPECT_NEAR(sound["duration"].toString().toDouble(), 1, 0.05);
    }
    for (const auto* ext : {"wav", "mp3", "m4a", "aiff", "ogg", "opus"}) {
        SCOPED_TRACE(ext);
        fs::path output;
        ASSERT_NO_THROW(output = convert(sources / "dsd.dsf", ext, high));
        EXPECT_NEAR(probe(output)["format"]["duration"].toString().toDouble(), 1, 0.1);
    }
}

// Removing the sound copies the picture into a file like the source, whatever its container: an
// F4V (MP4 as Flash players wrote it) is one the tool is offered for.
TEST_F(MediaEngineRun, MutingKeepsTheSourcesContainer)
{
    const auto f4v = make(sources / "clipe.f4v",
        {"-f", "lavfi", "-i", "testsrc2=duration=2:rate=10:size=160x120", "-f", "lavfi", "-i", "sine=duration=2",
            "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-f", "f4v"});
    fs::path muted;
    {
        Task::Binder binder(Task::newJob(out.path()));
        ASSERT_NO_THROW(muted = MediaTools::run(Tool::vidMute, f4v, {}, {}));
    }
    EXPECT_EQ(muted.extension(), ".f4v");
    EXPECT_EQ(codecs(muted), "h264/");
    EXPECT_NEAR(probe(muted)["format"]["duration"].toString().toDouble(), 2, 0.15);
}

// A song with a dozen large covers: work on its sound decodes none of them, neither in ffmpeg's
// run nor in the probe beside it, and the covers stay out of what it writes.
TEST_F(MediaEngineRun, WorkOnTheSoundLeavesTheCoversUndecoded)
{
    const auto cover = make(sources / "capa.png",
        {"-f", "lavfi", "-i", "nullsrc=size=2400x2400,geq=random(1)*255:128:128", "-frames:v", "1", "-pix_fmt",
            "rgb24"});
    std::vector<std::string> inputs = {"-f", "lavfi", "-i", "sine=duration=3"}, maps = {"-map", "0:a"};
    for (int i = 1; i <= 12; ++i) {
        inputs.insert(inputs.end(), {"-i", cover.string()});
        maps.insert(maps.end(), {"-map", std::to_string(i) + ":v"});
    }
    inputs.insert(inputs.end(), maps.begin(), maps.end());
    inputs.insert(inputs.end(), {"-c:a", "flac", "-c:v", "copy", "-disposition:v", "attached_pic"});
    const auto song = make(sources / "álbum.flac", inputs);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--tool", "audNormalize", "--", song.string()}, {"--convert", "mp3", song.string()}}) {
        SCOPED_TRACE(arguments[1]);
        const auto run = measureBrivlon(arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_LT(run.peakMiB, 250);
    }
    for (const auto& [made, expected] : std::map<std::string, std::string>{
             {"álbum (normalizado).flac", "/flac"}, {"álbum.mp3", "/mp3"}}) {
        SCOPED_TRACE(made);
        EXPECT_EQ(codecs(sources / made), expected);
        EXPECT_NEAR(probe(sources / made)["format"]["duration"].toString().toDouble(), 3, 0.1);
    }
}

// A Matroska file of 500 small video streams beside its sound: the conversions ready decoders for
// the streams they take, the first picture and the first sound, and none for the rest.
TEST_F(MediaEngineRun, AFileOfManyStreamsReadiesOnlyTheStreamsTaken)
{
    const auto one = make(sources / "um.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=1", "-f", "lavfi", "-i", "sine=duration=1",
            "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    std::vector<std::string> copies = {"-i", one.string()};
    for (int i = 0; i < 500; ++i)
        copies.insert(copies.end(), {"-map", "0:v"});
    copies.insert(copies.end(), {"-map", "0:a", "-c", "copy"});
    const auto many = make(sources / "muitos.mkv", copies);
    for (const auto* ext : {"mp4", "webm", "mp3"}) {
        SCOPED_TRACE(ext);
        const auto run = measureBrivlon({"--convert", ext, many.string()});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_LT(run.peakMiB, 250);
        const auto made = sources / ("muitos." + std::string(ext));
        EXPECT_EQ(codecs(made), std::string(ext) == "mp4" ? "h264/aac" : std::string(ext) == "webm" ? "vp9/opus" : "/mp3");
        EXPECT_NEAR(probe(made)["format"]["duration"].toString().toDouble(), 1, 0.1);
    }
    const auto run = measureBrivlon({"--tool", "vidMute", "--", many.string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakMiB, 250);
    EXPECT_EQ(codecs(sources / "muitos (sem áudio).mkv"), "h264/");
    // Trims copy or encode the same two streams, one range or several, and what they hold is
    // probed through those streams alone.
    const auto trimmed = sources / "muitos (aparado).mkv";
    for (const auto* mode : {"fast", "x"})
        for (const auto& [ranges, length] : {std::pair{"0-0.5", 0.5}, std::pair{"0-0.3,0.5-0.9", 0.7}}) {
            SCOPED_TRACE(std::string(mode) + " " + ranges);
            const auto trim = measureBrivlon({"--trim", ranges, "-", "keep", mode, many.string()});
            EXPECT_EQ(trim.exitCode, 0);
            EXPECT_LT(trim.peakMiB, 250);
            EXPECT_EQ(codecs(trimmed), "h264/aac");
            // A copy starts at the key frame before each range: the source's first.
            if (std::string(mode) == "x" || length == 0.5)
                EXPECT_NEAR(probe(trimmed)["format"]["duration"].toString().toDouble(), length, 0.1);
            fs::remove(trimmed);
        }
}
