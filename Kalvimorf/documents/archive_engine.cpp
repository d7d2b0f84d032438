#include "documents/archive_engine.h"

#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/job_notes.h"
#include "core/base/output_formats.h"
#include "core/base/output_paths.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "documents/archive_headers.h"
#include "documents/zip_tools.h"

#include <QString>

#include <lzma.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace ArchiveEngine {

namespace {

const std::string tar = "/usr/bin/tar";
// GNU tar cannot read zip, 7z or rar; libarchive's tar reads them all and finds the format itself.
const std::string bsdtar = "/usr/bin/bsdtar";
const std::string gzip = "/usr/bin/gzip";
const std::string bzip2 = "/usr/bin/bzip2";
// 7-Zip reads every filter and method of its own format (ARM64, RISC-V, Deflate64 …) where
// libarchive knows only the common ones.
const std::string sevenZip = "/usr/bin/7z";
// The free RAR unpacker: Debian's 7-Zip reads RAR headers but carries no RAR decompressor, and
// libarchive refuses dictionaries past 64 MiB, which WinRAR writes on request (up to 1 GiB).
const std::string unar = "/usr/bin/unar";

// Read well, with nothing in it to pack again.
const char* const emptyArchive = "O arquivo compactado está vazio.";
// Every entry was skipped: each is named in the error log.
const char* const nothingKept = "Nenhuma entrada do arquivo compactado pôde ser extraída.";
// A part of a set of volumes, alone or without the parts after it.
const char* const missingPart
    = "Falta uma parte do arquivo compactado dividido em volumes; deixe todas as partes na mesma pasta e abra a "
      "primeira.";

// Entries left out while the rest was kept, after their count or for one alone.
const char* const unsafeOne = "Uma entrada do arquivo compactado foi ignorada por segurança:";
const char* const unsafeMany = " entradas do arquivo compactado foram ignoradas por segurança:";
const char* const tooLongOne
    = "Uma entrada do arquivo compactado não foi extraída porque o nome é longo demais para o sistema de arquivos:";
const char* const tooLongMany
    = " entradas do arquivo compactado não foram extraídas porque o nome é longo demais para o sistema de arquivos:";

std::function<long long(const fs::path&)> roomProbe;

// Asks tar not to add resource-fork entries where it knows them.
const std::map<std::string, std::string>& packEnv()
{
    static const std::map<std::string, std::string> env = {{"COPYFILE_DISABLE", "1"}};
    return env;
}

const char* const noRoom
    = "O conteúdo descompactado não cabe no disco: a extração parou para deixar 5% do espaço livre.";

[[noreturn]] void throwNoRoom() { throw ConversionError::because(noRoom); }

struct statvfs fileSystem(const fs::path& folder)
{
    struct statvfs info;
    if (::statvfs(folder.c_str(), &info) != 0)
        FileSafety::throwErrno(folder);
    return info;
}

long long freeBytes(const fs::path& folder)
{
    const auto info = fileSystem(folder);
    return (long long)(info.f_bavail * info.f_frsize);
}

// What may still be written on the file system that holds `folder`: the free space above 5 % of
// its size. Tests put their own figure in its place.
long long roomOn(const fs::path& folder)
{
    if (roomProbe)
        return roomProbe(folder);
    const auto info = fileSystem(folder);
    return (long long)(info.f_bavail * info.f_frsize) - (long long)(info.f_blocks * info.f_frsize / 20);
}

// Past this many times its own size an archive is taken for a bomb: a real one stays far below
// (text packs to a tenth, a disk image of zeros with xz to a few hundredths of a percent is the
// rare exception), while a flat bomb of a few megabytes would fill any disk. Small archives may
// always give this much, so that a packed folder of empty space still unpacks.
constexpr long long outputRatio = 1000;
constexpr long long outputFloor = 2LL << 30;
long long floorProbe = 0;

// The sizes of the files under `folder` as they stand while an unpacker writes there: what
// vanishes meanwhile (a temporary file renamed) is not counted.
long long bytesIn(const fs::path& folder) noexcept
{
    long long total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code gone;
        if (it->is_regular_file(gone) && !it->is_symlink(gone)) {
            const auto size = it->file_size(gone);
            if (!gone)
                total += (long long)size;
        }
    }
    return total;
}

// Keeps unpacking from filling a file system, and from writing more than any real archive of
// this size holds. Sizes in an archive's headers can lie and a few megabytes can hold
// gigabytes, so only what lands is believed. The room is judged by the disk: what has been used
// is how far the free space has fallen since the start, and the work stops once the next step at
// the pace of the last one would go beyond the room there was. The bound is judged by what was
// written (`written`): the disk's fall says too little of it while others write to the same disk
// and remove files meanwhile. Measuring walks what was unpacked, so it is done as often as it
// takes at most a tenth of the time, and at every look once the next step at the last pace
// would pass the bound.
class SpaceWatch {
public:
    SpaceWatch(const fs::path& folder, const fs::path& archive, std::function<long long()> written,
        unsigned long long memory = ZipTools::archiverMemory())
        : folder_(folder), room_(roomOn(folder)), free_(freeBytes(folder)),
          bound_(std::max(floorProbe > 0 ? floorProbe : outputFloor, outputRatio * (long long)fs::file_size(archive))),
          written_(std::move(written)), memory_(memory)
    {
    }

    // The sentence that stops the work, or nothing while it may go on.
    const char* stop()
    {
        long long now = 0;
        try {
            now = freeBytes(folder_);
        } catch (const fs::filesystem_error&) {
            return nullptr;
        }
        const auto used = std::max(0LL, free_ - now);
        const auto step = std::max(0LL, used - used_);
        used_ = used;
        if (used + step > room_)
            return noRoom;
        const auto start = std::chrono::steady_clock::now();
        if (!closeToBound_ && start < nextMeasure_)
            return nullptr;
        const auto written = written_();
        const auto took = std::chrono::steady_clock::now() - start;
        nextMeasure_ = start + took * 10;
        if (written > bound_)
            return ErrorCauses::archiveTooLarge;
        // From here on every look measures, so that a bomb stops at its bound and not a step beyond.
        closeToBound_ = closeToBound_ || written + std::max(0LL, written - writtenBefore_) > bound_;
        writtenBefore_ = written;
        return nullptr;
    }

    void check()
    {
        if (const auto sentence = stop())
            throw ConversionError::because(sentence);
    }

    // Runs the tool, looking at the disk every 50 ms and stopping the tool when it runs out of room.
    // What the tool said is the caller's to judge; see requireSuccess().
    Process::Result run(const std::string& tool, const std::vector<std::string>& arguments, int stdoutFd = -1)
    {
        auto context = Task::current();
        context.cancel = std::make_shared<Task::CancelToken>();
        const Task::Binder binder(context);
        std::mutex mutex;
        std::condition_variable wake;
        bool done = false;
        std::atomic<const char*> stopped = nullptr;
        std::thread watcher([&] {
            std::unique_lock lock(mutex);
            while (!wake.wait_for(lock, std::chrono::milliseconds(closeToBound_ ? 1 : 50), [&] {
                return done;
            })) {
                if (const auto sentence = stop()) {
                    stopped = sentence;
                    context.cancel->cancel();
                    return;
                }
            }
        });
        Process::Command command{tool, arguments};
        command.stdoutFd = stdoutFd;
        command.cancellable = true;
        command.memoryLimit = memory_;
        // A damaged archive can make the unpacker retry one spot for ever; a real run's
        // complaints each name another entry.
        command.repeatLimit = 1000;
        Process::Result result;
        std::exception_ptr failure;
        try {
            result = Process::run(command);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        wake.notify_one();
        watcher.join();
        if (const char* sentence = stopped)
            throw ConversionError::because(sentence);
        if (failure)
            std::rethrow_exception(failure);
        check();
        return result;
    }

private:
    fs::path folder_;
    long long room_;
    long long free_;
    long long bound_;
    std::function<long long()> written_;
    unsigned long long memory_;
    long long used_ = 0;
    long long writtenBefore_ = 0;
    std::chrono::steady_clock::time_point nextMeasure_;
    bool closeToBound_ = false;
};

// A tool that ended badly fails with the cause it named. One that repeated its complaints until
// it was stopped was stuck on damaged data; one that died of a signal it was not sent ran into
// its memory bound.
void requireSuccess(const Process::Result& result, const std::string& tool)
{
    if (result.looping) {
        ErrorLog::add(std::filesystem::path(tool).filename().string() + ": " + Process::lastErrorLine(result.err));
        throw ConversionError::because(ErrorCauses::damaged);
    }
    if (result.signaled)
        throw ConversionError::because(ErrorCauses::archiveTooLarge);
    if (result.exitCode != 0)
        throw ErrorCauses::failure(
            result.err, tool, {.notUtf8 = ErrorCauses::damaged, .fallback = ErrorCauses::damaged});
}

// One line of an unpacker's complaints that names an entry it left out and went on: one that
// would land outside the folder ("../x", a hard link to a file elsewhere), a device or pipe an
// ordinary user may not make, a name longer than the file system takes.
bool namesSkippedEntry(std::string_view line)
{
    return ErrorCauses::causeOf(line) == ErrorCauses::Cause::unsafeEntry || line.ends_with("File name too long")
        || (line.find(": Can't create '") != std::string_view::npos && line.ends_with("Operation not permitted"))
        || (line.starts_with("ERROR: Cannot open output file : errno=36 "));
}

// The entries the unpacker left out (namesSkippedEntry). Nothing when any other error is among
// its lines: then the run failed.
std::optional<std::vector<std::string>> onlyEntriesSkipped(const std::string& errors)
{
    std::vector<std::string> skipped;
    std::string_view rest = errors;
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.empty() || line.ends_with("Error exit delayed from previous errors.")
            || line.starts_with("bsdtar: Removing leading"))
            continue;
        if (!namesSkippedEntry(line))
            return std::nullopt;
        skipped.emplace_back(line);
    }
    return skipped;
}

// The entry a skipping line names: 7-Zip ends its line with the path it could not write, bsdtar
// starts it with the entry's name before its own words.
std::string skippedEntry(std::string_view line, const fs::path& folder)
{
    if (line.starts_with("ERROR: ")) {
        const auto at = line.rfind(" : ");
        const fs::path path(std::string(line.substr(at == std::string_view::npos ? 0 : at + 3)));
        const auto relative = path.lexically_relative(folder);
        return (relative.empty() ? path : relative).string();
    }
    size_t end = std::string_view::npos;
    for (const std::string_view words : {": Path contains", ": Hard-link target", ": Cannot extract through symlink",
             ": Can't create '", ": Could not stat ", ": "})
        end = std::min(end, line.find(words));
    // bsdtar doubles a backslash in what it prints.
    return QString::fromStdString(std::string(line.substr(0, end))).replace("\\\\", "\\").toStdString();
}

// What the user reads about the entries left out: how many, the first few by name, and why.
std::string leftOut(const std::vector<std::string>& names, const char* one, const char* many)
{
    std::string sentence = names.size() == 1 ? one : std::to_string(names.size()) + many;
    constexpr size_t shown = 3;
    for (size_t i = 0; i < names.size() && i < shown; ++i)
        sentence += (i == 0 ? " \u201c" : ", \u201c") + names[i] + "\u201d";
    if (names.size() > shown)
        sentence += " e mais " + std::to_string(names.size() - shown);
    return sentence + ".";
}

// The first bytes of a file, as many as it has up to `size`.
std::string headOf(const fs::path& archive, size_t size)
{
    const FileSafety::Fd fd(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    return fd ? FileSafety::readUpTo(fd.get(), size, 0).value_or(std::string()) : std::string();
}

bool isRar(const fs::path& archive) { return headOf(archive, 6) == "Rar!\x1a\x07"; }

// A 7z, zip, RAR or plain tar that libarchive gave up on for a reason 7-Zip may not share: a
// method or filter it does not know, or what it took for damage (a RAR 2 main header holding a
// comment, whose checksum leaves the comment out; a pax record with an empty value). A
// password, memory or disk failure would be the same there. A compressed tar is no candidate:
// 7-Zip would give the tar inside.
bool sevenZipMayRead(const fs::path& archive, const std::string& errors)
{
    const auto head = headOf(archive, 262);
    const bool tarHead = head.size() == 262 && head.substr(257, 5) == "ustar";
    if (!head.starts_with(std::string("7z\xbc\xaf\x27\x1c", 6)) && !head.starts_with("PK\x03\x04")
        && !head.starts_with("Rar!\x1a\x07") && !tarHead)
        return false;
    std::string_view rest = errors;
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto cause = ErrorCauses::causeOf(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!cause)
            continue;
        using ErrorCauses::Cause;
        switch (*cause) {
        case Cause::password:
        case Cause::diskFull:
        case Cause::tooLarge: return false;
        case Cause::noStream:
        case Cause::damaged:
        case Cause::unsupportedCodec:
        case Cause::unsafeEntry:
        case Cause::notUtf8:
        case Cause::unreadable: return true;
        }
    }
    return true;
}

// The bytes a copy of the tree takes, with a tar header's worth for each entry.
long long treeSize(const fs::path& root)
{
    long long total = 512;
    if (!fs::is_directory(fs::symlink_status(root)))
        return total + (fs::is_regular_file(fs::symlink_status(root)) ? (long long)fs::file_size(root) : 0);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        total += 512;
        if (entry.is_regular_file() && !entry.is_symlink())
            total += (long long)entry.file_size();
    }
    return total;
}

// Moving between file systems copies; the copy must leave the destination its room too.
fs::path place(const fs::path& from, const fs::path& folder, const std::string& stem, const std::string& ext)
{
    struct stat source {
    }, target{};
    if (::lstat(from.c_str(), &source) == 0 && ::stat(folder.c_str(), &target) == 0 && source.st_dev != target.st_dev
        && treeSize(from) > roomOn(folder))
        throwNoRoom();
    return FileSafety::placeFree(from, FileSafety::numberedNames(folder, stem, ext));
}

// The item's absolute path with its own name as the last component, also for "Fotos/" or ".".
fs::path cleaned(const fs::path& item)
{
    auto path = fs::absolute(item).lexically_normal();
    if (!path.has_filename() && path != path.root_path())
        path = path.parent_path();
    return path;
}

std::string fileExtension(const OutputFormat& format) { return OutputFormats::fileExtension(format.ext); }

std::string baseName(const fs::path& archive)
{
    const auto name = archive.filename().string();
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c);
    });
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

// Strictly below `root`: a link to the unpacked folder itself would, once moved, lead to the
// folder it was moved into.
bool below(const fs::path& path, const fs::path& root)
{
    const auto relative = path.lexically_relative(root);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// A link is kept when it leads to something unpacked with it: read from where it lies, its
// target never climbs out of the tree, and followed to the end it still lands inside.
bool staysInside(const fs::path& link, const fs::path& root, const fs::path& realRoot)
{
    std::error_code error;
    const auto target = fs::read_symlink(link, error);
    if (error || target.is_absolute() || !below((link.parent_path() / target).lexically_normal(), root))
        return false;
    const auto resolved = fs::canonical(link, error);
    return !error && below(resolved, realRoot);
}

// What an unpacker may take: its decoder's window and some working room. The largest common
// windows are 64 MiB; a RAR's headers may ask for up to gigabytes, which its entries need only
// when they hold that much. A few bytes whose data makes a decoder reserve a gigabyte (a filter
// or a window its headers never declared) fail at this bound instead of taking the machine's memory.
unsigned long long unpackMemory(const std::optional<ArchiveHeaders::RarFacts>& rar)
{
    // Shares of what any archiver may hold: half of it at least, a quarter as working room.
    const unsigned long long most = ZipTools::archiverMemory(), least = most / 2, working = most / 4;
    if (!rar)
        return least;
    const auto needed = std::bit_ceil(std::clamp(rar->unpacked, 1ULL, 1ULL << 40));
    return std::clamp(working + std::min(rar->dictionary, needed), least, most);
}

// Runs an unpacker into `folder`, watching the disk and what lands in the folder.
Process::Result unpackWith(const std::string& tool, const std::vector<std::string>& arguments, const fs::path& archive,
    const fs::path& folder, unsigned long long memory)
{
    return SpaceWatch(
        folder, archive,
        [&folder] {
            return bytesIn(folder);
        },
        memory)
        .run(tool, arguments);
}

// Names that differ in their bytes but not once their accents are composed ("café" written
// with é or with e and a combining accent) are two files on Linux; libarchive composes every
// name it unpacks, so the second would silently replace the first. 7-Zip keeps the bytes.
bool hasComposedTwins(const fs::path& archive)
{
    const auto entries = ZipTools::entries(archive);
    if (!entries)
        return false;
    std::map<QString, std::string> seen;
    for (const auto& entry : *entries) {
        const auto composed = QString::fromUtf8(entry.name.data(), qsizetype(entry.name.size()))
                                  .normalized(QString::NormalizationForm_C);
        const auto [it, added] = seen.emplace(composed, entry.name);
        if (!added && it->second != entry.name)
            return true;
    }
    return false;
}

// A zip's entries whose Unicode Path field names them (Windows archivers write the name in the
// machine's code page, or in bytes no code page reads, and the true one there) take that name.
// libarchive heeds the field only in the local header, 7-Zip nowhere; both write the raw bytes
// otherwise. A name that would leave the folder is left as it was.
void takeUnicodeNames(const fs::path& archive, const fs::path& folder)
{
    const auto entries = ZipTools::entries(archive);
    if (!entries)
        return;
    const auto realFolder = fs::canonical(folder);
    for (const auto& entry : *entries) {
        if (entry.unicodeName.empty() || entry.unicodeName == entry.name || entry.name.ends_with('/'))
            continue;
        const auto from = folder / fs::path(entry.name).relative_path();
        const auto to = (folder / fs::path(entry.unicodeName).relative_path()).lexically_normal();
        std::error_code error;
        if (!below(from.lexically_normal(), folder) || !below(to, folder) || entry.unicodeName.ends_with('/')
            || !fs::is_regular_file(fs::symlink_status(from, error))
            || fs::exists(fs::symlink_status(to, error))
            // Nor through a link the archive made on the way.
            || !below(fs::weakly_canonical(to, error), realFolder) || error)
            continue;
        fs::create_directories(to.parent_path(), error);
        FileSafety::moveNoReplace(from, to);
    }
}

// A zip's pipe, device or socket entry without data, which the unpackers write as an empty file:
// nothing of it can be kept, so it goes as those of a tar do. One that carries data is the data,
// written as a file. Gives the names removed.
std::vector<std::string> removeEmptySpecials(const fs::path& archive, const fs::path& folder)
{
    std::vector<std::string> removed;
    const auto entries = ZipTools::entries(archive);
    if (!entries)
        return removed;
    for (const auto& entry : *entries) {
        const auto type = entry.mode & S_IFMT;
        if (entry.size != 0 || (type != S_IFIFO && type != S_IFCHR && type != S_IFBLK && type != S_IFSOCK))
            continue;
        const auto path = (folder / fs::path(entry.name).relative_path()).lexically_normal();
        std::error_code error;
        if (below(path, folder) && fs::is_regular_file(fs::symlink_status(path, error))
            && fs::file_size(path, error) == 0 && fs::remove(path, error))
            removed.push_back(entry.name);
    }
    return removed;
}

// What one unpacker left is cleared before the next one tries.
void emptied(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        FileSafety::removeTree(entry.path());
}

// Unpacks as the user running the program, also as root: owners, set-id bits and permissions
// from the archive are not restored, and nothing but regular files, folders and links that stay
// inside is left (no devices, pipes or sockets, no links into the rest of the system).
// Entries that would land outside the folder, and those removed afterwards, are skipped and
// named in the error log; the rest is kept. Gives how many were skipped. An encrypted archive
// fails at once: the passphrase given is never the right one, so the tool never asks for one.
size_t unpackWhole(const fs::path& archive, const fs::path& folder, unsigned long long memory, bool volumes)
{
    // Named in the log all at once: an archive of thousands of devices is one write, not thousands.
    std::string skippedNames;
    // What the user is told: entries left out for safety (they would land outside the folder,
    // lead out of it, or are no files), whatever the container, and those whose names the file
    // system cannot hold.
    std::vector<std::string> unsafe, tooLong;
    const auto skip = [&](const std::string& what, const std::string& entry) {
        skippedNames += what + "\n";
        (what.find("File name too long") != std::string::npos ? tooLong : unsafe).push_back(entry);
    };
    const auto refuseEncrypted = [&](const Process::Result& result) {
        if ((result.exitCode != 0 || result.looping) && ArchiveHeaders::encrypted(archive))
            throw ConversionError::because(ErrorCauses::password);
    };
    const std::vector<std::string> sevenZipArguments
        = {"x", "-y", "-bso0", "-bsp0", "-pbrivlon", "-o" + folder.string(), "--", archive.string()};
    size_t skippedCount = 0;
    // A run that failed only for entries it left out kept the rest: those are named, not failed.
    const auto keptTheRest = [&](const Process::Result& result) {
        const auto skipped = result.exitCode != 0 && !result.signaled && !result.looping
            ? onlyEntriesSkipped(result.err)
            : std::nullopt;
        if (!skipped || skipped->empty())
            return false;
        for (const auto& line : *skipped)
            skip(line, skippedEntry(line, folder));
        skippedCount = skipped->size();
        return true;
    };
    if (hasComposedTwins(archive)) {
        const auto result = unpackWith(sevenZip, sevenZipArguments, archive, folder, memory);
        refuseEncrypted(result);
        if (!keptTheRest(result))
            requireSuccess(result, sevenZip);
    } else {
        // libarchive reads only the part it is given and fills the rest of a split entry with
        // zeros; 7-Zip and unar read the parts beside it.
        auto result = volumes ? Process::Result{.exitCode = 1}
                              : unpackWith(bsdtar,
                                  {"--no-same-owner", "--no-same-permissions", "--passphrase", "brivlon", "-xf",
                                      archive.string(), "-C", folder.string()},
                                  archive, folder, memory);
        refuseEncrypted(result);
        const bool kept = !volumes && keptTheRest(result);
        if (!kept && result.exitCode != 0 && !result.signaled && !result.looping
            && (volumes || sevenZipMayRead(archive, result.err))) {
            emptied(folder);
            result = unpackWith(sevenZip, sevenZipArguments, archive, folder, memory);
            if (result.exitCode != 0 && !result.signaled && !result.looping && isRar(archive)) {
                emptied(folder);
                // No containing folder, no archive inside unpacked in turn.
                result = unpackWith(unar, {"-q", "-D", "-nr", "-p", "brivlon", "-o", folder.string(), archive.string()},
                    archive, folder, memory);
                requireSuccess(result, unar);
            } else if (!keptTheRest(result)) {
                requireSuccess(result, sevenZip);
            }
        } else if (!kept) {
            requireSuccess(result, bsdtar);
        }
    }
    for (const auto& name : removeEmptySpecials(archive, folder))
        skip(name, name);
    takeUnicodeNames(archive, folder);
    std::vector<fs::path> links, others;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const auto status = it->symlink_status();
        if (fs::is_symlink(status))
            links.push_back(it->path());
        else if (fs::is_directory(status))
            // Read-only folders from the archive must still be walked and removed.
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add);
        else if (!fs::is_regular_file(status))
            others.push_back(it->path());
    }
    for (const auto& path : others) {
        fs::remove(path);
        skip(path.lexically_relative(folder).string(), path.lexically_relative(folder).string());
    }
    // Judged only once the rest is gone, so that a link to a removed pipe goes too.
    const auto realRoot = fs::canonical(folder);
    std::erase_if(links, [&](const fs::path& link) {
        return staysInside(link, folder, realRoot);
    });
    for (const auto& link : links) {
        std::error_code error;
        const auto target = fs::read_symlink(link, error);
        fs::remove(link);
        skip(link.lexically_relative(folder).string() + " -> " + target.string(),
            link.lexically_relative(folder).string());
    }
    ErrorLog::addLines("Entrada ignorada em " + archive.filename().string() + ": ", skippedNames);
    if (const auto notes = JobNotes::shared()) {
        if (!unsafe.empty())
            notes->note(archive, leftOut(unsafe, unsafeOne, unsafeMany));
        if (!tooLong.empty())
            notes->note(archive, leftOut(tooLong, tooLongOne, tooLongMany));
    }
    return skippedCount + others.size() + links.size();
}

// The part after `part` in a set of volumes, by the names RAR gives them: "x.part2.rar" after
// "x.part1.rar" (as many digits), "x.r00" after "x.rar", "x.r01" after "x.r00".
std::optional<fs::path> nextPart(const fs::path& part)
{
    const auto name = part.filename().string();
    const auto lower = QString::fromStdString(name).toLower().toStdString();
    // Where the digits that end name[0, end) begin.
    const auto digitsFrom = [&](size_t end) {
        size_t start = end;
        while (start > 0 && std::isdigit((unsigned char)name[start - 1]))
            --start;
        return start;
    };
    size_t end = name.size();  // where the part's number ends
    if (lower.size() == name.size() && lower.ends_with(".rar")) {
        end -= 4;
        const size_t start = digitsFrom(end);
        if (start == end || !lower.substr(0, start).ends_with(".part"))
            return part.parent_path() / (name.substr(0, end) + ".r00");
    } else if (lower.size() != name.size() || name.size() < 4 || lower.compare(name.size() - 4, 2, ".r") != 0
        || digitsFrom(end) != end - 2) {
        return std::nullopt;
    }
    const size_t start = digitsFrom(end);
    const size_t width = end - start;
    if (width > 9)
        return std::nullopt;
    auto number = std::to_string(std::stoul(name.substr(start, width)) + 1);
    // Past "x.r99" the old names go on in letters that no writer uses any more.
    if (number.size() > width && end == name.size())
        return std::nullopt;
    number.insert(0, width > number.size() ? width - number.size() : 0, '0');
    return part.parent_path() / (name.substr(0, start) + number + name.substr(end));
}

// A part of a set of volumes is read from the first, with every other part beside it: the
// unpackers skip an entry that began in an earlier part and call the rest a success, and one
// that misses a later part writes nothing, or zeros in its place.
void requireWholeSet(const fs::path& archive, const ArchiveHeaders::RarFacts& facts)
{
    if (facts.continuesEarlier)
        throw ConversionError::because(missingPart);
    auto part = archive;
    bool goesOn = facts.continuesLater;
    for (int count = 0; goesOn; ++count) {
        const auto next = count < 10000 ? nextPart(part) : std::nullopt;
        const auto nextFacts = next ? ArchiveHeaders::rarFacts(*next) : std::nullopt;
        if (!nextFacts)
            throw ConversionError::because(missingPart);
        part = *next;
        goesOn = nextFacts->continuesLater;
    }
}

// The part a set of volumes is read from: a later part given alone stands for its set when the
// set's first part lies beside it; any other archive is itself.
fs::path setStart(const fs::path& archive)
{
    const auto facts = ArchiveHeaders::rarFacts(archive);
    if (!facts || !facts->continuesEarlier)
        return archive;
    const auto first = Catalog::firstVolume(archive);
    const auto firstFacts = first ? ArchiveHeaders::rarFacts(*first) : std::nullopt;
    return firstFacts && !firstFacts->continuesEarlier ? *first : archive;
}

// unpackWhole() within the memory the archive's headers justify, for a whole set of volumes only.
size_t unpack(const fs::path& archive, const fs::path& folder)
{
    ArchiveHeaders::requireSeparateEntries(archive);
    const auto rar = ArchiveHeaders::rarFacts(archive);
    if (rar)
        requireWholeSet(archive, *rar);
    return unpackWhole(archive, folder, unpackMemory(rar), rar && rar->continuesLater);
}

// Names packed from one folder.
struct Group {
    fs::path folder;
    std::vector<std::string> names;
};

void pack(const std::vector<Group>& groups, const fs::path& destination, const std::string& ext)
{
    if (ext == "zip") {
        for (const auto& group : groups)
            ZipTools::packNames(destination, group.folder, group.names);
    } else if (ext == "tar" || ext == "tgz") {
        // The names go in lists beside the destination, one per folder: hundreds of thousands of
        // them would pass what a command line may hold. Read verbatim, none is taken for an option.
        std::vector<std::string> arguments = {ext == "tar" ? "-cf" : "-czf", destination.string(), "--exclude",
            ".DS_Store", "--null", "--verbatim-files-from"};
        for (size_t i = 0; i < groups.size(); ++i) {
            const auto list = destination.parent_path() / ("nomes-" + std::to_string(i));
            std::string names;
            for (const auto& name : groups[i].names)
                names.append(name).push_back('\0');
            FileSafety::writeAll(FileSafety::createExclusive(list, 0600).get(), names, list);
            arguments.insert(arguments.end(), {"-C", groups[i].folder.string(), "-T", fs::absolute(list).string()});
        }
        Commands::run(tar, arguments,
            {.env = packEnv(), .memoryLimit = ZipTools::archiverMemory(), .otherwise = ZipTools::cannotPack});
    } else {
        throw ConversionError::unsupported();
    }
}

// Packs in a hidden folder beside the final place, then moves the archive to the first free
// name: a name taken meanwhile is never written over. The packers' own temporary files land in
// that folder too, so a kill leaves one hidden folder for the parent to remove.
fs::path packInto(
    const std::vector<Group>& groups, const OutputFormat& format, const fs::path& folder, const std::string& stem)
{
    const auto ext = fileExtension(format);
    const auto names = FileSafety::numberedNames(folder, stem, ext);
    const auto staged = FileSafety::StagedPath::folderFor(names);
    const auto packed = staged.path() / ("pacote." + ext);
    pack(groups, packed, format.ext);
    return FileSafety::placeFree(packed, names);
}

void decompressXZ(const fs::path& source, int target, SpaceWatch& watch)
{
    const FileSafety::Fd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input)
        FileSafety::throwErrno(source);

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, ZipTools::archiverMemory(), LZMA_CONCATENATED) != LZMA_OK)
        throw ConversionError::unreadable();
    struct End {
        lzma_stream* stream;
        ~End() { lzma_end(stream); }
    } end{&stream};

    std::vector<uint8_t> in(1 << 20), out(1 << 16);
    lzma_action action = LZMA_RUN;
    for (long long written = 0;;) {
        if (stream.avail_in == 0 && action == LZMA_RUN) {
            const auto got = ::read(input.get(), in.data(), in.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                FileSafety::throwErrno(source);
            }
            if (got == 0)
                action = LZMA_FINISH;
            stream.next_in = in.data();
            stream.avail_in = size_t(got);
        }
        stream.next_out = out.data();
        stream.avail_out = out.size();
        const auto result = lzma_code(&stream, action);
        const auto size = out.size() - stream.avail_out;
        FileSafety::writeAll(target, {reinterpret_cast<const char*>(out.data()), size});
        if ((written + (long long)size) >> 20 != written >> 20)
            watch.check();
        written += (long long)size;
        if (result == LZMA_STREAM_END)
            return;
        if (result == LZMA_MEMLIMIT_ERROR || result == LZMA_MEM_ERROR)
            throw ConversionError::because(ErrorCauses::archiveTooLarge);
        if (result == LZMA_DATA_ERROR || result == LZMA_BUF_ERROR)
            throw ConversionError::because(ErrorCauses::damaged);
        if (result != LZMA_OK)
            throw ConversionError::unreadable();
    }
}

// Decompresses a single gz, bz2 or xz file into a new file named `base`.
fs::path decompress(const fs::path& source, const std::string& ext, const fs::path& folder, const std::string& base)
{
    FileSafety::NewFile file(folder);
    SpaceWatch watch(folder, source, [fd = file.fd()] {
        struct stat info { };
        return ::fstat(fd, &info) == 0 ? (long long)info.st_size : 0LL;
    });
    if (ext == "xz")
        decompressXZ(source, file.fd(), watch);
    else {
        const auto& tool = ext == "gz" ? gzip : bzip2;
        requireSuccess(watch.run(tool, {"-dc", source.string()}, file.fd()), tool);
    }
    return file.publish(FileSafety::numberedNames(folder, base, ""));
}

}

void setRoomProbe(std::function<long long(const fs::path&)> probe) { roomProbe = std::move(probe); }

void setOutputFloor(long long bytes) { floorProbe = bytes; }

fs::path create(const std::vector<fs::path>& items, const OutputFormat& format)
{
    if (items.empty())
        throw ConversionError::unsupported();
    std::vector<fs::path> paths;
    for (const auto& item : items) {
        paths.push_back(cleaned(item));
        if (!fs::exists(fs::symlink_status(paths.back())))
            throw ConversionError::unreadable();
    }
    // The archive is named after what the user chose, even a link.
    const auto stem
        = paths.size() == 1 ? paths.front().filename().string() : "Arquivos (" + std::to_string(paths.size()) + ")";
    const auto folder = OutputPaths::directory(paths.front());
    // A link the user chose stands for what it leads to: packed as a link, the archive would
    // hold a path into this machine and none of the files. Links inside stay links.
    for (auto& path : paths) {
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(path))) {
            auto target = fs::canonical(path, error);
            if (error)
                throw ConversionError::unreadable();
            path = std::move(target);
        }
    }

    // Every item is packed by its name from its own folder, so items from different folders
    // all land at the archive's top level.
    std::vector<Group> groups;
    for (const auto& path : paths) {
        if (groups.empty() || groups.back().folder != path.parent_path())
            groups.push_back({path.parent_path(), {}});
        groups.back().names.push_back(path.filename().string());
    }
    return packInto(groups, format, folder, stem);
}

fs::path extract(const fs::path& archive)
{
    FileSafety::requireRegularFile(cleaned(archive));
    const auto source = setStart(cleaned(archive));
    FileSafety::requireRegularFile(source);
    const auto folder = OutputPaths::directory(source);
    const auto base = baseName(source);
    const auto ext = Catalog::normalizedExt(source);
    if (ext == "gz" || ext == "bz2" || ext == "xz")
        return decompress(source, ext, folder, base);

    // A folder of its own inside the private one, so that what moves out has ordinary permissions.
    const FileSafety::TempDir temp;
    const auto unpacked = temp.path() / "conteudo";
    fs::create_directory(unpacked);
    const auto skipped = unpack(source, unpacked);
    const auto entries = contents(unpacked);
    if (entries.empty() && skipped > 0)
        throw ConversionError::because(nothingKept);
    if (entries.size() == 1) {
        const fs::path entry = entries.front();
        auto entryExt = entry.extension().string();
        if (!entryExt.empty())
            entryExt.erase(0, 1);
        return place(unpacked / entry, folder, entry.stem().string(), entryExt);
    }
    // None or several: the whole folder, with whatever junk the count left out.
    return place(unpacked, folder, base, "");
}

fs::path repack(const fs::path& archive, const OutputFormat& format)
{
    FileSafety::requireRegularFile(cleaned(archive));
    const auto source = setStart(cleaned(archive));
    FileSafety::requireRegularFile(source);
    const FileSafety::TempDir temp;
    // A single compressed file is packed again as the one file it holds.
    size_t skipped = 0;
    if (const auto ext = Catalog::normalizedExt(source); ext == "gz" || ext == "bz2" || ext == "xz")
        decompress(source, ext, temp.path(), baseName(source));
    else
        skipped = unpack(source, temp.path());
    auto entries = contents(temp.path());
    if (entries.empty())
        throw ConversionError::because(skipped > 0 ? nothingKept : emptyArchive);
    const auto folder = OutputPaths::directory(source);
    // Only a plain tar is as large as what it holds; a compressed one that does not fit fails
    // with the packer's full-disk error.
    if (format.ext == "tar" && treeSize(temp.path()) > roomOn(folder))
        throwNoRoom();
    return packInto({{temp.path(), std::move(entries)}}, format, folder, baseName(source));
}

}
