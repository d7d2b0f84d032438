#include "core/conversion_error.h"
#include "core/ffmpeg.h"
#include "core/media_engine.h"
#include "core/process.h"
#include "core/quality.h"
#include "core/shell.h"
#include "core/task.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace TestSupport;

namespace {

using Args = std::vector<std::string>;

// Clips come from ffmpeg's own test sources: a moving pattern and a tone, a few frames a second
// so that making and converting them stays quick.
void makeClip(const fs::path& path, int width, int height, double seconds, bool audio = true)
{
    const auto size = std::to_string(width) + "x" + std::to_string(height);
    const auto length = std::to_string(seconds);
    Args args = {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:duration=" + length};
    if (audio)
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + length});
    args.insert(args.end(), {"-c:v", "mpeg4", "-q:v", "5"});
    if (audio)
        args.insert(args.end(), {"-c:a", "pcm_s16le"});
    args.push_back(path.string());
    Shell::run("/usr/bin/ffmpeg", args);
}

struct Probe {
    QJsonObject format;
    QJsonObject video;
    QJsonObject audio;
};

Probe probe(const fs::path& path)
{
    auto out = Shell::run("/usr/bin/ffprobe",
                          {"-v", "error", "-show_streams", "-show_format", "-of", "json", path.string()});
    auto json = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    Probe result;
    result.format = json["format"].toObject();
    for (const auto& value : json["streams"].toArray()) {
        auto stream = value.toObject();
        (stream["codec_type"].toString() == "video" ? result.video : result.audio) = stream;
    }
    return result;
}

std::string text(const QJsonObject& object, const char* key)
{
    return object[key].toString().toStdString();
}

Task::Context job(const fs::path& folder, std::optional<QualityLevel> level = std::nullopt)
{
    return Task::newJob(folder, level);
}

std::vector<fs::path> filesIn(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    return files;
}

// Children of this process that are still there, zombies included.
int childCount()
{
    int count = 0;
    const auto self = std::to_string(::getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string state, parent;
        fields >> state >> parent;
        if (parent == self)
            ++count;
    }
    return count;
}

}

// ---------------------------------------------------------------------------------------------
// The argument table

TEST(MediaArguments, TableByExtensionAndLevel)
{
    const std::string cap720 = MediaEngine::capFilter(720);
    const std::string even = MediaEngine::capFilter(std::nullopt);
    struct Case {
        std::string ext;
        QualityLevel level;
        std::optional<Args> expected;
    };
    const std::vector<Case> cases = {
        {"mp4", QualityLevel::light,
         Args{"-sn", "-dn", "-c:v", "libx264", "-preset", "veryfast", "-crf", "26", "-pix_fmt", "yuv420p", "-vf", cap720,
              "-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart"}},
        {"mov", QualityLevel::max,
         Args{"-sn", "-dn", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-vf", even,
              "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart"}},
        {"mkv", QualityLevel::light,
         Args{"-sn", "-dn", "-c:v", "libx264", "-preset", "veryfast", "-crf", "26", "-pix_fmt", "yuv420p", "-vf", cap720,
              "-c:a", "aac", "-b:a", "128k"}},
        {"webm", QualityLevel::web,
         Args{"-sn", "-dn", "-c:v", "libvpx-vp9", "-crf", "34", "-b:v", "0", "-row-mt", "1", "-deadline", "good",
              "-cpu-used", "4", "-pix_fmt", "yuv420p", "-vf", MediaEngine::capFilter(1080), "-c:a", "libopus", "-b:a",
              "128k"}},
        {"avi", QualityLevel::light,
         Args{"-sn", "-dn", "-c:v", "mpeg4", "-q:v", "3", "-vf", even, "-c:a", "pcm_s16le"}},
        {"gif", QualityLevel::high,
         Args{"-an", "-sn", "-vf",
              "fps=15,scale='min(720,iw)':-2:flags=lanczos,split[a][b];[a]palettegen=stats_mode=diff[p];"
              "[b][p]paletteuse=dither=bayer:bayer_scale=5",
              "-loop", "0"}},
        {"mp3", QualityLevel::web, Args{"-vn", "-sn", "-c:a", "libmp3lame", "-b:a", "192k"}},
        {"m4a", QualityLevel::max, Args{"-vn", "-sn", "-c:a", "aac", "-b:a", "320k"}},
        {"ogg", QualityLevel::web, Args{"-vn", "-sn", "-c:a", "libvorbis", "-b:a", "128k"}},
        {"opus", QualityLevel::web, Args{"-vn", "-sn", "-c:a", "libopus", "-b:a", "128k"}},
        {"opus", QualityLevel::max, Args{"-vn", "-sn", "-c:a", "libopus", "-b:a", "256k"}},
        {"wav", QualityLevel::light, Args{"-vn", "-sn", "-c:a", "pcm_s16le"}},
        {"flac", QualityLevel::light, Args{"-vn", "-sn", "-c:a", "flac"}},
        {"aiff", QualityLevel::light, Args{"-vn", "-sn", "-c:a", "pcm_s16be"}},
        {"png", QualityLevel::light, std::nullopt},
        {"MP4", QualityLevel::light, std::nullopt},
        {"", QualityLevel::light, std::nullopt},
    };
    for (const auto& c : cases) {
        Task::Binder binder(Task::newJob(std::nullopt, c.level));
        EXPECT_EQ(MediaEngine::arguments(c.ext), c.expected) << c.ext << " " << QualityLevels::rawValue(c.level);
    }
}

TEST(MediaArguments, GifFrameRateAndWidthFollowTheLevel)
{
    const std::vector<std::pair<QualityLevel, std::string>> cases = {
        {QualityLevel::max, "fps=24,scale='min(1080,iw)'"},
        {QualityLevel::web, "fps=12,scale='min(480,iw)'"},
        {QualityLevel::light, "fps=10,scale='min(360,iw)'"},
    };
    for (const auto& [level, start] : cases) {
        Task::Binder binder(Task::newJob(std::nullopt, level));
        auto args = MediaEngine::arguments("gif");
        ASSERT_TRUE(args);
        EXPECT_TRUE((*args)[3].starts_with(start)) << (*args)[3];
    }
}

TEST(MediaArguments, WithoutChoiceVideoIsHigh)
{
    auto args = MediaEngine::arguments("mp4");
    ASSERT_TRUE(args);
    EXPECT_EQ((*args)[7], "21");
}

TEST(MediaArguments, CapFilterTexts)
{
    EXPECT_EQ(MediaEngine::capFilter(std::nullopt), "scale=trunc(iw/2)*2:trunc(ih/2)*2");
    EXPECT_EQ(MediaEngine::capFilter(720),
              "scale='if(gt(iw,ih),-2,min(720,trunc(iw/2)*2))':'if(gt(iw,ih),min(720,trunc(ih/2)*2),-2)'");
}

// ---------------------------------------------------------------------------------------------
// Progress parsing

namespace {
std::vector<double> parse(std::optional<double> duration, const std::vector<std::string>& chunks)
{
    std::vector<double> reports;
    FFmpeg::ProgressParser parser(duration, [&](double fraction) { reports.push_back(fraction); });
    for (const auto& chunk : chunks)
        parser.feed(chunk);
    return reports;
}
}

TEST(FFmpegProgress, FractionOfTheDuration)
{
    struct Case {
        std::optional<double> duration;
        std::vector<std::string> chunks;
        std::vector<double> expected;
    };
    const std::vector<Case> cases = {
        {60, {"frame=10\nout_time_us=30000000\nprogress=continue\n"}, {0.5}},
        {60, {"out_time_us=-23220\n"}, {0.0}},
        {60, {"out_time_us=90000000\n"}, {1.0}},
        {60, {"out_time_us=N/A\n"}, {}},
        {60, {"out_time_ms=30000000\nout_time=00:00:30.000000\n"}, {}},
        {60, {"out_time_us=6000000\n\n\nout_time_us=12000000\n"}, {0.1, 0.2}},
        {std::nullopt, {"out_time_us=30000000\n"}, {}},
        {0, {"out_time_us=30000000\n"}, {}},
        // A record cut anywhere between two reads is still read whole, once.
        {60, {"out_time_us=300", "00000\nprogress=continue\n"}, {0.5}},
        {60, {"out_ti", "me_us=30000000", "\n"}, {0.5}},
        {60, {"out_time_us=6000000\nout_time_us=1", "2000000\nout_", "time_us=18000000\n"}, {0.1, 0.2, 0.3}},
        // Nothing is reported for a record whose end has not arrived.
        {60, {"out_time_us=30000000"}, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        auto reports = parse(cases[i].duration, cases[i].chunks);
        ASSERT_EQ(reports.size(), cases[i].expected.size()) << "case " << i;
        for (size_t j = 0; j < reports.size(); ++j)
            EXPECT_DOUBLE_EQ(reports[j], cases[i].expected[j]) << "case " << i;
    }
}

TEST(FFmpegProgress, WithoutCallbackNothingHappens)
{
    FFmpeg::ProgressParser parser(60, {});
    parser.feed("out_time_us=30000000\n");
}

// ---------------------------------------------------------------------------------------------
// Finding the executables

TEST(FFmpegLocate, OnlyAnExecutableFileInBin)
{
    TempDir dir;
    const auto resources = dir.path() / "resources";
    EXPECT_FALSE(FFmpeg::locate("ffmpeg", resources));
    writeFile(resources / "bin" / "ffmpeg", "#!/bin/sh\n");
    fs::permissions(resources / "bin" / "ffmpeg", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(FFmpeg::locate("ffmpeg", resources));
    fs::permissions(resources / "bin" / "ffmpeg", fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(FFmpeg::locate("ffmpeg", resources), (resources / "bin" / "ffmpeg").string());
    EXPECT_FALSE(FFmpeg::locate("ffprobe", resources));
    fs::create_directories(resources / "bin" / "ffprobe");
    fs::permissions(resources / "bin" / "ffprobe", fs::perms::owner_all);
    EXPECT_FALSE(FFmpeg::locate("ffprobe", resources));
}

TEST(FFmpegLocate, BesideTheTestProgram)
{
    EXPECT_TRUE(FFmpeg::locate("ffmpeg"));
    EXPECT_TRUE(FFmpeg::locate("ffprobe"));
}

// ---------------------------------------------------------------------------------------------
// Real runs

class MediaEngineRun : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        delete clips;
        clips = nullptr;
    }

    // ctest runs every case in its own process, so each clip is made on first use only.
    static fs::path clip(const std::string& name)
    {
        static const std::map<std::string, std::pair<int, int>> sizes = {
            {"small.mov", {320, 240}}, {"odd.mov", {321, 241}}, {"landscape.mov", {1280, 960}}, {"portrait.mov", {736, 1280}}};
        if (!clips)
            clips = new TempDir;
        auto path = *clips / name;
        if (!fs::exists(path))
            makeClip(path, sizes.at(name).first, sizes.at(name).second, 1);
        return path;
    }

    fs::path convert(const std::string& name, const std::string& ext, std::optional<QualityLevel> level,
                     const Progress& progress = {})
    {
        Task::Binder binder(job(out.path(), level));
        return MediaEngine::convert(clip(name), {ext, ext, false}, progress);
    }

    static TempDir* clips;
    TempDir out;
};

TempDir* MediaEngineRun::clips = nullptr;

TEST_F(MediaEngineRun, DurationFromFFprobe)
{
    auto seconds = FFmpeg::duration(clip("small.mov"));
    ASSERT_TRUE(seconds);
    EXPECT_NEAR(*seconds, 1.0, 0.05);
    writeFile(out / "text.mp4", "not a video");
    EXPECT_FALSE(FFmpeg::duration(out / "text.mp4"));
    EXPECT_FALSE(FFmpeg::duration(out / "missing.mp4"));
}

TEST_F(MediaEngineRun, CodecsByFormat)
{
    struct Case {
        std::string ext;
        std::string video;  // empty: no video stream
        std::string audio;  // empty: no audio stream
    };
    const std::vector<Case> cases = {
        {"mp4", "h264", "aac"},        {"mov", "h264", "aac"},       {"mkv", "h264", "aac"},
        {"webm", "vp9", "opus"},       {"avi", "mpeg4", "pcm_s16le"}, {"gif", "gif", ""},
        {"mp3", "", "mp3"},            {"m4a", "", "aac"},            {"ogg", "", "vorbis"},
        {"opus", "", "opus"},          {"wav", "", "pcm_s16le"},      {"flac", "", "flac"},
        {"aiff", "", "pcm_s16be"},
    };
    for (const auto& c : cases) {
        auto output = convert("small.mov", c.ext, QualityLevel::web);
        EXPECT_EQ(output, out / ("small." + c.ext));
        auto info = probe(output);
        EXPECT_EQ(text(info.video, "codec_name"), c.video) << c.ext;
        EXPECT_EQ(text(info.audio, "codec_name"), c.audio) << c.ext;
        if (!c.video.empty() && c.video != "gif") {
            EXPECT_EQ(text(info.video, "pix_fmt"), "yuv420p") << c.ext;
        }
    }
    // A second run never overwrites the first.
    EXPECT_EQ(convert("small.mov", "wav", QualityLevel::web), out / "small 2.wav");
}

TEST_F(MediaEngineRun, SizeCapsAndRateFactorByLevel)
{
    struct Case {
        std::string clip;
        std::string ext;
        QualityLevel level;
        int width;
        int height;
    };
    const std::vector<Case> cases = {
        {"landscape.mov", "mp4", QualityLevel::light, 960, 720},
        {"landscape.mov", "mkv", QualityLevel::web, 1280, 960},
        {"portrait.mov", "mp4", QualityLevel::light, 720, 1252},
        {"portrait.mov", "mov", QualityLevel::high, 736, 1280},
        {"portrait.mov", "webm", QualityLevel::light, 720, 1252},
        {"small.mov", "mp4", QualityLevel::light, 320, 240},
        {"odd.mov", "mp4", QualityLevel::max, 320, 240},
        {"odd.mov", "avi", QualityLevel::max, 320, 240},
        {"landscape.mov", "gif", QualityLevel::light, 360, 270},
        {"portrait.mov", "gif", QualityLevel::high, 720, 1252},
    };
    const std::map<QualityLevel, std::string> crf = {{QualityLevel::max, "crf=18.0"},
                                                     {QualityLevel::high, "crf=21.0"},
                                                     {QualityLevel::web, "crf=23.0"},
                                                     {QualityLevel::light, "crf=26.0"}};
    for (const auto& c : cases) {
        auto output = convert(c.clip, c.ext, c.level);
        auto info = probe(output);
        const auto label = c.clip + " → " + c.ext + " " + QualityLevels::rawValue(c.level);
        EXPECT_EQ(info.video["width"].toInt(), c.width) << label;
        EXPECT_EQ(info.video["height"].toInt(), c.height) << label;
        if (text(info.video, "codec_name") == "h264") {
            // x264 records its settings in the stream.
            EXPECT_NE(readFile(output).find(crf.at(c.level)), std::string::npos) << label;
        }
    }
}

TEST_F(MediaEngineRun, Mp4IsReadyForStreaming)
{
    auto bytes = readFile(convert("small.mov", "mp4", QualityLevel::light));
    auto moov = bytes.find("moov");
    auto mdat = bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat);
    auto info = probe(out / "small.mp4");
    EXPECT_NEAR(info.audio["bit_rate"].toString().toDouble(), 128000, 20000);
}

TEST_F(MediaEngineRun, AudioBitratesByLevel)
{
    const std::vector<std::pair<QualityLevel, int>> mp3 = {
        {QualityLevel::max, 320000}, {QualityLevel::high, 256000}, {QualityLevel::web, 192000}, {QualityLevel::light, 128000}};
    for (const auto& [level, rate] : mp3) {
        auto info = probe(convert("small.mov", "mp3", level));
        EXPECT_EQ(info.audio["bit_rate"].toString().toInt(), rate) << QualityLevels::rawValue(level);
    }
    auto vorbis = probe(convert("small.mov", "ogg", QualityLevel::light));
    EXPECT_EQ(vorbis.audio["bit_rate"].toString().toInt(), 96000);
}

TEST_F(MediaEngineRun, ProgressArrivesInOrderOnTheCallingThread)
{
    std::vector<double> reports;
    bool otherThread = false;
    const auto caller = std::this_thread::get_id();
    convert("landscape.mov", "mp4", QualityLevel::light, [&](double fraction) {
        otherThread |= std::this_thread::get_id() != caller;
        reports.push_back(fraction);
    });
    EXPECT_FALSE(otherThread);
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GE(reports.front(), 0.0);
    EXPECT_LE(reports.back(), 1.0);
    EXPECT_GT(reports.back(), 0.8);
}

TEST_F(MediaEngineRun, CorruptInputFailsWithFFmpegsMessageAndLeavesNothing)
{
    TempDir sources;
    writeFile(sources / "broken.mov", std::string(4096, '\x17'));
    Task::Binder binder(job(out.path()));
    try {
        MediaEngine::convert(sources / "broken.mov", {"mp4", "MP4", false}, {});
        FAIL() << "converted a broken file";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
        // The last line ffmpeg printed, as it printed it.
        EXPECT_NE(error.message().find("Invalid data found when processing input"), std::string::npos)
            << error.message();
        EXPECT_EQ(error.message().find('\n'), std::string::npos);
    }
    EXPECT_TRUE(filesIn(out.path()).empty());
}

TEST_F(MediaEngineRun, UnknownExtensionIsUnsupported)
{
    Task::Binder binder(job(out.path()));
    try {
        MediaEngine::convert(clip("small.mov"), {"png", "PNG", false}, {});
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupported);
    }
    EXPECT_TRUE(filesIn(out.path()).empty());
}

TEST_F(MediaEngineRun, NeverOverwritesAnExistingOutput)
{
    writeFile(out / "taken.wav", "mine");
    try {
        FFmpeg::run({"-i", (clip("small.mov")).string(), "-vn", (out / "taken.wav").string()}, std::nullopt, {});
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
        EXPECT_NE(error.message().find("already exists"), std::string::npos) << error.message();
    }
    EXPECT_EQ(readFile(out / "taken.wav"), "mine");
}

TEST_F(MediaEngineRun, RelativePathsWithAColonStillWork)
{
    // ffmpeg would read "take:2.mov" as the protocol "take".
    fs::copy_file(clip("small.mov"), out / "take:2.mov");
    const auto previous = fs::current_path();
    fs::current_path(out.path());
    std::optional<double> seconds;
    fs::path output;
    {
        Task::Binder binder(job(fs::path("."), QualityLevel::web));
        seconds = FFmpeg::duration("take:2.mov");
        output = MediaEngine::convert("take:2.mov", {"wav", "WAV", false}, {});
    }
    fs::current_path(previous);
    EXPECT_TRUE(seconds);
    EXPECT_TRUE(fs::exists(out / "take:2.wav")) << output;
}

TEST_F(MediaEngineRun, CancelledBeforeStartRunsNothing)
{
    auto context = job(out.path());
    context.cancel->cancel();
    Task::Binder binder(context);
    EXPECT_THROW(MediaEngine::convert(clip("small.mov"), {"mp4", "MP4", false}, {}), CancellationError);
    EXPECT_TRUE(filesIn(out.path()).empty());
}

TEST_F(MediaEngineRun, CancellingStopsFFmpegAndRemovesThePartialOutput)
{
    // Long enough that VP9 at the best level is still busy when the cancel arrives.
    TempDir sources;
    makeClip(sources / "long.mov", 640, 480, 120);

    auto context = job(out.path(), QualityLevel::max);
    std::atomic<bool> started{false};
    std::thread canceller([&] {
        // Cancel once ffmpeg is under way and writing.
        for (int i = 0; i < 600 && !(started && !filesIn(out.path()).empty()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        context.cancel->cancel();
    });
    const auto begin = std::chrono::steady_clock::now();
    bool cancelled = false;
    {
        Task::Binder binder(context);
        try {
            MediaEngine::convert(sources / "long.mov", {"webm", "WEBM", false}, [&](double) { started = true; });
        } catch (const CancellationError&) {
            cancelled = true;
        }
    }
    canceller.join();
    EXPECT_TRUE(cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
    EXPECT_TRUE(started);
    EXPECT_EQ(childCount(), 0);
    EXPECT_TRUE(filesIn(out.path()).empty());
}
