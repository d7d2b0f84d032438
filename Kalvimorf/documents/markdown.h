#pragma once

#include <QString>

class QTextDocument;

// The small Markdown subset the document engine reads and writes: headings, rules, one-line
// quotes, flat lists, fenced code and paragraphs; inside a line code spans, images (their
// alternative text), links, bold, italic and strikethrough. No tables, no nesting, no raw HTML:
// every "&", "<" and ">" of the source is escaped. Pure functions; nothing fails.
namespace Markdown {

// The HTML fragment of a Markdown source (no html, head or body element).
QString toHTML(const QString& markdown);
// One run of text escaped and with its inline markup converted; never applied to code lines.
QString inlineMarkup(const QString& text);
// Markdown of styled text: headings of levels 1 to 3 from font sizes measured against the most
// common size, list items from the document's lists or typed bullets and numbers, bold and
// italic from the font, and links. Ends in exactly one line feed.
QString fromAttributed(const QTextDocument& document);

}
