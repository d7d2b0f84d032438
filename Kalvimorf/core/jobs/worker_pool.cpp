#include "core/jobs/worker_pool.h"

#include "core/base/app_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/job_notes.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/jobs/worker.h"
#include "core/state/office_events.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

// One worker process with a private temporary folder as its TMPDIR:
// whatever it leaves there, killed or crashed, goes when the worker is reaped.
class WorkerPool::Started {
public:
    explicit Started(const Options& options) : child(command(options, temp), true) { }

    // What the worker and the libraries in it print (a decoder's warnings, the C library's last
    // words before a crash) is not for the user's terminal: it is kept for the error log.
    // Reads until the pipe is empty, or `most` bytes, so that a worker printing without pause
    // cannot hold the reader for ever.
    void collectErrors(size_t most = SIZE_MAX)
    {
        char buffer[4096];
        for (size_t read = 0; read < most;) {
            const ssize_t count = ::read(child.errors(), buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                // At the end every writer has gone; polling it again would wake at once for ever.
                errorsOpen = errorsOpen && count < 0;
                return;
            }
            errors.append(std::string_view(buffer, size_t(count)));
            read += size_t(count);
        }
    }

    // What it printed so far, which is all of it once the worker has been reaped.
    void logErrors()
    {
        collectErrors();
        if (errors.empty())
            return;
        const auto program = fs::path(child.executable()).filename().string();
        ErrorLog::addLines(program + ": ", errors.take());
    }

    // Ended, reaped and its last words logged: nothing it printed is lost.
    void retire()
    {
        child.kill();
        child.wait();
        logErrors();
    }

    bool send(const QByteArray& data) { return Worker::sendAll(child.channel(), data); }

    enum class Read { more, quiet, ended };
    // One wait of at most `timeout` ms (-1: for ever) for the worker's answers, reading what it
    // prints meanwhile: `more` when something came or the wait was interrupted (what came on the
    // channel is appended to `pending`), `quiet` when nothing did, `ended` when it hung up.
    Read readChannel(QByteArray& pending, int timeout)
    {
        pollfd ready[2] = {{child.channel(), POLLIN, 0}, {child.errors(), POLLIN, 0}};
        const int polled = ::poll(ready, errorsOpen ? 2 : 1, timeout);
        if (polled < 0)
            return errno == EINTR ? Read::more : Read::ended;
        if (polled == 0)
            return Read::quiet;
        if (errorsOpen && ready[1].revents) {
            collectErrors();
            if (!ready[0].revents)
                return Read::more;
        }
        char buffer[4096];
        const ssize_t count = ::read(child.channel(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            return Read::more;
        if (count <= 0)
            return Read::ended;
        pending.append(buffer, qsizetype(count));
        return Read::more;
    }

    FileSafety::TempDir temp;
    Process::Child child;
    Process::BoundedText errors;
    bool errorsOpen = true;

private:
    static Process::Command command(const Options& options, const FileSafety::TempDir& temp)
    {
        Process::Command command;
        command.executable = options.executable.empty() ? program() : options.executable;
        command.arguments = {Worker::option};
        for (const auto module : options.warm)
            command.arguments.emplace_back(EngineModules::raw(module));
        command.env = options.env;
        command.env["TMPDIR"] = temp.path().string();
        // The worker finds its tools in the resources of the program that started it, wherever
        // the worker program itself lies.
        command.env["BRIVLON_RESOURCES"] = AppPaths::resources().string();
        // A library bug that makes a job allocate without end ends that job, not the session.
        command.memoryLimit = options.memoryLimit;
        return command;
    }
};

WorkerPool::WorkerPool(Options options)
    : options_(std::move(options)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(mutex_);
        leaving_ = true;
    }
    if (reader_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
        reader_.join();
    }
}

const std::shared_ptr<WorkerPool>& WorkerPool::shared()
{
    static const auto pool = std::make_shared<WorkerPool>(Options{});
    return pool;
}

std::string WorkerPool::program()
{
    // The tests name their own worker, which shows faults on demand (tests/support/trap_worker.cpp).
    if (const char* given = std::getenv("BRIVLON_WORKER"); given && fs::path(given).is_absolute())
        return given;
    return (AppPaths::helperDir() / "brivlon-worker").string();
}

const char* WorkerPool::crashed() { return "O conversor parou inesperadamente."; }

const char* WorkerPool::stalled() { return "O conversor parou de responder e foi interrompido."; }

std::unique_ptr<WorkerPool::Started> WorkerPool::start() { return std::make_unique<Started>(options_); }

void WorkerPool::prewarm()
{
    std::lock_guard lock(mutex_);
    while (ready_.size() < options_.ready)
        keep(start());
}

void WorkerPool::keep(std::unique_ptr<Started> worker)
{
    ready_.push_back(std::move(worker));
    // Without the descriptor to wake it (no descriptors left) a waiting worker is read when its
    // job comes, as a running one is.
    if (!wake_)
        return;
    if (!reader_.joinable()) {
        reader_ = std::thread([this] {
            readWaiting();
        });
    } else {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
    }
}

void WorkerPool::readWaiting()
{
    std::vector<pollfd> watched;
    for (;;) {
        watched.assign(1, {wake_.get(), POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (leaving_)
                return;
            for (const auto& worker : ready_)
                if (worker->errorsOpen)
                    watched.push_back({worker->child.errors(), POLLIN, 0});
        }
        // A worker taken meanwhile may still be in this list, and its descriptor even closed and
        // reused: that costs one needless turn at most, since only the waiting ones are read.
        if (::poll(watched.data(), watched.size(), -1) < 0)
            continue;
        if (watched.front().revents) {
            uint64_t count;
            [[maybe_unused]] auto taken = ::read(wake_.get(), &count, sizeof count);
        }
        std::lock_guard lock(mutex_);
        for (const auto& worker : ready_)
            if (worker->errorsOpen)
                worker->collectErrors(64 * 1024);
    }
}

void WorkerPool::release()
{
    std::vector<std::unique_ptr<Started>> waiting;
    {
        std::lock_guard lock(mutex_);
        waiting.swap(ready_);
    }
    // All signalled first, so that they die side by side while each is reaped in turn below.
    for (auto& worker : waiting)
        worker->child.kill();
    for (auto& worker : waiting)
        worker->retire();
}

std::unique_ptr<WorkerPool::Started> WorkerPool::take()
{
    std::unique_ptr<Started> worker;
    {
        std::lock_guard lock(mutex_);
        if (ready_.empty())
            return start();
        worker = std::move(ready_.front());
        ready_.erase(ready_.begin());
    }
    // What it printed while it waited goes to the log before the job's own lines.
    worker->logErrors();
    return worker;
}

bool WorkerPool::awaitReady(Started& worker, QByteArray& pending)
{
    const auto deadline = std::chrono::steady_clock::now()
        + std::min<std::chrono::milliseconds>(options_.stallLimit, std::chrono::seconds(10));
    for (;;) {
        try {
            if (const auto payload = Worker::takeFrame(pending)) {
                const auto answer = Worker::unpackAnswer(*payload);
                return answer && answer->kind == Worker::Answer::Kind::ready && pending.isEmpty();
            }
        } catch (const std::length_error&) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || worker.readChannel(pending, int(left.count())) != Started::Read::more)
            return false;
    }
}

fs::path WorkerPool::run(const Request& request, const Progress& progress)
{
    using Worker::Answer;
    Task::checkCancelled();
    const auto data = Worker::frame(Requests::pack(request));
    auto worker = take();
    // A waiting worker that died meanwhile is replaced once.
    if (!worker->send(data)) {
        worker->retire();
        worker = start();
        if (!worker->send(data))
            throw ConversionError::because(crashed());
    }
    // The next job finds its worker ready: it loads while this one works.
    if (!options_.reuse)
        prewarm();

    const auto token = Task::current().cancel;
    Process::Child& child = worker->child;
    const int handler = token ? token->onCancel([&child] {
        child.kill();
    })
                              : 0;

    std::optional<Answer> outcome;
    // The hidden files and folders the job made beside its outputs: a worker ended before its
    // work unwound leaves them, and they go once it is gone.
    std::vector<fs::path> staged;
    bool hung = false;
    QByteArray pending;
    auto deadline = std::chrono::steady_clock::now() + options_.stallLimit;
    while (!outcome) {
        int timeout = -1;
        if (!hung) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            timeout = int(std::max<long long>(0, left.count()));
        }
        const auto read = worker->readChannel(pending, timeout);
        if (read == Started::Read::quiet) {
            hung = true;
            child.kill();
            continue;
        }
        if (read == Started::Read::ended)
            break;
        try {
            while (!outcome)
                if (const auto payload = Worker::takeFrame(pending)) {
                    const auto answer = Worker::unpackAnswer(*payload);
                    if (!answer)
                        throw std::length_error("answer");
                    if (answer->kind == Answer::Kind::progress) {
                        deadline = std::chrono::steady_clock::now() + options_.stallLimit;
                        if (progress)
                            progress(answer->fraction);
                    } else if (answer->kind == Answer::Kind::working) {
                        // A tool that reports frames or bytes is working, however long it takes.
                        deadline = std::chrono::steady_clock::now() + options_.stallLimit;
                    } else if (answer->kind == Answer::Kind::staged) {
                        staged.push_back(answer->output);
                    } else if (answer->kind == Answer::Kind::note) {
                        if (auto notes = JobNotes::shared())
                            notes->note(answer->output, answer->message);
                    } else if (answer->kind == Answer::Kind::notice || answer->kind == Answer::Kind::component) {
                        // What the office route tells the desktop side, passed on as if it ran here.
                        if (auto events = OfficeEvents::shared()) {
                            if (answer->kind == Answer::Kind::notice)
                                events->simpleMode(answer->message);
                            else
                                events->componentWanted();
                        }
                    } else if (answer->kind != Answer::Kind::ready) {
                        outcome = answer;
                    }
                } else {
                    break;
                }
        } catch (const std::length_error&) {
            // Not our protocol: whatever the worker is doing, it cannot be trusted with more.
            child.kill();
            break;
        }
    }
    if (token)
        token->removeHandler(handler);
    const bool cancelled = token && token->isCancelled();
    // The answer comes from the job's own process, what it printed through the worker, which says
    // ready once the job's process has ended and all of that is passed on. Only then is the job's
    // last warning in the pipe: a worker ended or kept before it would lose it from the log.
    bool settled = false;
    if (outcome && !cancelled && outcome->message != ErrorCauses::tooMuchMemory)
        settled = awaitReady(*worker, pending);
    // A worker that answered in full may take the next request; any other is reaped, and its
    // temporary folder removed, before the job ends. One whose job outgrew its memory is ending
    // itself.
    if (options_.reuse && settled) {
        worker->logErrors();
        std::lock_guard lock(mutex_);
        keep(std::move(worker));
    } else {
        worker->retire();
    }
    worker.reset();
    if (!outcome || outcome->kind != Answer::Kind::done)
        for (const auto& path : staged)
            FileSafety::removeHidden(path);

    // An output that arrived is handed on even to a cancelled job: its store removes it.
    if (outcome && outcome->kind == Answer::Kind::done)
        return outcome->output;
    if (cancelled)
        throw CancellationError();
    if (hung)
        throw ConversionError::because(stalled());
    if (!outcome)
        throw ConversionError::because(crashed());
    if (outcome->kind == Answer::Kind::cancelled)
        throw CancellationError();
    throw ConversionError::because(outcome->message);
}
