#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"
#include "documents/styled_text.h"

#include <QString>

#include <memory>
#include <optional>

class QIODevice;
class QTextDocument;

// Text documents through Qt's styled text: Markdown, HTML and plain text by Qt and our Markdown
// converter, DOCX, RTF and ODT by our own readers and writers, old Word files through the office
// suite, PDF printed with QPdfWriter. Also PDF to a document by the text of its pages.
namespace DocumentEngine {

struct Loaded {
    std::unique_ptr<QTextDocument> document;
    // The page the file records, when it records one.
    std::optional<StyledText::PageSetup> page;
};

// The dispatcher's entry: a PDF to "docx" by its text; Word, ODT and RTF to PDF through the
// office route first (the simple route below when it gives nothing); every other pair by the
// simple route.
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);

// load, then save; the recorded page is kept for PDF and for the office formats.
fs::path simpleRoute(const fs::path& source, const std::string& ext);

// The type comes from the content for everything but Markdown, HTML and text. Without
// `pictures` a Word document's pictures are left out.
Loaded load(const fs::path& source, bool pictures = true);
// A new file under a free name beside the source (or in the job's folder); nothing is left
// behind on failure. Throws ConversionError::unsupported for an extension it does not write.
fs::path save(const QTextDocument& document, const std::optional<StyledText::PageSetup>& page, const fs::path& source,
    const std::string& ext);
fs::path pdfToDocument(const fs::path& pdf, const std::string& ext);

// Prints on pages of the given size and margins, content scaled to nothing but laid out to the
// width between the margins.
void writePDF(const QTextDocument& document, const StyledText::PageSetup& page, QIODevice& device);
// With encoding detection; ISO Latin 1 when the bytes are nothing better.
QString readText(const fs::path& path);
// An HTML text inside the frame of our style sheet. Its pictures and style sheets are read from
// `folder` and below only (DocumentResources); without a folder it reads no file at all.
std::unique_ptr<QTextDocument> fromHTML(const QString& html, const fs::path& folder = {});
// The frame's opening, up to and including "<body>".
QString htmlFrameStart();

}
