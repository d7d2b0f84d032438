#include "core/engines/trim_media.h"

#include "core/base/process.h"
#include "core/engines/ffmpeg.h"

#include <QByteArray>

// Apart from the rest of the trim media so that `--trim`, which never makes a thumbnail, leaves
// Qt Gui out of the program that runs it.
namespace TrimMedia {

std::optional<QImage> frame(const fs::path& file, double seconds, int height, const std::vector<std::string>& taken)
{
    auto ffmpeg = FFmpeg::locate("ffmpeg");
    if (!ffmpeg)
        return std::nullopt;
    Process::Command command;
    command.executable = *ffmpeg;
    // Frames are made several at once, each within a share of one job's budget: a decoder holds
    // pictures for each of its threads (a 4K HEVC frame takes 540 MB on eight, 270 MB on two),
    // and one picture gains nothing from more.
    command.arguments = {"-hide_banner", "-loglevel", "error", "-threads", "2", "-ss", Detail::shortest(seconds)};
    command.arguments.insert(command.arguments.end(), taken.begin(), taken.end());
    const auto input = FFmpeg::input(file);
    command.arguments.insert(command.arguments.end(), input.begin(), input.end());
    if (!taken.empty())
        command.arguments.insert(command.arguments.end(), {"-map", "0:V:0"});
    command.arguments.insert(command.arguments.end(),
        {"-frames:v", "1", "-vf", "scale=-2:" + std::to_string(height), "-f", "image2pipe", "-vcodec", "png", "-"});
    try {
        auto result = Process::run(command, {}, [](std::string_view) {});
        if (result.exitCode != 0 || result.out.empty())
            return std::nullopt;
        auto image = QImage::fromData(QByteArray::fromRawData(result.out.data(), qsizetype(result.out.size())), "PNG");
        if (image.isNull())
            return std::nullopt;
        return image;
    } catch (const std::exception&) {
        // A launch failure, or the caller's task cancelled.
        return std::nullopt;
    }
}

}
