#include "core/base/catalog.h"

#include "core/base/image_readers.h"
#include "core/base/output_formats.h"
#include "core/base/raw_values.h"

#include <QCollator>
#include <QMimeDatabase>
#include <QString>

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

namespace {

struct MediaKindRow {
    MediaKind value;
    std::string_view raw;
    std::string_view one;
    std::string_view many;
};
constexpr EnumTable<MediaKindRow, 10> mediaKinds{{{
    {MediaKind::image, "image", "imagem", "imagens"},
    {MediaKind::video, "video", "vídeo", "vídeos"},
    {MediaKind::audio, "audio", "áudio", "áudios"},
    {MediaKind::pdf, "pdf", "PDF", "PDFs"},
    {MediaKind::document, "document", "documento", "documentos"},
    {MediaKind::subtitle, "subtitle", "legenda", "legendas"},
    {MediaKind::spreadsheet, "spreadsheet", "planilha", "planilhas"},
    {MediaKind::archive, "archive", "arquivo compactado", "arquivos compactados"},
    {MediaKind::folder, "folder", "pasta", "pastas"},
    {MediaKind::other, "other", "arquivo", "arquivos"},
}}};

}

namespace MediaKinds {

const std::vector<MediaKind>& all()
{
    static const auto kinds = mediaKinds.values();
    return kinds;
}

std::string rawValue(MediaKind kind) { return mediaKinds.raw(kind); }
std::optional<MediaKind> fromRaw(const std::string& raw) { return mediaKinds.parse(raw); }

std::string plural(MediaKind kind, long long count)
{
    const auto& row = mediaKinds[kind];
    return std::string(count == 1 ? row.one : row.many);
}

}

namespace Catalog {

namespace {

std::string lower(std::string text)
{
    // QString lowers non-ASCII letters too, as the platform's lower-casing does.
    return QString::fromStdString(text).toLower().toStdString();
}

std::string upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const std::set<std::string>& videoExts()
{
    static const std::set<std::string> set = {"mp4", "mov", "m4v", "mkv", "webm", "avi", "wmv", "flv", "mpg", "mpeg",
        "3gp", "ts", "mts", "m2ts", "ogv", "vob"};
    return set;
}
const std::set<std::string>& audioExts()
{
    static const std::set<std::string> set
        = {"mp3", "m4a", "aac", "wav", "flac", "ogg", "opus", "aiff", "wma", "caf", "amr", "m4b", "alac"};
    return set;
}
const std::set<std::string>& documentExts()
{
    static const std::set<std::string> set = {"docx", "doc", "odt", "rtf", "rtfd", "html", "txt", "md", "webarchive"};
    return set;
}
const std::set<std::string>& subtitleExts()
{
    static const std::set<std::string> set = {"srt", "vtt"};
    return set;
}
const std::set<std::string>& spreadsheetExts()
{
    static const std::set<std::string> set = {"xlsx", "csv", "tsv"};
    return set;
}
const std::set<std::string>& archiveExts()
{
    static const std::set<std::string> set = {"zip", "tar", "tgz", "tbz", "txz", "gz", "rar", "7z", "xz", "bz2"};
    return set;
}

// Folder key used by options(): "/" for a plain folder, else the extension key.
std::string selectionKey(const fs::path& url) { return isPlainFolder(url) ? "/" : normalizedExt(url); }

}

namespace {

// The kind's formats but the merge, which options() adds for two or more files.
std::vector<OutputFormat> singly(MediaKind kind)
{
    auto list = OutputFormats::offered(kind);
    std::erase_if(list, [](const OutputFormat& format) {
        return format.action == FormatAction::mergePDF;
    });
    return list;
}

OutputFormat withAction(MediaKind kind, FormatAction action)
{
    for (const auto& format : OutputFormats::offered(kind))
        if (format.action == action)
            return format;
    return {};
}

}

const std::vector<OutputFormat>& imageFormats()
{
    static const auto list = singly(MediaKind::image);
    return list;
}
const std::vector<OutputFormat>& videoFormats()
{
    static const auto list = singly(MediaKind::video);
    return list;
}
const std::vector<OutputFormat>& audioFormats()
{
    static const auto list = singly(MediaKind::audio);
    return list;
}
const std::vector<OutputFormat>& pdfFormats()
{
    static const auto list = singly(MediaKind::pdf);
    return list;
}
const std::vector<OutputFormat>& documentFormats()
{
    static const auto list = singly(MediaKind::document);
    return list;
}
const std::vector<OutputFormat>& subtitleFormats()
{
    static const auto list = singly(MediaKind::subtitle);
    return list;
}
const std::vector<OutputFormat>& spreadsheetFormats()
{
    static const auto list = singly(MediaKind::spreadsheet);
    return list;
}
const std::vector<OutputFormat>& archiveFormats()
{
    static const auto list = singly(MediaKind::archive);
    return list;
}
const std::vector<OutputFormat>& packFormats()
{
    static const auto list = singly(MediaKind::folder);
    return list;
}

OutputFormat mergedPDF() { return withAction(MediaKind::image, FormatAction::mergePDF); }

OutputFormat extractFormat() { return withAction(MediaKind::archive, FormatAction::extract); }

bool isVideoExt(const std::string& key) { return videoExts().count(key) > 0; }
bool isAudioExt(const std::string& key) { return audioExts().count(key) > 0; }
bool isDocumentExt(const std::string& key) { return documentExts().count(key) > 0; }
bool isSubtitleExt(const std::string& key) { return subtitleExts().count(key) > 0; }
bool isSpreadsheetExt(const std::string& key) { return spreadsheetExts().count(key) > 0; }
bool isArchiveExt(const std::string& key) { return archiveExts().count(key) > 0; }

std::string normalize(const std::string& ext)
{
    static const std::map<std::string, std::string> aliases
        = {{"jpeg", "jpg"}, {"jpe", "jpg"}, {"tif", "tiff"}, {"aif", "aiff"}, {"oga", "ogg"}, {"heif", "heic"},
            {"htm", "html"}, {"markdown", "md"}, {"text", "txt"}, {"tbz2", "tbz"}};
    auto key = lower(ext);
    auto alias = aliases.find(key);
    return alias == aliases.end() ? key : alias->second;
}

std::string normalizedExt(const fs::path& url)
{
    auto name = lower(url.filename().string());
    if (endsWith(name, ".tar.gz"))
        return "tgz";
    if (endsWith(name, ".tar.bz2"))
        return "tbz";
    if (endsWith(name, ".tar.xz"))
        return "txz";
    auto ext = url.extension().string();
    if (!ext.empty() && ext.front() == '.')
        ext.erase(0, 1);
    return normalize(ext);
}

bool isPackage(const fs::path&) { return false; }

bool isPlainFolder(const fs::path& url)
{
    std::error_code error;
    return fs::is_directory(url, error) && !isPackage(url);
}

MediaKind kind(const fs::path& url)
{
    const auto e = normalizedExt(url);
    // A folder is packed whatever its name says ("fotos.zip" may be a folder too), unless its
    // format is itself a folder: an RTFD document.
    if (e != "rtfd" && isPlainFolder(url))
        return MediaKind::folder;
    if (e == "pdf")
        return MediaKind::pdf;
    if (isDocumentExt(e))
        return MediaKind::document;
    if (isSubtitleExt(e))
        return MediaKind::subtitle;
    if (isSpreadsheetExt(e))
        return MediaKind::spreadsheet;
    if (isArchiveExt(e))
        return MediaKind::archive;
    if (isVideoExt(e))
        return MediaKind::video;
    if (isAudioExt(e))
        return MediaKind::audio;
    if (e.empty())
        return MediaKind::other;
    // Pictures are the formats there is a reader for, decided without loading the MIME database
    // (a few milliseconds of every command-line run on a photo).
    if (ImageReaders::of(e))
        return MediaKind::image;
    // Kinds by extension alone, as the desktop's shared MIME database knows them.
    static thread_local QMimeDatabase database;
    const auto types = database.mimeTypesForFileName(QStringLiteral("x.") + QString::fromStdString(e));
    if (types.isEmpty())
        return MediaKind::other;
    const auto name = types.front().name();
    // A MIDI file is a score, not sound: nothing here has the synthesiser that would play it.
    if (types.front().inherits(QStringLiteral("audio/midi")) || name == QLatin1String("audio/midi"))
        return MediaKind::other;
    if (name.startsWith(QLatin1String("audio/")))
        return MediaKind::audio;
    if (name.startsWith(QLatin1String("video/")))
        return MediaKind::video;
    return MediaKind::other;
}

std::vector<OutputFormat> fmts(const std::vector<std::string>& exts)
{
    std::vector<OutputFormat> formats;
    formats.reserve(exts.size());
    for (const auto& ext : exts)
        formats.push_back({ext, OutputFormats::label(ext), false});
    return formats;
}

std::optional<CatalogOptions> options(const std::vector<fs::path>& urls)
{
    if (urls.empty())
        return std::nullopt;
    const auto first = kind(urls.front());
    for (size_t i = 1; i < urls.size(); ++i)
        if (kind(urls[i]) != first)
            return std::nullopt;

    std::vector<std::string> keys;
    for (const auto& url : urls) {
        auto key = selectionKey(url);
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    }

    if (first == MediaKind::other && keys.size() > 1)
        return std::nullopt;
    auto list = OutputFormats::offered(first);
    // A selection all of one format is not offered that format (a copy is no conversion); the
    // merge into one PDF takes two or more.
    const bool ownFormat = keys.size() == 1 && first != MediaKind::folder && first != MediaKind::other;
    std::erase_if(list, [&](const OutputFormat& format) {
        return (ownFormat && !format.batch && format.ext == keys.front())
            || (format.action == FormatAction::mergePDF && urls.size() < 2);
    });
    return CatalogOptions{first, std::move(list)};
}

std::string describe(const std::vector<fs::path>& urls)
{
    if (urls.size() == 1)
        return urls.front().filename().string();
    const auto count = std::to_string(urls.size());
    if (auto found = options(urls))
        return count + " " + MediaKinds::plural(found->kind, (long long)urls.size());
    return count + " arquivos";
}

std::vector<std::string> distinctFormats(const std::vector<fs::path>& urls)
{
    std::vector<std::string> result;
    for (const auto& url : urls) {
        auto name = isPlainFolder(url) ? std::string("pasta") : upper(normalizedExt(url));
        if (std::find(result.begin(), result.end(), name) == result.end())
            result.push_back(name);
    }
    return result;
}

namespace {

// Splits a name into runs of digits and runs of everything else.
std::vector<QStringView> runs(const QString& name)
{
    std::vector<QStringView> result;
    qsizetype start = 0;
    for (qsizetype i = 1; i <= name.size(); ++i) {
        if (i == name.size() || name[i].isDigit() != name[start].isDigit()) {
            result.push_back(QStringView(name).mid(start, i - start));
            start = i;
        }
    }
    return result;
}

int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// File-manager order: digit runs by value, text case-insensitively in the locale's collation.
// Collators without numeric support (the C locale has none) would put img10 before img2.
int compareNames(const QCollator& collator, const QString& a, const QString& b)
{
    const auto left = runs(a);
    const auto right = runs(b);
    for (size_t i = 0; i < left.size() && i < right.size(); ++i) {
        const bool leftDigits = left[i].front().isDigit();
        const bool rightDigits = right[i].front().isDigit();
        int order = 0;
        if (leftDigits && rightDigits)
            order = compareNumbers(left[i], right[i]);
        else if (leftDigits != rightDigits)
            order = leftDigits ? -1 : 1;
        else
            order = collator.compare(left[i], right[i]);
        if (order != 0)
            return order;
    }
    if (left.size() != right.size())
        return left.size() < right.size() ? -1 : 1;
    return 0;
}

}

std::vector<fs::path> sorted(const std::vector<fs::path>& urls)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Names without their extension first, as a file manager compares them: with it, "photo"
    // followed by ".png" would sort after "photo" followed by "2".
    struct Named {
        QString stem, name;
        fs::path url;
    };
    std::vector<Named> named;
    named.reserve(urls.size());
    for (const auto& url : urls) {
        const auto name = QString::fromStdString(url.filename().string());
        const auto dot = name.lastIndexOf(u'.');
        named.push_back({dot > 0 ? name.left(dot) : name, name, url});
    }
    std::stable_sort(named.begin(), named.end(), [&](const Named& a, const Named& b) {
        const int order = compareNames(collator, a.stem, b.stem);
        return order != 0 ? order < 0 : compareNames(collator, a.name, b.name) < 0;
    });
    std::vector<fs::path> result;
    result.reserve(named.size());
    for (auto& entry : named)
        result.push_back(std::move(entry.url));
    return result;
}

}

namespace Catalog {

std::optional<fs::path> firstVolume(const fs::path& url)
{
    const auto name = url.filename().string();
    const auto lower = QString::fromStdString(name).toLower().toStdString();
    if (lower.size() != name.size())
        return std::nullopt;
    const auto digitsBefore = [&](size_t end) {
        size_t start = end;
        while (start > 0 && lower[start - 1] >= '0' && lower[start - 1] <= '9')
            --start;
        return start;
    };
    if (lower.ends_with(".rar")) {
        const size_t end = lower.size() - 4, start = digitsBefore(end);
        if (start == end || end - start > 9 || !lower.substr(0, start).ends_with(".part")
            || std::stoul(lower.substr(start, end - start)) < 2)
            return std::nullopt;
        const auto one = std::string(end - start - 1, '0') + "1";
        return url.parent_path() / (name.substr(0, start) + one + name.substr(end));
    }
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 2, ".r") == 0
        && digitsBefore(lower.size()) == lower.size() - 2)
        return url.parent_path() / (name.substr(0, name.size() - 3) + "rar");
    return std::nullopt;
}

}
