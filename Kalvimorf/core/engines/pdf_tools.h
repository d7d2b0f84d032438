#pragma once

#include "core/engines/tool_params.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QPDF;
namespace FileSafety {
class NewFile;
}

// The PDF tools that stand on qpdf alone: split, rotate and extract pages (compressing, which
// resamples images with libvips too, is PDFCompress).
namespace PDFTools {
namespace fs = std::filesystem;

// A page list ("1-3, 5, 8-") as 0-based indices in the order written, duplicates kept: pieces
// split at "," and ";", each a page n, a range a-b or an open range a- / -b; numbers outside
// 1…count are dropped. Ranges are clamped to 1…count before they are expanded.
std::vector<int> pageIndices(const std::string& pages, int count);

// One of these PDF tools on one file; returns the written file, or the new folder for a split.
// Throws ConversionError (unreadable, writeFailed, unsupported) or ToolError.
fs::path run(Tool tool, const fs::path& source, const ToolParams& params);

// The document, with at least one page. Throws ConversionError: unreadable for a file that is no
// PDF or has no page, the damaged-file sentence for a page tree out of proportion to the file
// (countPages), the password sentence for a file that needs one to open. `mended` is told whether
// the page tree was mended as it was read (the file itself then reads otherwise). With
// `unlisted`, a catalog that lost its page tree (with the end of a cut file) has for pages the
// page dictionaries the file still holds, in the order they are written: what a viewer can still
// show of it.
enum class Unlisted { refused, gathered };
std::unique_ptr<QPDF> open(const fs::path& source, bool* mended = nullptr, Unlisted unlisted = Unlisted::refused);
// The pages of `pdf`'s page tree, walked without qpdf's list of pages (which copies every page
// listed twice); `fileSize` of the file it was read from, 0 when unknown. A tree that qpdf or a
// reader would read otherwise (kids that are no page or node, a node listed again, a root that
// counts its pages wrong, a catalog that names a page as the tree) is written anew, flat, with
// each page reached (`mendedAny` is told whether it was). Throws the damaged-file
// ConversionError for a tree that lists far more pages than it holds or nests too deep.
int countPages(QPDF& pdf, uintmax_t fileSize, bool* mendedAny = nullptr);
// Writes `pdf` into `file`, a file beside the output that has no name yet; never encrypted.
// Throws ConversionError::writeFailed.
void write(QPDF& pdf, FileSafety::NewFile& file, bool objectStreams = false);
}
