#pragma once

// What one job's processes may reach: its files, and no network. A reader that follows a
// reference it should not (a drawing's picture by an absolute path, a document's linked file, an
// address on the network) then meets a refusal from the kernel, whichever library or tool made it.
//
// What reaches its files is Landlock, a process's own restriction of itself, which needs no
// privilege and passes to every child it starts; the network is shut by a seccomp filter that
// refuses Internet and packet sockets. Both are entered by the job's process (JobProcess) and
// cannot be lifted again. Where the kernel has no Landlock the files stay open to the job and the
// readers' own checks are what hold; where the filter cannot be installed, the office suite's
// own empty network stands in (see Entered).

#include <filesystem>
#include <memory>
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
    // The office suite makes its socket to itself in the system's temporary folder whatever
    // TMPDIR says, and removes it again: a job that may start the suite may make and remove
    // entries there (never read or write one). No other job may.
    bool suiteSocket = false;
};

// What entering the bounds installed, from what the kernel answered.
struct Entered {
    bool files = false;  // Landlock holds the job to its rooms
    bool network = false;  // the filter refuses Internet and packet sockets
};

// The bounds prepared ahead, in a process that may still allocate and open files, so that
// enter() can run where only system calls may: between vfork and exec.
class Fence {
public:
    ~Fence();
    Fence(const Fence&) = delete;
    Fence& operator=(const Fence&) = delete;
    // Restricts the calling process (one thread: a forked child, a child about to exec), and
    // every process it starts from then on, to the rooms and without network. Only system calls;
    // never fails: what the kernel lacks or refuses is left out of the answer.
    Entered enter() const noexcept;

private:
    friend std::shared_ptr<const Fence> make(const Rooms&);
    Fence() = default;
    int ruleset_ = -1;  // Landlock's rule set, -1 where the kernel has none
};

std::shared_ptr<const Fence> make(const Rooms& rooms);

// Whether the kernel lets a process restrict its own files (Landlock); false where jobs keep only
// the readers' own checks.
bool filesFenced();

// Whether this kernel lets a process install the network filter, asked once of a child.
bool networkFilterInstalls();

}
