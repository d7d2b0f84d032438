#include "core/engines/trim_media.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_formats.h"
#include "core/base/output_paths.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/media_engine.h"
#include "core/engines/tool_params.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>

namespace TrimMedia {

namespace Detail {

std::vector<Range> usable(const std::vector<Range>& ranges)
{
    std::vector<Range> kept;
    std::copy_if(ranges.begin(), ranges.end(), std::back_inserter(kept), [](const Range& range) {
        return range.first < range.second;
    });
    std::stable_sort(kept.begin(), kept.end(), [](const Range& a, const Range& b) {
        return a.first < b.first;
    });
    return kept;
}

std::vector<Range> within(const std::vector<Range>& ranges, std::optional<double> length)
{
    if (!length)
        return ranges;
    std::vector<Range> kept;
    for (auto range : ranges)
        if (range.second = std::min(range.second, *length); range.first < range.second)
            kept.push_back(range);
    return kept;
}

bool isAudioOnly(const std::string& ext)
{
    const auto container = OutputFormats::media(ext);
    return container && !container->video;
}

std::string targetExt(const fs::path& source, const std::string& ext, MediaKind kind)
{
    if (!ext.empty())
        return ext;
    const auto own = Catalog::normalizedExt(source);
    if (MediaEngine::arguments(own))
        return own;
    return kind == MediaKind::video ? "mp4" : "m4a";
}

std::string seconds(double value)
{
    // to_chars ignores the locale, which printf would not.
    std::array<char, 64> text{};
    auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(text.data(), end) : std::string("0.000");
}

std::string shortest(double value)
{
    std::array<char, 64> text{};
    auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
    std::string result = error == std::errc() ? std::string(text.data(), end) : std::string("0");
    if (result.find_first_of(".eEn") == std::string::npos)
        result += ".0";
    return result;
}

namespace {

// The source as ffmpeg's input, the streams not taken given decoders that cost nothing.
std::vector<std::string> inputOf(const fs::path& source, const std::vector<std::string>& firstStreams)
{
    auto arguments = firstStreams;
    const auto input = FFmpeg::input(source);
    arguments.insert(arguments.end(), input.begin(), input.end());
    return arguments;
}

const std::vector<std::string> firstMaps = {"-map", "0:V:0?", "-map", "0:a:0?"};

}

std::vector<std::string> fastCut(const fs::path& source, const Range& range, const fs::path& output,
    const std::vector<int>& leftOut, const std::vector<std::string>& firstStreams)
{
    std::vector<std::string> arguments = {"-ss", seconds(range.first), "-to", seconds(range.second)};
    const auto input = inputOf(source, firstStreams);
    arguments.insert(arguments.end(), input.begin(), input.end());
    // A copy starts at the key frame before the range, so chapters cannot be cut to it exactly:
    // they are left out, and with them the chapter track, which would play on to the source's end.
    // The other pictures and sounds, whose decoders were swapped for ones that cost nothing, would
    // be copied under those decoders' codecs: only the first ones go, with subtitles and attachments.
    if (firstStreams.empty()) {
        arguments.insert(arguments.end(), {"-map", "0", "-map", "-0:d?"});
    } else {
        arguments.insert(arguments.end(), firstMaps.begin(), firstMaps.end());
        arguments.insert(arguments.end(), {"-map", "0:s?", "-map", "0:t?"});
    }
    for (const int index : leftOut)
        arguments.insert(arguments.end(), {"-map", "-0:" + std::to_string(index)});
    arguments.insert(
        arguments.end(), {"-map_chapters", "-1", "-c", "copy", "-avoid_negative_ts", "make_zero", output.string()});
    return arguments;
}

std::vector<std::string> exactCut(const fs::path& source, const Range& range, const std::vector<std::string>& codec,
    const fs::path& output, const std::vector<std::string>& firstStreams)
{
    std::vector<std::string> arguments = {"-ss", seconds(range.first), "-to", seconds(range.second)};
    const auto input = inputOf(source, firstStreams);
    arguments.insert(arguments.end(), input.begin(), input.end());
    // Left to itself ffmpeg would take the largest picture, which may be one whose decoder does
    // not read it.
    if (!firstStreams.empty())
        arguments.insert(arguments.end(), firstMaps.begin(), firstMaps.end());
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    // The output's own length cuts the chapters too, which the input's end leaves as they were.
    arguments.insert(arguments.end(), {"-t", seconds(range.second - range.first), output.string()});
    return arguments;
}

Graph joinGraph(const std::vector<Range>& ranges, bool video, bool audio)
{
    Graph graph;
    std::string inputs;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto bounds = "start=" + seconds(ranges[i].first) + ":end=" + seconds(ranges[i].second);
        const auto n = std::to_string(i);
        if (video) {
            graph.text += "[0:v]trim=" + bounds + ",setpts=PTS-STARTPTS[v" + n + "];";
            inputs += "[v" + n + "]";
        }
        if (audio) {
            graph.text += "[0:a]atrim=" + bounds + ",asetpts=PTS-STARTPTS[a" + n + "];";
            inputs += "[a" + n + "]";
        }
    }
    graph.text += inputs + "concat=n=" + std::to_string(ranges.size()) + ":v=" + (video ? "1" : "0")
        + ":a=" + (audio ? "1" : "0");
    // The joined picture is rounded down to even sides, which the encoders need.
    const std::string even = ";[vc]scale=trunc(iw/2)*2:trunc(ih/2)*2[vo]";
    if (video && audio) {
        graph.text += "[vc][ac]" + even;
        graph.maps = {"-map", "[vo]", "-map", "[ac]"};
    } else if (video) {
        graph.text += "[vc]" + even;
        graph.maps = {"-map", "[vo]"};
    } else {
        graph.text += "[ac]";
        graph.maps = {"-map", "[ac]"};
    }
    return graph;
}

std::vector<std::string> exactJoin(const fs::path& source, const std::vector<Range>& ranges, bool video, bool audio,
    std::vector<std::string> codec, const fs::path& output, const std::vector<std::string>& firstStreams)
{
    // The graph already scales the picture; the codec list's own filter would be a second graph.
    if (auto filter = std::find(codec.begin(), codec.end(), "-vf"); filter != codec.end())
        codec.erase(filter, std::min(filter + 2, codec.end()));
    auto graph = joinGraph(ranges, video, audio);
    // The codec's own sound filter ends the graph's sound, which takes no second chain.
    if (auto filter = std::find(codec.begin(), codec.end(), "-af");
        filter != codec.end() && filter + 1 != codec.end()) {
        if (audio) {
            graph.text += ";[ac]" + *(filter + 1) + "[ao]";
            std::replace(graph.maps.begin(), graph.maps.end(), std::string("[ac]"), std::string("[ao]"));
        }
        codec.erase(filter, filter + 2);
    }
    auto arguments = inputOf(source, firstStreams);
    arguments.insert(arguments.end(), {"-filter_complex", graph.text});
    arguments.insert(arguments.end(), graph.maps.begin(), graph.maps.end());
    // Chapters of the source would mark places the joined ranges no longer have.
    arguments.insert(arguments.end(), {"-map_chapters", "-1"});
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    arguments.push_back(output.string());
    return arguments;
}

std::vector<float> reducePeaks(std::string_view samples, int count)
{
    const size_t n = samples.size() / 2;
    if (samples.size() <= 2 || count < 1)
        return {};
    const size_t step = std::max<size_t>(n / size_t(count), 1);
    std::vector<float> peaks;
    peaks.reserve(n / step + 1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    for (size_t block = 0; block < n; block += step) {
        int loudest = 0;
        const size_t stop = std::min(block + step, n);
        for (size_t i = block; i < stop; ++i) {
            const auto sample = int16_t(uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
            loudest = std::max(loudest, std::abs(int(sample)));
        }
        peaks.push_back(float(loudest) / 32768.0f);
    }
    // Near-silent files stay near silent instead of being blown up to full height.
    const float top = std::max(*std::max_element(peaks.begin(), peaks.end()), 0.01f);
    for (auto& peak : peaks)
        peak /= top;
    return peaks;
}

}

namespace {

using namespace Detail;

// The cut parts fill the first nine tenths of the bar, the join the rest.
FFmpeg::Report fastJoin(const fs::path& source, const std::vector<Range>& ranges, const std::string& ext,
    const fs::path& output, double total, const Progress& progress, const std::vector<int>& leftOut,
    const std::vector<std::string>& firstStreams)
{
    FileSafety::TempDir temporary;
    std::vector<fs::path> parts;
    double done = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto part = temporary.path() / ("parte" + std::to_string(i) + "." + ext);
        const double length = ranges[i].second - ranges[i].first;
        FFmpeg::run(fastCut(source, ranges[i], part, leftOut, firstStreams), length, [&](double fraction) {
            if (progress && total > 0)
                progress((done + fraction * length) / total * 0.9);
        });
        done += length;
        parts.push_back(part);
    }
    const auto links = temporary.path() / "juntar";
    fs::create_directory(links);
    auto join = FFmpeg::concatInput(parts, links);
    join.insert(join.end(), {"-map", "0", "-c", "copy", output.string()});
    auto report = FFmpeg::run(join, std::nullopt, {});
    if (progress)
        progress(1.0);
    return report;
}

// A GIF goes the conversions' two runs, its picture cut from the source by the input's bounds or,
// for several ranges, by the join's graph.
FFmpeg::Report exportGif(const fs::path& source, const std::vector<Range>& ranges, double total, const fs::path& output,
    const Progress& progress, const std::vector<std::string>& firstStreams)
{
    auto inputs = inputOf(source, firstStreams);
    std::string graph, picture = "0:V:0";
    if (ranges.size() == 1) {
        inputs.insert(inputs.begin(), {"-ss", seconds(ranges.front().first), "-to", seconds(ranges.front().second)});
    } else {
        graph = joinGraph(ranges, true, false).text;
        picture = "vo";
    }
    return MediaEngine::writeGif(
        inputs, graph, picture, total, progress, [&](std::vector<std::string> arguments, const Progress& frames) {
            arguments.push_back(output.string());
            return FFmpeg::run(arguments, total, frames);
        });
}

// The streams of `source` as a trim takes them: of a file of many streams (`taken` not empty),
// a copy of its first picture and sound, which costs a read of the file: ffprobe readies a decoder
// for every stream whatever it is asked, 1.2 GB for 500 small video streams. A copy that fails
// leaves the source to be probed itself.
FFmpeg::Streams probeTaken(const fs::path& source, const std::vector<std::string>& taken, bool cancellable)
{
    if (!taken.empty()) {
        try {
            FileSafety::TempDir scratch;
            const auto copy = scratch.path() / "usados.mkv";
            auto arguments = inputOf(source, taken);
            arguments.insert(arguments.end(), firstMaps.begin(), firstMaps.end());
            arguments.insert(arguments.end(), {"-c", "copy", copy.string()});
            FFmpeg::run(arguments, std::nullopt, {});
            return FFmpeg::probe(copy, cancellable);
        } catch (const ConversionError&) {
        }
    }
    return FFmpeg::probe(source, cancellable);
}

// probeTaken() started at once beside the export.
std::shared_future<FFmpeg::Streams> probeBeside(const fs::path& source, const std::vector<std::string>& taken)
{
    if (taken.empty())
        return FFmpeg::probeBeside(source);
    return std::async(std::launch::async, [source, taken, context = Task::current()] {
        Task::Binder binder(context);
        try {
            return probeTaken(source, taken, true);
        } catch (const std::exception&) {
            return FFmpeg::Streams{};
        }
    }).share();
}

}

fs::path exportRanges(const fs::path& source, const std::vector<Range>& ranges, const std::string& ext, bool fast,
    MediaKind kind, bool inFolder, const Progress& progress)
{
    FileSafety::requireRegularFile(source);
    auto kept = usable(ranges);
    if (kept.empty())
        throw ToolError(ErrorCauses::noRange);
    const auto target = targetExt(source, ext, kind);
    // Bound here, as a job's context bounds its outputs: the editor and --trim both come this way.
    auto context = Task::current();
    context.outputModes = FileSafety::outputModes({source});
    Task::Binder modes(context);
    const auto stem = source.stem().string();
    // names() names after a source's stem: the trimmed copy's base stands in for it.
    const auto base = inFolder ? stem : stem + " (aparado)";
    const auto names = OutputPaths::names(source.parent_path() / (base + ".aparar"), target);
    const auto folder = names(1).parent_path();

    // Where the source ends and what it holds: a join or an encode needs them before it starts,
    // beside ffmpeg; a single copy only where ffmpeg's report does not show the range whole.
    const bool copying = fast && target == Catalog::normalizedExt(source);
    const auto firstStreams = streamsTaken(source);
    std::shared_future<FFmpeg::Streams> started;
    if (!copying || kept.size() > 1)
        started = probeBeside(source, firstStreams);
    const auto probed = [&]() -> const FFmpeg::Streams& {
        if (!started.valid())
            started = probeBeside(source, firstStreams);
        return started.get();
    };
    const bool audioOnly = isAudioOnly(target);
    const auto picture = [&] {
        const auto& streams = probed();
        return kind == MediaKind::video && !audioOnly && (streams.video || !streams.read);
    };
    const auto inLength = [&] {
        auto left = within(kept, FFmpeg::playLength(probed(), picture(), !audioOnly));
        if (left.empty())
            throw ToolError(ErrorCauses::noRange);
        return left;
    };
    if (kept.size() > 1)
        kept = inLength();
    double total = 0;
    for (const auto& range : kept)
        total += range.second - range.first;

    // A source whose header declares a stream that gives not one packet (a sample table of 2^31
    // entries) comes out without it, or not at all: it is damaged, as its conversion says, whatever
    // the output lacks.
    const auto declared = [&](const ConversionError& error) {
        const auto& streams = probed();
        const auto& said = error.message();
        if (said == ErrorCauses::noVideo)
            return streams.video;
        if (said == ErrorCauses::noAudio)
            return streams.audio;
        const bool taken = audioOnly ? streams.audio : streams.video || streams.audio;
        return (error.kind() == ConversionError::Kind::unreadable || said == ErrorCauses::unreadable) && taken;
    };
    try {
        // ffmpeg writes beside the final name under a hidden one with the same extension, so that it
        // picks the container from it; a failure or a cancel removes it, and the finished file takes
        // the first free name when it is published, never replacing anything.
        FileSafety::StagedPath staged(folder, target);
        FFmpeg::Report report;
        try {
            if (copying) {
                const auto copy = [&](const std::vector<int>& leftOut) {
                    return kept.size() == 1
                        ? FFmpeg::run(
                            fastCut(source, kept.front(), staged.path(), leftOut, firstStreams), total, progress)
                        : fastJoin(source, kept, target, staged.path(), total, progress, leftOut, firstStreams);
                };
                try {
                    report = copy({});
                } catch (const ConversionError& error) {
                    // A picture without a size (a song's broken cover) fails the copy's header: the
                    // cut goes without it, as the encoders would leave it out.
                    const auto& unsized = probed().unsized;
                    if (error.kind() == ConversionError::Kind::ffmpegMissing || unsized.empty())
                        throw;
                    std::error_code ignored;
                    fs::remove(staged.path(), ignored);
                    report = copy(unsized);
                }
            } else if (target == "gif") {
                FFmpeg::requireFrameSize(probed());
                report = exportGif(source, kept, total, staged.path(), progress, firstStreams);
            } else {
                // An encode waits for the picture's size: a giant frame is refused, a large one bounded.
                FFmpeg::requireFrameSize(probed());
                auto codec = MediaEngine::arguments(target).value_or(std::vector<std::string>{});
                MediaEngine::boundEncoder(codec, probed());
                if (kept.size() == 1) {
                    report = FFmpeg::run(
                        exactCut(source, kept.front(), codec, staged.path(), firstStreams), total, progress);
                } else {
                    const auto& streams = probed();
                    const bool video = picture(), audio = streams.read ? streams.audio : true;
                    if (!video && !audio)
                        throw ConversionError::unreadable();
                    report = FFmpeg::run(
                        exactJoin(source, kept, video, audio, codec, staged.path(), firstStreams), total, progress);
                }
            }
        } catch (const ConversionError& error) {
            // A single range that starts past the end may fail rather than come out empty.
            if (error.kind() != ConversionError::Kind::ffmpegMissing)
                inLength();
            throw;
        }
        // The copy of a range within the source's end is as long as the range.
        if (copying && kept.size() == 1
            && FFmpeg::reportedWhole(report, kind == MediaKind::video && report.pictures > 0, total))
            return staged.publish(names);
        const auto keptOf = [](const std::vector<Range>& ranges) {
            double length = 0;
            for (const auto& range : ranges)
                length += range.second - range.first;
            return length;
        };
        FFmpeg::requireWholeOf(report, staged.path(), picture(), keptOf(inLength()), folder, source, [&](double held) {
            return keptOf(within(kept, held));
        });
        return staged.publish(names);
    } catch (const ConversionError& error) {
        if (error.kind() != ConversionError::Kind::ffmpegMissing && declared(error))
            throw ConversionError::because(ErrorCauses::damaged);
        throw;
    }
}

// Up to this many pictures and sounds besides the first ones, their decoders cost little (a couple
// of megabytes each for H.264) and a trim keeps every stream, as it always has.
constexpr size_t manyStreams = 16;

std::vector<std::string> streamsTaken(const fs::path& file)
{
    // Of a file of many streams only the first picture and sound are taken and given their
    // decoders, as a conversion takes them: ffmpeg readies a decoder for every stream otherwise, a
    // gigabyte for some hundreds. A song's file is spared the run that lists them.
    if (Catalog::isAudioExt(Catalog::normalizedExt(file)))
        return {};
    try {
        auto taken = FFmpeg::onlyFirstStreams(file);
        if (taken.size() / 2 <= manyStreams)
            taken.clear();
        return taken;
    } catch (const std::exception&) {
        // The caller's task cancelled, or the list outgrew its bounds.
        return {};
    }
}

std::optional<double> length(const fs::path& file, const std::vector<std::string>& taken)
{
    try {
        return probeTaken(file, taken, false).duration;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool hasStream(const fs::path& file, const std::string& type)
{
    auto ffprobe = FFmpeg::locate("ffprobe");
    if (!ffprobe)
        return false;
    Process::Command command;
    command.executable = *ffprobe;
    command.cancellable = true;
    command.killOnCancel = true;
    command.arguments = {"-v", "error", "-select_streams", type, "-show_entries", "stream=index", "-of", "csv=p=0"};
    const auto input = FFmpeg::input(file);
    command.arguments.insert(command.arguments.end(), input.begin(), input.end());
    try {
        auto result = Process::run(command, {}, [](std::string_view) {});
        if (result.exitCode != 0)
            return false;
        return result.out.find_first_not_of(" \t\r\n") != std::string::npos;
    } catch (const std::exception&) {
        // A launch failure, or the caller's task cancelled.
        return false;
    }
}

std::vector<float> peaks(const fs::path& file, int count, const std::vector<std::string>& taken)
{
    auto ffmpeg = FFmpeg::locate("ffmpeg");
    if (!ffmpeg)
        return {};
    // Two hours of sound are 28 MB of samples: ffmpeg writes them straight into memory rather than
    // through a pipe, where every few kilobytes would wait for this side to read.
    FileSafety::Fd samples(::memfd_create("peaks", MFD_CLOEXEC));
    if (!samples)
        return {};
    Process::Command command;
    command.executable = *ffmpeg;
    command.cancellable = true;
    command.killOnCancel = true;
    command.stdoutFd = samples.get();
    command.arguments = {"-hide_banner", "-loglevel", "error"};
    const auto input = inputOf(file, taken);
    command.arguments.insert(command.arguments.end(), input.begin(), input.end());
    if (!taken.empty())
        command.arguments.insert(command.arguments.end(), {"-map", "0:a:0"});
    command.arguments.insert(command.arguments.end(), {"-vn", "-ac", "1", "-ar", "2000", "-f", "s16le", "-"});
    try {
        auto result = Process::run(command, {}, [](std::string_view) {});
        struct stat status { };
        if (result.exitCode != 0 || ::fstat(samples.get(), &status) != 0 || status.st_size <= 0)
            return {};
        const auto size = size_t(status.st_size);
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, samples.get(), 0);
        if (mapped == MAP_FAILED)
            return {};
        auto reduced = reducePeaks(std::string_view(static_cast<const char*>(mapped), size), count);
        ::munmap(mapped, size);
        return reduced;
    } catch (const std::exception&) {
        // A launch failure, or the caller's task cancelled.
        return {};
    }
}

}
