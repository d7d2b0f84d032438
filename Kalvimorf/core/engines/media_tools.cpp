#include "core/engines/media_tools.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/media_engine.h"
#include "core/engines/time_text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <future>
#include <map>

namespace MediaTools {

namespace {

using ErrorCauses::noRange;
// The most a sound's codec adds to its length beyond the samples it holds.
constexpr double codecPadding = 0.1;

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The muxer of an output that has no extension yet while ffmpeg writes it.
std::string muxerFor(const std::string& ext)
{
    if (auto known = MediaEngine::muxer(ext))
        return *known;
    static const std::map<std::string, std::string> others = {{"m4v", "mp4"}, {"3gp", "3gp"}, {"ts", "mpegts"},
        {"mts", "mpegts"}, {"m2ts", "mpegts"}, {"mpg", "mpeg"}, {"mpeg", "mpeg"}, {"vob", "vob"}, {"wmv", "asf"},
        {"asf", "asf"}, {"flv", "flv"}, {"f4v", "f4v"}, {"3g2", "3g2"}, {"mxf", "mxf"}, {"dv", "dv"},
        {"divx", "avi"}, {"mk3d", "matroska"}, {"ogm", "ogg"}, {"rm", "rm"}, {"rmvb", "rm"}, {"ogv", "ogg"}, {"aac", "adts"}, {"wma", "asf"}, {"ac3", "ac3"}};
    auto found = others.find(ext);
    if (found == others.end())
        throw ConversionError::unsupported();
    return found->second;
}

bool isVideoTool(Tool tool) { return Tools::kind(tool) == MediaKind::video; }

// The rule for every tool but compress and mute: the source's format when ffmpeg is told how to
// write it, else MP4 for video and M4A for audio.
std::string sharedExt(Tool tool, const fs::path& source)
{
    auto ext = Catalog::normalizedExt(source);
    if (MediaEngine::arguments(ext))
        return ext;
    return isVideoTool(tool) ? "mp4" : "m4a";
}

std::vector<std::string> codec(const std::string& ext)
{
    return MediaEngine::arguments(ext).value_or(std::vector<std::string>{});
}

// Puts `filter` first in the list's value of `option` ("-vf", "-af"), or adds the option.
void prependFilter(std::vector<std::string>& list, const std::string& option, const std::string& filter)
{
    auto found = std::find(list.begin(), list.end(), option);
    if (found != list.end() && found + 1 != list.end())
        *(found + 1) = filter + "," + *(found + 1);
    else
        list.insert(list.end(), {option, filter});
}

std::string compressFilter(int resolution)
{
    return MediaEngine::capFilter(resolution >= 1 ? std::optional(resolution) : std::nullopt);
}

// x265's constant rate factor for the quality choices, matching the three quality steps.
int compressCRF(int quality) { return quality >= 80 ? 24 : quality >= 60 ? 28 : 32; }

using Sources = std::vector<FFmpeg::Streams>;

// The streams of `files`, probed all at once beside whatever runs meanwhile.
std::shared_future<Sources> probeBeside(const std::vector<fs::path>& files, bool pictures = true)
{
    std::vector<std::shared_future<FFmpeg::Streams>> probes;
    for (const auto& file : files)
        probes.push_back(FFmpeg::probeBeside(file, pictures));
    return std::async(std::launch::async, [probes] {
        Sources streams;
        for (const auto& probe : probes)
            streams.push_back(probe.get());
        return streams;
    }).share();
}

// What `make` gives of the streams once they are known, as a value that can be waited for.
template <typename Make> auto after(std::shared_future<Sources> sources, Make make)
{
    return std::async(std::launch::async, [sources, make] {
        return make(sources.get());
    }).share();
}

// The filter chain that `option` ("-vf", "-af") gives in a codec list, taken out of it.
std::optional<std::string> takeFilter(std::vector<std::string>& codecs, const std::string& option)
{
    auto found = std::find(codecs.begin(), codecs.end(), option);
    if (found == codecs.end() || found + 1 == codecs.end())
        return std::nullopt;
    auto chain = *(found + 1);
    codecs.erase(found, found + 2);
    return chain;
}

// The re-encoding join. The concat demuxer reads every file with the first one's decoders, which
// turns a WAV after an MP3, or an AVI after an MP4, into noise and half its length; the concat
// filter decodes each file with its own. Pictures take the first one's size, fitted in with
// bars, and a video without sound gets as much silence as it holds picture. The codec's own
// filters end the graph, as ffmpeg takes no second chain for the same output stream. None when
// the first picture's size is not known.
std::optional<std::vector<std::string>> encodedJoin(
    const std::vector<fs::path>& files, const Sources& streams, bool picture, std::vector<std::string> codecs)
{
    const auto& first = streams.front();
    if (picture && !(first.width && first.height))
        return std::nullopt;
    const bool sound = !picture
        || (std::find(codecs.begin(), codecs.end(), "-an") == codecs.end()
            && std::any_of(streams.begin(), streams.end(), [](const FFmpeg::Streams& file) {
                   return file.audio;
               }));
    const auto w = std::to_string(first.width.value_or(2) / 2 * 2),
               h = std::to_string(first.height.value_or(2) / 2 * 2);
    std::vector<std::string> list;
    std::string graph, inputs;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto n = std::to_string(i);
        const auto input = FFmpeg::input(files[i]);
        list.insert(list.end(), input.begin(), input.end());
        if (picture) {
            graph += "[" + n + ":v:0]scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease,pad=" + w + ":" + h
                + ":(ow-iw)/2:(oh-ih)/2,setsar=1[v" + n + "];";
            inputs += "[v" + n + "]";
        }
        if (sound && (streams[i].audio || !picture)) {
            inputs += "[" + n + ":a:0]";
        } else if (sound) {
            // A recording's header may state a placeholder for its length: its packets tell.
            auto length = FFmpeg::heldLength(files[i], true);
            if (!length)
                length = FFmpeg::playLength(streams[i], true, false);
            graph += "anullsrc=r=48000:cl=stereo,atrim=duration=" + timeText(length.value_or(0)) + "[s" + n + "];";
            inputs += "[s" + n + "]";
        }
    }
    graph += inputs + "concat=n=" + std::to_string(files.size()) + ":v=" + (picture ? "1" : "0")
        + ":a=" + (sound ? "1" : "0") + (picture ? "[vc]" : "") + (sound ? "[ac]" : "");
    std::vector<std::string> maps;
    if (picture) {
        graph += ";[vc]" + takeFilter(codecs, "-vf").value_or("null") + "[vo]";
        maps.insert(maps.end(), {"-map", "[vo]"});
    }
    if (sound) {
        graph += ";[ac]" + takeFilter(codecs, "-af").value_or("anull") + "[ao]";
        maps.insert(maps.end(), {"-map", "[ao]"});
    }
    list.insert(list.end(), {"-filter_complex", graph});
    list.insert(list.end(), maps.begin(), maps.end());
    list.insert(list.end(), codecs.begin(), codecs.end());
    return list;
}

// Whether a tool's output is there for its picture: a video tool's is, but the trim of a video
// file with only sound keeps the sound.
bool forPicture(Tool tool, const FFmpeg::Streams& source)
{
    return isVideoTool(tool) && !(tool == Tool::vidTrim && source.audio && !source.video);
}

// How long a single-file tool's output should play, a trim's range cut at the source's end;
// none where the source does not say.
std::optional<double> keptLength(Tool tool, const ToolParams& params, const FFmpeg::Streams& source)
{
    const auto whole = FFmpeg::playLength(source, forPicture(tool, source), tool != Tool::vidMute);
    if (tool != Tool::vidTrim && tool != Tool::audTrim)
        return whole;
    auto end = readTime(params.end);
    if (whole)
        end = std::min(end.value_or(*whole), *whole);
    if (!end)
        return std::nullopt;
    return std::max(*end - readTime(params.start).value_or(0), 0.0);
}
}

std::optional<double> readTime(const std::string& text)
{
    if (trimmed(text).empty())
        return std::nullopt;
    return TimeParse::parse(text);
}

std::string timeText(double seconds)
{
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string outputExt(Tool tool, const fs::path& source)
{
    if (tool == Tool::vidCompress)
        return "mp4";
    if (tool == Tool::vidMute)
        return Catalog::normalizedExt(source);
    return sharedExt(tool, source);
}

std::vector<std::string> arguments(Tool tool, const fs::path& source, const ToolParams& params, const std::string& ext,
    std::optional<int> sampleRate, const FFmpeg::Streams& streams)
{
    std::vector<std::string> before, after;
    if (tool == Tool::vidCompress) {
        // No hardware HEVC encoder here: x265, quiet, so that its banner never becomes the error.
        after
            = {"-sn", "-dn", "-c:v", "libx265", "-preset", "fast", "-crf", std::to_string(compressCRF(params.quality)),
                "-x265-params", "log-level=error", "-tag:v", "hvc1", "-pix_fmt", "yuv420p", "-vf",
                compressFilter(params.resolution), "-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart"};
    } else if (tool == Tool::vidTrim || tool == Tool::audTrim) {
        const double start = readTime(params.start).value_or(0);
        const auto end = readTime(params.end);
        if (end && *end <= start)
            throw ToolError("O fim precisa ser depois do início.");
        before = {"-ss", timeText(start)};
        if (end)
            before.insert(before.end(), {"-to", timeText(*end)});
        after = codec(ext);
        // The output's own length cuts the chapters as well: the input's end leaves them, and an
        // audiobook's chapter track, playing on past the kept sound.
        if (end)
            after.insert(after.end(), {"-t", timeText(*end - start)});
    } else if (tool == Tool::vidMute) {
        after = {"-c:v", "copy", "-an", "-sn"};
    } else if (tool == Tool::vidRotate) {
        after = codec(ext);
        prependFilter(after, "-vf", "transpose=1");
    } else if (tool == Tool::audNormalize) {
        after = codec(ext);
        // loudnorm works at 192 kHz and leaves its output there; the source's rate is put back
        // (an explicit aresample after it fails in this ffmpeg: "Cannot select channel layout",
        // so the rate is asked for and ffmpeg inserts the resampler itself).
        prependFilter(after, "-af",
            "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_rates=" + std::to_string(sampleRate.value_or(48000)));
    } else {
        throw ConversionError::unsupported();
    }
    std::vector<std::string> list = before;
    // A song's covers, which no sound tool keeps, are never decoded.
    const auto bound = isVideoTool(tool) ? FFmpeg::decoderBound(streams) : FFmpeg::noPictures();
    list.insert(list.end(), bound.begin(), bound.end());
    const auto input = FFmpeg::input(source);
    list.insert(list.end(), input.begin(), input.end());
    // A motion photo holds a second, shorter picture track that ffmpeg, left to itself, would
    // take for being larger; a song's cover is no picture to trim.
    if (tool == Tool::vidMute)
        list.insert(list.end(), {"-map", "0:V:0"});
    else if (isVideoTool(tool))
        list.insert(list.end(), {"-map", "0:V:0?", "-map", "0:a:0?"});
    if (isVideoTool(tool) && tool != Tool::vidMute)
        MediaEngine::boundEncoder(after, streams,
            tool == Tool::vidCompress && params.resolution >= 1 ? std::optional(params.resolution) : std::nullopt);
    list.insert(list.end(), after.begin(), after.end());
    return list;
}

fs::path run(Tool tool, const fs::path& source, const ToolParams& params, const Progress& progress)
{
    Task::checkCancelled();
    FileSafety::requireRegularFile(source);
    const auto ext = outputExt(tool, source);
    const auto muxer = muxerFor(ext);
    // A trim's times are checked before anything runs.
    arguments(tool, source, params, ext, std::nullopt);
    // The source is probed where ffmpeg's report leaves a doubt.
    if (!FFmpeg::locate("ffprobe"))
        throw ConversionError::ffmpegMissing();

    // The source's streams tell the rate that normalising keeps and how much a trim keeps; their
    // probe runs while ffmpeg starts. The other tools keep all of the source, and ffmpeg's own
    // report tells whether their output does: their source is probed only where it does not.
    // A tool that encodes a picture waits for its size first.
    const bool early = tool == Tool::audNormalize || tool == Tool::vidTrim || tool == Tool::audTrim;
    const bool encodesPicture = isVideoTool(tool) && tool != Tool::vidMute;
    auto sources = early || encodesPicture ? probeBeside({source}, isVideoTool(tool)) : std::shared_future<Sources>();
    FFmpeg::Streams shape;
    if (encodesPicture) {
        shape = sources.get().front();
        FFmpeg::requireFrameSize(shape);
    }
    auto list = arguments(tool, source, params, ext, std::nullopt, shape);
    // A video tool maps the first picture and sound: only they are given their decoders.
    if (isVideoTool(tool)) {
        const auto firstStreams = FFmpeg::onlyFirstStreams(source);
        list.insert(std::find(list.begin(), list.end(), "-protocol_whitelist"), firstStreams.begin(), firstStreams.end());
    }
    const auto streams = [&]() -> const FFmpeg::Streams& {
        if (!sources.valid())
            sources = probeBeside({source}, isVideoTool(tool));
        return sources.get().front();
    };
    std::optional<FileSafety::TempDir> scratch;
    std::optional<FFmpeg::LateFilter> chain;
    if (tool == Tool::audNormalize) {
        // ffmpeg reads its filter chain once the rate is known.
        const auto text = after(sources, [tool, source, params, ext](const Sources& streams) {
            const auto full = arguments(tool, source, params, ext, streams.front().sampleRate);
            return *(std::find(full.begin(), full.end(), "-af") + 1);
        });
        scratch.emplace();
        chain.emplace(scratch->path(), text);
        const auto af = std::find(list.begin(), list.end(), "-af");
        *af = "-filter_script:a";
        *(af + 1) = FFmpeg::pathArgument(chain->path());
    }
    const auto preferred = Tools::preferredOutput(source, tool, ext);
    // The output has no name until ffmpeg is done with it: a failure or a cancel leaves nothing.
    FileSafety::NewFile output(preferred.parent_path());
    // What the source lacks for this tool, as the conversions say it; whether the output is there
    // for its picture, and how long it should play.
    bool generic = false;
    const auto requireSource = [&] {
        const auto& probed = streams();
        const auto kept = keptLength(tool, params, probed);
        if ((tool == Tool::vidTrim || tool == Tool::audTrim) && kept && *kept <= 0)
            throw ToolError(noRange);
        const bool picture = forPicture(tool, probed);
        // A source ffprobe cannot read either says why where ffmpeg named no cause.
        if (generic && !probed.read)
            throw ErrorCauses::failure(probed.error, "ffprobe", {.fallback = ErrorCauses::damaged});
        if (probed.read && !(picture ? probed.video : probed.audio))
            throw ConversionError::because(picture ? ErrorCauses::noVideo : ErrorCauses::noAudio);
        if (probed.encrypted)
            throw ConversionError::because(ErrorCauses::password);
        // ffmpeg gave up on a file it reads without naming why: its streams are what it failed on.
        if (generic)
            throw ConversionError::because(ErrorCauses::damaged);
        return std::pair(picture, kept);
    };
    // Progress against the kept length, or the length ffmpeg reads.
    std::shared_future<std::optional<double>> length;
    if (early)
        length = after(sources, [tool, params](const Sources& streams) {
            return keptLength(tool, params, streams.front());
        });
    FFmpeg::Report report;
    try {
        report = early ? FFmpeg::run(list, output, muxer, length, progress)
                       : FFmpeg::run(list, output, muxer, std::nullopt, progress);
    } catch (const ConversionError& error) {
        // ffmpeg may only say that it had nothing to write; the probe says why.
        generic = error.what() == ConversionError::describe(ConversionError::Kind::ffmpeg, {});
        if (error.kind() != ConversionError::Kind::ffmpegMissing)
            requireSource();
        throw;
    }
    // The source's container plays as long as its longest stream: an output as long is whole.
    if (!early && report.inputLength && FFmpeg::reportedWhole(report, isVideoTool(tool), report.inputLength))
        return output.publish(preferred);
    const auto [picture, kept] = requireSource();
    FFmpeg::Keep range;
    if (tool == Tool::vidTrim || tool == Tool::audTrim)
        range = [start = readTime(params.start).value_or(0), end = readTime(params.end)](double held) {
            return std::min(end.value_or(held), held) - start;
        };
    try {
        FFmpeg::requireWholeOf(report, output.writerPath(), picture, kept, preferred.parent_path(), source, range);
    } catch (const ConversionError& error) {
        // A range that starts within the codec's padding at the end of the sound (an MP3's last
        // frame, Opus's pre-skip) keeps nothing, though the header's length says it does.
        const std::string_view missing = error.what();
        if (range && kept && *kept < codecPadding && (missing == ErrorCauses::noAudio || missing == ErrorCauses::noVideo))
            throw ToolError(noRange);
        throw;
    }
    return output.publish(preferred);
}

fs::path perform(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress)
{
    // What the conversions take for sound or film: a MIDI score, say, has no sound to work on.
    for (const auto& source : sources)
        if (const auto kind = Catalog::kind(source); kind != MediaKind::audio && kind != MediaKind::video)
            throw ConversionError::unsupported();
    if (Tools::isBatch(tool))
        return join(tool, sources, progress);
    if (sources.size() != 1)
        throw ConversionError::unsupported();
    return run(tool, sources.front(), params, progress);
}

fs::path join(Tool tool, const std::vector<fs::path>& sources, const Progress& progress)
{
    if (sources.empty())
        throw ConversionError::unsupported();
    Task::checkCancelled();
    for (const auto& source : sources)
        FileSafety::requireRegularFile(source);
    const auto sorted = Catalog::sorted(sources);
    const auto& first = sorted.front();
    const auto ext = sharedExt(tool, first);
    const auto muxer = muxerFor(ext);

    FileSafety::TempDir scratch;
    const auto base = FFmpeg::concatInput(sorted, scratch.path());
    const auto preferred = Tools::preferredOutput(first, tool, ext);

    // The sources' streams decide between a copy and a re-encode; their lengths give progress
    // and what the output is checked against.
    const bool picture = isVideoTool(tool);
    const auto probes = probeBeside(sorted);
    const auto total = after(probes, [picture](const Sources& all) {
        std::optional<double> sum = 0.0;
        for (const auto& streams : all)
            if (auto length = FFmpeg::playLength(streams, picture, true); length && sum)
                *sum += *length;
            else
                sum.reset();
        return sum;
    });
    // The concat demuxer ends a join at a part it cannot open and reports success: every part
    // must be readable on its own.
    for (const auto& streams : probes.get()) {
        if (!streams.read)
            throw ErrorCauses::failure(streams.error, "ffprobe", {.fallback = ErrorCauses::unreadable});
        FFmpeg::requireFrameSize(streams);
    }
    const auto requireWhole = [&](const FFmpeg::Report& report, FileSafety::NewFile& output) {
        try {
            FFmpeg::requireWhole(report, output.writerPath(), picture, total.get(), preferred.parent_path());
        } catch (const ConversionError&) {
            // A part's header may state a placeholder for its length: what the parts hold decides.
            const auto made = FFmpeg::probe(output.writerPath(), true);
            double held = 0;
            for (size_t i = 0; i < sorted.size(); ++i) {
                const auto length = FFmpeg::heldLength(sorted[i], picture && probes.get()[i].video);
                if (!length || !made.duration)
                    throw;
                held += *length;
            }
            if (held >= total.get().value_or(0) || !FFmpeg::longEnough(*made.duration, held))
                throw;
        }
    };

    // The concat demuxer takes the streams the first part has and reads every part as if it
    // were like the first: a copy is whole only where they are alike in every stream. Sound
    // only the second part has would be left out; a picture of another size would change the
    // output's size midway.
    const auto& parts = probes.get();
    bool alike = true;
    for (size_t i = 1; i < sorted.size(); ++i)
        alike = alike && Catalog::normalizedExt(sorted[i]) == Catalog::normalizedExt(first)
            && parts[i].shapes == parts.front().shapes;
    if (alike) {
        try {
            FileSafety::NewFile output(preferred.parent_path());
            auto copy = base;
            copy.insert(copy.end(), {"-c", "copy"});
            requireWhole(FFmpeg::run(copy, output, muxer, total, progress), output);
            return output.publish(preferred);
        } catch (const CancellationError&) {
            throw;
        } catch (const ConversionError& error) {
            if (error.kind() == ConversionError::Kind::ffmpegMissing)
                throw;
            // A copy that fails or comes out short is joined by re-encoding.
        }
    }
    FileSafety::NewFile output(preferred.parent_path());
    // The join's pictures take the first one's size.
    auto codecs = codec(ext);
    MediaEngine::boundEncoder(codecs, parts.front());
    auto encode = encodedJoin(sorted, probes.get(), picture, codecs);
    if (!encode) {
        encode = base;
        encode->insert(encode->end(), codecs.begin(), codecs.end());
    }
    requireWhole(FFmpeg::run(*encode, output, muxer, total, progress), output);
    return output.publish(preferred);
}

}
