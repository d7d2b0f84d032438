#include "core/engines/ffmpeg.h"

#include "core/base/app_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"
#include "core/base/task.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace FFmpeg {

namespace {

// A whole-text number as the tools print it ("12.345"), locale-free.
std::optional<double> parseNumber(std::string_view text)
{
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

void runWith(std::vector<std::string> command, const std::vector<std::string>& arguments,
    std::optional<double> duration, const Progress& progress)
{
    auto ffmpeg = locate("ffmpeg");
    if (!ffmpeg)
        throw ConversionError::ffmpegMissing();
    Task::checkCancelled();

    Process::Command process;
    process.executable = *ffmpeg;
    process.arguments = std::move(command);
    process.arguments.insert(process.arguments.end(), arguments.begin(), arguments.end());
    process.cancellable = true;

    ProgressParser parser(duration, progress);
    std::string errors;
    auto result = Process::run(
        process,
        [&parser](std::string_view chunk) {
            parser.feed(chunk);
        },
        [&errors](std::string_view chunk) {
            errors.append(chunk);
        });
    // No line reads as "O ffmpeg falhou.".
    if (result.exitCode != 0)
        throw ConversionError::ffmpeg(Process::lastErrorLine(errors));
    // It may have finished just as the job was cancelled; the job still ends cancelled.
    Task::checkCancelled();
}

}

std::string pathArgument(const fs::path& path)
{
    std::error_code error;
    auto absolute = fs::absolute(path, error);
    return (error ? path : absolute).string();
}

std::optional<std::string> locate(const std::string& name, const fs::path& resources)
{
    auto candidate = resources / "bin" / name;
    std::error_code error;
    if (!fs::is_regular_file(candidate, error) || ::access(candidate.c_str(), X_OK) != 0)
        return std::nullopt;
    return candidate.string();
}

std::optional<std::string> locate(const std::string& name) { return locate(name, AppPaths::resources()); }

Streams probe(const fs::path& media)
{
    auto ffprobe = locate("ffprobe");
    if (!ffprobe)
        return {};
    Process::Command command;
    command.executable = *ffprobe;
    command.arguments
        = {"-v", "error", "-show_entries", "format=duration:stream=codec_type,sample_rate:stream_disposition=attached_pic", "-of",
            "default=nw=1", pathArgument(media)};
    Process::Result result;
    try {
        result = Process::run(command, {}, [](std::string_view) {});
    } catch (const std::system_error&) {
        return {};
    }
    // Streams come first, each as its type and then whether it is cover art; the exit status
    // says nothing more than the printed text ("N/A" or nothing is no duration).
    Streams streams;
    std::string_view text = result.out, type;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        const auto line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const auto key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "codec_type")
            type = value;
        if (key == "codec_type" && value == "audio")
            streams.audio = true;
        if (key == "DISPOSITION:attached_pic" && type == "video" && value == "0")
            streams.video = true;
        if (key == "sample_rate" && type == "audio" && !streams.sampleRate)
            if (auto rate = parseNumber(value); rate && *rate >= 1)
                streams.sampleRate = int(*rate);
        if (key == "duration")
            streams.duration = parseNumber(value);
    }
    return streams;
}

std::optional<double> duration(const fs::path& media) { return probe(media).duration; }

const std::vector<std::string>& prefix()
{
    static const std::vector<std::string> arguments
        = {"-hide_banner", "-nostdin", "-loglevel", "error", "-nostats", "-progress", "pipe:1", "-n"};
    return arguments;
}

void run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress)
{
    runWith(prefix(), arguments, duration, progress);
}

void run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::optional<double> duration, const Progress& progress)
{
    auto command = prefix();
    std::replace(command.begin(), command.end(), std::string("-n"), std::string("-y"));
    arguments.insert(arguments.end(), {"-f", format, output.writerPath().string()});
    runWith(std::move(command), arguments, duration, progress);
}

ProgressParser::ProgressParser(std::optional<double> duration, Progress progress)
    : duration_(duration.value_or(0)), progress_(std::move(progress))
{
}

void ProgressParser::feed(std::string_view chunk)
{
    if (!progress_ || !(duration_ > 0))
        return;
    while (!chunk.empty()) {
        auto end = chunk.find('\n');
        if (end == std::string_view::npos) {
            pending_.append(chunk);
            return;
        }
        if (pending_.empty()) {
            parseLine(chunk.substr(0, end));
        } else {
            pending_.append(chunk.substr(0, end));
            parseLine(pending_);
            pending_.clear();
        }
        chunk.remove_prefix(end + 1);
    }
}

void ProgressParser::parseLine(std::string_view line)
{
    constexpr std::string_view key = "out_time_us=";
    if (!line.starts_with(key))
        return;
    auto micros = parseNumber(line.substr(key.size()));
    if (!micros)
        return;
    progress_(std::clamp(*micros / 1'000'000 / duration_, 0.0, 1.0));
}

}
