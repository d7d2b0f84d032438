#include "headless_conversion.h"

#include "cli.h"
#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/jobs/engine.h"
#include "core/engines/image_engine.h"
#include "core/base/output_paths.h"
#include "core/engines/pdf_engine.h"
#include "core/base/process.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "documents/archive_engine.h"

#include <QApplication>
#include <QString>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

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

// The run's cancellation, shared by every file it converts.
const auto runToken = std::make_shared<Task::CancelToken>();
// The termination signal received, 0 while none came.
std::atomic<int> interrupted{0};

// True once `set`'s signal came within `seconds`.
bool awaitSignal(const sigset_t& set, long seconds)
{
    const timespec limit{seconds, 0};
    for (;;) {
        if (::sigtimedwait(&set, nullptr, &limit) > 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// SIGTERM, SIGINT and SIGHUP are blocked in every thread and taken by one thread of its own, so
// that what they set off runs as ordinary code: the run is cancelled, the tools it started (in
// process groups of their own, out of the terminal's reach) are ended, and the work unwinds,
// removing its temporary folders and unpublished files, and exits with 128 + the signal. Must
// run before any other thread exists, so that every thread inherits the mask.
void takeTerminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signal);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int signal = -1;
        while ((signal = ::sigwaitinfo(&set, nullptr)) < 0) { }
        interrupted = signal;
        Process::Live::refuseNew();
        runToken->cancel();
        Process::Live::signalAll(SIGTERM);
        // A tool that ignores the request, or a second signal, gets no more patience; a library
        // call that never returns must not keep the process alive.
        awaitSignal(set, 3);
        Process::Live::signalAll(SIGKILL);
        awaitSignal(set, 2);
        Cli::exitNow(128 + signal);
    }).detach();
}

// Ends the run; an interrupted run ends with 128 + the signal, whatever the work made of it.
[[noreturn]] void finish(int code) { Cli::finishCLI(interrupted ? 128 + interrupted : code); }

Task::Context runContext(std::optional<fs::path> folder = {}, std::optional<QualityLevel> quality = {})
{
    auto context = Task::newJob(std::move(folder), quality);
    context.cancel = runToken;
    return context;
}

void work(const std::vector<fs::path>& files, MediaKind kind, const OutputFormat& format)
{
    try {
        if (format.batch) {
            const auto sorted = Catalog::sorted(files);
            fs::path result;
            Task::Binder binder(runContext());
            if (format.action == FormatAction::mergePDF)
                result = kind == MediaKind::pdf ? PDFEngine::merge(sorted) : ImageEngine::mergeToPDF(sorted);
            else
                result = ArchiveEngine::create(sorted, format);
            printLine(stdout, result.string());
            finish(0);
        }

        std::optional<fs::path> folder;
        if (files.size() >= 2)
            folder = OutputPaths::makeCommonFolder(files.front(), format.label);
        std::optional<QualityLevel> quality;
        if (const char* value = std::getenv("BRIVLON_QUALITY"))
            quality = QualityLevels::fromRaw(value);

        Task::Binder binder(runContext(folder, quality));
        for (const auto& file : files) {
            // Not every engine watches for cancellation: an interrupted run starts no new file.
            Task::checkCancelled();
            auto output = Engine::convert(file, kind, format, {});
            printLine(stdout, output.string());
        }
    } catch (const std::exception& error) {
        if (!interrupted)
            printLine(stderr, "erro: " + describeError(error));
        finish(1);
    }
    finish(0);
}

}

void run()
{
    takeTerminationSignals();
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

    Task::detach({}, [files, kind = offered->kind, format = *format] {
        work(files, kind, format);
    });
    QApplication::exec();
    Cli::exitNow(0);
}

}
