#pragma once

// The one process core: every external tool is started by absolute path with an argument list,
// never through a shell; both pipes are drained together with poll() so neither can stall the
// child; a cancelled task can terminate the child.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Process {

struct Command {
    std::string executable;  // absolute path
    std::vector<std::string> arguments;
    std::optional<std::filesystem::path> cwd;
    // Laid over the inherited environment; empty inherits it untouched.
    std::map<std::string, std::string> env;
    // When >= 0 the child's standard output goes straight to this descriptor.
    int stdoutFd = -1;
    // When true, cancelling the current task terminates the child (SIGTERM, then SIGKILL) and
    // run() throws CancellationError once it has been reaped.
    bool cancellable = false;
};

struct Result {
    int exitCode = 0;       // the exit status, or 128 + signal number
    bool signaled = false;
    std::string out;        // standard output, unless it went to stdoutFd or to onStdout
    std::string err;        // standard error, unless it went to onStderr
};

using Sink = std::function<void(std::string_view)>;

// Runs to completion. A launch failure throws std::system_error (not a ConversionError).
// When a sink is given, that stream's bytes go to it as they arrive instead of into Result.
Result run(const Command& command, const Sink& onStdout = {}, const Sink& onStderr = {});

// The last non-empty line of a tool's standard error; when there is none or the text is not
// UTF-8, "<tool> falhou." for a given executable, else empty.
std::string lastErrorLine(std::string_view stderrBytes, const std::string& executable = {});

}
