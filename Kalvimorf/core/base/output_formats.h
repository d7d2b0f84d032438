#pragma once

#include "core/base/catalog.h"
#include "core/base/quality.h"

#include <optional>
#include <string>
#include <vector>

// The worker programs, lightest first: each has every engine of the ones before it.
enum class WorkerKind {
    // No library of its own: the work is all in ffmpeg's processes (the media tools, conversions
    // of video and sound). A command-line run does these itself, as it trims; a pool asked for it
    // starts light workers.
    none,
    // Engines on light libraries (qpdf, liblzma, ffmpeg's processes): PDF merges and the PDF tools
    // but compression, archives, media conversions and the media tools (for the desktop's pool),
    // subtitles, spreadsheets; and PDF text, on poppler alone, opened for the job.
    light,
    // Those and the engines on libvips: image conversions, images into a PDF, the image tools but
    // face blurring, PDF compression.
    image,
    // Every engine: PDF pages (poppler), documents, face blurring (OpenCV).
    full,
};

// How the image writer writes a format: a picture file of its kind, or (pdf) the picture as
// the one page of a PDF.
enum class ImageType { jpeg, png, heic, webp, avif, tiff, bmp, gif, pdf };

// The ffmpeg muxer of a media output, named since ffmpeg writes into a file without an
// extension, and whether the output is there for its picture or for its sound.
struct Container {
    const char* muxer;
    bool video;
};

// The engine entry that makes an output; the dispatcher calls it and its row says which worker
// program has it.
enum class Writer {
    image,  // ImageEngine::convert
    imagesToPDF,  // ImageEngine::mergeToPDF
    media,  // MediaEngine::convert, ffmpeg's processes
    pdfPages,  // PDFEngine::convert: the pages as pictures, on poppler
    pdfText,  // PDFEngine::convert: the text, on poppler alone
    pdfMerge,  // PDFEngine::merge, on qpdf
    document,  // DocumentEngine::convert: Qt Gui's text layout and the office route
    subtitle,  // SubtitleEngine::convert
    spreadsheet,  // SpreadsheetEngine::convert
    repack,  // ArchiveEngine::repack
    extract,  // ArchiveEngine::extract
    pack,  // ArchiveEngine::create
};

// What every output format means, from one table (output_formats.cpp): a row per format with its
// label, quality group, picture and media columns, and a row per conversion the cards offer with
// its writer. The catalogue, the dispatcher, the quality presets and the worker choice read it,
// so that a new output format is its rows and its writer's work.
namespace OutputFormats {

// Every format a selection of `kind` may be offered, in the cards' order, the merge of several
// into one PDF included (Catalog::options leaves out what does not fit the selection).
std::vector<OutputFormat> offered(MediaKind kind);
// The writer of a conversion of a source of `kind` to `format` (by its extension and action);
// nothing for one no card offers.
std::optional<Writer> writer(MediaKind kind, const OutputFormat& format);
// The lightest worker program that has the writer (see Requests::worker).
WorkerKind worker(Writer writer);

// The rows of output extensions, compared exactly (lower case, as Catalog::normalizedExt gives
// them); an extension without a row has none of these.
// The card's label; the extension in capitals without a row.
std::string label(const std::string& ext);
// The extension of the output's file name ("tar.gz" for "tgz").
std::string fileExtension(const std::string& ext);
std::optional<QualityGroup> quality(const std::string& ext);
// How the image writer writes it, when it does.
std::optional<ImageType> picture(const std::string& ext);
// How ffmpeg writes it, when it does.
std::optional<Container> media(const std::string& ext);

}

namespace FormatActions {
std::string rawValue(FormatAction action);
std::optional<FormatAction> fromRaw(const std::string& raw);
}
