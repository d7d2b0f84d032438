#include "core/base/job_boundary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace JobBoundary {

void Fence::enter() const noexcept
{
    if (memory_ > 0) {
        const rlimit limit{rlim_t(2 * memory_), rlim_t(2 * memory_)};
        ::setrlimit(RLIMIT_DATA, &limit);
    }
}

namespace {

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

}

bool Fence::overLimit(int job) const
{
    if (memory_ == 0)
        return false;
    Held held;
    treeHeld(pid_t(job), 0, held);
    // What a process has written nears the backstop of enter() before it is resident: a library
    // that meets the backstop may hang (a thread it cannot start), so the watch comes first.
    return held.resident > memory_ || held.data > memory_ / 2 * 3;
}

std::shared_ptr<const Fence> make(const Rooms&, unsigned long long memory)
{
    std::shared_ptr<Fence> fence(new Fence);
    fence->memory_ = memory;
    return fence;
}

unsigned long long jobMemory()
{
    if (const char* given = std::getenv("BRIVLON_JOB_MEMORY"))
        if (const long long mebibytes = std::atoll(given); mebibytes > 0)
            return (unsigned long long)mebibytes << 20;
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    const auto machine = pages > 0 && pageSize > 0 ? (unsigned long long)pages * (unsigned long long)pageSize : 0;
    return std::clamp(machine / 4, 3ULL << 30, 8ULL << 30);
}

bool soundsOutOfMemory(std::string_view text)
{
    for (const std::string_view phrase : {"std::bad_alloc", "failed to allocate", "Cannot allocate memory",
             "out of memory", "Out of memory", "memory exhausted"})
        if (text.find(phrase) != std::string_view::npos)
            return true;
    return false;
}

}
