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
#include <QStringList>

#include <algorithm>
#include <array>
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
#include <tuple>
#include <utility>

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

// Reads ffmpeg's standard error line by line as it arrives: the lines of level error and worse
// are kept as they would read at "-loglevel error", for the causes of a failure; of the rest, only
// what the summary says of the output's streams.
class LogReader {
public:
    LogReader(Report& report, ProgressParser& parser) : report_(report), parser_(parser) { }

    void feed(std::string_view chunk)
    {
        while (!chunk.empty()) {
            const auto end = chunk.find('\n');
            if (end == std::string_view::npos) {
                pending_.append(chunk);
                // A line without end is cut: what ffmpeg prints is decided by its input.
                if (pending_.size() > Process::errorKeep)
                    line(std::exchange(pending_, {}));
                return;
            }
            pending_.append(chunk.substr(0, end));
            line(pending_);
            pending_.clear();
            chunk.remove_prefix(end + 1);
        }
    }

    std::string errors()
    {
        if (!pending_.empty())
            line(std::exchange(pending_, {}));
        return errors_.take();
    }

private:
    void line(std::string text)
    {
        // "[mp3 @ 0x5f…] [error] text": the tag follows the context, when there is one. A line
        // without a tag continues the message before it.
        size_t at = 0;
        if (text.starts_with('[')) {
            const auto close = text.find("] ");
            if (close != std::string::npos && text.find(" @ ") < close)
                at = close + 2;
        }
        if (text.compare(at, 1, "[") == 0) {
            const auto close = text.find("] ", at);
            static const std::array<std::string_view, 9> levels
                = {"quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug", "trace"};
            const auto tag = close == std::string::npos ? std::string_view()
                                                        : std::string_view(text).substr(at + 1, close - at - 1);
            if (const auto found = std::find(levels.begin(), levels.end(), tag); found != levels.end()) {
                error_ = found - levels.begin() <= 3;
                text.erase(at, close + 2 - at);
            }
        } else if (const auto own = text.find(" [error]: "); own != std::string::npos && own > 0
                   && text.find(' ') == own) {
            // An encoder library that writes its own complaints: "x264 [error]: malloc of size …".
            error_ = true;
        }
        if (error_) {
            errors_.append(text + "\n");
            return;
        }
        std::string_view rest = text;
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
        if (rest.starts_with("Output #"))
            output_ = true;
        else if (!output_ && !input_ && rest.starts_with("Duration: "))
            duration(rest.substr(10));
        else if (output_ && rest.starts_with("Stream #") && rest.ends_with("(attached pic)"))
            ++report_.covers;
        else if (rest.starts_with("Output file #"))
            report_.summary = true;
        else if (rest.starts_with("Output stream #"))
            stream(rest);
    }

    // "Output stream #0:1 (audio): 173 frames encoded (177152 samples); 174 packets muxed (35078 bytes);"
    void stream(std::string_view text)
    {
        constexpr std::string_view muxed = "packets muxed (";
        const auto from = text.find(muxed);
        if (from == std::string_view::npos)
            return;
        auto number = text.substr(from + muxed.size());
        unsigned long long bytes = 0;
        if (std::from_chars(number.data(), number.data() + number.size(), bytes).ec != std::errc())
            return;
        if (text.find(" (video): ") != std::string_view::npos)
            ++report_.pictures, report_.pictureBytes += bytes;
        else if (text.find(" (audio): ") != std::string_view::npos)
            ++report_.sounds, report_.soundBytes += bytes;
    }

    // "00:00:04.00, start: 0.000000, bitrate: 164 kb/s" of the first input.
    void duration(std::string_view text)
    {
        input_ = true;
        report_.inputLength = parseClock(text.substr(0, text.find(',')));
        if (report_.inputLength)
            parser_.offer(*report_.inputLength);
    }

    Report& report_;
    ProgressParser& parser_;
    bool input_ = false;
    std::string pending_;
    bool error_ = false;
    bool output_ = false;
    Process::BoundedText errors_;
};

Report runWith(std::vector<std::string> command, const std::vector<std::string>& arguments, ProgressParser parser)
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
    // A cancelled output is thrown away: nothing is gained by letting the encoders flush.
    process.killOnCancel = true;

    // The errors kept are bounded: a damaged stream can make ffmpeg report every frame.
    Report report;
    LogReader log(report, parser);
    auto result = Process::run(
        process,
        [&parser](std::string_view chunk) {
            parser.feed(chunk);
        },
        [&log](std::string_view chunk) {
            log.feed(chunk);
        });
    const auto errors = log.errors();
    if (result.exitCode != 0)
        // ffmpeg's own allocations fail only at the job's bounds: no picture or sound of a real
        // file needs more than they give.
        throw ErrorCauses::failure(errors, *ffmpeg,
            {.tooLarge = ErrorCauses::tooMuchMemory,
                .fallback = ConversionError::describe(ConversionError::Kind::ffmpeg, {})});
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
    report.ended = parser.ended();
    report.length = parser.lastTime();
    return report;
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

// The rate of pictures whose timestamps are `times`, read in decoding order: pictures that others
// refer to come first, and those after the last one read may still be missing, so the middle step
// between neighbours is the rate's. None for fewer than four.
std::optional<double> rateOf(std::vector<double> times)
{
    if (times.size() < 4)
        return std::nullopt;
    std::sort(times.begin(), times.end());
    std::vector<double> steps;
    for (size_t i = 1; i < times.size(); ++i)
        steps.push_back(times[i] - times[i - 1]);
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    const double step = steps[steps.size() / 2];
    if (!(step > 0))
        return std::nullopt;
    return 1 / step;
}

Streams readStreams(std::string_view json)
{
    // Each stream carries its type, its duration and whether it is cover art, beside lists of its
    // own (side data: a phone's rotation, a LAME tag's ReplayGain) that say nothing of these.
    Streams streams;
    int picture = -1;
    const auto document = QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size()))).object();
    for (const auto& entry : document.value("streams").toArray()) {
        const auto stream = entry.toObject();
        const auto type = stream.value("codec_type").toString();
        QStringList shape = {type, stream.value("codec_name").toString()};
        for (const char* key : {"width", "height", "channels"})
            if (const auto value = stream.value(key); !value.isUndefined())
                shape << QString::number(value.toInt());
        for (const char* key : {"r_frame_rate", "sample_rate", "channel_layout", "pix_fmt"})
            if (const auto value = stream.value(key); !value.isUndefined())
                shape << value.toString();
        for (const auto& data : stream.value("side_data_list").toArray())
            if (const auto turn = data.toObject().value("rotation"); !turn.isUndefined())
                shape << "rotation" << QString::number(turn.toInt());
        streams.shapes.push_back(shape.join(' ').toStdString());
        auto length = jsonNumber(stream.value("duration"));
        if (!length)  // Matroska states it only as a tag
            length = parseClock(stream.value("tags").toObject().value("DURATION").toString().toStdString());
        if (length && *length > streams.longestStream.value_or(0))
            streams.longestStream = length;
        if (type == "audio" && !streams.audio) {
            streams.audio = true;
            streams.audioCodec = stream.value("codec_name").toString().toStdString();
            streams.audioDuration = length;
            if (auto rate = jsonNumber(stream.value("sample_rate")); rate && *rate >= 1)
                streams.sampleRate = int(*rate);
        }
        if (type == "video" && !(stream.value("width").toInt() > 0 && stream.value("height").toInt() > 0))
            streams.unsized.push_back(stream.value("index").toInt());
        const bool cover = stream.value("disposition").toObject().value("attached_pic").toInt() != 0;
        if (type == "video" && !cover && !streams.video) {
            streams.video = true;
            picture = stream.value("index").toInt(-1);
            streams.videoDuration = length;
            streams.videoCodec = stream.value("codec_name").toString().toStdString();
            const auto rate = stream.value("r_frame_rate").toString().split('/');
            if (rate.size() == 2 && rate[0].toDouble() > 0 && rate[1].toDouble() > 0)
                streams.frameRate = rate[0].toDouble() / rate[1].toDouble();
            int width = stream.value("width").toInt(), height = stream.value("height").toInt();
            for (const auto& data : stream.value("side_data_list").toArray())
                if (data.toObject().value("rotation").toInt() % 180 != 0)
                    std::swap(width, height);
            if (width > 0 && height > 0)
                streams.width = width, streams.height = height;
        }
    }
    streams.duration = jsonNumber(document.value("format").toObject().value("duration"));
    std::vector<double> times;
    for (const auto& entry : document.value("packets").toArray()) {
        const auto packet = entry.toObject();
        for (const auto& data : packet.value("side_data_list").toArray())
            if (data.toObject().value("side_data_type").toString().startsWith("Encryption"))
                streams.encrypted = true;
        if (packet.value("stream_index").toInt(-1) == picture)
            if (const auto at = jsonNumber(packet.value("pts_time")))
                times.push_back(*at);
    }
    streams.timedRate = rateOf(std::move(times));
    return streams;
}

// "Picture size 16000x16000 exceeds specified max pixel count …": the size of a picture the
// decoder was not allowed to take, which it then reports as none.
std::optional<std::pair<int, int>> boundedSize(std::string_view errors)
{
    constexpr std::string_view head = "Picture size ";
    for (auto at = errors.find(head); at != std::string_view::npos; at = errors.find(head, at + 1)) {
        auto rest = errors.substr(at + head.size());
        int width = 0, height = 0;
        auto [x, first] = std::from_chars(rest.data(), rest.data() + rest.size(), width);
        if (first != std::errc() || x == rest.data() + rest.size() || *x != 'x')
            continue;
        auto [end, second] = std::from_chars(x + 1, rest.data() + rest.size(), height);
        if (second == std::errc() && width > 0 && height > 0
            && std::string_view(end, size_t(rest.data() + rest.size() - end)).starts_with(" exceeds"))
            return std::pair(width, height);
    }
    return std::nullopt;
}

// A tool's output as it comes, a whole line at a time, the part of a line not ended yet kept in
// `pending`. Only the first 4 KiB of a line are kept: no line read here is longer, and a damaged
// file may make one without end.
Process::Sink lineByLine(std::string& pending, std::function<void(std::string_view)> line)
{
    return [&pending, line = std::move(line)](std::string_view chunk) {
        constexpr size_t longest = 4096;
        while (!chunk.empty()) {
            const auto stop = chunk.find('\n');
            if (pending.size() < longest)
                pending.append(chunk.substr(0, std::min(stop, longest - pending.size())));
            if (stop == std::string_view::npos)
                return;
            line(pending);
            pending.clear();
            chunk.remove_prefix(stop + 1);
        }
    };
}

// What ffprobe answers on `media` with `arguments` before its input; none where it is missing or
// cannot start. A cancellable run ends with the current task.
std::optional<Process::Result> runProbe(std::vector<std::string> arguments, const fs::path& media, bool cancellable)
{
    auto ffprobe = locate("ffprobe");
    if (!ffprobe)
        return std::nullopt;
    Process::Command command;
    command.executable = *ffprobe;
    command.arguments = std::move(arguments);
    const auto file = input(media);
    command.arguments.insert(command.arguments.end(), file.begin(), file.end());
    command.cancellable = cancellable;
    command.killOnCancel = true;
    try {
        return Process::run(command);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}

std::vector<std::string> noPictures() { return {"-max_pixels:v", "1"}; }

Streams probe(const fs::path& media, bool cancellable, bool pictures)
{
    std::vector<std::string> bound = {"-v", "error", "-max_pixels", std::to_string(maxFramePixels)};
    if (!pictures) {
        const auto none = noPictures();
        bound.insert(bound.end(), none.begin(), none.end());
    }
    bound.insert(bound.end(), {"-show_entries",
                                     "format=duration:stream=index,codec_type,codec_name,duration,sample_rate,channels,"
                                     "channel_layout,width,height,r_frame_rate,pix_fmt:stream_tags=DURATION:"
                                     "stream_disposition=attached_pic:stream_side_data=rotation:packet=stream_index,"
                                     "pts_time:packet_side_data=side_data_type",
                                     "-read_intervals", "%+#24", "-of", "json"});
    const auto result = runProbe(bound, media, cancellable);
    if (!result)
        return {};
    // A film's picture whose decoder reads its size as it opens fails ffprobe so: its own probe
    // then, which a sound's job of a film costs little.
    if (!pictures && result->exitCode != 0)
        return probe(media, cancellable, true);
    Streams streams = readStreams(result->out);
    streams.read = result->exitCode == 0;
    streams.error = result->err;
    if (pictures && streams.video && !streams.width)
        if (const auto size = boundedSize(streams.error))
            std::tie(streams.width, streams.height) = *size;
    return streams;
}

std::shared_future<Streams> probeBeside(const fs::path& media, bool pictures)
{
    return std::async(std::launch::async, [media, pictures, context = Task::current()] {
        Task::Binder binder(context);
        try {
            return probe(media, true, pictures);
        } catch (const std::exception&) {
            return Streams{};
        }
    }).share();
}

void requireFrameSize(const Streams& source)
{
    if (!source.width || !source.height || (long long)*source.width * *source.height <= maxFramePixels)
        return;
    ErrorLog::add("ffprobe: quadro de " + std::to_string(*source.width) + " × " + std::to_string(*source.height));
    throw ConversionError::because("O vídeo é grande demais para converter (" + std::to_string(*source.width) + " × "
        + std::to_string(*source.height) + " pixels por quadro; o máximo é 8192 × 4352).");
}

bool largeFrame(const Streams& source)
{
    return source.width && source.height && (long long)*source.width * *source.height > fullHDPixels;
}

std::vector<std::string> decoderBound(const Streams& source)
{
    std::vector<std::string> list = {"-max_pixels", std::to_string(maxFramePixels)};
    if (largeFrame(source))
        list.insert(list.end(), {"-threads", "2"});
    return list;
}

std::vector<std::string> unprobedBound() { return {"-max_pixels", std::to_string(fullHDPixels)}; }

std::vector<std::string> onlyFirstStreams(const fs::path& media)
{
    auto ffmpeg = locate("ffmpeg");
    if (!ffmpeg)
        return {};
    Process::Command command;
    command.executable = *ffmpeg;
    // Every stream given a decoder that costs nothing, and none opened to look into the file:
    // what the container's header says is all the list needs.
    command.arguments = {"-hide_banner", "-nostdin", "-nofind_stream_info", "-c:v", "rawvideo", "-c:a", "pcm_s16le"};
    const auto file = input(media);
    command.arguments.insert(command.arguments.end(), file.begin(), file.end());
    command.cancellable = true;
    command.killOnCancel = true;
    std::vector<std::pair<int, std::string_view>> others;
    bool picture = false, sound = false;
    // "  Stream #0:3[0x101](por): Video: rawvideo, …, 90k tbn (attached pic)": at this depth
    // only, as the streams' own tags are printed deeper.
    const auto line = [&](std::string_view text) {
        constexpr std::string_view head = "  Stream #0:";
        if (!text.starts_with(head))
            return;
        int index = -1;
        const auto digits = text.substr(head.size());
        if (std::from_chars(digits.data(), digits.data() + digits.size(), index).ec != std::errc() || index < 0)
            return;
        const auto kind = text.find(": ", head.size());
        if (kind == std::string_view::npos)
            return;
        const auto type = text.substr(kind + 2);
        const bool cover = text.ends_with("(attached pic)");
        if (type.starts_with("Video:")) {
            if (picture || cover)
                others.emplace_back(index, "rawvideo");
            picture = picture || !cover;
        } else if (type.starts_with("Audio:")) {
            if (sound)
                others.emplace_back(index, "pcm_s16le");
            sound = true;
        }
    };
    std::string pending;
    try {
        Process::run(command, {}, lineByLine(pending, line));
    } catch (const std::system_error&) {
        return {};
    }
    std::vector<std::string> list;
    for (const auto& [index, decoder] : others)
        list.insert(list.end(), {"-c:" + std::to_string(index), std::string(decoder)});
    return list;
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
        throw ConversionError::because(missing);
    if (!video && !(made.duration.value_or(0) > 0.001))
        throw ConversionError::because(missing);
    if (!expected || !made.duration)
        return;
    if (longEnough(*made.duration, *expected))
        return;
    struct statvfs disk { };
    const bool full = ::statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail * disk.f_frsize < (1u << 20);
    ErrorLog::add(
        "ffmpeg: saída de " + std::to_string(*made.duration) + " s para " + std::to_string(*expected) + " s na origem");
    throw ConversionError::because(full ? ErrorCauses::diskFull : ErrorCauses::damaged);
}

bool reportedWhole(const Report& report, bool video, std::optional<double> expected)
{
    if (!report.ended || !report.summary || !report.length)
        return false;
    // Every picture a cover, or some: which one is the picture is not said.
    if (video ? report.pictures == 0 || report.covers > 0 || report.pictureBytes == 0
              : report.sounds == 0 || report.soundBytes == 0 || !(*report.length > 0.001))
        return false;
    return !expected || longEnough(*report.length, *expected);
}

void requireWhole(
    const Report& report, const fs::path& output, bool video, std::optional<double> expected, const fs::path& folder)
{
    if (!reportedWhole(report, video, expected))
        requireWhole(probe(output, true), video, expected, folder);
}

bool longEnough(double length, double expected) { return length >= expected - std::max(0.5, expected * 0.03); }

std::optional<double> heldLength(const fs::path& media, bool video)
{
    auto ffprobe = locate("ffprobe");
    if (!ffprobe)
        return std::nullopt;
    Process::Command command;
    command.executable = *ffprobe;
    command.arguments = {"-v", "error", "-select_streams", video ? "V:0" : "a:0", "-show_entries",
        "packet=pts_time,duration_time", "-of", "csv=p=0"};
    const auto file = input(media);
    command.arguments.insert(command.arguments.end(), file.begin(), file.end());
    command.cancellable = true;
    command.killOnCancel = true;
    // A line per packet, "1.960000,0.040000", read as it comes: a long film has hundreds of
    // thousands.
    std::optional<double> first, end;
    std::string pending;
    const auto line = [&](std::string_view text) {
        const auto comma = text.find(',');
        const auto at = parseNumber(text.substr(0, comma));
        if (!at)
            return;
        const auto length = comma == std::string_view::npos ? std::nullopt : parseNumber(text.substr(comma + 1));
        first = std::min(first.value_or(*at), *at);
        end = std::max(end.value_or(*at), *at + length.value_or(0));
    };
    Process::Result result;
    try {
        result = Process::run(command, lineByLine(pending, line));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (result.exitCode != 0 || !result.err.empty() || !first || !end)
        return std::nullopt;
    return *end - *first;
}

void requireWholeOf(const Report& report, const fs::path& output, bool video, std::optional<double> expected,
    const fs::path& folder, const fs::path& source, const Keep& keep)
{
    if (reportedWhole(report, video, expected))
        return;
    const auto made = probe(output, true);
    try {
        requireWhole(made, video, expected, folder);
    } catch (const ConversionError&) {
        // Short of the header's length, which may be a placeholder: what the source holds decides.
        if (!expected || !made.duration || !(video ? made.video : made.audio))
            throw;
        const auto held = heldLength(source, video);
        if (!held)
            throw;
        const auto kept = keep ? keep(*held) : *held;
        if (kept >= *expected || !longEnough(*made.duration, kept))
            throw;
    }
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
    return {"-f", "concat", "-safe", "0", "-protocol_whitelist", "file", "-format_whitelist", "concat", "-i",
        path.string()};
}

const std::vector<std::string>& prefix()
{
    static const std::vector<std::string> arguments
        = {"-hide_banner", "-nostdin", "-loglevel", "level+verbose", "-nostats", "-progress", "pipe:1", "-n"};
    return arguments;
}

Report run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress)
{
    return runWith(prefix(), arguments, ProgressParser(duration, progress));
}

namespace {

Report runInto(
    std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format, ProgressParser parser)
{
    auto command = prefix();
    std::replace(command.begin(), command.end(), std::string("-n"), std::string("-y"));
    // The file is new and empty. Truncating it anyway would make ext4 treat the write as the
    // replacement of a file's contents and start writing it all back to disk when ffmpeg closes
    // it: on a stream copy of a large file, a fifth to a third of the copy's own time.
    arguments.insert(arguments.end(), {"-f", format, "-truncate", "0", output.writerPath().string()});
    return runWith(std::move(command), arguments, std::move(parser));
}

}

Report run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::optional<double> duration, const Progress& progress)
{
    return runInto(std::move(arguments), output, format, ProgressParser(duration, progress));
}

Report run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::shared_future<std::optional<double>> duration, const Progress& progress)
{
    return runInto(std::move(arguments), output, format, ProgressParser(std::move(duration), progress));
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

void ProgressParser::offer(double duration)
{
    if (duration_ > 0 || later_.valid())
        return;
    duration_ = duration;
    // Standard output is read before standard error when both wait: a short run's records can
    // all come before the length they are measured against. The last one still reports.
    if (progress_ && lastTime_ && duration_ > 0)
        progress_(std::clamp(*lastTime_ / duration_, 0.0, 1.0));
}

void ProgressParser::feed(std::string_view chunk)
{
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
    // A record ends with its "progress=" line; its counters are compared as text, as ffmpeg
    // prints them ("N/A" until a packet is written).
    const auto counter = [&](std::string_view key, std::string& last) {
        if (!line.starts_with(key))
            return false;
        const auto value = line.substr(key.size());
        if (value != last && value != "N/A" && value != "0") {
            last = value;
            advanced_ = true;
        }
        return true;
    };
    if (counter("frame=", frames_) || counter("total_size=", bytes_))
        return;
    if (line.starts_with("out_time_us="))
        counter("out_time_us=", time_);
    if (line.starts_with("progress=") && std::exchange(advanced_, false))
        WorkPulse::now();
    if (line == "progress=end") {
        ended_ = true;
        // A short run may end before its duration is found: the last record still reports, once
        // it is, so that a job never goes from nothing to done.
        if (progress_ && later_.valid()) {
            duration_ = later_.get().value_or(0);
            later_ = {};
            if (duration_ > 0 && lastTime_)
                progress_(std::clamp(*lastTime_ / duration_, 0.0, 1.0));
        }
        return;
    }
    constexpr std::string_view key = "out_time_us=";
    if (!line.starts_with(key))
        return;
    // "N/A" until a packet has been written.
    auto micros = parseNumber(line.substr(key.size()));
    lastTime_ = micros ? std::optional(*micros / 1'000'000) : std::nullopt;
    if (!progress_ || !micros)
        return;
    if (later_.valid() && later_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        duration_ = later_.get().value_or(0);
        later_ = {};
    }
    if (!(duration_ > 0))
        return;
    progress_(std::clamp(*micros / 1'000'000 / duration_, 0.0, 1.0));
}

}
