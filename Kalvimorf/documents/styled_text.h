#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QTextDocument;

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

struct Run {
    // Tabs are "\t", line breaks inside a paragraph U+2028.
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    // Points; 0 is the body size.
    double size = 0;
    QString href;
    bool operator==(const Run&) const = default;
};

struct Paragraph {
    std::vector<Run> runs;
    // 0 outside a list, else 1 for the outermost level.
    int listLevel = 0;
    bool ordered = false;
    QString text() const;
    // Adds the run, or only its text to the last run when that has the same style.
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

// The body size every document starts from.
inline constexpr double bodySize = 12;

std::unique_ptr<QTextDocument> toQt(const Document& document);
Document fromQt(const QTextDocument& document);

// A link address that runs code or carries its own content (javascript:, vbscript:, data:),
// spelt as browsers read it: blanks and control characters around and inside the scheme ignored.
bool isActiveLink(const QString& href);

// Names of a document's parts that our writers and readers share.
QString bodyFontFamily();

}
