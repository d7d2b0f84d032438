#include "core/ffmpeg.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace FFmpeg {
std::optional<std::string> locate(const std::string&) { return std::nullopt; }
std::optional<double> duration(const std::filesystem::path&) { return std::nullopt; }
void run(const std::vector<std::string>&, std::optional<double>, const Progress&) { throw ConversionError::ffmpegMissing(); }
}
