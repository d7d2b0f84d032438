#include "core/engines/media_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_formats.h"
#include "core/base/output_paths.h"
#include "core/base/quality.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/media_tools.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace MediaEngine {

namespace {

// Encoder settings of one quality level. Numbers stay integers so that std::to_string writes
// them the same in every locale.
struct Preset {
    int x264Crf;  // H.264 constant rate factor (mp4, mov, mkv)
    const char* aacInVideo;
    int vp9Crf;
    const char* opusInWebm;
    std::optional<int> shortSide;
    int gifRate;
    int gifWidth;
    int vorbisKbps;  // ogg and opus
};

const Preset& presetFor(QualityLevel level)
{
    static const std::array<Preset, 4> presets = {{
        {18, "192k", 20, "128k", std::nullopt, 24, 1080, 256},
        {21, "192k", 30, "128k", std::nullopt, 15, 720, 160},
        {23, "192k", 34, "128k", 1080, 12, 480, 128},
        {26, "128k", 38, "96k", 720, 10, 360, 96},
    }};
    return presets[size_t(QualityLevels::order(level))];
}

std::string kbps(int value) { return std::to_string(value) + "k"; }

// The AAC encoder takes only known layouts; a sound that states none (Speex, some WAV and FLV
// files) is given the usual layout of its channel count.
const char* const aacFit = "aformat=channel_layouts=mono|stereo|3.0|4.0|5.0|5.1|6.1|7.1";

std::vector<std::string> h264(const Preset& preset, bool faststart)
{
    std::vector<std::string> list
        = {"-sn", "-dn", "-c:v", "libx264", "-preset", "veryfast", "-crf", std::to_string(preset.x264Crf), "-pix_fmt",
            "yuv420p", "-vf", capFilter(preset.shortSide), "-c:a", "aac", "-b:a", preset.aacInVideo, "-af", aacFit};
    if (faststart)
        list.insert(list.end(), {"-movflags", "+faststart"});
    return list;
}

// Vorbis at these bit rates only takes stereo at 44.1 or 48 kHz; the Opus encoder takes only the
// layouts it has a channel mapping for (it resamples by itself). ffmpeg converts to the nearest.
const char* const vorbisFit = "aformat=sample_rates=44100|48000:channel_layouts=stereo";
const char* const opusFit = "aformat=channel_layouts=mono|stereo|3.0|quad|5.0|5.1|6.1|7.1";

std::string gifFrames(const Preset& preset)
{
    return "fps=" + std::to_string(preset.gifRate) + ",scale='min(" + std::to_string(preset.gifWidth)
        + ",iw)':-2:flags=lanczos";
}

const char* const gifPalette = "palettegen=stats_mode=diff";
const char* const gifDither = "paletteuse=dither=bayer:bayer_scale=5";

std::string gifFilter(const Preset& preset)
{
    // One palette from the whole clip ("diff" favours what moves), Bayer dithering.
    return gifFrames(preset) + ",split[a][b];[a]" + gifPalette + "[p];[b][p]" + gifDither;
}

// Outputs whose arguments depend on what the source holds, probed before ffmpeg starts: a copy
// into MOV where the level keeps the picture's size, AVI's single frame rate and length, GIF's
// two runs. The others start ffmpeg at once.
bool probedFirst(const std::string& ext)
{
    return ext == "avi" || ext == "gif" || (ext == "mov" && !presetFor(Quality::levelFor(ext)).shortSide);
}

// AVI holds one frame rate and no timestamps, and plays as long as its picture.
// The rate a sound of `rate` is resampled to for an output of `ext` whose encoder would refuse it;
// none where it takes it. FLAC's frames state a rate of their own up to 655,350 Hz, and only in
// steps the header can code; a DSD file decodes at 352.8 or 705.6 kHz. It is then given the
// highest of the rates FLAC names, of the source's own family where one divides it, so that the
// resampler's ratio stays whole. The other encoders list their rates and ffmpeg picks among them.
std::optional<int> fittedRate(const std::string& ext, std::optional<int> rate)
{
    if (ext != "flac" || !rate)
        return std::nullopt;
    const int r = *rate;
    if (r < 65535 || (r % 10 == 0 && r < 655350))
        return std::nullopt;
    static const std::array<int, 11> named
        = {192000, 176400, 96000, 88200, 48000, 44100, 32000, 24000, 22050, 16000, 8000};
    for (const int candidate : named)
        if (candidate <= r && r % candidate == 0)
            return candidate;
    return named.front();
}

void fitAvi(std::vector<std::string>& codec, const FFmpeg::Streams& source)
{
    if (!source.video)
        return;
    // The header's rate, where it is not what the pictures are timed at, would play them at
    // another speed or repeat each one many times.
    if (const auto timed = source.timedRate; timed && source.frameRate
        && std::abs(*timed - *source.frameRate) > *timed * 0.2 && *timed <= 1000)
        codec.insert(codec.end(), {"-r", MediaTools::timeText(*timed)});
    // A picture shorter than the rest (a few frames beside a song, subtitles that run on) holds
    // its last frame to the end, as a player shows it; the container's length bounds it, in case
    // a stream states a placeholder. In microseconds, as a base of milliseconds would round
    // every copy's step at a high rate.
    if (!source.videoDuration || !source.duration || !source.longestStream)
        return;
    const double end = std::min(*source.duration, *source.longestStream);
    if (FFmpeg::longEnough(*source.videoDuration, end))
        return;
    const auto filter = std::find(codec.begin(), codec.end(), "-vf");
    const auto pad = "settb=AVTB,tpad=stop_mode=clone:stop_duration=" + MediaTools::timeText(end - *source.videoDuration);
    if (filter != codec.end() && filter + 1 != codec.end())
        *(filter + 1) += "," + pad;
    else
        codec.insert(codec.end(), {"-vf", pad});
}

}

// In one graph every frame would wait in memory for the palette, which is only known at the end:
// gigabytes for a few minutes of film.
FFmpeg::Report writeGif(const std::vector<std::string>& inputs, const std::string& graph, const std::string& picture,
    std::optional<double> duration, const Progress& progress, const FramesRun& frames)
{
    const auto& preset = presetFor(Quality::levelFor("gif"));
    const auto head = (graph.empty() ? graph : graph + ";") + "[" + picture + "]" + gifFrames(preset);
    FileSafety::TempDir scratch;
    const auto palette = scratch.path() / "paleta.png";
    // The palette pass only decodes and counts colours: about a third of the work.
    constexpr double share = 0.35;
    auto first = inputs;
    first.insert(first.end(),
        {"-filter_complex", head + "," + gifPalette, "-an", "-sn", "-frames:v", "1", "-update", "1", "-f", "image2",
            palette.string()});
    FFmpeg::run(first, duration, [&](double fraction) {
        if (progress)
            progress(fraction * share);
    });
    auto second = inputs;
    const auto colours = FFmpeg::input(palette, "image2,png_pipe");
    second.insert(second.end(), colours.begin(), colours.end());
    const auto paletteInput = std::to_string(std::count(inputs.begin(), inputs.end(), "-i"));
    second.insert(second.end(),
        {"-filter_complex", head + "[f];[f][" + paletteInput + ":v]" + gifDither, "-an", "-sn", "-loop", "0"});
    return frames(second, [&](double fraction) {
        if (progress)
            progress(share + fraction * (1 - share));
    });
}

void boundEncoder(std::vector<std::string>& codec, const FFmpeg::Streams& source, std::optional<int> shortSide)
{
    auto encoded = source;
    if (shortSide && source.width && source.height && std::min(*source.width, *source.height) > *shortSide) {
        const double scale = double(*shortSide) / std::min(*source.width, *source.height);
        encoded.width = int(*source.width * scale), encoded.height = int(*source.height * scale);
    }
    const auto encoder = std::find(codec.begin(), codec.end(), "-c:v");
    if (!FFmpeg::largeFrame(encoded) || encoder == codec.end() || encoder + 1 == codec.end())
        return;
    // At 4K each picture an encoder holds is 12 MB and more with its own planes; left to itself
    // x264 runs a thread and several look-ahead pictures per core: 1.4 GB for a phone's film.
    const auto name = *(encoder + 1);
    if (name == "libx264") {
        codec.insert(codec.end(), {"-threads", "2", "-x264-params", "rc-lookahead=3:sync-lookahead=0:bframes=1"});
    } else if (name == "libx265") {
        const auto bound = ":pools=3:frame-threads=1:rc-lookahead=5:lookahead-slices=1:bframes=2";
        if (const auto params = std::find(codec.begin(), codec.end(), "-x265-params");
            params != codec.end() && params + 1 != codec.end())
            *(params + 1) += bound;
        else
            codec.insert(codec.end(), {"-x265-params", std::string(bound + 1)});
    } else if (name == "libvpx-vp9") {
        codec.insert(codec.end(), {"-threads", "2", "-lag-in-frames", "8"});
    } else {
        codec.insert(codec.end(), {"-threads", "2"});
    }
}

std::optional<std::vector<std::string>> copyInto(const std::string& ext, const FFmpeg::Streams& source)
{
    if (ext != "mov" || !source.read || !source.video || source.encrypted
        || presetFor(Quality::levelFor(ext)).shortSide)
        return std::nullopt;
    static const std::array<std::string_view, 5> pictures = {"h264", "hevc", "mpeg4", "mjpeg", "prores"};
    static const std::array<std::string_view, 9> sounds
        = {"aac", "alac", "mp3", "ac3", "pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be", "pcm_f32le"};
    if (std::find(pictures.begin(), pictures.end(), source.videoCodec) == pictures.end())
        return std::nullopt;
    if (source.audio && std::find(sounds.begin(), sounds.end(), source.audioCodec) == sounds.end())
        return std::nullopt;
    std::vector<std::string> list = {"-sn", "-dn", "-c", "copy"};
    // The tag QuickTime plays HEVC by; ffmpeg would write the other one.
    if (source.videoCodec == "hevc")
        list.insert(list.end(), {"-tag:v", "hvc1"});
    return list;
}

std::string capFilter(std::optional<int> shortSide)
{
    if (!shortSide)
        return "scale=trunc(iw/2)*2:trunc(ih/2)*2";
    const auto n = std::to_string(*shortSide);
    return "scale='if(gt(iw,ih),-2,min(" + n + ",trunc(iw/2)*2))':'if(gt(iw,ih),min(" + n + ",trunc(ih/2)*2),-2)'";
}

std::optional<std::string> muxer(const std::string& ext)
{
    if (auto container = OutputFormats::media(ext))
        return container->muxer;
    return std::nullopt;
}

std::optional<std::vector<std::string>> arguments(const std::string& ext)
{
    const auto level = Quality::levelFor(ext);
    const auto& preset = presetFor(level);
    if (ext == "mp4" || ext == "mov")
        return h264(preset, true);
    if (ext == "mkv")
        return h264(preset, false);
    if (ext == "webm")
        return std::vector<std::string>{"-sn", "-dn", "-c:v", "libvpx-vp9", "-crf", std::to_string(preset.vp9Crf),
            "-b:v", "0", "-row-mt", "1", "-deadline", "good", "-cpu-used", "4", "-pix_fmt", "yuv420p", "-vf",
            capFilter(preset.shortSide), "-c:a", "libopus", "-b:a", preset.opusInWebm, "-af", opusFit};
    if (ext == "avi")
        return std::vector<std::string>{
            "-sn", "-dn", "-c:v", "mpeg4", "-q:v", "3", "-vf", capFilter(std::nullopt), "-c:a", "pcm_s16le"};
    if (ext == "gif")
        return std::vector<std::string>{"-an", "-sn", "-vf", gifFilter(preset), "-loop", "0"};
    const auto mp3Rate = kbps(320 - 64 * QualityLevels::order(level));
    if (ext == "mp3")
        return std::vector<std::string>{"-vn", "-sn", "-c:a", "libmp3lame", "-b:a", mp3Rate};
    if (ext == "m4a")
        return std::vector<std::string>{"-vn", "-sn", "-c:a", "aac", "-b:a", mp3Rate, "-af", aacFit};
    if (ext == "ogg")
        return std::vector<std::string>{
            "-vn", "-sn", "-c:a", "libvorbis", "-b:a", kbps(preset.vorbisKbps), "-af", vorbisFit};
    if (ext == "opus")
        return std::vector<std::string>{
            "-vn", "-sn", "-c:a", "libopus", "-b:a", kbps(preset.vorbisKbps), "-af", opusFit};
    if (ext == "wav")
        return std::vector<std::string>{"-vn", "-sn", "-c:a", "pcm_s16le"};
    if (ext == "flac")
        return std::vector<std::string>{"-vn", "-sn", "-c:a", "flac"};
    if (ext == "aiff")
        return std::vector<std::string>{"-vn", "-sn", "-c:a", "pcm_s16be"};
    return std::nullopt;
}

fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    auto codec = arguments(format.ext);
    auto container = OutputFormats::media(format.ext);
    if (!codec || !container)
        throw ConversionError::unsupported();
    // The source is probed only where ffmpeg's own report leaves a doubt: to say why it failed,
    // or how long its streams are where the output plays shorter than its container.
    if (!FFmpeg::locate("ffprobe"))
        throw ConversionError::ffmpegMissing();
    const bool gif = format.ext == "gif";
    const auto missing = container->video ? ErrorCauses::noVideo : ErrorCauses::noAudio;
    std::optional<FFmpeg::Streams> probed;
    const auto probeSource = [&]() -> const FFmpeg::Streams& {
        if (!probed)
            probed = FFmpeg::probe(source, true, container->video);
        return *probed;
    };
    if (container->video && probedFirst(format.ext)) {
        // Without its key ffmpeg may still make pictures of the scrambled samples, and the
        // output would look whole.
        if (probeSource().encrypted)
            throw ConversionError::because(ErrorCauses::password);
        FFmpeg::requireFrameSize(probeSource());
    }
    // What the source lacks, as the probe says it: ffmpeg would only say that a -map matched
    // nothing. A video container but GIF takes a sound alone (a site's audio download saved as
    // MP4 or WebM) as a file of sound.
    const auto requireSource = [&] {
        const auto& input = probeSource();
        if (!input.read)
            throw ErrorCauses::failure(
                input.error, "ffprobe", {.noStream = missing, .fallback = ErrorCauses::unreadable});
        if (!(container->video ? input.video || (!gif && input.audio) : input.audio))
            throw ConversionError::because(missing);
        if (input.encrypted)
            throw ConversionError::because(ErrorCauses::password);
        return input;
    };

    const auto names = OutputPaths::names(source, format.ext);
    // ffmpeg writes into a file that has no name until it is complete, so a failed or cancelled
    // run leaves nothing behind, and a name someone else takes meanwhile is never touched. Each
    // run gets a file of its own: one run's bytes would stay behind a shorter file of the next.
    std::optional<FileSafety::NewFile> output;
    // The first stream of each kind, never cover art as the picture: left to itself ffmpeg may
    // pick a chapter or cover track, or none at all.
    // Only the streams mapped are given their decoders. A film may hold hundreds of streams; a
    // song's file is spared the run that lists them, whose start would cost about as much as its
    // conversion, and its covers are not decoded anyway.
    const auto firstStreams = container->video || !Catalog::isAudioExt(Catalog::normalizedExt(source))
        ? FFmpeg::onlyFirstStreams(source)
        : std::vector<std::string>{};
    const auto inputs = [&] {
        auto list = probed ? FFmpeg::decoderBound(*probed) : FFmpeg::unprobedBound();
        list.insert(list.end(), firstStreams.begin(), firstStreams.end());
        if (!container->video) {
            const auto none = FFmpeg::noPictures();
            list.insert(list.end(), none.begin(), none.end());
        }
        const auto file = FFmpeg::input(source);
        list.insert(list.end(), file.begin(), file.end());
        return list;
    };
    const auto encode = [&](const std::vector<std::string>& codecs) {
        auto list = inputs();
        if (container->video)
            list.insert(list.end(), {"-map", "0:V:0?", "-map", "0:a:0?"});
        else
            list.insert(list.end(), {"-map", "0:a:0"});
        list.insert(list.end(), codecs.begin(), codecs.end());
        output.emplace(names.folder());
        // Progress against the length ffmpeg reads; without one the job shows an indeterminate bar.
        return FFmpeg::run(list, *output, container->muxer, std::nullopt, progress);
    };
    const auto write = [&]() {
        if (gif) {
            output.emplace(names.folder());
            return writeGif(inputs(), {}, "0:V:0", std::nullopt, progress,
                [&](const std::vector<std::string>& arguments, const Progress& frames) {
                    return FFmpeg::run(arguments, *output, "gif", std::nullopt, frames);
                });
        }
        auto codecs = *codec;
        if (!probed)
            return encode(codecs);
        boundEncoder(codecs, *probed, presetFor(Quality::levelFor(format.ext)).shortSide);
        if (const auto rate = fittedRate(format.ext, probed->sampleRate))
            codecs.insert(codecs.end(), {"-ar", std::to_string(*rate)});
        if (format.ext == "avi")
            fitAvi(codecs, *probed);
        if (const auto copy = copyInto(format.ext, *probed)) {
            try {
                return encode(*copy);
            } catch (const ConversionError& error) {
                // Streams the container takes may still not copy (timestamps it cannot hold).
                if (error.kind() == ConversionError::Kind::ffmpegMissing)
                    throw;
            }
        }
        return encode(codecs);
    };
    FFmpeg::Report report;
    try {
        try {
            report = write();
        } catch (const ConversionError& error) {
            // Unprobed, a picture larger than full HD ends ffmpeg at once: sized now, it is
            // refused or converted again with its decoder and encoder bounded. So does a sound
            // at a rate its encoder cannot write, converted again resampled.
            if (error.kind() == ConversionError::Kind::ffmpegMissing || probed
                || !(FFmpeg::largeFrame(probeSource()) || fittedRate(format.ext, probeSource().sampleRate)))
                throw;
            FFmpeg::requireFrameSize(*probed);
            report = write();
        }
    } catch (const ConversionError& error) {
        if (error.kind() != ConversionError::Kind::ffmpegMissing)
            requireSource();
        throw;
    }
    // The container plays as long as its longest stream: an output as long is whole. An AVI
    // plays as long as its picture, which the report does not tell apart.
    const bool sound = container->video && !gif && report.summary && report.pictures == 0 && report.sounds > 0;
    const bool picture = container->video && !sound;
    if (format.ext == "avi" || !report.inputLength || !FFmpeg::reportedWhole(report, picture, report.inputLength)) {
        const auto input = requireSource();
        const bool shown = container->video && (input.video || gif);
        FFmpeg::requireWholeOf(format.ext == "avi" ? FFmpeg::Report{} : report, output->writerPath(), shown,
            FFmpeg::playLength(input, shown, !gif), names.folder(), source);
    }
    return output->publish(names);
}

}
