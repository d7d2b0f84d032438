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
    // The most address space the tool may take (see Process::Command::memoryLimit).
    std::optional<unsigned long long> memoryLimit;
    // The largest file the tool may write (see Process::Command::fileSizeLimit).
    std::optional<unsigned long long> fileSizeLimit;
    // What the user reads when the tool names no cause the program knows; empty: its last line.
    std::string otherwise;
};

// Runs the tool to completion and returns its standard output (empty when it went to
// stdoutFd). A non-zero exit throws ConversionError::because with the sentence for the first line
// of standard error that names a cause, else its last line (see ErrorCauses); a tool that died
// at its memory or file size bound, or printed past Process::outputKeep, reads as too large to
// open. A launch failure throws std::system_error.
std::string run(const std::string& executable, const std::vector<std::string>& arguments, const Options& options = {});
}
