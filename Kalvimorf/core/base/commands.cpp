#include "core/base/commands.h"

#include "core/base/conversion_error.h"
#include "core/base/process.h"

#include <system_error>

namespace Commands {

std::string run(const std::string& executable, const std::vector<std::string>& arguments, const Options& options)
{
    Process::Command command;
    command.executable = executable;
    command.arguments = arguments;
    command.cwd = options.cwd;
    command.env = options.env;
    command.stdoutFd = options.stdoutFd;
    auto result = Process::run(command);
    if (result.exitCode != 0)
        throw ConversionError::ffmpeg(Process::lastErrorLine(result.err, executable));
    return std::move(result.out);
}

}
