#include "documents/archive_engine.h"

#include "core/conversion_error.h"
#include "core/output_paths.h"
#include "core/shell.h"
#include "documents/zip_tools.h"

#include <QUuid>

#include <lzma.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ArchiveEngine {

namespace {

const std::string tar = "/usr/bin/tar";
// GNU tar cannot read zip, 7z or rar; libarchive's tar reads them all and finds the format itself.
const std::string bsdtar = "/usr/bin/bsdtar";
const std::string gzip = "/usr/bin/gzip";
const std::string bzip2 = "/usr/bin/bzip2";

// Asks tar not to add resource-fork entries where it knows them.
const std::map<std::string, std::string>& packEnv()
{
    static const std::map<std::string, std::string> env = {{"COPYFILE_DISABLE", "1"}};
    return env;
}

[[noreturn]] void throwErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { ::close(fd_); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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

// Removes a file or tree, also when an archive made some of its folders read-only.
void removeTree(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (!error)
        return;
    unlockTree(path);
    fs::remove_all(path, error);
}

class TempFolder {
public:
    TempFolder() : path_(Shell::tempDir()) {}
    ~TempFolder() { removeTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The item's absolute path with its own name as the last component, also for "Fotos/" or ".".
fs::path cleaned(const fs::path& item)
{
    auto path = fs::absolute(item).lexically_normal();
    if (!path.has_filename() && path != path.root_path())
        path = path.parent_path();
    return path;
}

std::string fileExtension(const OutputFormat& format)
{
    return format.ext == "tgz" ? "tar.gz" : format.ext;
}

fs::path candidate(const fs::path& folder, const std::string& stem, const std::string& ext, long long n)
{
    auto name = n < 2 ? stem : stem + " " + std::to_string(n);
    return folder / (ext.empty() ? name : name + "." + ext);
}

// A hidden name beside the final place, so that moving into place stays on one file system.
fs::path stagingPath(const fs::path& folder, const std::string& ext)
{
    auto name = ".kalvimorf-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    return folder / (ext.empty() ? name : name + "." + ext);
}

// Copies a tree keeping permissions and modification times, for moves between file systems.
// Devices, pipes and sockets that an archive may hold are left out.
void copyTree(const fs::path& from, const fs::path& to)
{
    const auto status = fs::symlink_status(from);
    if (fs::is_symlink(status)) {
        fs::copy_symlink(from, to);
    } else if (fs::is_directory(status)) {
        fs::create_directory(to);
        for (const auto& entry : fs::directory_iterator(from))
            copyTree(entry.path(), to / entry.path().filename());
        fs::permissions(to, status.permissions());
        fs::last_write_time(to, fs::last_write_time(from));
    } else if (fs::is_regular_file(status)) {
        fs::copy_file(from, to);
        fs::last_write_time(to, fs::last_write_time(from));
    }
}

enum class Move { done, taken, otherDevice };

// Renames without ever replacing what is at `to`.
Move moveNoReplace(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Move::done;
    if (errno == EEXIST)
        return Move::taken;
    if (errno == EXDEV)
        return Move::otherDevice;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        throwErrno("rename");
    // A file system without the no-replace flag. A hard link fails on a taken name; a folder
    // takes the place of an empty folder made for it just now, which fails when anything has
    // appeared in it meanwhile.
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(from, error))) {
        if (::link(from.c_str(), to.c_str()) != 0) {
            if (errno == EEXIST)
                return Move::taken;
            throwErrno("link");
        }
        ::unlink(from.c_str());
        return Move::done;
    }
    if (::mkdir(to.c_str(), 0700) != 0) {
        if (errno == EEXIST)
            return Move::taken;
        throwErrno("mkdir");
    }
    if (::rename(from.c_str(), to.c_str()) == 0)
        return Move::done;
    if (errno == ENOTEMPTY || errno == EEXIST)
        return Move::taken;
    const int saved = errno;
    ::rmdir(to.c_str());
    errno = saved;
    throwErrno("rename");
}

// Moves `from` to the first free name for stem and ext in `folder`. Across file systems it is
// copied beside the target first and the original removed once the copy is in place.
fs::path placeUnder(const fs::path& from, const fs::path& folder, const std::string& stem, const std::string& ext)
{
    for (long long n = 1;; ++n) {
        const auto target = candidate(folder, stem, ext, n);
        switch (moveNoReplace(from, target)) {
        case Move::done:
            return target;
        case Move::taken:
            continue;
        case Move::otherDevice: {
            const auto staged = stagingPath(folder, ext);
            fs::path placed;
            try {
                copyTree(from, staged);
                placed = placeUnder(staged, folder, stem, ext);
            } catch (...) {
                removeTree(staged);
                throw;
            }
            removeTree(from);
            return placed;
        }
        }
    }
}

std::string baseName(const fs::path& archive)
{
    const auto name = archive.filename().string();
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    for (std::string_view suffix : {".tar.gz", ".tar.bz2", ".tar.xz", ".tgz", ".tbz", ".tbz2", ".txz"})
        if (lower.ends_with(suffix))
            return name.substr(0, name.size() - suffix.size());
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The entries that count as content: everything but the Finder's .DS_Store and __MACOSX.
std::vector<std::string> contents(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        auto name = entry.path().filename().string();
        if (name != ".DS_Store" && name != "__MACOSX")
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void unpack(const fs::path& archive, const fs::path& folder)
{
    Shell::run(bsdtar, {"-xf", archive.string(), "-C", folder.string()});
}

// Names packed from one folder.
struct Group {
    fs::path folder;
    std::vector<std::string> names;
};

void pack(const std::vector<Group>& groups, const fs::path& destination, const std::string& ext)
{
    try {
        if (ext == "zip") {
            for (const auto& group : groups)
                ZipTools::packNames(destination, group.folder, group.names);
        } else if (ext == "tar" || ext == "tgz") {
            std::vector<std::string> arguments = {ext == "tar" ? "-cf" : "-czf", destination.string(), "--exclude",
                                                  ".DS_Store"};
            for (const auto& group : groups) {
                arguments.insert(arguments.end(), {"-C", group.folder.string()});
                for (const auto& name : group.names)
                    arguments.push_back(ZipTools::literalName(name));
            }
            Shell::run(tar, arguments, {.env = packEnv()});
        } else {
            throw ConversionError::unsupported();
        }
    } catch (...) {
        std::error_code error;
        fs::remove(destination, error);
        throw;
    }
}

// Packs beside the final place under a hidden name, then moves the archive to the first free
// name: a name taken meanwhile is never written over.
fs::path packInto(const std::vector<Group>& groups, const OutputFormat& format, const fs::path& folder,
                  const std::string& stem)
{
    const auto ext = fileExtension(format);
    const auto staged = stagingPath(folder, ext);
    pack(groups, staged, format.ext);
    try {
        return placeUnder(staged, folder, stem, ext);
    } catch (...) {
        removeTree(staged);
        throw;
    }
}

void writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const auto written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("write");
        }
        data += written;
        size -= size_t(written);
    }
}

void decompressXZ(const fs::path& source, int target)
{
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno("open");
    FileDescriptor input(fd);

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
        throw ConversionError::unreadable();
    struct End {
        lzma_stream* stream;
        ~End() { lzma_end(stream); }
    } end{&stream};

    std::vector<uint8_t> in(1 << 20), out(1 << 16);
    lzma_action action = LZMA_RUN;
    for (;;) {
        if (stream.avail_in == 0 && action == LZMA_RUN) {
            const auto got = ::read(input.get(), in.data(), in.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throwErrno("read");
            }
            if (got == 0)
                action = LZMA_FINISH;
            stream.next_in = in.data();
            stream.avail_in = size_t(got);
        }
        stream.next_out = out.data();
        stream.avail_out = out.size();
        const auto result = lzma_code(&stream, action);
        writeAll(target, out.data(), out.size() - stream.avail_out);
        if (result == LZMA_STREAM_END)
            return;
        if (result != LZMA_OK)
            throw ConversionError::unreadable();
    }
}

// Decompresses a single gz, bz2 or xz file into a new file named `base`.
fs::path decompress(const fs::path& source, const std::string& ext, const fs::path& folder, const std::string& base)
{
    for (long long n = 1;; ++n) {
        const auto target = candidate(folder, base, "", n);
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throwErrno("open");
        }
        FileDescriptor output(fd);
        try {
            if (ext == "xz")
                decompressXZ(source, output.get());
            else
                Shell::run(ext == "gz" ? gzip : bzip2, {"-dc", source.string()}, {.stdoutFd = output.get()});
        } catch (...) {
            std::error_code error;
            fs::remove(target, error);
            throw;
        }
        return target;
    }
}

}

fs::path create(const std::vector<fs::path>& items, const OutputFormat& format)
{
    if (items.empty())
        throw ConversionError::unsupported();
    std::vector<fs::path> paths;
    for (const auto& item : items)
        paths.push_back(cleaned(item));

    // Every item is packed by its name from its own folder, so items from different folders
    // all land at the archive's top level.
    std::vector<Group> groups;
    for (const auto& path : paths) {
        if (groups.empty() || groups.back().folder != path.parent_path())
            groups.push_back({path.parent_path(), {}});
        groups.back().names.push_back(path.filename().string());
    }
    const auto stem =
        paths.size() == 1 ? paths.front().filename().string() : "Arquivos (" + std::to_string(paths.size()) + ")";
    return packInto(groups, format, OutputPaths::directory(paths.front()), stem);
}

fs::path extract(const fs::path& archive)
{
    const auto source = cleaned(archive);
    const auto folder = OutputPaths::directory(source);
    const auto base = baseName(source);
    const auto ext = Catalog::normalizedExt(source);
    if (ext == "gz" || ext == "bz2" || ext == "xz")
        return decompress(source, ext, folder, base);

    TempFolder temp;
    unpack(source, temp.path());
    const auto entries = contents(temp.path());
    if (entries.size() == 1) {
        const fs::path entry = entries.front();
        auto entryExt = entry.extension().string();
        if (!entryExt.empty())
            entryExt.erase(0, 1);
        return placeUnder(temp.path() / entry, folder, entry.stem().string(), entryExt);
    }
    // None or several: the whole folder, with whatever junk the count left out.
    return placeUnder(temp.path(), folder, base, "");
}

fs::path repack(const fs::path& archive, const OutputFormat& format)
{
    const auto source = cleaned(archive);
    TempFolder temp;
    unpack(source, temp.path());
    auto entries = contents(temp.path());
    if (entries.empty())
        throw ConversionError::unreadable();
    return packInto({{temp.path(), std::move(entries)}}, format, OutputPaths::directory(source), baseName(source));
}

}
