#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// What a file is.
enum class MediaKind { image, video, audio, pdf, document, subtitle, spreadsheet, archive, folder, other };

namespace MediaKinds {
const std::vector<MediaKind>& all();
std::string rawValue(MediaKind kind);
std::optional<MediaKind> fromRaw(const std::string& raw);
// The Portuguese noun for `count` items of the kind: singular only for exactly one.
std::string plural(MediaKind kind, long long count);
}

// What choosing a format does. Code decides by this, never by the label, which is only shown.
enum class FormatAction {
    convert,  // one output per input
    mergePDF,  // all inputs into one PDF
    pack,  // all inputs into one archive
    extract,  // unpack the archive
};

// One output choice. An empty ext means "extract the archive".
struct OutputFormat {
    std::string ext;
    std::string label;
    bool batch = false;
    FormatAction action = FormatAction::convert;

    const std::string& id() const { return label; }
    // Equal when ext, label and batch are; the action follows from them in every format the
    // catalogue makes.
    bool operator==(const OutputFormat& other) const
    {
        return ext == other.ext && label == other.label && batch == other.batch;
    }
};

struct CatalogOptions {
    MediaKind kind;
    std::vector<OutputFormat> formats;
};

namespace Catalog {
// Each kind's cards as the formats' table offers them (OutputFormats::offered), the merge left out.
const std::vector<OutputFormat>& imageFormats();
const std::vector<OutputFormat>& videoFormats();
const std::vector<OutputFormat>& audioFormats();
const std::vector<OutputFormat>& pdfFormats();
const std::vector<OutputFormat>& documentFormats();
const std::vector<OutputFormat>& subtitleFormats();
const std::vector<OutputFormat>& spreadsheetFormats();
const std::vector<OutputFormat>& archiveFormats();
const std::vector<OutputFormat>& packFormats();
OutputFormat mergedPDF();
OutputFormat extractFormat();

bool isVideoExt(const std::string& key);
bool isAudioExt(const std::string& key);
bool isDocumentExt(const std::string& key);
bool isSubtitleExt(const std::string& key);
bool isSpreadsheetExt(const std::string& key);
bool isArchiveExt(const std::string& key);

std::string normalize(const std::string& ext);
// The program-wide extension key of a file ("tgz" for .tar.gz and so on).
std::string normalizedExt(const fs::path& url);
// Linux has no bundle folders that show as one file.
bool isPackage(const fs::path& url);
// An existing folder that is not a package.
bool isPlainFolder(const fs::path& url);
MediaKind kind(const fs::path& url);
std::vector<OutputFormat> fmts(const std::vector<std::string>& exts);
std::optional<CatalogOptions> options(const std::vector<fs::path>& urls);
std::string describe(const std::vector<fs::path>& urls);
std::vector<std::string> distinctFormats(const std::vector<fs::path>& urls);
// File-manager order: by name, numbers by value, case-insensitive, stable.
std::vector<fs::path> sorted(const std::vector<fs::path>& urls);
// The first part of a set of RAR volumes that `url` names a later part of, by the names RAR gives
// them ("x.part3.rar" → "x.part1.rar", "x.r04" → "x.rar"); nothing for any other name.
std::optional<fs::path> firstVolume(const fs::path& url);
}
