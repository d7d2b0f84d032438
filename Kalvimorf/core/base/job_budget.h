#pragma once

// The one memory budget of a job. Every bound laid on a job's processes and every check an
// engine makes before large work is a share of it, so that the bound met first is the one whose
// sentence names the cause: a picture that would need more than the job may hold is refused with
// the picture's own sentence before the watch could end the job with the generic one, and the
// kernel's backstops lie beyond the watch.

namespace JobBudget {

// The memory one job's processes may hold together, in bytes: a quarter of the machine's, so that
// the desktop's three jobs at once leave a quarter to the session, but at least 3 GiB (a 4K
// video's H.264 encoder on eight cores holds 1.7 GiB and has written 2.5) and at most 8 GiB.
// BRIVLON_JOB_MEMORY (in MiB) sets it instead, for the tests.
unsigned long long bytes();
// The least budget a machine gives (BRIVLON_JOB_MEMORY aside).
inline constexpr unsigned long long least = 3ULL << 30;

// What follows from a budget of B bytes, from the first bound to be met to the last.
struct Limits {
    // A picture's work, checked before it starts (with what the system still has free): 4/5 B,
    // leaving the rest to the program itself and the libraries' own buffers.
    unsigned long long picture;
    // A picture held whole (decoded whole, turned, its faces sought, written whole): a fifth of
    // the least budget (B/5 below it), whatever the machine, since its size is the file's to
    // decide (a HEIC grid of one repeated tile is a few KB) and no real photo needs more.
    unsigned long long wholePicture;
    // The address space of a tool whose memory its input decides (an unpacker fed a recursive
    // archive or a header asking for a 1.5 GiB dictionary): a third of the least budget (B/3
    // below it), so a bomb fails inside the tool with its own sentence.
    unsigned long long tool;
    // The watch: the job's processes together may hold B; one that has written 3/2 B is ended
    // before it is resident, since a library that meets the backstop below may hang instead of
    // failing (a thread it cannot start).
    unsigned long long resident;
    unsigned long long written;
    // The backstop of each of the job's processes (RLIMIT_DATA, what a process has written or
    // may write, not the address space its threads reserve): 2 B, for an allocation too sudden
    // for the watch.
    unsigned long long data;
    // The address space of a worker (RLIMIT_AS): 3 B, beyond the data backstop, since threads
    // reserve heaps and libraries map themselves without writing (the largest real jobs reserve
    // about 4 GiB).
    unsigned long long addressSpace;
};

constexpr Limits limits(unsigned long long budget)
{
    const auto bounded = budget < least ? budget : least;
    return {budget / 5 * 4, bounded / 5, bounded / 3, budget, budget / 2 * 3, 2 * budget, 3 * budget};
}

// The limits of this process's jobs, from bytes().
Limits limits();

}
