#include "programs/headless_run.h"

#include "programs/cli.h"
#include "core/base/conversion_error.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/jobs/worker.h"
#include "core/jobs/worker_pool.h"
#include "programs/engine_module.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace HeadlessRun {

namespace {

// The run's cancellation, shared by every file it works on.
const auto runToken = std::make_shared<Task::CancelToken>();
// The termination signal received, 0 while none came.
std::atomic<int> interrupted{0};

sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

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

// The no-progress limit of a worker; tests shorten it.
std::chrono::milliseconds stallLimit()
{
    const char* seconds = std::getenv("BRIVLON_STALL_SECONDS");
    if (seconds && std::atoi(seconds) > 0)
        return std::chrono::seconds(std::atoi(seconds));
    return WorkerPool::Options{}.stallLimit;
}

// The answers of this program forked as a worker (see WorkerPool::Options::serve) to PDF text
// requests, as a worker program gives them.
void serveText()
{
    // Known as a worker (to ps and top), as the worker programs are.
    ::prctl(PR_SET_NAME, "brivlon-worker");
    // The protocol keeps standard output to itself; a library's stray prints go to standard error.
    const int channel = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    QByteArray pending;
    while (const auto bytes = Worker::readFrame(STDIN_FILENO, pending)) {
        using Kind = Worker::Answer::Kind;
        const auto request = Requests::unpack(*bytes);
        Worker::Answer answer{Kind::failed, 0, {}, ConversionError::unsupported().what()};
        if (request && Requests::pdfText(*request)) {
            Worker::springTraps(*request);
            answer = Worker::answerFor([&] {
                Task::Binder binder(Requests::context(*request));
                return textModule().convertPDFText(request->sources.front());
            });
        }
        if (!Worker::send(channel, answer))
            return;
    }
}

}

void printLine(FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void blockTerminationSignals()
{
    const auto set = terminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// What a signal sets off runs as ordinary code: the run is cancelled, the tools it started (in
// process groups of their own, out of the terminal's reach) are ended, and the work unwinds,
// removing its temporary folders and unpublished files.
void takeTerminationSignals()
{
    static std::once_flag taken;
    std::call_once(taken, [] {
        blockTerminationSignals();
        const auto set = terminationSignals();
        std::thread([set] {
            int signal = -1;
            while ((signal = ::sigwaitinfo(&set, nullptr)) < 0) { }
            interrupted = signal;
            Process::Live::refuseNew();
            runToken->cancel();
            Process::Live::signalAll(SIGTERM);
            // A tool that ignores the request, or a second signal, gets no more patience; a
            // library call that never returns must not keep the process alive.
            awaitSignal(set, 3);
            Process::Live::signalAll(SIGKILL);
            awaitSignal(set, 2);
            Cli::exitNow(128 + signal);
        }).detach();
    });
}

int perform(const std::function<std::vector<Request>()>& plan)
{
    auto context = Task::newJob();
    context.cancel = runToken;
    Task::Binder binder(context);
    try {
        const auto requests = plan();
        // The run takes the lightest worker program that has the engines of all its jobs, which
        // loads no library they do not need. The worker is ended, and its temporary folder
        // removed, before the run ends.
        auto program = WorkerKind::none;
        for (const auto& request : requests)
            program = std::max(program, Requests::worker(request));
        // Work that is all in ffmpeg's processes (the media tools, conversions of video and sound)
        // needs no worker between them and this run: the tools die with it, and a fault in a file
        // ends their process, not this one.
        if (program == WorkerKind::none) {
            takeTerminationSignals();
            for (const auto& request : requests) {
                Task::checkCancelled();
                printLine(stdout, Requests::performHere(request, {}).string());
            }
            return 0;
        }
        // A PDF's text needs poppler alone, which the text module brings: this process forked
        // extracts it, as isolated as in a worker (a fault in a file ends the fork), with no
        // program to start and none of the libraries this one has loaded loaded twice.
        const bool text = std::all_of(requests.begin(), requests.end(), Requests::pdfText);
        WorkerPool pool({.stallLimit = stallLimit(), .ready = 1, .reuse = true, .program = program,
            .serve = text ? serveText : std::function<void()>()});
        // Forked while this process has one thread, the fork keeps the C library's
        // single-threaded paths: its allocations cost a third less.
        pool.prewarm();
        takeTerminationSignals();
        for (const auto& request : requests) {
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

bool signalled() { return interrupted != 0; }

void finish(int code) { Cli::exitNow(interrupted ? 128 + interrupted : code); }

}
