#include "headless_conversion.h"

#include "cli.h"
#include "core/catalog.h"
#include "core/conversion_error.h"
#include "core/engine.h"
#include "core/image_engine.h"
#include "core/output_paths.h"
#include "core/pdf_engine.h"
#include "core/quality.h"
#include "core/task.h"
#include "documents/archive_engine.h"

#include <QApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace HeadlessConversion {

namespace {

std::string lowered(const std::string& text)
{
    // Full Unicode lower-casing, so "PDF ÚNICO" matches "pdf único".
    return QString::fromStdString(text).toLower().toStdString();
}

void printLine(FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

[[noreturn]] void noConversion()
{
    printLine(stderr, "sem essa conversão para essa seleção");
    Cli::exitNow(2);
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

void work(const std::vector<fs::path>& files, MediaKind kind, const OutputFormat& format)
{
    try {
        if (format.batch) {
            const auto sorted = Catalog::sorted(files);
            fs::path result;
            Task::Binder binder(Task::newJob());
            if (format.ext == "pdf" && format.label == Catalog::mergedPDF().label)
                result = kind == MediaKind::pdf ? PDFEngine::merge(sorted) : ImageEngine::mergeToPDF(sorted);
            else
                result = ArchiveEngine::create(sorted, format);
            printLine(stdout, result.string());
            Cli::finishCLI(0);
        }

        std::optional<fs::path> folder;
        if (files.size() >= 2)
            folder = OutputPaths::makeCommonFolder(files.front(), format.label);
        std::optional<QualityLevel> quality;
        if (const char* value = std::getenv("BRIVLON_QUALITY"))
            quality = QualityLevels::fromRaw(value);

        Task::Binder binder(Task::newJob(folder, quality));
        for (const auto& file : files) {
            auto output = Engine::convert(file, kind, format, {});
            printLine(stdout, output.string());
        }
    } catch (const std::exception& error) {
        printLine(stderr, "erro: " + describeError(error));
        Cli::finishCLI(1);
    }
    Cli::finishCLI(0);
}

}

void run()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    std::vector<fs::path> files;
    for (size_t i = 3; i < args.size(); ++i)
        files.push_back(fs::absolute(args[i]));
    const auto wanted = lowered(args[2]);

    auto offered = Catalog::options(files);
    if (!offered)
        noConversion();
    auto format = choose(offered->formats, wanted);
    if (!format)
        noConversion();

    Task::detach({}, [files, kind = offered->kind, format = *format] { work(files, kind, format); });
    QApplication::exec();
    Cli::exitNow(0);
}

}
