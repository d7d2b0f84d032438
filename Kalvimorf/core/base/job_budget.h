#pragma once

#include <cstddef>

// The one memory budget of a job. Every bound laid on a job's processes and every check an
// engine makes before large work is a share of it, so that the bound met first is the one whose
// sentence names the cause: a picture that would need more than the job may hold is refused with
// the picture's own sentence before the watch could end the job with the generic one, and the
// kernel's backstops lie beyond the watch. The few bounds that are not of memory but of an
// input's size stand at the end, beside their reasons.

namespace JobBudget {

// The least budget a machine gives (BRIVLON_JOB_MEMORY aside).
inline constexpr unsigned long long least = 3ULL << 30;

// The budget of a machine of `machine` bytes: an eighth, but at least 3 GiB (a 4K video's H.264
// encoder on eight cores holds 1.7 GiB and has written 2.5) and at most 8 GiB. An eighth, so
// that the three conversions and three tools the desktop runs at once fit four fifths of a
// machine of 24 GiB or more (places()).
constexpr unsigned long long ofMachine(unsigned long long machine)
{
    const auto eighth = machine / 8;
    return eighth < least ? least : eighth > (8ULL << 30) ? 8ULL << 30 : eighth;
}

// The memory one job's processes may hold together, in bytes: ofMachine() of this machine, or
// BRIVLON_JOB_MEMORY (in MiB) for the tests.
unsigned long long bytes();

// How many jobs each of the desktop's two gates (conversions; tools and trims) lets run at once:
// as many as four fifths of the machine hold when both gates are full, leaving a fifth to the
// session, at most three and at least one. From 24 GiB on (what the kernel reports of it, some
// 23.4), three and three; a machine of 16 GiB runs two and two, one of 8 GiB one and one.
constexpr int places(unsigned long long machine, unsigned long long budget)
{
    const auto fit = budget ? machine / 5 * 4 / (2 * budget) : 3;
    return fit < 1 ? 1 : fit > 3 ? 3 : int(fit);
}
// Of this machine and bytes().
int places();

// What follows from a budget of B bytes, from the first bound to be met to the last.
struct Limits {
    // A picture's work, checked before it starts (with what the system still has free): 4/5 B,
    // leaving the rest to the program itself and the libraries' own buffers.
    unsigned long long picture;

    // What a file decides the size of: shares of the least budget (of B below it), whatever the
    // machine, since a few bytes of input can ask for any of them and no real file needs more.
    // A picture held whole (decoded whole, turned, its faces sought, written whole): a fifth. A
    // HEIC grid of one repeated tile is a few KB.
    unsigned long long wholePicture;
    // The address space of a tool whose memory its input decides (an unpacker fed a recursive
    // archive or a header asking for a 1.5 GiB dictionary): a third, so a bomb fails inside the
    // tool with its own sentence.
    unsigned long long tool;
    // A workbook read from a file, as its reader holds it: a third, a table of a million rows by
    // a hundred columns of numbers.
    unsigned long long table;
    // The tree of a document (Word, OpenDocument, RTF) and what is made of it: a sixth, some five
    // thousand pages of dense text (fifty thousand formatted paragraphs), so that the next steps
    // fit beside it.
    unsigned long long document;
    // A part of a zip package read whole, or all of a package unpacked: a twelfth. A few hundred
    // kilobytes of zip can ask for gigabytes, which the reader would hold in memory or on disk.
    unsigned long long unpacked;
    // One PDF page's content streams unpacked, each form once: a twelfth. A real page's drawing
    // instructions stay in the tens of megabytes even for a detailed map; a few kilobytes of
    // compressed zeros unpack to gigabytes, which poppler would read and hold (2.4 GB for one
    // string in the text layout) for minutes.
    unsigned long long pageContent;
    // One picture written into a PDF from memory, its samples beside their compressed copy: a
    // twelfth. A larger one is streamed into the file as it decodes.
    unsigned long long pictureInPDF;
    // The text of a drawing (SVG): a twenty-fourth. The renderer's tree grows with it, and the
    // largest real drawings (maps, plans, plots of a million points) hold a few tens of megabytes.
    unsigned long long drawing;
    // The pages of a PDF being drawn and encoded at once, whatever their number and size: a
    // twenty-fourth, so that a document of large pages is drawn a few at a time (one larger than
    // this is still drawn, alone).
    unsigned long long pagesDrawn;

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
    return {.picture = budget / 5 * 4,
        .wholePicture = bounded / 5,
        .tool = bounded / 3,
        .table = bounded / 3,
        .document = bounded / 6,
        .unpacked = bounded / 12,
        .pageContent = bounded / 12,
        .pictureInPDF = bounded / 12,
        .drawing = bounded / 24,
        .pagesDrawn = bounded / 24,
        .resident = budget,
        .written = budget / 2 * 3,
        .data = 2 * budget,
        .addressSpace = 3 * budget};
}

// The limits of this process's jobs, from bytes().
Limits limits();

// Bounds of an input's size rather than of memory.

// What drawing one PDF page may cost, counted in bytes of content read: the content poppler
// reads as it draws, a form's again each time it is drawn, and for every form drawn the setting
// up of its state, resources and clip, which costs poppler about as much as reading
// pageFormWork bytes (a tenth of a millisecond and more, again for every band of the page).
// Twelve forms that each draw the next ten times are 3 KB and a trillion forms to draw; six such
// levels, 111,111 forms, took a minute and a half; a map that places its symbols by the ten
// thousand stays below.
inline constexpr long long pageWork = 512LL << 20;
inline constexpr long long pageFormWork = 16 << 10;

// One row of a table as its reader holds it: all of a sheet's 16,384 columns with 16,000
// characters each.
inline constexpr std::size_t rowCharacters = std::size_t(16'384) * 16'000;

}
