#pragma once

// The bounds of one job, laid around every process that works on it: the files it may reach,
// no network, and how much memory each may take. A reader that follows a reference it should
// not (a drawing's picture by an absolute path, a document's linked file, an address on the
// network) then meets a refusal from the kernel, whichever library or tool made it.
//
// What reaches its files is Landlock, a process's own restriction of itself, which needs no
// privilege and passes to every child it starts; the network is shut by a seccomp filter that
// refuses Internet and packet sockets. Both are applied by the process that runs the job (a
// child forked for the job, or a tool between its start and exec) and cannot be lifted again.
// Where the kernel has no Landlock the files stay open to the job and the readers' own checks
// are what hold.

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace JobBoundary {

// The folders (or files) one job may reach, beyond the system's own read-only files.
struct Rooms {
    // Read only: the sources and the folder of each, for a page's own pictures.
    std::vector<std::filesystem::path> readable;
    // Read and write: the job's output folders, its temporary folder, the office suite's profile.
    std::vector<std::filesystem::path> writable;
    // Read, write and run: a tool's own folder outside the system's (an office suite installed
    // anywhere), which may keep its own files beside it.
    std::vector<std::filesystem::path> programs;
};

// Whether the network is shut to a job's processes by the bounds themselves, so that no tool
// needs a network of its own.
bool networkShut();

// The bounds prepared ahead, in a process that may still allocate and open files, so that
// enter() can run where only system calls may: between vfork and exec.
class Fence {
public:
    ~Fence();
    Fence(const Fence&) = delete;
    Fence& operator=(const Fence&) = delete;
    // Restricts the calling process (one thread: a forked child, a child about to exec), and
    // every process it starts from then on, to the rooms and without network, and each such
    // process to twice memory() of data: a backstop for an allocation too sudden for the watch
    // (overLimit). Only system calls; never fails: what the kernel lacks is skipped.
    void enter() const noexcept;
    // The most memory the job's processes may hold together (resident), watched by whoever
    // waits for them.
    unsigned long long memory() const { return memory_; }
    // Whether `job` and every process below it hold more than memory() together, or one of them
    // has written more than one and a half times it.
    bool overLimit(int job) const;

private:
    friend std::shared_ptr<const Fence> make(const Rooms&, unsigned long long);
    Fence() = default;
    int ruleset_ = -1;  // Landlock's rule set, -1 where the kernel has none
    unsigned long long memory_ = 0;
};

std::shared_ptr<const Fence> make(const Rooms& rooms, unsigned long long memory);

// The memory one job's processes may hold together, in bytes: a quarter of the machine's, so that
// the desktop's three jobs at once leave a quarter to the session, but at least 3 GiB (a 4K
// video's H.264 encoder on eight cores holds 1.7 GiB and has written 2.5) and at most 8 GiB.
// BRIVLON_JOB_MEMORY (in MiB) sets it instead, for the tests.
unsigned long long jobMemory();

// Whether the kernel lets a process restrict its own files (Landlock); false where jobs keep only
// the readers' own checks.
bool filesFenced();

// The exit status of a job's process that ran out of its memory (a failed allocation it caught).
inline constexpr int outOfMemoryStatus = 86;

// How often whoever waits for a job's processes looks at their memory.
inline constexpr int watchMilliseconds = 20;

// Whether a process's last words on standard error are those of an allocation that failed.
bool soundsOutOfMemory(std::string_view text);

}
