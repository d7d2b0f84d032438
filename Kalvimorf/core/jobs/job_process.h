#pragma once

// The job's process, one place for both roads a job takes (see Requests::road): where it starts,
// how it enters the job's bounds, how its tree is watched, and how its end is judged.
//   the worker's road: every job runs in a process forked for it from the worker (run()), which
//                      enters the bounds before it reads a byte of a source;
//   the front's road:  the job's tools (ffmpeg) are its processes; each enters the bounds between
//                      its start and exec (Process::run, given of(request) through the task).
// Either way one loop waits for them (Process::Watch) and asks Bounds::outgrown on its beat, and
// judge() says what their end means for the job.

#include "core/base/job_budget.h"
#include "core/base/process.h"
#include "core/jobs/job_boundary.h"
#include "core/jobs/request.h"

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace JobProcess {

// The bounds of one job: its rooms and no network (JobBoundary), and its memory (JobBudget).
class Bounds final : public Process::Bounds {
public:
    Bounds(std::shared_ptr<const JobBoundary::Fence> fence, unsigned long long budget);
    // The data backstop, then the fence. In a process of the job's own (not a child about to exec)
    // enterHere() also keeps what was installed, for networkShut().
    void enter() const noexcept override;
    JobBoundary::Entered enterHere() const noexcept;
    // Whether `pid` and every process below it hold more than the budget together, or one of
    // them has written more than its share (JobBudget::Limits).
    bool outgrown(int pid) const override;
    void judge(const Process::Result& result, bool outgrown) const override;
    unsigned long long budget() const { return budget_; }

private:
    JobBoundary::Entered entered() const noexcept;
    std::shared_ptr<const JobBoundary::Fence> fence_;
    unsigned long long budget_;
};

// The bounds of the request's job: its sources and their folders to read, its output folders and
// its temporary folder to write, the office suite's socket for a document's job; the budget of
// JobBudget::bytes().
std::shared_ptr<const Bounds> of(const Request& request);
// The bounds of a tool that may reach less than its job (the office suite: the document alone),
// within the job's budget.
std::shared_ptr<const Bounds> narrowed(const JobBoundary::Rooms& rooms);

// The bounds of a look at one file (the trim editor's length, waveform and frames of a clip): the
// file alone to read (not its folder), the temporary folder to write, `budget` bytes.
std::shared_ptr<const Bounds> reading(const fs::path& file, unsigned long long budget);

// Whether the network is shut to the processes this one starts: by the filter this process
// installed when it entered its job's bounds, or, outside a job's process, by the filter each
// child will install (the kernel is asked once). A tool that needs no network of its own keys its
// fallback to this.
bool networkShut();

// The exit status of a job's process that ran out of its memory (a failed allocation it caught).
inline constexpr int outOfMemoryStatus = 86;

// How a job's process (or a tool of the front's road) ended, for the job.
enum class End {
    well,  // it exited with status 0
    outgrown,  // the watch ended it: its tree outgrew the budget
    outOfMemory,  // an allocation failed: its own status, or its last words say so
    failed,  // anything else: a crash for a job's process, the tool's own failure for a tool
};
// From its exit code (none when a signal ended it) and its last words on standard error.
End judge(std::optional<int> exitCode, std::string_view lastWords, bool outgrown);

// What the job's process does: its answer is its own to send (it runs in the forked process).
using Work = std::function<void()>;
// The worker's road: forks the job's process from this one (which stays as it was, its modules
// open, nothing of the job in its heaps), which closes itself inside `bounds` and does `work`.
// Passes on what it prints to standard error until it ends. When the watch finds it outgrown,
// `onOutgrown` is called at once and the process is killed. Its end, judged.
End run(const Bounds& bounds, const Work& work, const std::function<void()>& onOutgrown);

}
