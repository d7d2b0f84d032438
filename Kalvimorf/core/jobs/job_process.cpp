#include "core/jobs/job_process.h"

#include "core/base/app_paths.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace JobProcess {

namespace {

// What this process installed when it entered its job's bounds; nothing outside a job's process.
std::optional<JobBoundary::Entered> enteredHere;

// Reads a small file of /proc whole into `text`; its length, 0 when it cannot be read.
size_t readSmall(const char* path, char* text, size_t size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t count = ::read(fd, text, size - 1);
    ::close(fd);
    if (count <= 0)
        return 0;
    text[count] = '\0';
    return size_t(count);
}

struct Held {
    unsigned long long resident = 0;  // of the whole tree
    unsigned long long data = 0;  // of its largest process
};

// What `pid` and every process below it hold, found through each of its threads' children (a
// tool may be started from any thread).
void treeHeld(pid_t pid, int depth, Held& held)
{
    char path[96], text[4096];
    std::snprintf(path, sizeof path, "/proc/%d/statm", int(pid));
    unsigned long long size = 0, resident = 0, shared = 0, code = 0, library = 0, data = 0;
    if (!readSmall(path, text, sizeof text)
        || std::sscanf(text, "%llu %llu %llu %llu %llu %llu", &size, &resident, &shared, &code, &library, &data) != 6)
        return;
    const auto page = (unsigned long long)::sysconf(_SC_PAGESIZE);
    held.resident += resident * page;
    held.data = std::max(held.data, data * page);
    if (depth > 16)
        return;
    std::snprintf(path, sizeof path, "/proc/%d/task", int(pid));
    std::error_code error;
    for (auto it = fs::directory_iterator(path, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string children = it->path().string() + "/children";
        if (!readSmall(children.c_str(), text, sizeof text))
            continue;
        for (char* at = text; *at;) {
            char* end = nullptr;
            const long child = std::strtol(at, &end, 10);
            if (end == at)
                break;
            treeHeld(pid_t(child), depth + 1, held);
            at = end;
        }
    }
}

// Whether a process's last words on standard error are those of an allocation that failed.
bool soundsOutOfMemory(std::string_view text)
{
    // x264 says it its own way, and ffmpeg then blames the encoder's parameters.
    for (const std::string_view phrase : {"std::bad_alloc", "failed to allocate", "Cannot allocate memory",
             "out of memory", "Out of memory", "memory exhausted", "malloc of size"})
        if (text.find(phrase) != std::string_view::npos)
            return true;
    return false;
}

}

Bounds::Bounds(std::shared_ptr<const JobBoundary::Fence> fence, unsigned long long budget)
    : fence_(std::move(fence)), budget_(budget)
{ }

JobBoundary::Entered Bounds::entered() const noexcept
{
    const auto data = JobBudget::limits(budget_).data;
    const rlimit limit{rlim_t(data), rlim_t(data)};
    ::setrlimit(RLIMIT_DATA, &limit);
    return fence_ ? fence_->enter() : JobBoundary::Entered{};
}

void Bounds::enter() const noexcept { entered(); }

JobBoundary::Entered Bounds::enterHere() const noexcept
{
    enteredHere = entered();
    return *enteredHere;
}

bool Bounds::outgrown(int pid) const
{
    Held held;
    treeHeld(pid_t(pid), 0, held);
    const auto limits = JobBudget::limits(budget_);
    return held.resident > limits.resident || held.data > limits.written;
}

void Bounds::judge(const Process::Result& result, bool outgrown) const
{
    const auto exitCode = result.signaled ? std::nullopt : std::optional<int>(result.exitCode);
    switch (JobProcess::judge(exitCode, result.err, outgrown)) {
    case End::outgrown:
    case End::outOfMemory: throw ConversionError::because(ErrorCauses::tooMuchMemory);
    case End::well:
    case End::failed: return;
    }
}

std::shared_ptr<const Bounds> of(const Request& request)
{
    Task::Binder binder(Requests::context(request));
    JobBoundary::Rooms rooms;
    std::error_code error;
    rooms.writable.push_back(fs::temp_directory_path(error));
    if (request.folder)
        rooms.writable.push_back(*request.folder);
    for (const auto& given : request.sources) {
        // "pasta/" and "pasta/." name the folder itself: its parent is where the output goes.
        fs::path source = fs::absolute(given, error).lexically_normal();
        if (!source.has_filename() && source != source.root_path())
            source = source.parent_path();
        rooms.readable.push_back(source);
        rooms.readable.push_back(source.parent_path());
        // A folder that cannot be written sends the outputs elsewhere; only the chosen one is
        // opened to the job.
        try {
            rooms.writable.push_back(OutputPaths::directory(source));
        } catch (const std::exception&) {
        }
    }
    // Where a source's folder cannot be written, the output goes to the download folder as the
    // desktop names it ("Baixados"); the job finds that name again inside its bounds.
    rooms.readable.push_back(AppPaths::userDirs());
    rooms.suiteSocket = !request.tool && Requests::writer(request) == Writer::document;
    return std::make_shared<const Bounds>(JobBoundary::make(rooms), JobBudget::bytes());
}

std::shared_ptr<const Bounds> narrowed(const JobBoundary::Rooms& rooms)
{
    const auto* job = dynamic_cast<const Bounds*>(Task::current().bounds.get());
    return std::make_shared<const Bounds>(JobBoundary::make(rooms), job ? job->budget() : JobBudget::bytes());
}

std::shared_ptr<const Bounds> reading(const fs::path& file, unsigned long long budget)
{
    std::error_code error;
    JobBoundary::Rooms rooms;
    rooms.readable = {fs::absolute(file, error)};
    rooms.writable = {fs::temp_directory_path(error)};
    return std::make_shared<const Bounds>(JobBoundary::make(rooms), budget);
}

bool networkShut() { return enteredHere ? enteredHere->network : JobBoundary::networkFilterInstalls(); }

End judge(std::optional<int> exitCode, std::string_view lastWords, bool outgrown)
{
    if (outgrown)
        return End::outgrown;
    if (exitCode == 0)
        return End::well;
    if (exitCode == outOfMemoryStatus || soundsOutOfMemory(lastWords))
        return End::outOfMemory;
    return End::failed;
}

End run(const Bounds& bounds, const Work& work, const std::function<void()>& onOutgrown)
{
    auto errors = FileSafety::Pipe::make();
    std::fflush(nullptr);
    const pid_t job = ::fork();
    if (job == 0) {
        // The socket is the job's to answer on, never to read: a drawing naming standard input
        // would wait on it for ever.
        const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(errors.write.get(), STDERR_FILENO);
        ::dup2(errors.write.get(), STDOUT_FILENO);
        bounds.enterHere();
        work();
        std::fflush(nullptr);
        ::_exit(0);
    }
    errors.write.reset();
    if (job < 0)
        return End::failed;
    // What it prints goes on to this process's standard error, its last words kept. Its tools die
    // with it, but one that lingers cannot hold the loop: it stops with the job's process.
    Process::BoundedText kept;
    Process::Watch watch(job, &bounds);
    watch.untilEnd = true;
    watch.onOutgrown = [&onOutgrown, job] {
        if (onOutgrown)
            onOutgrown();
        ::kill(job, SIGKILL);
    };
    watch.run({{errors.read.get(), [&kept](std::string_view chunk) {
                    [[maybe_unused]] auto written = ::write(STDERR_FILENO, chunk.data(), chunk.size());
                    kept.append(chunk);
                }}});
    int status = 0;
    while (::waitpid(job, &status, 0) < 0 && errno == EINTR) { }
    return judge(WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt, kept.take(),
        watch.outgrown());
}

}
