#include "core/jobs/worker_pool.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/state/office_events.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// One worker process with a private temporary folder as its TMPDIR: whatever it leaves there,
// killed or crashed, goes when the worker is reaped.
class WorkerPool::Started {
public:
    explicit Started(const Options& options) : child(command(options, temp.path())) { }

    bool send(const std::string& text)
    {
        size_t offset = 0;
        while (offset < text.size()) {
            ssize_t count = ::send(child.channel(), text.data() + offset, text.size() - offset, MSG_NOSIGNAL);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return false;
            offset += size_t(count);
        }
        return true;
    }

    FileSafety::TempDir temp;
    Process::Child child;

private:
    static Process::Command command(const Options& options, const fs::path& temp)
    {
        Process::Command command;
        command.executable
            = options.executable.empty() ? fs::read_symlink("/proc/self/exe").string() : options.executable;
        command.arguments = {Worker::option};
        command.env = options.env;
        command.env["TMPDIR"] = temp.string();
        return command;
    }
};

WorkerPool::WorkerPool(Options options) : options_(std::move(options)) { }

WorkerPool::~WorkerPool() = default;

const std::shared_ptr<WorkerPool>& WorkerPool::shared()
{
    static const auto pool = std::make_shared<WorkerPool>(Options{});
    return pool;
}

const char* WorkerPool::crashed() { return "O conversor parou inesperadamente."; }

const char* WorkerPool::stalled() { return "O conversor parou de responder e foi interrompido."; }

std::unique_ptr<WorkerPool::Started> WorkerPool::start() { return std::make_unique<Started>(options_); }

void WorkerPool::prewarm()
{
    std::lock_guard lock(mutex_);
    while (ready_.size() < options_.ready)
        ready_.push_back(start());
}

std::unique_ptr<WorkerPool::Started> WorkerPool::take()
{
    std::lock_guard lock(mutex_);
    if (ready_.empty())
        return start();
    auto worker = std::move(ready_.front());
    ready_.erase(ready_.begin());
    return worker;
}

namespace {

struct Answer {
    std::string key;
    std::string value;
};

Answer split(const std::string& line)
{
    const auto space = line.find(' ');
    if (space == std::string::npos)
        return {line, {}};
    return {line.substr(0, space), Worker::unescape(line.substr(space + 1))};
}

}

fs::path WorkerPool::run(const Worker::Request& request, const Progress& progress)
{
    Task::checkCancelled();
    const auto text = Worker::encode(request);
    auto worker = take();
    // A waiting worker that died meanwhile is replaced once.
    if (!worker->send(text)) {
        worker = start();
        if (!worker->send(text))
            throw ConversionError::ffmpeg(crashed());
    }
    // The next job finds its worker ready: it loads while this one works.
    prewarm();

    const auto token = Task::current().cancel;
    Process::Child& child = worker->child;
    const int handler = token ? token->onCancel([&child] {
        child.kill();
    })
                              : 0;

    std::optional<Answer> outcome;
    bool hung = false;
    std::string pending;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + options_.stallLimit;
    for (;;) {
        int timeout = -1;
        if (!hung) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            timeout = int(std::max<long long>(0, left.count()));
        }
        pollfd ready{child.channel(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, timeout);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            hung = true;
            child.kill();
            continue;
        }
        const ssize_t count = polled < 0 ? -1 : ::read(child.channel(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        pending.append(buffer, size_t(count));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            auto answer = split(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (answer.key == "progress") {
                deadline = std::chrono::steady_clock::now() + options_.stallLimit;
                double value = 0;
                const auto& digits = answer.value;
                if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc() && progress)
                    progress(value);
            } else if (answer.key == "notice" || answer.key == "component") {
                // What the office route tells the desktop side, passed on as if it ran here.
                if (auto events = OfficeEvents::shared())
                    answer.key == "notice" ? events->simpleMode(answer.value) : events->componentWanted();
            } else if (answer.key == "done" || answer.key == "failed" || answer.key == "cancelled") {
                outcome = std::move(answer);
            }
        }
    }
    if (token)
        token->removeHandler(handler);
    // Reaped, and its temporary folder removed, before the job ends.
    worker.reset();

    // An output that arrived is handed on even to a cancelled job: its store removes it.
    if (outcome && outcome->key == "done")
        return outcome->value;
    if (token && token->isCancelled())
        throw CancellationError();
    if (hung)
        throw ConversionError::ffmpeg(stalled());
    if (!outcome)
        throw ConversionError::ffmpeg(crashed());
    if (outcome->key == "cancelled")
        throw CancellationError();
    throw ConversionError::ffmpeg(outcome->value);
}
