#include "core/shell.h"

#include "core/conversion_error.h"
#include "core/process.h"

#include <QUuid>

#include <system_error>

namespace Shell {

std::filesystem::path tempDir()
{
    auto name = "kalvimorf-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    auto folder = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(folder);
    return folder;
}

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
