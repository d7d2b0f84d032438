#include "headless_conversion.h"

#include "cli.h"
#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/base/process.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "core/jobs/request.h"
#include "core/jobs/worker_pool.h"

#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

int noConversion()
{
    printLine(stderr, "sem essa conversão para essa seleção");
    return 2;
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
[[noreturn]] void finish(int code) { Cli::exitNow(interrupted ? 128 + interrupted : code); }

// The run's cancellation, which a termination signal sets off.
Task::Context runContext()
{
    auto context = Task::newJob();
    context.cancel = runToken;
    return context;
}

// The no-progress limit of a worker; tests shorten it.
std::chrono::milliseconds stallLimit()
{
    const char* seconds = std::getenv("BRIVLON_STALL_SECONDS");
    if (seconds && std::atoi(seconds) > 0)
        return std::chrono::seconds(std::atoi(seconds));
    return WorkerPool::Options{}.stallLimit;
}

// The files one after another, each in the run's worker (a fresh one after a crash or a hang),
// so that a library that crashes or spins on a bad file ends only this run's current file.
int work(WorkerPool& pool, const std::vector<fs::path>& files, MediaKind kind, const OutputFormat& format)
{
    Task::Binder binder(runContext());
    try {
        std::optional<QualityLevel> quality;
        if (const char* value = std::getenv("BRIVLON_QUALITY"); value && !format.batch)
            quality = QualityLevels::fromRaw(value);
        const auto folder = Requests::commonFolder(files, format);
        for (const auto& request : Requests::plan(files, kind, format, quality, folder)) {
            // Not every engine watches for cancellation: an interrupted run starts no new file.
            Task::checkCancelled();
            printLine(stdout, pool.run(request, {}).string());
        }
    } catch (const std::exception& error) {
        if (!interrupted)
            printLine(stderr, "erro: " + describeError(error));
        return 1;
    }
    return 0;
}

int convert(WorkerPool& pool)
{
    const auto& args = Cli::args;
    std::vector<fs::path> files;
    for (size_t i = 3; i < args.size(); ++i)
        files.push_back(fs::absolute(args[i]));
    auto offered = Catalog::options(files);
    if (!offered)
        return noConversion();
    auto format = choose(offered->formats, lowered(args[2]));
    if (!format)
        return noConversion();
    return work(pool, files, offered->kind, *format);
}

}

void run()
{
    takeTerminationSignals();
    int code = 0;
    {
        // The worker loads its libraries while this process reads the arguments; it is ended,
        // and its temporary folder removed, before the process ends.
        WorkerPool pool({.stallLimit = stallLimit(), .ready = 1, .reuse = true});
        pool.prewarm();
        code = convert(pool);
    }
    finish(code);
}

}
