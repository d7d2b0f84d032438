#include "core/engines/ffmpeg.h"

#include "core/base/app_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"
#include "core/base/task.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

// "01:02:03.500000000" in seconds.
std::optional<double> parseClock(std::string_view text)
{
    double seconds = 0;
    for (int part = 0; part < 3; ++part) {
        const auto colon = part < 2 ? text.find(':') : text.size();
        if (colon == std::string_view::npos)
            return std::nullopt;
        const auto value = parseNumber(text.substr(0, colon));
        if (!value)
            return std::nullopt;
        seconds = seconds * 60 + *value;
        text.remove_prefix(std::min(colon + 1, text.size()));
    }
    return seconds;
}

void runWith(std::vector<std::string> command, const std::vector<std::string>& arguments, ProgressParser parser)
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

    // Standard error is kept by the runner, bounded: a damaged stream can make ffmpeg report
    // every frame.
    auto result = Process::run(process, [&parser](std::string_view chunk) {
        parser.feed(chunk);
    });
    const auto& errors = result.err;
    if (result.exitCode != 0)
        throw ErrorCauses::failure(
            errors, *ffmpeg, {.fallback = ConversionError::describe(ConversionError::Kind::ffmpeg, {})});
    // ffmpeg may end well after the muxer failed to write (a full disk at the trailer).
    std::string_view rest = errors;
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (ErrorCauses::causeOf(line) == ErrorCauses::Cause::diskFull)
            throw ErrorCauses::failure(line, *ffmpeg);
        if (line.find("Error writing trailer") != std::string_view::npos
            || line.find("av_interleaved_write_frame()") != std::string_view::npos) {
            ErrorLog::add("ffmpeg: " + std::string(line));
            throw ConversionError::writeFailed();
        }
    }
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

namespace {

// A number ffprobe writes as text ("2.000000", "44100"); "N/A" or nothing is none.
std::optional<double> jsonNumber(const QJsonValue& value)
{
    return value.isString() ? parseNumber(value.toString().toStdString()) : std::nullopt;
}

Streams readStreams(std::string_view json)
{
    // Each stream carries its type, its duration and whether it is cover art, beside lists of its
    // own (side data: a phone's rotation, a LAME tag's ReplayGain) that say nothing of these.
    Streams streams;
    const auto document = QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size()))).object();
    for (const auto& entry : document.value("streams").toArray()) {
        const auto stream = entry.toObject();
        const auto type = stream.value("codec_type").toString();
        auto length = jsonNumber(stream.value("duration"));
        if (!length)  // Matroska states it only as a tag
            length = parseClock(stream.value("tags").toObject().value("DURATION").toString().toStdString());
        if (type == "audio" && !streams.audio) {
            streams.audio = true;
            streams.audioDuration = length;
            if (auto rate = jsonNumber(stream.value("sample_rate")); rate && *rate >= 1)
                streams.sampleRate = int(*rate);
        }
        const bool cover = stream.value("disposition").toObject().value("attached_pic").toInt() != 0;
        if (type == "video" && !cover && !streams.video) {
            streams.video = true;
            streams.videoDuration = length;
            int width = stream.value("width").toInt(), height = stream.value("height").toInt();
            for (const auto& data : stream.value("side_data_list").toArray())
                if (data.toObject().value("rotation").toInt() % 180 != 0)
                    std::swap(width, height);
            if (width > 0 && height > 0)
                streams.width = width, streams.height = height;
        }
    }
    streams.duration = jsonNumber(document.value("format").toObject().value("duration"));
    return streams;
}

}

Streams probe(const fs::path& media, bool cancellable)
{
    auto ffprobe = locate("ffprobe");
    if (!ffprobe)
        return {};
    Process::Command command;
    command.executable = *ffprobe;
    command.arguments = {"-v", "error", "-show_entries",
        "format=duration:stream=codec_type,duration,sample_rate,width,height:stream_tags=DURATION:stream_disposition="
        "attached_pic:stream_side_data=rotation",
        "-of", "json"};
    const auto file = input(media);
    command.arguments.insert(command.arguments.end(), file.begin(), file.end());
    command.cancellable = cancellable;
    Process::Result result;
    try {
        result = Process::run(command);
    } catch (const std::system_error&) {
        return {};
    }
    Streams streams = readStreams(result.out);
    streams.read = result.exitCode == 0;
    streams.error = std::move(result.err);
    return streams;
}

std::shared_future<Streams> probeBeside(const fs::path& media)
{
    return std::async(std::launch::async, [media, context = Task::current()] {
        Task::Binder binder(context);
        try {
            return probe(media, true);
        } catch (const std::exception&) {
            return Streams{};
        }
    }).share();
}

std::optional<double> playLength(const Streams& source, bool video, bool withSound)
{
    if (!video)
        return source.audioDuration ? source.audioDuration : source.duration;
    if (!source.videoDuration)
        return source.duration;
    return withSound && source.audioDuration ? std::max(*source.videoDuration, *source.audioDuration)
                                             : source.videoDuration;
}

void requireWhole(const Streams& made, bool video, std::optional<double> expected, const fs::path& folder)
{
    const auto missing = video ? ErrorCauses::noVideo : ErrorCauses::noAudio;
    if (!(video ? made.video : made.audio))
        throw ConversionError::ffmpeg(missing);
    if (!video && !(made.duration.value_or(0) > 0.001))
        throw ConversionError::ffmpeg(missing);
    if (!expected || !made.duration)
        return;
    if (*made.duration >= *expected - std::max(0.5, *expected * 0.03))
        return;
    struct statvfs disk { };
    const bool full = ::statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail * disk.f_frsize < (1u << 20);
    ErrorLog::add(
        "ffmpeg: saída de " + std::to_string(*made.duration) + " s para " + std::to_string(*expected) + " s na origem");
    throw ConversionError::ffmpeg(full ? ErrorCauses::diskFull : ErrorCauses::damaged);
}

std::optional<double> duration(const fs::path& media, bool cancellable) { return probe(media, cancellable).duration; }

const std::string& mediaFormats()
{
    // mov reads mp4, m4a, m4b, m4v and 3gp as well, matroska webm, asf wmv and wma, mpeg the
    // program streams of mpg and vob (mpegvideo their bare video), ogg ogv and opus; gif only
    // for the animations this program writes, probed once they are made. Any file the desktop
    // calls audio or video is offered the conversions, so the containers of sound and film that
    // people keep are here too (WavPack, DSD, Monkey's Audio, RealMedia, MXF…): each holds its
    // own streams, and none names other files to read.
    static const std::string formats
        = "mov,matroska,avi,asf,flv,mpeg,mpegvideo,mpegts,ogg,mp3,aac,wav,flac,aiff,caf,amr,gif,"
          "wv,dsf,iff,ape,tak,mpc,mpc8,au,voc,w64,ac3,eac3,dts,truehd,mlp,tta,shn,xwma,amrnb,amrwb,"
          "rm,mxf,nut,dv,ivf";
    return formats;
}

std::vector<std::string> input(const fs::path& path, const std::string& formats)
{
    return {"-protocol_whitelist", "file", "-format_whitelist", formats, "-i", pathArgument(path)};
}

std::vector<std::string> concatInput(const std::vector<fs::path>& files, const fs::path& folder)
{
    std::string list;
    for (size_t i = 0; i < files.size(); ++i) {
        // The extension helps ffmpeg tell bare streams (an MP3 without tags) apart; only a plain one.
        auto ext = files[i].extension().string();
        if (!std::all_of(ext.begin() + std::min<size_t>(ext.size(), 1), ext.end(), [](unsigned char c) {
                return std::isalnum(c);
            }))
            ext.clear();
        const auto name = "entrada-" + std::to_string(i) + ext;
        fs::create_symlink(pathArgument(files[i]), folder / name);
        // "option" lines are read only from a list taken as unsafe ("-safe 0"); the names are ours.
        list += "file '" + name + "'\noption format_whitelist " + mediaFormats() + "\n";
    }
    const auto path = folder / "lista.txt";
    FileSafety::writeNew(path, list);
    return {"-xerror", "-f", "concat", "-safe", "0", "-protocol_whitelist", "file", "-format_whitelist", "concat", "-i",
        path.string()};
}

const std::vector<std::string>& prefix()
{
    static const std::vector<std::string> arguments
        = {"-hide_banner", "-nostdin", "-loglevel", "error", "-nostats", "-progress", "pipe:1", "-n"};
    return arguments;
}

void run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress)
{
    runWith(prefix(), arguments, ProgressParser(duration, progress));
}

namespace {

void runInto(
    std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format, ProgressParser parser)
{
    auto command = prefix();
    std::replace(command.begin(), command.end(), std::string("-n"), std::string("-y"));
    // The file is new and empty. Truncating it anyway would make ext4 treat the write as the
    // replacement of a file's contents and start writing it all back to disk when ffmpeg closes
    // it: on a stream copy of a large file, a fifth to a third of the copy's own time.
    arguments.insert(arguments.end(), {"-f", format, "-truncate", "0", output.writerPath().string()});
    runWith(std::move(command), arguments, std::move(parser));
}

}

void run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::optional<double> duration, const Progress& progress)
{
    runInto(std::move(arguments), output, format, ProgressParser(duration, progress));
}

void run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::shared_future<std::optional<double>> duration, const Progress& progress)
{
    runInto(std::move(arguments), output, format, ProgressParser(std::move(duration), progress));
}

LateFilter::LateFilter(const fs::path& folder, std::shared_future<std::string> text) : path_(folder / "filtro.txt")
{
    if (::mkfifo(path_.c_str(), 0600) != 0)
        throw std::system_error(errno, std::generic_category(), "mkfifo");
    writer_ = std::thread([this, text = std::move(text)] {
        using namespace std::chrono_literals;
        // A reader that ends between the open and the write must not end this process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (text.wait_for(5ms) != std::future_status::ready)
            if (over_)
                return;
        // Opening for writing without blocking succeeds only once ffmpeg waits in its open for
        // reading; until then it fails with ENXIO.
        int fd = -1;
        while ((fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
            if ((errno != ENXIO && errno != EINTR) || over_)
                return;
            std::this_thread::sleep_for(2ms);
        }
        FileSafety::Fd fifo(fd);
        std::string chain;
        try {
            chain = text.get();
        } catch (const std::exception&) {
            return;  // ffmpeg reads an empty chain and says so
        }
        std::string_view rest = chain;
        while (!rest.empty() && !over_) {
            const auto written = ::write(fifo.get(), rest.data(), rest.size());
            if (written > 0)
                rest.remove_prefix(size_t(written));
            else if (written < 0 && errno == EAGAIN)
                std::this_thread::sleep_for(2ms);
            else if (written < 0 && errno != EINTR)
                return;
        }
    });
}

LateFilter::~LateFilter()
{
    over_ = true;
    writer_.join();
}

ProgressParser::ProgressParser(std::optional<double> duration, Progress progress)
    : duration_(duration.value_or(0)), progress_(std::move(progress))
{
}

ProgressParser::ProgressParser(std::shared_future<std::optional<double>> duration, Progress progress)
    : later_(std::move(duration)), progress_(std::move(progress))
{
}

void ProgressParser::feed(std::string_view chunk)
{
    if (!progress_ || !(duration_ > 0 || later_.valid()))
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
    if (later_.valid() && later_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        duration_ = later_.get().value_or(0);
        later_ = {};
    }
    if (!(duration_ > 0))
        return;
    auto micros = parseNumber(line.substr(key.size()));
    if (!micros)
        return;
    progress_(std::clamp(*micros / 1'000'000 / duration_, 0.0, 1.0));
}

}
