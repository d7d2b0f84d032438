#include "core/engines/media_tools.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/media_engine.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <future>
#include <map>

namespace MediaTools {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<double> plainNumber(std::string_view text)
{
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "m:ss" or "h:mm:ss", the seconds possibly with decimals.
std::optional<double> clockTime(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const auto end = text.find(':', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    double total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        auto value = plainNumber(parts[i]);
        if (!value || *value < 0 || (!last && *value != std::floor(*value)))
            return std::nullopt;
        total = total * 60 + *value;
    }
    return total;
}

// The muxer of an output that has no extension yet while ffmpeg writes it.
std::string muxerFor(const std::string& ext)
{
    if (auto known = MediaEngine::muxer(ext))
        return *known;
    static const std::map<std::string, std::string> others = {{"m4v", "mp4"}, {"3gp", "3gp"}, {"ts", "mpegts"},
        {"mts", "mpegts"}, {"m2ts", "mpegts"}, {"mpg", "mpeg"}, {"mpeg", "mpeg"}, {"wmv", "asf"}, {"asf", "asf"},
        {"flv", "flv"}, {"ogv", "ogg"}, {"aac", "adts"}, {"wma", "asf"}, {"ac3", "ac3"}};
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

std::shared_future<std::optional<double>> known(std::optional<double> seconds)
{
    std::promise<std::optional<double>> promise;
    promise.set_value(seconds);
    return promise.get_future().share();
}

// The files' total duration less `skipped` seconds, for progress. Starting ffprobe costs about
// as much as a whole stream copy of a short clip, so the probes only start once ffmpeg has
// worked for a while, all at once; a job done by then never runs them, and one done before they
// end stops them.
class DurationBeside {
public:
    static constexpr auto patience = std::chrono::milliseconds(700);

    DurationBeside(std::vector<fs::path> files, double skipped)
    {
        auto context = Task::newJob();
        stop_ = context.cancel;
        auto woken = std::make_shared<std::promise<void>>();
        auto wake = woken->get_future();
        stop_->onCancel([woken] {
            woken->set_value();
        });
        value = std::async(std::launch::async,
            [files = std::move(files), skipped, context, wake = std::move(wake)]() -> std::optional<double> {
                if (wake.wait_for(patience) == std::future_status::ready)
                    return std::nullopt;
                std::vector<std::future<std::optional<double>>> probes;
                for (const auto& file : files)
                    probes.push_back(std::async(std::launch::async, [file, context] {
                        Task::Binder binder(context);
                        try {
                            return FFmpeg::duration(file, true);
                        } catch (const std::exception&) {
                            return std::optional<double>();
                        }
                    }));
                std::optional<double> total;
                for (auto& probe : probes)
                    if (auto seconds = probe.get())
                        total = total.value_or(0) + *seconds;
                if (total)
                    *total -= skipped;
                return total;
            }).share();
    }
    ~DurationBeside() { stop_->cancel(); }
    DurationBeside(const DurationBeside&) = delete;
    DurationBeside& operator=(const DurationBeside&) = delete;

    std::shared_future<std::optional<double>> value;

private:
    std::shared_ptr<Task::CancelToken> stop_;
};

// The first picture stream's size and frame rate ("25/1"), as ffprobe states them.
struct Picture {
    int width = 0;
    int height = 0;
    std::string rate;
};

std::optional<Picture> pictureOf(const fs::path& file)
{
    auto ffprobe = FFmpeg::locate("ffprobe");
    if (!ffprobe)
        throw ConversionError::ffmpegMissing();
    Process::Command command;
    command.executable = *ffprobe;
    command.cancellable = true;
    command.arguments = {
        "-v", "error", "-select_streams", "V:0", "-show_entries", "stream=width,height,r_frame_rate", "-of", "csv=p=0"};
    const auto input = FFmpeg::input(file);
    command.arguments.insert(command.arguments.end(), input.begin(), input.end());
    const auto result = Process::run(command);
    const auto text = trimmed(result.out.substr(0, result.out.find('\n')));
    const auto first = text.find(','), second = text.find(',', first + 1);
    if (result.exitCode != 0 || second == std::string::npos)
        return std::nullopt;
    Picture picture;
    const auto number = [](std::string_view part) {
        int value = 0;
        auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        return error == std::errc() && end == part.data() + part.size() ? value : 0;
    };
    picture.width = number(std::string_view(text).substr(0, first));
    picture.height = number(std::string_view(text).substr(first + 1, second - first - 1));
    picture.rate = text.substr(second + 1);
    // A stream that states no rate ("0/0") is shown at a common one.
    if (picture.rate.empty() || picture.rate.find_first_not_of("0123456789/") != std::string::npos
        || picture.rate.front() == '0' || picture.rate.find("/0") != std::string::npos)
        picture.rate = "25";
    if (picture.width < 2 || picture.height < 2)
        return std::nullopt;
    return picture;
}

// Takes `option`'s value ("-vf", "-af") out of a codec list.
std::optional<std::string> takeFilter(std::vector<std::string>& list, const std::string& option)
{
    auto found = std::find(list.begin(), list.end(), option);
    if (found == list.end() || found + 1 == list.end())
        return std::nullopt;
    auto value = *(found + 1);
    list.erase(found, found + 2);
    return value;
}

// Files whose streams differ cannot pass through the concat demuxer: it hands every packet to the
// first file's decoders, which drop what they cannot read, and the join ends up with the first
// file's part alone. Here each file is an input of its own, its picture brought to the first
// one's size and rate, a part without sound given silence, and the concat filter joins them.
std::vector<std::string> reencodedJoin(const std::vector<fs::path>& files, const std::vector<FFmpeg::Streams>& streams,
    bool video, std::vector<std::string> codec)
{
    const auto picture = video ? pictureOf(files.front()) : std::nullopt;
    if (video && !picture)
        throw ConversionError::ffmpeg(ErrorCauses::noVideo);
    const bool audio = std::any_of(streams.begin(), streams.end(), [](const FFmpeg::Streams& each) {
        return each.audio;
    });
    std::vector<std::string> arguments;
    std::string graph, parts;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto input = FFmpeg::input(files[i]);
        arguments.insert(arguments.end(), input.begin(), input.end());
        const auto n = std::to_string(i);
        if (video) {
            if (!streams[i].video)
                throw ConversionError::ffmpeg(ErrorCauses::noVideo);
            const auto w = std::to_string(picture->width), h = std::to_string(picture->height);
            graph += "[" + n + ":V:0]scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease,pad=" + w + ":" + h
                + ":(ow-iw)/2:(oh-ih)/2,setsar=1,fps=" + picture->rate + "[v" + n + "];";
            parts += "[v" + n + "]";
        }
        if (audio && streams[i].audio) {
            parts += "[" + n + ":a:0]";
        } else if (audio) {
            graph += "anullsrc=d=" + timeText(streams[i].duration.value_or(0)) + "[s" + n + "];";
            parts += "[s" + n + "]";
        } else if (!video) {
            throw ConversionError::ffmpeg(ErrorCauses::noAudio);
        }
    }
    graph += parts + "concat=n=" + std::to_string(files.size()) + ":v=" + (video ? "1" : "0")
        + ":a=" + (audio ? "1" : "0") + (video ? "[vc]" : "") + (audio ? "[ac]" : "");
    // The codec's own filters follow the join.
    const auto vf = takeFilter(codec, "-vf"), af = takeFilter(codec, "-af");
    if (video)
        graph += ";[vc]" + vf.value_or("null") + "[vo]";
    if (audio)
        graph += ";[ac]" + af.value_or("anull") + "[ao]";
    arguments.insert(arguments.end(), {"-filter_complex", graph});
    if (video)
        arguments.insert(arguments.end(), {"-map", "[vo]"});
    if (audio)
        arguments.insert(arguments.end(), {"-map", "[ao]"});
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    return arguments;
}
}

std::optional<double> readTime(const std::string& text)
{
    auto value = trimmed(text);
    if (value.empty())
        return std::nullopt;
    auto dotted = value;
    std::replace(dotted.begin(), dotted.end(), ',', '.');
    if (auto seconds = plainNumber(dotted))
        return seconds;
    return clockTime(value);
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

std::vector<std::string> arguments(
    Tool tool, const fs::path& source, const ToolParams& params, const std::string& ext, std::optional<int> sampleRate)
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
    const auto input = FFmpeg::input(source);
    list.insert(list.end(), input.begin(), input.end());
    list.insert(list.end(), after.begin(), after.end());
    return list;
}

fs::path run(Tool tool, const fs::path& source, const ToolParams& params, const Progress& progress)
{
    Task::checkCancelled();
    FileSafety::requireRegularFile(source);
    const auto ext = outputExt(tool, source);
    const auto muxer = muxerFor(ext);
    const bool trimming = tool == Tool::vidTrim || tool == Tool::audTrim;
    auto list = arguments(tool, source, params, ext, std::nullopt);

    // Only progress needs the duration; unless it is already known, the probe runs beside ffmpeg.
    std::shared_future<std::optional<double>> duration;
    std::optional<DurationBeside> probing;
    std::optional<FileSafety::TempDir> scratch;
    std::optional<FFmpeg::LateFilter> chain;
    std::future<void> rate;
    const auto end = readTime(params.end);
    if (tool == Tool::audNormalize) {
        // Normalising keeps the source's sample rate. Its probe, which tells the duration too,
        // runs while ffmpeg starts, and ffmpeg reads the filter chain once the rate is known.
        std::promise<std::optional<double>> seconds;
        std::promise<std::string> filters;
        duration = seconds.get_future().share();
        auto text = filters.get_future().share();
        rate = std::async(std::launch::async,
            [tool, source, params, ext, context = Task::current(), seconds = std::move(seconds),
                filters = std::move(filters)]() mutable {
                Task::Binder binder(context);
                FFmpeg::Streams streams;
                try {
                    streams = FFmpeg::probe(source, true);
                } catch (...) {
                    // Cancelled: ffmpeg is being ended too.
                }
                seconds.set_value(streams.duration);
                const auto full = arguments(tool, source, params, ext, streams.sampleRate);
                filters.set_value(*(std::find(full.begin(), full.end(), "-af") + 1));
            });
        scratch.emplace();
        chain.emplace(scratch->path(), text);
        const auto af = std::find(list.begin(), list.end(), "-af");
        *af = "-filter_script:a";
        *(af + 1) = FFmpeg::pathArgument(chain->path());
    } else if (trimming && end) {
        duration = known(*end - readTime(params.start).value_or(0));
    } else if (progress) {
        probing.emplace(std::vector{source}, trimming ? readTime(params.start).value_or(0) : 0);
        duration = probing->value;
    }
    const auto preferred = Tools::preferredOutput(source, tool, ext);
    // The output has no name until ffmpeg is done with it: a failure or a cancel leaves nothing.
    FileSafety::NewFile output(preferred.parent_path());
    FFmpeg::run(list, output, muxer, duration, progress);
    return output.publish(preferred);
}

fs::path perform(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress)
{
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

    std::shared_future<std::optional<double>> total;
    std::optional<DurationBeside> probing;
    if (progress) {
        probing.emplace(sorted, 0);
        total = probing->value;
    }

    const auto preferred = Tools::preferredOutput(first, tool, ext);
    const bool oneFormat = std::all_of(sorted.begin(), sorted.end(), [&](const fs::path& file) {
        return Catalog::normalizedExt(file) == Catalog::normalizedExt(first);
    });
    if (oneFormat) {
        try {
            FileSafety::NewFile output(preferred.parent_path());
            auto copy = base;
            copy.insert(copy.end(), {"-c", "copy"});
            FFmpeg::run(copy, output, muxer, total, progress);
            return output.publish(preferred);
        } catch (const CancellationError&) {
            throw;
        } catch (const ConversionError& error) {
            if (error.kind() == ConversionError::Kind::ffmpegMissing)
                throw;
            // Streams that do not line up are joined by re-encoding them.
        }
    }
    std::vector<std::future<FFmpeg::Streams>> probes;
    for (const auto& file : sorted)
        probes.push_back(std::async(std::launch::async, [file, context = Task::current()] {
            Task::Binder binder(context);
            return FFmpeg::probe(file, true);
        }));
    std::vector<FFmpeg::Streams> streams;
    for (auto& probe : probes)
        streams.push_back(probe.get());
    for (const auto& each : streams)
        if (!each.read)
            throw ErrorCauses::failure(each.error, "ffprobe", {.fallback = ErrorCauses::unreadable});
    const auto encode = reencodedJoin(sorted, streams, isVideoTool(tool), codec(ext));
    // The probes told the whole length already; the later ones for progress are not needed.
    std::optional<double> length;
    for (const auto& each : streams)
        if (each.duration)
            length = length.value_or(0) + *each.duration;
    probing.reset();
    FileSafety::NewFile output(preferred.parent_path());
    FFmpeg::run(encode, output, muxer, known(length), progress);
    return output.publish(preferred);
}

}
