#pragma once

#include "core/base/catalog.h"
#include "core/base/quality.h"

#include <optional>
#include <string>
#include <vector>

// Where a job runs. Any job whose file is parsed by our own code runs in a worker, whose crash
// or hang ends the job and not the program; one whose whole work is ffmpeg's processes (the media
// tools, conversions of video and sound) is as isolated in them, and a command-line run does it
// itself, without a worker between (the desktop's pool runs it in a worker like any other).
enum class Road { worker, front };

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
// Where a job of the writer runs (see Requests::road).
Road road(Writer writer);

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
