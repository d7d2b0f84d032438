#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Synchronous runs of system tools (archivers, office suite …).
namespace Commands {
struct Options {
    std::optional<std::filesystem::path> cwd;
    int stdoutFd = -1;  // decompress straight into a file
    std::map<std::string, std::string> env;
};

// Runs the tool to completion and returns its standard output (empty when it went to
// stdoutFd). A non-zero exit throws ConversionError::ffmpeg with the last line of standard
// error; a launch failure throws std::system_error.
std::string run(const std::string& executable, const std::vector<std::string>& arguments, const Options& options = {});
}
