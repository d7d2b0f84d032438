#include "core/base/file_safety.h"

#include "core/base/conversion_error.h"
#include "core/base/task.h"

#include <QUuid>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace FileSafety {

namespace {

constexpr std::string_view hiddenPrefix = ".kalvimorf-";

// A new hidden name in `folder`, told to whoever watches for them before anything is made there.
fs::path hiddenIn(const fs::path& folder, const std::string& ext = {})
{
    auto name = std::string(hiddenPrefix) + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    auto path = folder / (ext.empty() ? name : name + "." + ext);
    if (const auto watcher = HiddenNames::shared())
        watcher->made(path);
    return path;
}

// What a copy between file systems has done so far, for its progress.
struct Copying {
    uintmax_t total = 0;
    uintmax_t done = 0;
    Progress progress;

    void add(uintmax_t bytes)
    {
        done += bytes;
        if (progress && total > 0)
            progress(double(done) / double(total));
    }
};

uintmax_t sizeOfTree(const fs::path& path)
{
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    if (fs::is_regular_file(status))
        return fs::file_size(path, error);
    uintmax_t total = 0;
    if (fs::is_directory(status))
        for (fs::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file(error) && !it->is_symlink(error))
                total += it->file_size(error);
    return total;
}

// In slices, so that a big file reports progress and stops soon after its job is cancelled.
void copyData(int input, int output, const fs::path& pathForErrors, Copying& copying)
{
    constexpr size_t slice = size_t(16) << 20;
    // Most pairs of file systems cannot share extents; sendfile still copies without a round
    // trip through this process.
    bool shared = true;
    for (;;) {
        Task::checkCancelled();
        auto copied = shared ? ::copy_file_range(input, nullptr, output, nullptr, slice, 0) : -1;
        if (shared && copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            shared = false;
        if (!shared)
            copied = ::sendfile(output, input, nullptr, slice);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0)
            throwErrno(pathForErrors);
        if (copied == 0)
            break;
        copying.add(uintmax_t(copied));
    }
}

void copyFile(const fs::path& from, const fs::path& to, Copying& copying)
{
    Fd input(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!input || ::fstat(input.get(), &info) != 0)
        throwErrno(from);
    Fd output = createExclusive(to, int(info.st_mode & 07777));
    copyData(input.get(), output.get(), to, copying);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(output.get(), times);
}

// Copies a tree keeping permissions and modification times, for moves between file systems.
// Devices, pipes and sockets are left out.
void copyTree(const fs::path& from, const fs::path& to, Copying& copying)
{
    const auto status = fs::symlink_status(from);
    if (fs::is_symlink(status)) {
        fs::copy_symlink(from, to);
    } else if (fs::is_directory(status)) {
        fs::create_directory(to);
        for (const auto& entry : fs::directory_iterator(from))
            copyTree(entry.path(), to / entry.path().filename(), copying);
        fs::permissions(to, status.permissions());
        fs::last_write_time(to, fs::last_write_time(from));
    } else if (fs::is_regular_file(status)) {
        copyFile(from, to, copying);
    }
}

enum class Move { done, taken, otherDevice };

Move renameNoReplace(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Move::done;
    if (errno == EEXIST)
        return Move::taken;
    if (errno == EXDEV)
        return Move::otherDevice;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        throwErrno(to);
    // A file system without the no-replace flag. A hard link fails on a taken name; a folder
    // takes the place of an empty folder made for it just now, which fails when anything has
    // appeared in it meanwhile.
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(from, error))) {
        if (::link(from.c_str(), to.c_str()) != 0) {
            if (errno == EEXIST)
                return Move::taken;
            if (errno == EXDEV)
                return Move::otherDevice;
            throwErrno(to);
        }
        ::unlink(from.c_str());
        return Move::done;
    }
    if (::mkdir(to.c_str(), 0700) != 0) {
        if (errno == EEXIST)
            return Move::taken;
        throwErrno(to);
    }
    if (::rename(from.c_str(), to.c_str()) == 0)
        return Move::done;
    const int saved = errno;
    ::rmdir(to.c_str());
    if (saved == ENOTEMPTY || saved == EEXIST)
        return Move::taken;
    errno = saved;
    throwErrno(to);
}

void unlockTree(const fs::path& folder)
{
    std::error_code error;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code statusError;
        if (it->is_directory(statusError) && !it->is_symlink(statusError))
            unlockTree(it->path());
    }
}

}

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

Pipe Pipe::make()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    return {Fd(fds[0]), Fd(fds[1])};
}

void throwErrno(const fs::path& path)
{
    const int error = errno;
    throw fs::filesystem_error(std::strerror(error), path, std::error_code(error, std::generic_category()));
}

void writeAll(int fd, std::string_view bytes, const fs::path& pathForErrors)
{
    while (!bytes.empty()) {
        const auto written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(pathForErrors);
        }
        bytes.remove_prefix(size_t(written));
    }
}

Fd createExclusive(const fs::path& path, int mode)
{
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd)
        throwErrno(path);
    return fd;
}

namespace {

long nameLimit(const fs::path& folder)
{
    const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? limit : NAME_MAX;
}

// `stem` cut so that `suffix` still fits after it, at a character boundary: a name the file
// system refuses for its length would fail the run, while one shortened by a few characters is
// still recognisable.
std::string fitted(const std::string& stem, const std::string& suffix, size_t limit)
{
    if (stem.size() + suffix.size() <= limit || suffix.size() >= limit)
        return stem;
    size_t end = limit - suffix.size();
    while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80)
        --end;
    return stem.substr(0, end);
}

// "clip" and 3 of "clip 3.mov" when "clip.mov" lies beside it: a name the numbering made, whose
// next is "clip 4.mov", not "clip 3 2.mov". Nothing for a name that only ends in a number.
std::optional<std::pair<std::string, long long>> numberedStem(
    const fs::path& folder, const std::string& stem, const std::string& ext)
{
    const auto space = stem.rfind(' ');
    if (space == std::string::npos || space == 0 || space + 1 == stem.size() || stem[space + 1] == '0')
        return std::nullopt;
    long long number = 0;
    for (size_t i = space + 1; i < stem.size(); ++i) {
        if (stem[i] < '0' || stem[i] > '9' || number > 1'000'000'000)
            return std::nullopt;
        number = number * 10 + (stem[i] - '0');
    }
    const auto base = stem.substr(0, space);
    std::error_code error;
    if (number < 2 || !fs::exists(fs::symlink_status(folder / (ext.empty() ? base : base + "." + ext), error)))
        return std::nullopt;
    return std::pair(base, number);
}

}

NameFor::NameFor(const fs::path& preferred)
{
    auto ext = preferred.extension().string();
    if (!ext.empty())
        ext.erase(0, 1);
    const auto folder = preferred.parent_path();
    const auto stem = preferred.stem().string();
    const auto numbered = numberedStem(folder, stem, ext);
    if (!numbered) {
        rule_ = numberedNames(folder, stem, ext).rule_;
        return;
    }
    rule_ = [preferred, names = numberedNames(folder, numbered->first, ext), first = numbered->second](long long n) {
        return n < 2 ? preferred : names(first + n - 1);
    };
}

NameFor numberedNames(const fs::path& folder, const std::string& stem, const std::string& ext)
{
    const auto limit = size_t(nameLimit(folder));
    return [=](long long n) {
        const auto suffix = (n < 2 ? std::string() : " " + std::to_string(n)) + (ext.empty() ? "" : "." + ext);
        return folder / (fitted(stem, suffix, limit) + suffix);
    };
}

std::string fittedStem(const fs::path& folder, const std::string& stem, const std::string& suffix)
{
    return fitted(stem, suffix, size_t(nameLimit(folder)));
}

void requireNameFits(const fs::path& path)
{
    if (path.filename().native().size() > size_t(nameLimit(path.parent_path()))) {
        errno = ENAMETOOLONG;
        throwErrno(path);
    }
}

bool moveNoReplace(const fs::path& from, const fs::path& to)
{
    switch (renameNoReplace(from, to)) {
    case Move::done: return true;
    case Move::taken: return false;
    case Move::otherDevice: break;
    }
    const auto staged = hiddenIn(to.parent_path());
    try {
        Copying copying;
        copyTree(from, staged, copying);
        const bool placed = renameNoReplace(staged, to) == Move::done;
        if (!placed) {
            removeTree(staged);
            return false;
        }
    } catch (...) {
        removeTree(staged);
        throw;
    }
    removeTree(from);
    return true;
}

fs::path placeFree(const fs::path& from, const NameFor& nameFor, const Progress& progress)
{
    limitToJobModes(from);
    for (long long n = 1;; ++n) {
        const auto target = nameFor(n);
        requireNameFits(target);
        switch (renameNoReplace(from, target)) {
        case Move::done: return target;
        case Move::taken: continue;
        case Move::otherDevice: break;
        }
        // Copied once, then given its name by renames on the target's own file system.
        const auto staged = hiddenIn(target.parent_path());
        fs::path placed;
        try {
            Copying copying{sizeOfTree(from), 0, progress};
            copyTree(from, staged, copying);
            placed = placeFree(staged, nameFor);
        } catch (...) {
            removeTree(staged);
            throw;
        }
        removeTree(from);
        return placed;
    }
}

std::optional<std::string> readRegular(const fs::path& path, uintmax_t most)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat info;
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || uintmax_t(info.st_size) > most)
        return std::nullopt;
    return readUpTo(fd.get(), size_t(info.st_size));
}

std::optional<std::string> readUpTo(int fd, size_t count, off_t offset)
{
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = offset < 0 ? ::read(fd, bytes.data() + done, bytes.size() - done)
                                       : ::pread(fd, bytes.data() + done, bytes.size() - done, offset + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += size_t(got);
    }
    bytes.resize(done);
    return bytes;
}

NewFile::NewFile(const fs::path& folder) : folder_(folder.empty() ? fs::path(".") : folder)
{
    // Left open in the children, which reach it by the same number: a tool inside a job's
    // bounds may not open another process's descriptors (/proc/<pid>/fd), only its own.
    fd_.reset(::open(folder_.c_str(), O_TMPFILE | O_RDWR, 0666));
    if (fd_)
        return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throwErrno(folder_);
    hidden_ = hiddenIn(folder_);
    fd_ = createExclusive(hidden_);
}

NewFile::~NewFile()
{
    if (!published_ && !hidden_.empty()) {
        std::error_code ignored;
        fs::remove(hidden_, ignored);
    }
}

fs::path NewFile::writerPath() const
{
    if (!hidden_.empty())
        return hidden_;
    return fs::path("/proc/self/fd") / std::to_string(fd_.get());
}

void NewFile::write(std::string_view bytes) { writeAll(fd_.get(), bytes, folder_); }

fs::path NewFile::publish(const NameFor& nameFor)
{
    if (!hidden_.empty()) {
        fd_.reset();
        auto placed = placeFree(hidden_, nameFor);
        published_ = true;
        return placed;
    }
    if (const auto& bound = Task::current().outputModes) {
        struct stat info;
        if (::fstat(fd_.get(), &info) != 0 || ::fchmod(fd_.get(), info.st_mode & 07777 & mode_t(*bound)) != 0)
            throwErrno(folder_);
    }
    const auto self = "/proc/self/fd/" + std::to_string(fd_.get());
    for (long long n = 1;; ++n) {
        const auto target = nameFor(n);
        requireNameFits(target);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            published_ = true;
            fd_.reset();
            return target;
        }
        if (errno != EEXIST)
            throwErrno(target);
    }
}

StagedPath::StagedPath(const fs::path& folder, const std::string& ext)
    : path_(hiddenIn(folder.empty() ? fs::path(".") : folder, ext))
{
}

StagedPath::StagedPath(const NameFor& names) : StagedPath(names.folder())
{
    fs::create_directories(names.folder());
    fs::create_directory(path_);
}

StagedPath::~StagedPath()
{
    if (!published_)
        removeTree(path_);
}

fs::path StagedPath::publish(const NameFor& nameFor)
{
    auto placed = placeFree(path_, nameFor);
    published_ = true;
    return placed;
}

void removeHidden(const fs::path& path) noexcept
{
    if (path.filename().string().starts_with(hiddenPrefix))
        removeTree(path);
}

fs::path beforeHidden(const fs::path& path)
{
    fs::path shown;
    for (const auto& part : path) {
        if (part.string().starts_with(hiddenPrefix))
            return shown;
        shown /= part;
    }
    return path;
}

fs::path writeNew(const NameFor& nameFor, std::string_view bytes)
{
    NewFile file(nameFor.folder());
    file.write(bytes);
    return file.publish(nameFor);
}

fs::path copyNew(const fs::path& source, const NameFor& nameFor)
{
    Fd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input)
        throwErrno(source);
    NewFile file(nameFor.folder());
    Copying copying;
    copyData(input.get(), file.fd(), nameFor.folder(), copying);
    return file.publish(nameFor);
}

TempDir::TempDir()
{
    auto name = "kalvimorf-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    path_ = fs::temp_directory_path() / name;
    if (::mkdir(path_.c_str(), 0700) != 0)
        throwErrno(path_);
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const fs::path& path) noexcept
{
    std::error_code error;
    fs::remove_all(path, error);
    if (!error)
        return;
    unlockTree(path);
    fs::remove_all(path, error);
}

void removeIfEmpty(const fs::path& folder) noexcept { ::rmdir(folder.c_str()); }

std::shared_ptr<void> removeIfEmptyAtLast(const fs::path& folder)
{
    return std::shared_ptr<void>(nullptr, [folder](void*) {
        removeIfEmpty(folder);
    });
}

bool isRegularFile(const fs::path& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void requireRegularFile(const fs::path& path)
{
    if (!isRegularFile(path))
        throw ConversionError::unreadable();
}

unsigned outputModes(const std::vector<fs::path>& sources)
{
    unsigned kept = 07777;
    for (const auto& source : sources) {
        struct stat info;
        if (::stat(source.c_str(), &info) != 0)
            continue;
        for (unsigned shift : {6u, 3u, 0u})
            if ((info.st_mode & (04u << shift)) == 0)
                kept &= ~(07u << shift);
    }
    return kept;
}

void limitToJobModes(const fs::path& tree)
{
    const auto& bound = Task::current().outputModes;
    if (!bound)
        return;
    const auto limit = [&](const fs::path& path) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode))
            return;
        const mode_t wanted = info.st_mode & 07777 & mode_t(*bound);
        if (wanted != (info.st_mode & 07777) && ::chmod(path.c_str(), wanted) != 0)
            throwErrno(path);
    };
    limit(tree);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(tree, error)))
        return;
    for (auto it = fs::recursive_directory_iterator(tree, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        limit(it->path());
}

}
