#include "core/base/error_log.h"

#include "core/base/app_paths.h"
#include "core/base/file_safety.h"

#include <QDateTime>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace ErrorLog {

namespace {

fs::path logFile() { return AppPaths::stateDir() / "erros.log"; }

// The log is read from its end only, and never more than this: 500 lines of what users meet
// (a cause, a tool's last line) take well under it, while a log grown by hand or by another
// program to a gigabyte, or to one long line, would otherwise be read whole for every error.
constexpr off_t tailBytes = 256 << 10;
constexpr size_t maxLines = 500;
constexpr size_t keptLines = 400;

// The last non-empty lines of the log, from at most its last tailBytes; a line cut by that
// bound is left out. Nothing when the file cannot be read or is no regular file (a pipe would
// hold every caller). `whole` tells whether the lines are all the file holds.
struct Tail {
    std::vector<std::string> lines;
    bool whole = true;
    bool utf8 = true;
};

std::optional<Tail> readTail(const fs::path& path)
{
    const FileSafety::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info { };
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const off_t from = std::max<off_t>(0, info.st_size - tailBytes);
    const auto read = FileSafety::readUpTo(fd.get(), size_t(info.st_size - from), from);
    if (!read)
        return std::nullopt;
    const std::string& bytes = *read;
    Tail tail;
    size_t start = 0;
    if (from > 0) {
        tail.whole = false;
        const auto firstEnd = bytes.find('\n');
        start = firstEnd == std::string::npos ? bytes.size() : firstEnd + 1;
    }
    const std::string_view text = std::string_view(bytes).substr(start);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString decoded = decoder(QByteArrayView(text.data(), qsizetype(text.size())));
    tail.utf8 = !decoder.hasError();
    for (size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find('\n', at), text.size());
        if (end > at)
            tail.lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return tail;
}

void writeWhole(const fs::path& path, const std::string& text)
{
    QSaveFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text.data(), qint64(text.size()));
    file.commit();
}

// Whole lines, each already stamped, kept to the bounds: past 500 lines, or past tailBytes,
// the last 400 whole lines of the tail are kept.
void append(const std::string& text)
{
    const auto path = logFile();
    std::error_code error;
    fs::create_directories(path.parent_path(), error);

    // Only an existing regular file is appended to; anything else at the name is left alone.
    const FileSafety::Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK));
    struct stat info { };
    if (fd) {
        if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return;
        // A file that does not end its last line (edited by hand, cut short) would swallow ours.
        char last = '\n';
        const FileSafety::Fd reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (info.st_size > 0 && reader && ::pread(reader.get(), &last, 1, info.st_size - 1) != 1)
            last = '\n';
        try {
            FileSafety::writeAll(fd.get(), last == '\n' ? text : "\n" + text, path);
        } catch (const std::exception&) {
            return;
        }
    } else if (errno == ENOENT) {
        writeWhole(path, text);
    } else {
        return;
    }

    auto tail = readTail(path);
    if (!tail || (tail->whole && tail->lines.size() <= maxLines))
        return;
    std::string trimmed;
    for (size_t i = tail->lines.size() - std::min(tail->lines.size(), keptLines); i < tail->lines.size(); ++i)
        trimmed += tail->lines[i] + "\n";
    writeWhole(path, trimmed);
}

std::string stamp() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() + "  "; }

}

void add(const std::string& message)
{
    // A line with nothing after its stamp tells the reader of a problem report nothing, and
    // pushes a failure that said something out of the bounded log: blank lines are dropped, and
    // a message of nothing else is not logged.
    std::string kept;
    for (std::string_view rest = message; !rest.empty();) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto line = rest.substr(0, end);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos)
            (kept += kept.empty() ? "" : "\n") += line;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    if (!kept.empty())
        append(stamp() + kept + "\n");
}

void addLines(const std::string& prefix, std::string_view text)
{
    const auto start = stamp() + prefix;
    std::string lines;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        if (const auto line = text.substr(0, end); !line.empty())
            // The log is read back as UTF-8; a tool's stray bytes must not make all of it unreadable.
            lines += start + QString::fromUtf8(line.data(), qsizetype(line.size())).toStdString() + "\n";
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    if (!lines.empty())
        append(lines);
}

std::string recent(int n)
{
    const auto tail = readTail(logFile());
    if (!tail || !tail->utf8)
        return "(nenhum erro registrado)";
    const auto& lines = tail->lines;
    size_t from = lines.size() > size_t(std::max(n, 0)) ? lines.size() - size_t(std::max(n, 0)) : 0;
    std::string result;
    for (size_t i = from; i < lines.size(); ++i) {
        if (i > from)
            result += "\n";
        result += lines[i];
    }
    return result;
}

}
