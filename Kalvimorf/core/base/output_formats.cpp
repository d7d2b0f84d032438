#include "core/base/output_formats.h"

#include "core/base/raw_values.h"

#include <QString>

#include <string_view>

namespace {

struct FormatRow {
    std::string_view ext;
    std::string_view label;
    std::optional<QualityGroup> quality = std::nullopt;
    std::optional<ImageType> picture = std::nullopt;
    std::optional<Container> media = std::nullopt;
    // The file name's extension when it is not `ext`.
    std::string_view file = {};
};

using Q = QualityGroup;
using I = ImageType;

const FormatRow formats[] = {
    {"jpg", "JPG", Q::jpg, I::jpeg},
    {"png", "PNG", {}, I::png},
    {"heic", "HEIC", Q::heic, I::heic},
    {"webp", "WEBP", Q::webp, I::webp},
    {"avif", "AVIF", Q::avif, I::avif},
    {"tiff", "TIFF", {}, I::tiff},
    {"bmp", "BMP", {}, I::bmp},
    {"gif", "GIF", Q::gif, I::gif, Container{"gif", true}},
    {"pdf", "PDF", {}, I::pdf},
    {"mp4", "MP4", Q::video, {}, Container{"mp4", true}},
    {"mov", "MOV", Q::video, {}, Container{"mov", true}},
    {"mkv", "MKV", Q::video, {}, Container{"matroska", true}},
    {"webm", "WEBM", Q::webm, {}, Container{"webm", true}},
    {"avi", "AVI", {}, {}, Container{"avi", true}},
    {"mp3", "MP3", Q::mp3, {}, Container{"mp3", false}},
    {"m4a", "M4A", Q::m4a, {}, Container{"ipod", false}},
    {"wav", "WAV", {}, {}, Container{"wav", false}},
    {"flac", "FLAC", {}, {}, Container{"flac", false}},
    {"ogg", "OGG", Q::ogg, {}, Container{"ogg", false}},
    {"opus", "OPUS", Q::ogg, {}, Container{"opus", false}},
    {"aiff", "AIFF", {}, {}, Container{"aiff", false}},
    {"txt", "TXT"},
    {"docx", "DOCX"},
    {"odt", "ODT"},
    {"rtf", "RTF"},
    {"html", "HTML"},
    {"md", "MD"},
    {"srt", "SRT"},
    {"vtt", "VTT"},
    {"xlsx", "XLSX"},
    {"csv", "CSV"},
    {"tsv", "TSV"},
    {"zip", "ZIP"},
    {"tar", "TAR"},
    {"tgz", "TAR.GZ", {}, {}, {}, "tar.gz"},
};

const FormatRow* row(std::string_view ext)
{
    for (const auto& format : formats)
        if (format.ext == ext)
            return &format;
    return nullptr;
}

// One card: a source of `from` becomes `ext` by `writer`. In the cards' order within each kind.
struct ConversionRow {
    MediaKind from;
    std::string_view ext;
    Writer writer;
    FormatAction action = FormatAction::convert;
};

using K = MediaKind;
using W = Writer;
using A = FormatAction;

const ConversionRow conversions[] = {
    {K::image, "jpg", W::image},
    {K::image, "png", W::image},
    {K::image, "heic", W::image},
    {K::image, "webp", W::image},
    {K::image, "avif", W::image},
    {K::image, "tiff", W::image},
    {K::image, "bmp", W::image},
    {K::image, "gif", W::image},
    {K::image, "pdf", W::image},
    {K::image, "pdf", W::imagesToPDF, A::mergePDF},
    {K::video, "mp4", W::media},
    {K::video, "mov", W::media},
    {K::video, "mkv", W::media},
    {K::video, "webm", W::media},
    {K::video, "avi", W::media},
    {K::video, "gif", W::media},
    {K::video, "mp3", W::media},
    {K::video, "m4a", W::media},
    {K::audio, "mp3", W::media},
    {K::audio, "m4a", W::media},
    {K::audio, "wav", W::media},
    {K::audio, "flac", W::media},
    {K::audio, "ogg", W::media},
    {K::audio, "opus", W::media},
    {K::audio, "aiff", W::media},
    {K::pdf, "png", W::pdfPages},
    {K::pdf, "jpg", W::pdfPages},
    {K::pdf, "txt", W::pdfText},
    {K::pdf, "docx", W::document},
    {K::pdf, "pdf", W::pdfMerge, A::mergePDF},
    {K::document, "docx", W::document},
    {K::document, "pdf", W::document},
    {K::document, "odt", W::document},
    {K::document, "rtf", W::document},
    {K::document, "html", W::document},
    {K::document, "txt", W::document},
    {K::document, "md", W::document},
    {K::subtitle, "srt", W::subtitle},
    {K::subtitle, "vtt", W::subtitle},
    {K::subtitle, "txt", W::subtitle},
    {K::spreadsheet, "xlsx", W::spreadsheet},
    {K::spreadsheet, "csv", W::spreadsheet},
    {K::spreadsheet, "tsv", W::spreadsheet},
    {K::archive, "zip", W::repack},
    {K::archive, "tar", W::repack},
    {K::archive, "tgz", W::repack},
    {K::archive, "", W::extract, A::extract},
    {K::folder, "zip", W::pack, A::pack},
    {K::folder, "tar", W::pack, A::pack},
    {K::folder, "tgz", W::pack, A::pack},
    {K::other, "zip", W::pack, A::pack},
    {K::other, "tar", W::pack, A::pack},
    {K::other, "tgz", W::pack, A::pack},
};

struct WriterRow {
    Writer value;
    std::string_view raw;
    Road road;
};
constexpr EnumTable<WriterRow, 12> writers{{{
    {Writer::image, "image", Road::worker},
    {Writer::imagesToPDF, "imagesToPDF", Road::worker},
    {Writer::media, "media", Road::front},
    {Writer::pdfPages, "pdfPages", Road::worker},
    {Writer::pdfText, "pdfText", Road::worker},
    {Writer::pdfMerge, "pdfMerge", Road::worker},
    {Writer::document, "document", Road::worker},
    {Writer::subtitle, "subtitle", Road::worker},
    {Writer::spreadsheet, "spreadsheet", Road::worker},
    {Writer::repack, "repack", Road::worker},
    {Writer::extract, "extract", Road::worker},
    {Writer::pack, "pack", Road::worker},
}}};

// What an action does to the card: its own label instead of the format's, and whether the whole
// selection is one input.
struct ActionRow {
    FormatAction value;
    std::string_view raw;
    std::string_view label;
    bool batch;
};
constexpr EnumTable<ActionRow, 4> actions{{{
    {FormatAction::convert, "convert", "", false},
    {FormatAction::mergePDF, "merge", "PDF ÚNICO", true},
    {FormatAction::pack, "pack", "", true},
    {FormatAction::extract, "extract", "EXTRAIR", false},
}}};

}

namespace OutputFormats {

std::vector<OutputFormat> offered(MediaKind kind)
{
    std::vector<OutputFormat> list;
    for (const auto& conversion : conversions) {
        if (conversion.from != kind)
            continue;
        const auto& action = actions[conversion.action];
        const auto ext = std::string(conversion.ext);
        list.push_back(
            {ext, action.label.empty() ? label(ext) : std::string(action.label), action.batch, conversion.action});
    }
    return list;
}

std::optional<Writer> writer(MediaKind kind, const OutputFormat& format)
{
    for (const auto& conversion : conversions)
        if (conversion.from == kind && conversion.ext == format.ext && conversion.action == format.action)
            return conversion.writer;
    return std::nullopt;
}

Road road(Writer writer) { return writers[writer].road; }

std::string label(const std::string& ext)
{
    if (const auto* format = row(ext))
        return std::string(format->label);
    return QString::fromStdString(ext).toUpper().toStdString();
}

std::string fileExtension(const std::string& ext)
{
    const auto* format = row(ext);
    return format && !format->file.empty() ? std::string(format->file) : ext;
}

std::optional<QualityGroup> quality(const std::string& ext)
{
    const auto* format = row(ext);
    return format ? format->quality : std::nullopt;
}

std::optional<ImageType> picture(const std::string& ext)
{
    const auto* format = row(ext);
    return format ? format->picture : std::nullopt;
}

std::optional<Container> media(const std::string& ext)
{
    const auto* format = row(ext);
    return format ? format->media : std::nullopt;
}

}

namespace FormatActions {
std::string rawValue(FormatAction action) { return actions.raw(action); }
std::optional<FormatAction> fromRaw(const std::string& raw) { return actions.parse(raw); }
}
