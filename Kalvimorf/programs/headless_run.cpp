#include "programs/headless_run.h"

#include "programs/cli.h"
#include "core/base/conversion_error.h"
#include "core/base/job_notes.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/jobs/worker.h"
#include "core/jobs/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
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

}

void printLine(FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string shownPath(const std::filesystem::path& path)
{
    const auto& name = path.native();
    const bool control = std::any_of(name.begin(), name.end(), [](unsigned char c) {
        return c < 0x20 || c == 0x7f;
    });
    if (!control && !name.starts_with("$'"))
        return name;
    std::string shown = "$'";
    for (const unsigned char c : name) {
        switch (c) {
        case '\n': shown += "\\n"; break;
        case '\t': shown += "\\t"; break;
        case '\r': shown += "\\r"; break;
        case '\\': shown += "\\\\"; break;
        case '\'': shown += "\\'"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                const char octal[] = {'\\', char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)), char('0' + (c & 7)), 0};
                shown += octal;
            } else {
                shown += char(c);
            }
        }
    }
    return shown + "'";
}

void printPath(const std::filesystem::path& path) { printLine(stdout, shownPath(path)); }

namespace {

bool hasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) {
        return c < 0x20 || c == 0x7f;
    });
}

// Each stretch between `open` and `close` that holds a control character, quoted as a path is;
// with `keep`, the marks stay around it.
std::string quoteStretches(const std::string& text, std::string_view open, std::string_view close, bool keep)
{
    std::string result;
    size_t at = 0;
    for (size_t start; (start = text.find(open, at)) != std::string::npos;) {
        const size_t end = text.find(close, start + open.size());
        if (end == std::string::npos)
            break;
        const std::string inner = text.substr(start + open.size(), end - start - open.size());
        result += text.substr(at, start - at);
        if (hasControl(inner))
            result += keep ? std::string(open) + shownPath(inner) + std::string(close) : shownPath(inner);
        else
            result += text.substr(start, end + close.size() - start);
        at = end + close.size();
    }
    return result + text.substr(at);
}

}

std::string shownSentence(const std::string& sentence)
{
    if (!hasControl(sentence))
        return sentence;
    // A name stands between “ and ”, its folder in parentheses; anything else the sentence
    // quotes from the user is quoted whole.
    auto shown = quoteStretches(quoteStretches(sentence, "\u201c", "\u201d", false), " (", ")", true);
    return hasControl(shown) ? shownPath(shown) : shown;
}

void printError(const std::exception& error) { printLine(stderr, "erro: " + shownSentence(describeError(error))); }

namespace {

// A job that made its output but left something out says so beside the output's line.
class PrintedNotes : public JobNotes {
public:
    void note(const std::filesystem::path&, const std::string& sentence) override
    {
        printLine(stderr, "aviso: " + shownSentence(sentence));
    }
};

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
            Cli::exitNow(Cli::signalled(signal));
        }).detach();
    });
}

Cli::ExitCode perform(const std::function<std::vector<Request>()>& plan)
{
    auto context = Task::newJob();
    context.cancel = runToken;
    Task::Binder binder(context);
    JobNotes::set(std::make_shared<PrintedNotes>());
    try {
        const auto requests = plan();
        // Work that is all in ffmpeg's processes (the media tools, conversions of video and sound)
        // needs no worker between them and this run: the tools die with it, and a fault in a file
        // ends their process, not this one.
        const bool front = std::all_of(requests.begin(), requests.end(), [](const Request& request) {
            return Requests::road(request) == Road::front;
        });
        if (front) {
            takeTerminationSignals();
            for (const auto& request : requests) {
                Task::checkCancelled();
                printPath(Requests::performHere(request, {}));
            }
            return Cli::ExitCode::done;
        }
        // One worker for the whole run, which opens the engine modules its jobs need while this
        // process sends the first; the rest stay unloaded. It is ended, and its temporary folder
        // removed, before the run ends.
        std::vector<EngineModules::Module> warm;
        for (const auto& request : requests)
            for (const auto module : Requests::modules(request))
                if (std::find(warm.begin(), warm.end(), module) == warm.end())
                    warm.push_back(module);
        WorkerPool pool({.stallLimit = stallLimit(), .ready = 1, .reuse = true, .warm = warm});
        pool.prewarm();
        takeTerminationSignals();
        for (const auto& request : requests) {
            // Not every engine watches for cancellation: an interrupted run starts no new file.
            Task::checkCancelled();
            printPath(pool.run(request, {}));
        }
    } catch (const std::exception& error) {
        if (!interrupted)
            printError(error);
        return Cli::ExitCode::failed;
    }
    return Cli::ExitCode::done;
}

bool signalled() { return interrupted != 0; }

void finish(Cli::ExitCode code) { interrupted ? Cli::exitNow(Cli::signalled(interrupted)) : Cli::exitNow(code); }

}
