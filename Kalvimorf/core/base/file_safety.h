#pragma once

// The rules every writer of the program follows, in one place: nothing the program writes ever
// replaces a file it did not create, a half-written output never carries a user-visible name,
// and temporary folders are private and always removed.
//
// Failures of the file system are std::system_error / std::filesystem::filesystem_error with the
// system's description; callers at the engine boundary turn them into ConversionError.

#include "core/base/progress.h"
#include "core/base/service.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace FileSafety {
namespace fs = std::filesystem;

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) { }
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) { }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Both ends of a close-on-exec pipe.
struct Pipe {
    Fd read;
    Fd write;
    static Pipe make();
};

[[noreturn]] void throwErrno(const fs::path& path);

// The bytes of `path` when it is a regular file of at most `most` bytes whose own name is no
// link, opened without waiting (a FIFO would hold the reader for ever); nothing otherwise.
std::optional<std::string> readRegular(const fs::path& path, uintmax_t most);

// Up to `count` bytes of `fd` from `offset` (from where it stands when negative), fewer only at
// the end of the file; short reads and EINTR are retried. Nothing on a read error.
std::optional<std::string> readUpTo(int fd, size_t count, off_t offset = -1);

// Writes every byte, retrying short writes and EINTR.
void writeAll(int fd, std::string_view bytes, const fs::path& pathForErrors = {});

// Creates `path` exclusively (an existing file, link or anything else fails with EEXIST). The
// exclusive create is the claim every process respects.
Fd createExclusive(const fs::path& path, int mode = 0666);

// The names an output may take, n = 1, 2, …, tried in order when it is published until one is
// free: a naming rule, or a preferred path followed by "stem 2.ext", "stem 3.ext" beside it.
// A preferred path that is itself a numbered name ("clip 3.mov" beside "clip.mov") goes on
// with the original stem's next numbers ("clip 4.mov"), never "clip 3 2.mov".
// Nothing is checked or reserved ahead: publishing never replaces, so outputs made at once each
// end up under their own name of the rule.
class NameFor {
public:
    template <typename Rule>
    requires(
        !std::is_same_v<std::remove_cvref_t<Rule>, NameFor> && std::is_invocable_r_v<fs::path, const Rule&, long long>)
        NameFor(Rule rule)
        : rule_(std::move(rule))
    {
    }
    NameFor(const fs::path& preferred);

    fs::path operator()(long long n) const { return rule_(n); }
    // Where the first name lies: the folder a file is made in before it gets its name.
    fs::path folder() const { return rule_(1).parent_path(); }

private:
    std::function<fs::path(long long)> rule_;
};

// stem + "." + ext in `folder`, then stem + " n" + "." + ext (just the stem without an ext). A
// stem too long for the number and extension is shortened at a character boundary.
NameFor numberedNames(const fs::path& folder, const std::string& stem, const std::string& ext);

// `stem` shortened at a character boundary so that stem + `suffix` fits as a name in `folder`:
// for names whose end carries what must not be cut (a page's number).
std::string fittedStem(const fs::path& folder, const std::string& stem, const std::string& suffix);

// Throws the file system's ENAMETOOLONG error when `path`'s last component is longer than the
// file system allows. Free-name loops check this first: the system reports such a name as
// neither free nor taken, and no " n" makes it shorter.
void requireNameFits(const fs::path& path);

// Renames `from` to `to` unless something exists at `to`; returns false in that case and leaves
// both alone. Across file systems the source is copied beside the target under a hidden name
// (files, folders and symbolic links only), moved into place the same way, and removed.
bool moveNoReplace(const fs::path& from, const fs::path& to);

// Moves `from` to nameFor(1), else nameFor(2), … and returns where it landed. Across file
// systems the tree is copied once, beside the targets under a hidden name, with `progress`
// told the share of bytes copied; a cancelled task stops the copy with CancellationError, and
// then nothing is left at the target and `from` is whole.
fs::path placeFree(const fs::path& from, const NameFor& nameFor, const Progress& progress = {});

// A file that has no name until it is complete. It is an unnamed file (O_TMPFILE) in the
// target's folder where the file system supports that, else a hidden name there; either way it
// is gone when the object is destroyed unless publish() gave it its name, so a crash, a failure
// or a cancelled job never leaves a half-written output behind.
class NewFile {
public:
    explicit NewFile(const fs::path& folder);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return fd_.get(); }
    // A path that opens this same file, for writers that take a path (a library's saver, a
    // child process, which inherits the descriptor): /proc/self/fd/N for an unnamed file, the
    // hidden name otherwise. It exists, so a tool told not to overwrite (ffmpeg -n) must be told -y here.
    fs::path writerPath() const;
    // Writes all of `bytes` at the current offset.
    void write(std::string_view bytes);
    // Gives the finished file the first free name of `nameFor` and returns it. Closes the
    // descriptor.
    fs::path publish(const NameFor& nameFor);

private:
    fs::path folder_;
    fs::path hidden_;  // empty for an unnamed file
    Fd fd_;
    bool published_ = false;
};

// A hidden name in `folder` for a tool that makes its own file there (an archiver that writes
// through temporary files and renames them). Whatever stands at it is removed on destruction
// unless publish() gave it its final name. `ext` is kept because some tools add their own
// extension to a name without one.
class StagedPath {
public:
    explicit StagedPath(const fs::path& folder, const std::string& ext = {});
    // A hidden folder, made at once with the folders above it, beside where `names` publish: for
    // an output of several files, which gets its name only once all of them are in, and for
    // tools that leave temporary files of their own beside what they make.
    static StagedPath folderFor(const NameFor& names) { return StagedPath(names); }
    ~StagedPath();
    StagedPath(const StagedPath&) = delete;
    StagedPath& operator=(const StagedPath&) = delete;

    const fs::path& path() const { return path_; }
    // Moves what the tool made to the first free name (see placeFree) and returns it.
    fs::path publish(const NameFor& nameFor);

private:
    explicit StagedPath(const NameFor& names);

    fs::path path_;
    bool published_ = false;
};

// Told of each hidden name this process gives a file or folder beside the outputs (StagedPath,
// NewFile where the file system has no unnamed files, a copy between file systems), so that
// whoever ends the process before its work unwinds can remove what it left there: a worker
// killed for a cancel or a signal never runs its destructors. The worker passes them on to the
// program that started it, which removes them once the worker is gone without an output.
class HiddenNames : public Service<HiddenNames> {
public:
    virtual void made(const fs::path& path) = 0;
};

// Removes `path` if it is one of those hidden names; anything else is left alone. Never throws.
void removeHidden(const fs::path& path) noexcept;
// The path up to the first of those hidden names in it, that name left out: what the user knows
// of a place the program was working in. Any other path as it is.
fs::path beforeHidden(const fs::path& path);

// Writes `bytes` as a new file at `preferred` or the next free name after it, never replacing
// anything and never showing a half-written file; returns the path written.
fs::path writeNew(const NameFor& nameFor, std::string_view bytes);

// Copies the regular file `source` the same way as writeNew.
fs::path copyNew(const fs::path& source, const NameFor& nameFor);

// A private (0700) temporary folder "kalvimorf-<UUID>" in the system's temporary directory,
// removed with everything in it on destruction, read-only parts included.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Removes a file or tree, also when some of its folders are read-only. Never throws.
void removeTree(const fs::path& path) noexcept;

// Removes a folder the program made for outputs if nothing ended up in it: whatever is in it,
// a file the user put there included, keeps it. Never throws.
void removeIfEmpty(const fs::path& folder) noexcept;
// The same, once the last holder of the returned handle lets go of it: each job of a batch writing
// into a common folder holds one, so a batch whose jobs all fail or are cancelled leaves no empty
// folder behind (and the next batch gets the plain name again).
std::shared_ptr<void> removeIfEmptyAtLast(const fs::path& folder);

// Inputs must be regular files once links are followed: a link to /dev/zero or a FIFO would
// otherwise be read for ever. Every road a file comes in by (conversions, tools, trims, the
// editor, the desktop's cards) asks this. The throwing form throws ConversionError::unreadable.
bool isRegularFile(const fs::path& path);
void requireRegularFile(const fs::path& path);

// The permission bits outputs made from `sources` may keep: a class of users (owner, group,
// others) that cannot read every source gets nothing of the outputs. A link planted in a shared
// folder that leads to someone's private file would otherwise give a copy anyone can read. The
// bits a new file gets are the umask's; this only takes away.
unsigned outputModes(const std::vector<fs::path>& sources);

// Takes from a file or a tree (links left alone) the bits the current job's outputModes lacks;
// the publishers (placeFree, NewFile) do this before a name is given, so no other user can open
// an output in the moment between. Does nothing when the job has no such bound.
void limitToJobModes(const fs::path& tree);

}
