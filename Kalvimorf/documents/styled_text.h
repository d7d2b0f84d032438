#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTextDocument;
class QTextImageFormat;

// The plain shape our own office readers and writers share with Qt's styled text: paragraphs of
// runs with the few character styles a document conversion keeps, flat or nested lists, tables
// of paragraphs, and the page. Qt's QTextDocument is the model everything passes through; this
// is what DOCX, RTF and ODT are read into and written from.
namespace StyledText {

// Points; a paper side of 100 points or less is no paper.
struct PageSetup {
    double width = 595;
    double height = 842;
    double top = 56;
    double left = 56;
    double bottom = 56;
    double right = 56;
    bool operator==(const PageSetup&) const = default;
};

// A picture in the text, as the document stores it.
struct Picture {
    // The file's bytes (PNG, JPEG, GIF, ...).
    QByteArray bytes;
    // Points as shown; 0 where the document does not say.
    double width = 0;
    double height = 0;
    QString description;
};

struct Run {
    // Tabs are "\t", line breaks inside a paragraph U+2028. Empty for a picture.
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    // Points; 0 is the body size.
    double size = 0;
    QString href;
    // When present the run is this picture, standing where it was in the text.
    std::shared_ptr<const Picture> picture;
    bool operator==(const Run&) const = default;
};

struct Paragraph {
    std::vector<Run> runs;
    // 0 outside a list, else 1 for the outermost level.
    int listLevel = 0;
    bool ordered = false;
    QString text() const;
    // Adds the run, or only its text to the last run when that has the same style; a run of no
    // text and no picture is nothing.
    void append(Run run);
};

// What a style sheet says of characters: unset properties inherit from the style below.
struct CharacterStyle {
    std::optional<bool> bold, italic, underline;
    std::optional<double> size;
    // `other`'s set properties win.
    void over(const CharacterStyle& other);
    // A run of that text in this style, with its size kept only when it differs from the body's.
    Run run(const QString& text, double body, const QString& href = {}) const;
};

struct Table {
    // Rows of cells of paragraphs.
    std::vector<std::vector<std::vector<Paragraph>>> rows;
};

struct Block {
    Paragraph paragraph;
    // When present the block is this table and `paragraph` is unused.
    std::shared_ptr<Table> table;
};

struct Document {
    std::vector<Block> blocks;
    std::optional<PageSetup> page;
    // Every paragraph's text, one paragraph a line; a table's row is a line of its cells'
    // texts apart by tabs.
    QString plainText() const;
};

// A picture as the office formats store one: PNG or JPEG bytes as they came, any other kind
// drawn again as PNG, with its size in pixels and as shown (points; a pixel is shown at 96 to
// the inch where the document gives no size). Nothing for bytes that are no picture.
struct StoredPicture {
    QByteArray bytes;
    bool jpeg = false;
    int pixelWidth = 0;
    int pixelHeight = 0;
    double width = 0;
    double height = 0;
};
std::optional<StoredPicture> stored(const Picture& picture);

// Calls `visit` with every picture of the document, its tables' included.
void forEachPicture(const Document& document, const std::function<void(const Picture&)>& visit);

// The body size every document starts from.
inline constexpr double bodySize = 12;

// A picture stands in Qt's document as an image whose name is a data: address of its bytes, so
// that it travels with the text wherever the document goes (a copy, a page, a writer) and each
// place reads it the same way.
std::unique_ptr<QTextDocument> toQt(const Document& document);
// Pictures come back with the bytes their name holds, or the bytes of what the document was given
// for them (in PNG); a picture that could not be read stays out.
Document fromQt(const QTextDocument& document);
// The bytes of one picture of Qt's document, as fromQt takes them.
std::optional<QByteArray> pictureBytes(const QTextDocument& document, const QTextImageFormat& format);

// A link address that runs code or carries its own content (javascript:, vbscript:, data:),
// spelt as browsers read it: blanks and control characters around and inside the scheme ignored.
bool isActiveLink(const QString& href);

// Names of a document's parts that our writers and readers share.
QString bodyFontFamily();

}
