#pragma once

// The rules every writer of the program follows, in one place: nothing the program writes ever
// replaces a file it did not create, a half-written output never carries a user-visible name,
// and temporary folders are private and always removed.
//
// Failures of the file system are std::system_error / std::filesystem::filesystem_error with the
// system's description; callers at the engine boundary turn them into ConversionError.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

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

// Writes every byte, retrying short writes and EINTR.
void writeAll(int fd, std::string_view bytes, const fs::path& pathForErrors = {});

// Creates `path` exclusively (an existing file, link or anything else fails with EEXIST). The
// exclusive create is the claim every process respects.
Fd createExclusive(const fs::path& path, int mode = 0666);

// A name in `folder` that does not exist yet, made of stem + " n" + "." + ext. A stem too long
// for the number and extension is shortened at a character boundary.
using NameFor = std::function<fs::path(long long n)>;
NameFor numberedNames(const fs::path& folder, const std::string& stem, const std::string& ext);
// `preferred` first; after it, when it is itself a numbered name ("clip 3.mov" beside
// "clip.mov"), the next numbers of the original stem ("clip 4.mov"), else `preferred`'s own
// stem numbered ("Episódio 3 2.mov").
NameFor numberedAfter(const fs::path& preferred);

// Throws the file system's ENAMETOOLONG error when `path`'s last component is longer than the
// file system allows. Free-name loops check this first: the system reports such a name as
// neither free nor taken, and no " n" makes it shorter.
void requireNameFits(const fs::path& path);

// Renames `from` to `to` unless something exists at `to`; returns false in that case and leaves
// both alone. Across file systems the source is copied beside the target under a hidden name
// (files, folders and symbolic links only), moved into place the same way, and removed.
bool moveNoReplace(const fs::path& from, const fs::path& to);

// Moves `from` to nameFor(1), else nameFor(2), … and returns where it landed.
fs::path placeFree(const fs::path& from, const NameFor& nameFor);
// The same, with numberedAfter(preferred).
fs::path placeFree(const fs::path& from, const fs::path& preferred);

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
    // child process of the same user): /proc/<pid>/fd/N for an unnamed file, the hidden name
    // otherwise. It exists, so a tool told not to overwrite (ffmpeg -n) must be told -y here.
    fs::path writerPath() const;
    // Writes all of `bytes` at the current offset.
    void write(std::string_view bytes);
    // Gives the finished file the first free name starting at `preferred` (see placeFree) and
    // returns it. Closes the descriptor.
    fs::path publish(const fs::path& preferred);
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
    ~StagedPath();
    StagedPath(const StagedPath&) = delete;
    StagedPath& operator=(const StagedPath&) = delete;

    const fs::path& path() const { return path_; }
    // Moves what the tool made to the first free name (see placeFree) and returns it.
    fs::path publish(const NameFor& nameFor);

private:
    fs::path path_;
    bool published_ = false;
};

// Writes `bytes` as a new file at `preferred` or the next free name after it, never replacing
// anything and never showing a half-written file; returns the path written.
fs::path writeNew(const fs::path& preferred, std::string_view bytes);

// Copies the regular file `source` the same way as writeNew.
fs::path copyNew(const fs::path& source, const fs::path& preferred);

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

// Inputs must be regular files once links are followed: a link to /dev/zero or a FIFO would
// otherwise be read for ever. Throws ConversionError::unreadable.
void requireRegularFile(const fs::path& path);

}
