#include "documents/document_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/engines/gui_application.h"
#include "core/engines/pdf_text.h"
#include "documents/budget.h"
#include "documents/document_resources.h"
#include "documents/docx.h"
#include "documents/html_nesting.h"
#include "documents/markdown.h"
#include "documents/odt.h"
#include "documents/office_engine.h"
#include "documents/office_protection.h"
#include "documents/office_xml.h"
#include "documents/print_font.h"
#include "documents/rtf.h"
#include "documents/text_file.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace DocumentEngine {

using StyledText::PageSetup;

namespace {

// Sets the format `change` makes of each fragment's format, where it returns one.
void rewriteFormats(
    QTextDocument& document, const std::function<std::optional<QTextCharFormat>(const QTextCharFormat&)>& change)
{
    for (auto block = document.begin(); block != document.end(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const auto format = change(fragment.charFormat());
            if (!format)
                continue;
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(*format);
        }
    }
}

// Qt's HTML import marks h1 to h6 with a size adjustment that its own layout applies on top of
// the style sheet's sizes (an h3 came out smaller than the body); the sizes set are what count.
void dropSizeAdjustments(QTextDocument& document)
{
    rewriteFormats(document, [](const QTextCharFormat& format) -> std::optional<QTextCharFormat> {
        if (!format.hasProperty(QTextFormat::FontSizeAdjustment))
            return std::nullopt;
        QTextCharFormat plain = format;
        plain.clearProperty(QTextFormat::FontSizeAdjustment);
        return plain;
    });
}

// A link that runs code or carries its own content where a reader clicks it, in the HTML or
// Markdown written, or in any office program: its text stays, as text.
void dropActiveLinks(QTextDocument& document)
{
    rewriteFormats(document, [](const QTextCharFormat& format) -> std::optional<QTextCharFormat> {
        if (!format.isAnchor() || !StyledText::isActiveLink(format.anchorHref()))
            return std::nullopt;
        QTextCharFormat plain = format;
        plain.setAnchor(false);
        plain.clearProperty(QTextFormat::AnchorHref);
        return plain;
    });
}

std::unique_ptr<QTextDocument> plainDocument(const QString& text)
{
    auto document = std::make_unique<QTextDocument>();
    QFont font(StyledText::bodyFontFamily());
    font.setPointSizeF(StyledText::bodySize);
    document->setDefaultFont(font);
    document->setPlainText(text);
    return document;
}

bool isBlank(const QTextDocument& document)
{
    const QString text = document.toPlainText();
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isSpace() || c == QChar::ObjectReplacementCharacter;
    });
}

// A page by the charset it declares. A page with text that comes out blank was misread, and
// saying so beats writing an empty file.
std::unique_ptr<QTextDocument> fromPage(const std::string& bytes, const fs::path& folder)
{
    const QString html = QString::fromStdString(TextFile::decodeHtml(bytes));
    auto document = fromHTML(html, folder);
    if (isBlank(*document)) {
        bool text = false;
        HtmlNesting::bounded(html, HtmlNesting::deepest, &text);
        if (text)
            throw ConversionError::unreadable();
    }
    return document;
}

Loaded fromStyled(StyledText::Document document)
{
    auto page = document.page;
    return {StyledText::toQt(document), page};
}

// A binary property list's object: just enough of the format to find an archive's main page.
std::optional<std::string> webArchiveMainResource(const std::string& bytes);

// A package's part that unpacks past what a reader holds is refused by the unpacker as an
// archive too large; the user gave a document, and is told so.
template <typename Read>
auto fromPackage(const Read& read) -> decltype(read())
{
    try {
        return read();
    } catch (const ConversionError& error) {
        if (error.kind() == ConversionError::Kind::ffmpeg && error.message() == ErrorCauses::archiveTooLarge)
            throw ConversionError::because(Budget::documentTooLarge);
        throw;
    }
}

// A document in a format of our own readers, by its content; nothing for the formats only the
// office suite reads. A locked document fails with the password sentence.
std::optional<StyledText::Document> readOwn(
    const fs::path& source, const std::string& head, Docx::Pictures pictures, const Nesting& nesting = {})
{
    if (Rtf::isRtf(head))
        return Rtf::read(TextFile::readBytes(source), nesting);
    if (head.starts_with("PK\x03\x04")) {
        return fromPackage([&]() -> std::optional<StyledText::Document> {
            if (Docx::isDocx(source))
                return Docx::read(source, pictures, nesting);
            if (!Odt::isOdt(source))
                return std::nullopt;
            try {
                return Odt::read(source, nesting);
            } catch (const ConversionError& error) {
                // Its parts are encrypted: what fails is the password's absence, not the file.
                if (error.kind() == ConversionError::Kind::unreadable)
                    OfficeProtection::requireUnlocked(source);
                throw;
            }
        });
    }
    if (head.starts_with("\xD0\xCF\x11\xE0"))
        OfficeProtection::requireUnlocked(source);
    return std::nullopt;
}

Loaded loadByContent(const fs::path& source, Docx::Pictures pictures)
{
    std::error_code error;
    if (fs::is_directory(source, error)) {
        // A rich text bundle: its text is the RTF inside; attachments are dropped.
        return fromStyled(Rtf::read(TextFile::readBytes(source / "TXT.rtf")));
    }
    const std::string head = OfficeXML::head(source, 8);
    if (auto own = readOwn(source, head, pictures))
        return fromStyled(std::move(*own));
    if (head.starts_with("bplist00")) {
        auto html = webArchiveMainResource(TextFile::readBytes(source));
        if (!html)
            throw ConversionError::unreadable();
        return {fromPage(*html, source.parent_path()), std::nullopt};
    }
    // No reader of our own for the old binary format, nor for what else goes by ".doc" (Word
    // 2003's XML, WordPerfect, a web page): the office suite makes it a DOCX.
    if (head.starts_with("\xD0\xCF\x11\xE0") || Catalog::normalizedExt(source) == "doc") {
        FileSafety::TempDir work;
        auto docx = OfficeEngine::docToDocx(source, work.path());
        if (!docx)
            throw ConversionError::unreadable();
        return fromStyled(fromPackage([&] {
            return Docx::read(*docx, pictures);
        }));
    }
    throw ConversionError::unreadable();
}

// The suite holds gigabytes for minutes on a document of millions of elements, which our own
// readers refuse within their bounds in a second or two: a document they refuse for its size, or
// as locked, is not handed to it. Anything else they cannot read is the suite's to try.
//
// Nesting costs the suite far more than it costs our readers: a Word document of 90 tables each
// in a cell of the one above took it 2 s, of 100 tables 22 s, of 128 more than its time bound;
// an RTF of a million nested groups (2 MB) 2.4 GB, one of a thousand nested tables more than a
// minute. Real documents nest tables a few deep and their elements a few dozen.
//
// The suite leaves out a picture too large for it and says nothing: one we would refuse to draw
// is refused before it gets there too.
constexpr Nesting suiteNesting{512, 64};

void checkBeforeSuite(const fs::path& source)
{
    std::error_code error;
    if (fs::is_directory(source, error))
        return;
    std::optional<StyledText::Document> own;
    try {
        own = readOwn(source, OfficeXML::head(source, 8), Docx::Pictures::heads, suiteNesting);
    } catch (const ConversionError& refused) {
        if (refused.kind() != ConversionError::Kind::unreadable)
            throw;
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
    }
    if (own)
        StyledText::forEachPicture(*own, [](const StyledText::Picture& picture) {
            DocumentResources::requireDrawable(picture.bytes);
        });
}

fs::path throughTemporary(
    const FileSafety::NameFor& names, const std::string& ext, const std::function<void(const fs::path&)>& writer)
{
    FileSafety::TempDir work;
    const fs::path made = work.path() / ("documento." + ext);
    writer(made);
    return FileSafety::placeFree(made, names);
}

}

QString htmlFrameStart()
{
    return "<html><head><meta charset=\"utf-8\"><style>\n"
           "body { font-family: Inter; font-size: 12pt; color: #000; }\n"
           "pre, code { font-family: monospace; font-size: 10.5pt; }\n"
           "blockquote { color: #555; }\n"
           "h1 { font-size: 24pt; } h2 { font-size: 18pt; } h3 { font-size: 14pt; }\n"
           "</style></head><body>";
}

std::unique_ptr<QTextDocument> fromHTML(const QString& html, const fs::path& folder)
{
    GuiApplication::require();
    auto document = std::make_unique<DocumentResources::Document>();
    QFont font(StyledText::bodyFontFamily());
    font.setPointSizeF(StyledText::bodySize);
    document->setDefaultFont(font);
    DocumentResources::confine(*document, folder);
    document->setHtml(htmlFrameStart() + HtmlNesting::bounded(html) + "</body></html>");
    DocumentResources::settlePictures(*document);
    dropSizeAdjustments(*document);
    return document;
}

QString readText(const fs::path& path)
{
    try {
        return QString::fromStdString(TextFile::readDetecting(path));
    } catch (const ConversionError&) {
        throw;
    } catch (const std::exception&) {
        throw ConversionError::unreadable();
    }
}

namespace {

Loaded loadAny(const fs::path& source, Docx::Pictures pictures)
{
    const std::string key = Catalog::normalizedExt(source);
    if (key == "md")
        return {fromHTML(Markdown::toHTML(readText(source)), source.parent_path()), std::nullopt};
    if (key == "txt")
        return {plainDocument(readText(source)), std::nullopt};
    if (key == "html")
        return {fromPage(TextFile::readBytes(source), source.parent_path()), std::nullopt};
    try {
        return loadByContent(source, pictures);
    } catch (const ConversionError&) {
        throw;
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        throw ConversionError::unreadable();
    }
}

}

Loaded load(const fs::path& source, bool pictures)
{
    GuiApplication::require();
    Loaded loaded = loadAny(source, pictures ? Docx::Pictures::whole : Docx::Pictures::none);
    dropActiveLinks(*loaded.document);
    return loaded;
}

void writePDF(const QTextDocument& source, const PageSetup& page, QIODevice& device)
{
    DocumentResources::requireDrawable(source);
    QPdfWriter writer(&device);
    writer.setCreator("Brivlon");
    writer.setPageLayout(QPageLayout(QPageSize(QSizeF(page.width, page.height), QPageSize::Point),
        QPageLayout::Portrait, QMarginsF(page.left, page.top, page.right, page.bottom), QPageLayout::Point));
    // The copy keeps the pictures settled in the source, and reaches no further than it did: a
    // copy asks its parent for what it lacks, and this parent reads nothing of its own accord.
    DocumentResources::Document parent;
    DocumentResources::confine(parent, DocumentResources::folderOf(source));
    QTextDocument* document = source.clone(&parent);
    DocumentResources::confine(*document, DocumentResources::folderOf(source));
    DocumentResources::settlePictures(*document);
    document->setDocumentMargin(0);
    // Paper has no scrolling: code lines wider than the page go on to the next line, and a word
    // or address longer than a line breaks where the line ends, where they were cut at the edge.
    for (auto block = document->begin(); block != document->end(); block = block.next()) {
        if (!block.blockFormat().nonBreakableLines())
            continue;
        QTextBlockFormat format = block.blockFormat();
        format.setNonBreakableLines(false);
        QTextCursor(block).setBlockFormat(format);
    }
    QTextOption wrapping = document->defaultTextOption();
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document->setDefaultTextOption(wrapping);
    PrintFont::apply(*document);
    document->documentLayout()->setPaintDevice(&writer);
    const QRectF body = writer.pageLayout().paintRectPixels(writer.resolution());
    document->setPageSize(body.size());
    QPainter painter;
    if (!painter.begin(&writer))
        throw ConversionError::writeFailed();
    const int pages = std::max(1, document->pageCount());
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        painter.save();
        painter.translate(0, -i * body.height());
        QAbstractTextDocumentLayout::PaintContext context;
        const QRectF sheet(0, i * body.height(), body.width(), body.height());
        painter.setClipRect(sheet);
        // The layout draws every block that touches the clip, so a block that begins right at
        // the page's lower edge would be drawn (clipped, yet its text still in the file) on the
        // page before its own.
        context.clip = sheet.adjusted(0, 1, 0, -1);
        context.palette.setColor(QPalette::Text, Qt::black);
        document->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    if (!painter.end())
        throw ConversionError::writeFailed();
}

fs::path save(
    const QTextDocument& document, const std::optional<PageSetup>& page, const fs::path& source, const std::string& ext)
{
    const auto output = OutputPaths::names(source, ext);
    const auto text = [&](const QString& content) {
        return FileSafety::writeNew(output, content.toStdString());
    };
    if (ext == "txt") {
        QString plain = StyledText::fromQt(document).plainText();
        plain.replace(QChar::LineSeparator, '\n').replace(QChar::Nbsp, ' ');
        return text(plain);
    }
    if (ext == "md")
        return text(Markdown::fromAttributed(document));
    if (ext == "html")
        return text(document.toHtml());
    if (ext == "rtf") {
        auto styled = StyledText::fromQt(document);
        styled.page = page;
        return FileSafety::writeNew(output, Rtf::write(styled));
    }
    if (ext == "docx") {
        auto styled = StyledText::fromQt(document);
        styled.page = page;
        return throughTemporary(output, ext, [&](const fs::path& made) {
            Docx::write(styled, made);
        });
    }
    if (ext == "odt") {
        return throughTemporary(output, ext, [&](const fs::path& made) {
            Odt::write(document, page.value_or(PageSetup{}), made);
        });
    }
    if (ext == "pdf") {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writePDF(document, page.value_or(PageSetup{}), buffer);
        return FileSafety::writeNew(output, std::string_view(buffer.data().constData(), size_t(buffer.data().size())));
    }
    throw ConversionError::unsupported();
}

fs::path simpleRoute(const fs::path& source, const std::string& ext)
{
    // Text keeps no picture: a Word document's are not even unpacked for it.
    Loaded loaded = load(source, ext != "txt" && ext != "md");
    return save(*loaded.document, loaded.page, source, ext);
}

fs::path pdfToDocument(const fs::path& pdf, const std::string& ext)
{
    GuiApplication::require();
    StyledText::Document document;
    for (const auto& page : PDFText::pageTexts(pdf)) {
        if (page.find_first_not_of(" \n\r\t\f") == std::string::npos)
            continue;
        if (!document.blocks.empty())
            document.blocks.push_back({});
        for (const QString& line : QString::fromStdString(page).split('\n'))
            document.blocks.push_back({{{{line}}}, nullptr});
    }
    const auto qt = StyledText::toQt(document);
    return save(*qt, std::nullopt, pdf, ext);
}

fs::path convert(const fs::path& source, const OutputFormat& format, const Progress&)
{
    const std::string key = Catalog::normalizedExt(source);
    if (key == "pdf")
        return pdfToDocument(source, format.ext);
    if (format.ext == "pdf" && OfficeEngine::inputs().count(key)) {
        checkBeforeSuite(source);
        if (auto output = OfficeEngine::toPDF(source))
            return *output;
        OfficeEngine::noteSimpleMode();
    }
    return simpleRoute(source, format.ext);
}

namespace {

// Big-endian unsigned integer of `size` bytes at `at`; nothing when it runs past the end.
std::optional<uint64_t> bigEndian(const std::string& bytes, size_t at, size_t size)
{
    if (size == 0 || size > 8 || at > bytes.size() || bytes.size() - at < size)
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value = (value << 8) | uint8_t(bytes[at + i]);
    return value;
}

std::optional<std::string> webArchiveMainResource(const std::string& bytes)
{
    // Trailer: offset size, reference size, object count, top object, offset table position.
    if (bytes.size() < 40)
        return std::nullopt;
    const size_t trailer = bytes.size() - 32;
    const size_t offsetSize = uint8_t(bytes[trailer + 6]);
    const size_t refSize = uint8_t(bytes[trailer + 7]);
    const auto count = bigEndian(bytes, trailer + 8, 8);
    const auto top = bigEndian(bytes, trailer + 16, 8);
    const auto table = bigEndian(bytes, trailer + 24, 8);
    if (!count || !top || !table || *count > bytes.size() || *top >= *count)
        return std::nullopt;
    const auto offsetOf = [&](uint64_t ref) -> std::optional<size_t> {
        if (ref >= *count)
            return std::nullopt;
        auto value = bigEndian(bytes, size_t(*table + ref * offsetSize), offsetSize);
        if (!value || *value >= bytes.size())
            return std::nullopt;
        return size_t(*value);
    };
    // Length of an object whose marker's low nibble is 15 comes as a following integer object.
    const auto lengthAt = [&](size_t at, size_t& start) -> std::optional<uint64_t> {
        const uint8_t marker = uint8_t(bytes[at]);
        if ((marker & 0x0F) != 0x0F) {
            start = at + 1;
            return marker & 0x0F;
        }
        if (at + 1 >= bytes.size() || (uint8_t(bytes[at + 1]) & 0xF0) != 0x10)
            return std::nullopt;
        const size_t size = size_t(1) << (uint8_t(bytes[at + 1]) & 0x0F);
        start = at + 2 + size;
        return bigEndian(bytes, at + 2, size);
    };
    const auto stringAt = [&](uint64_t ref) -> std::optional<std::string> {
        auto at = offsetOf(ref);
        if (!at)
            return std::nullopt;
        const uint8_t kind = uint8_t(bytes[*at]) >> 4;
        size_t start = 0;
        auto length = lengthAt(*at, start);
        if (!length || (kind != 0x4 && kind != 0x5) || start > bytes.size() || bytes.size() - start < *length)
            return std::nullopt;
        return bytes.substr(start, size_t(*length));
    };
    const auto dictionaryAt = [&](uint64_t ref, const std::string& wanted) -> std::optional<uint64_t> {
        auto at = offsetOf(ref);
        if (!at || (uint8_t(bytes[*at]) >> 4) != 0xD)
            return std::nullopt;
        size_t start = 0;
        auto entries = lengthAt(*at, start);
        if (!entries || *entries > bytes.size())
            return std::nullopt;
        for (uint64_t i = 0; i < *entries; ++i) {
            auto key = bigEndian(bytes, size_t(start + i * refSize), refSize);
            if (key && stringAt(*key) == wanted)
                return bigEndian(bytes, size_t(start + (*entries + i) * refSize), refSize);
        }
        return std::nullopt;
    };
    const auto main = dictionaryAt(*top, "WebMainResource");
    const auto data = main ? dictionaryAt(*main, "WebResourceData") : std::nullopt;
    return data ? stringAt(*data) : std::nullopt;
}

}

}
