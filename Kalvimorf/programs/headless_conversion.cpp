#include "programs/headless_conversion.h"

#include "programs/cli.h"
#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/base/quality.h"
#include "programs/headless_run.h"

#include <QString>

#include <cstdlib>

namespace HeadlessConversion {

namespace {

std::string lowered(const std::string& text)
{
    // Full Unicode lower-casing, so "PDF ÚNICO" matches "pdf único".
    return QString::fromStdString(text).toLower().toStdString();
}

Cli::ExitCode noConversion()
{
    HeadlessRun::printLine(stderr, "sem essa conversão para essa seleção");
    return Cli::ExitCode::noSuchConversion;
}

std::optional<OutputFormat> choose(const std::vector<OutputFormat>& formats, const std::string& wanted)
{
    for (const auto& format : formats)
        if (lowered(format.label) == wanted)
            return format;
    for (const auto& format : formats)
        if (!format.batch && format.ext == wanted)
            return format;
    for (const auto& format : formats)
        if (format.ext == wanted)
            return format;
    return std::nullopt;
}

Cli::ExitCode convert()
{
    const auto& args = Cli::args;
    std::vector<fs::path> files;
    for (size_t i = 3; i < args.size(); ++i) {
        // As the shell completes a folder ("pasta/") or names the current one ("."): the folder
        // by its own name, which its output is named after and placed beside.
        auto file = fs::absolute(args[i]).lexically_normal();
        if (!file.has_filename() && file != file.root_path())
            file = file.parent_path();
        files.push_back(std::move(file));
    }
    auto offered = Catalog::options(files);
    if (!offered)
        return noConversion();
    auto format = choose(offered->formats, lowered(args[2]));
    if (!format)
        return noConversion();
    std::optional<fs::path> folder;
    const auto code = HeadlessRun::perform([&] {
        std::optional<QualityLevel> quality;
        if (const char* value = std::getenv("BRIVLON_QUALITY"); value && !format->batch)
            quality = QualityLevels::fromRaw(value);
        folder = Requests::commonFolder(files, *format);
        return Requests::plan(files, offered->kind, *format, quality, folder);
    });
    // A run whose first file failed, or that was interrupted before any output, made the
    // folder for nothing.
    if (folder)
        FileSafety::removeIfEmpty(*folder);
    return code;
}

}

void run()
{
    HeadlessRun::blockTerminationSignals();
    HeadlessRun::finish(convert());
}

}
