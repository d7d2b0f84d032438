#include "core/base/error_log.h"

#include "core/base/app_paths.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace ErrorLog {

namespace {

fs::path logFile() { return AppPaths::stateDir() / "erros.log"; }

std::optional<std::string> readUtf8(const fs::path& path)
{
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return bytes.toStdString();
}

std::vector<std::string> nonEmptyLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void writeWhole(const fs::path& path, const std::string& text)
{
    QSaveFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text.data(), qint64(text.size()));
    file.commit();
}

// Whole lines, each already stamped, kept to the bound.
void append(const std::string& text)
{
    const auto path = logFile();
    std::error_code error;
    fs::create_directories(path.parent_path(), error);

    QFile file(QString::fromStdString(path.string()));
    if (file.exists() && file.open(QIODevice::Append)) {
        file.write(text.data(), qint64(text.size()));
        file.close();
    } else {
        writeWhole(path, text);
    }

    auto whole = readUtf8(path);
    if (!whole)
        return;
    auto lines = nonEmptyLines(*whole);
    if (lines.size() <= 500)
        return;
    std::string trimmed;
    for (size_t i = lines.size() - 400; i < lines.size(); ++i)
        trimmed += lines[i] + "\n";
    writeWhole(path, trimmed);
}

std::string stamp() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() + "  "; }

}

void add(const std::string& message) { append(stamp() + message + "\n"); }

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
    auto whole = readUtf8(logFile());
    if (!whole)
        return "(nenhum erro registrado)";
    auto lines = nonEmptyLines(*whole);
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
