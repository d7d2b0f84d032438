#pragma once

#include "core/base/progress.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace FileSafety {
class NewFile;
}

// The ffmpeg/ffprobe pair in the program's resources/bin.
namespace FFmpeg {
// resources/bin/<name> when it exists and is executable.
std::optional<std::string> locate(const std::string& name);
// The same lookup in a given resources folder.
std::optional<std::string> locate(const std::string& name, const std::filesystem::path& resources);

// What ffprobe finds in a file: the duration in seconds (none when it prints no number) and
// whether an audio stream and a video stream other than cover art are there. Nothing at all
// when ffprobe is missing or fails. Blocks until ffprobe exits; a `cancellable` probe ends
// early when the current task is cancelled, and throws CancellationError.
struct Streams {
    std::optional<double> duration;
    bool audio = false;
    bool video = false;
    // Of the first audio stream.
    std::optional<int> sampleRate;
    // The first audio and picture streams' own durations, where the container states them, and
    // the longest any stream states (subtitles may run on after both).
    std::optional<double> audioDuration;
    std::optional<double> videoDuration;
    std::optional<double> longestStream;
    // The first picture stream's size as it is shown, its rotation applied.
    std::optional<int> width, height;
    // The first picture stream's frame rate as its header states it (r_frame_rate), and the rate
    // its first packets are timed at: what the pictures play at where the header states another
    // (a Matroska track's default duration made for another stream). None without a few packets.
    std::optional<double> frameRate, timedRate;
    // The codecs of those first streams as ffprobe names them ("hevc", "aac"); empty without one.
    std::string videoCodec, audioCodec;
    // The indexes of picture streams, cover art among them, whose size ffprobe could not read (a
    // cover whose JPEG is broken): no container takes them in a copy.
    std::vector<int> unsized;
    // Its first packet is encrypted: without the key, what ffmpeg decodes is noise.
    bool encrypted = false;
    // Every stream as what a stream copy has to find alike in each part of a join: its kind
    // and codec, a picture's size and frame rate, a sound's rate and channel layout.
    std::vector<std::string> shapes;
    // Whether ffprobe could read the file at all, and what it said when it could not.
    bool read = false;
    std::string error;
};
// Its decoders take no picture beyond maxFramePixels: the size of a larger one is read from
// what the decoder says of it, without decoding it.
// Work on the sound alone probes with `pictures` false: no picture is decoded, so that a song's
// covers (a dozen of several megabytes each) take no memory, and none is reported sized; a file
// it cannot read so is probed again with its pictures.
Streams probe(const std::filesystem::path& media, bool cancellable = false, bool pictures = true);
std::optional<double> duration(const std::filesystem::path& media, bool cancellable = false);
// A cancellable probe() started at once on a thread of the current task, for work that needs the
// streams only once ffmpeg runs or has run; a failed probe gives no streams.
std::shared_future<Streams> probeBeside(const std::filesystem::path& media, bool pictures = true);

// The largest picture decoded and encoded here: the largest the video codecs' levels define
// (8192 × 4352). A decoder and an encoder each hold several pictures at once, and a frame many
// times that size (a single 16000 × 16000 frame of a few hundred kilobytes) takes gigabytes.
inline constexpr long long maxFramePixels = 8192LL * 4352;
// Throws ConversionError with a sentence that names the size for a picture beyond maxFramePixels.
void requireFrameSize(const Streams& source);
// Full HD, as its encoders store it (1088 lines).
inline constexpr long long fullHDPixels = 1920LL * 1088;
// Whether the picture is larger than full HD: its decoder and encoder are bounded in how many
// pictures they hold at once (threads, look-ahead). That takes longer (a 4K encode about 1.8
// times as long) but keeps a job within the memory it may take.
bool largeFrame(const Streams& source);
// The decoder's options for the input of `source` (before its "-i"): never a picture beyond
// maxFramePixels, and fewer threads, each of which holds pictures of its own, for a large one.
std::vector<std::string> decoderBound(const Streams& source);
// The decoder's options for an input not probed: no picture beyond full HD. A larger one ends
// ffmpeg at its first frame, before an encoder holds anything, and is probed for a bounded run.
std::vector<std::string> unprobedBound();
// The decoder's options (after the others, before "-i") of an input whose pictures are not used:
// none is decoded, not even while ffmpeg looks into the file before it starts.
std::vector<std::string> noPictures();

// The decoders' options (before "-i") that keep ffmpeg from setting up a decoder for any picture
// or sound stream of `media` but the first picture that is no cover and the first sound, the ones
// a conversion maps: each of the others is given the cheapest decoder of its kind. ffmpeg
// otherwise readies a decoder for every stream, a megabyte each for H.264, before it looks at
// what is mapped: 800 MiB for a file of 500 small video streams. The streams are listed by a run
// of ffmpeg that decodes nothing; empty where there are no others, or the list cannot be had.
std::vector<std::string> onlyFirstStreams(const std::filesystem::path& media);

// How long an output made from `source` should play: for a picture, its picture's length, or
// with `withSound` the longer of picture and sound; for sound alone, the sound's. The container's
// length where the streams state none.
std::optional<double> playLength(const Streams& source, bool video, bool withSound);

// ffmpeg can end well with less than it was given: a source cut short after its header, a
// sound track it could not decode, a disk that filled while the muxer buffered. An output (as
// probed) is believed only when it holds the stream it is for (a picture for `video`, else a
// sound with samples) and plays about as long as `expected`: a frame or two and the codecs'
// padding either way. Throws ConversionError: "no video"/"no audio" for a missing stream, a full
// disk or a damaged source for a short one.
void requireWhole(const Streams& made, bool video, std::optional<double> expected, const std::filesystem::path& folder);

// What ffmpeg said at the end of a run about the output it wrote: how far its streams reach (the
// last -progress record) and what each stream took (the summary it prints once it is done).
struct Report {
    bool ended = false;  // the record marked as the last one arrived
    std::optional<double> length;  // the output time of the last record
    bool summary = false;  // the summary of the streams written arrived
    int pictures = 0, covers = 0, sounds = 0;  // streams written of each kind; covers among pictures
    unsigned long long pictureBytes = 0, soundBytes = 0;
    // How long the first input plays, as its container says ("Duration:"); none when it says
    // nothing or "N/A".
    std::optional<double> inputLength;
};

// Whether a report shows the output whole by requireWhole()'s rule. It tells only that much: its
// time is that of the last packet written, short of the end by a frame or, where pictures are
// reordered, a few; which of several pictures is cover art it does not say.
bool reportedWhole(const Report& report, bool video, std::optional<double> expected);
// requireWhole() on the output that `report` is of, probed only where the report does not show
// it whole: every failure is told from the probe, as before ffmpeg reported anything.
void requireWhole(const Report& report, const std::filesystem::path& output, bool video, std::optional<double> expected,
    const std::filesystem::path& folder);

// Whether an output of `length` seconds is as long as `expected`: a frame or two and the codecs'
// padding short of it at most.
bool longEnough(double length, double expected);
// How long the first picture stream (with `video`, else the first sound) of `media` plays by its
// packets, read to the end: what the file holds, where its header may state a placeholder (a
// fragmented MP4 written while it was recorded states none, or all ones). None when a packet
// cannot be read (a file cut short), so that what is missing is never taken for the end.
// Reads the whole file; cancellable.
std::optional<double> heldLength(const std::filesystem::path& media, bool video);
// requireWhole() of the output of `source`, with `expected` from the source's header: an output
// short of it is whole still when it plays as long as `keep` gives for the length the source
// holds (none: all of it; a trim gives what its ranges keep of it).
using Keep = std::function<double(double held)>;
void requireWholeOf(const Report& report, const std::filesystem::path& output, bool video,
    std::optional<double> expected, const std::filesystem::path& folder, const std::filesystem::path& source,
    const Keep& keep = {});

// A path as ffmpeg and ffprobe must be given it: absolute, since in a relative path they read
// "name:rest" as a protocol and a leading "-" as an option.
std::string pathArgument(const std::filesystem::path& path);

// The demuxers of the containers the catalogue takes in, named as -format_whitelist wants them.
const std::string& mediaFormats();

// One input of ffmpeg or ffprobe: "-i" and the path, after the options that let it read a
// local file only, and only through one of the demuxers `formats` names (comma-separated).
// ffmpeg picks a demuxer by what a file holds, whatever its name: a playlist or a concat list
// saved as "clip.mp4" would have it read every file it names and write them into the output.
std::vector<std::string> input(const std::filesystem::path& path, const std::string& formats = mediaFormats());

// The input of a join of `files`, in order, through the concat demuxer. Its list is read line by
// line and no quoting there carries a line feed, so each file is reached through a link with a
// plain name in `folder` (private, the caller's), where the list is written too. Each file is read
// as a media container only. A file that cannot be opened ends the join there with success, so
// the caller checks each part on its own; -xerror is no way out, as it also ends a stream copy at
// the first non-monotonous timestamp, which joined AAC in MP4 has at every seam.
std::vector<std::string> concatInput(
    const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder);

// What every ffmpeg run starts with: standard error with each line's level, down to the summary
// of what was written (run() keeps only the errors of it), key=value progress records on standard
// output, no standard input, and never overwrite an existing output ("-n").
const std::vector<std::string>& prefix();

// Runs ffmpeg with the fixed prefix and `arguments` and gives what it reported of what it wrote;
// progress from its -progress output (against the first input's length as ffmpeg reads it when
// `duration` is none), called on the calling thread, in order, and never after run() returned.
// Throws ConversionError
// (ffmpegMissing, ffmpeg with the sentence of the cause it named, see ErrorCauses) or
// CancellationError; cancelling the current task terminates ffmpeg. A write error fails the run
// even when ffmpeg ends with status 0.
Report run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress);
// The same with one output, written into `output` through the muxer `format` ("mp4",
// "matroska", …). That file has no name yet, so ffmpeg may overwrite its path ("-y") and is told
// the muxer, which it would otherwise guess from the extension; the caller publishes it.
Report run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::optional<double> duration, const Progress& progress);
// The same with a duration still being found (a probe that runs beside ffmpeg instead of before
// it): progress is reported from the first record after it is known.
Report run(std::vector<std::string> arguments, FileSafety::NewFile& output, const std::string& format,
    std::shared_future<std::optional<double>> duration, const Progress& progress);

// A filter chain that ffmpeg reads from a FIFO ("-filter_script:a" and path()) instead of its
// command line. ffmpeg opens the FIFO only once it has loaded itself and opened its input, so
// whatever the chain depends on (a probe of the source) is found while ffmpeg starts instead of
// before it. The text is written once both it and ffmpeg are there; ending the object, after
// ffmpeg has ended, stops waiting for either. Throws std::system_error when the FIFO cannot be
// made.
class LateFilter {
public:
    LateFilter(const std::filesystem::path& folder, std::shared_future<std::string> text);
    ~LateFilter();
    LateFilter(const LateFilter&) = delete;
    LateFilter& operator=(const LateFilter&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::atomic<bool> over_{false};
    std::thread writer_;
};

// Turns ffmpeg's -progress output into fractions of `duration`. Output arrives in arbitrary
// chunks, so a line cut between two chunks is held back until its end arrives. A record whose
// frames, output time or bytes written went on from the last one beats the WorkPulse, with or
// without a duration: a run that knows no length still shows it is working.
class ProgressParser {
public:
    ProgressParser(std::optional<double> duration, Progress progress);
    // A duration that may come later; records that arrive before it are dropped, except the last
    // of the run, which waits for it.
    ProgressParser(std::shared_future<std::optional<double>> duration, Progress progress);
    void feed(std::string_view chunk);
    // A duration found while ffmpeg runs, taken where none was given.
    void offer(double duration);
    // The output time of the last record, and whether it was marked as the last.
    std::optional<double> lastTime() const { return lastTime_; }
    bool ended() const { return ended_; }

private:
    void parseLine(std::string_view line);

    double duration_ = 0;
    std::optional<double> lastTime_;
    // What the records said of frames, output time and bytes, and whether the current record
    // went beyond the last.
    std::string frames_, time_, bytes_;
    bool advanced_ = false;
    bool ended_ = false;
    std::shared_future<std::optional<double>> later_;
    Progress progress_;
    std::string pending_;
};
}
