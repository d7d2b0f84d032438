#include "core/base/commands.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
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
    command.memoryLimit = options.memoryLimit;
    command.fileSizeLimit = options.fileSizeLimit;
    auto result = Process::run(command);
    // Past its bound a tool's allocation fails; some then crash instead of saying so.
    if (result.outputCut || (result.signaled && (options.memoryLimit || options.fileSizeLimit)))
        throw ConversionError::because(ErrorCauses::archiveTooLarge);
    if (result.exitCode != 0)
        throw ErrorCauses::failure(result.err, executable, {.fallback = options.otherwise});
    return std::move(result.out);
}

}
