#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QTextDocument;

// Inter as documents are printed into PDFs. Its contextual alternates draw "<=>" as one arrow,
// "3x4" with a multiplication sign and "-", ":" or brackets next to capitals and digits as
// raised forms; those glyphs have no character of their own, so the printed text differs from
// the document's and drops out of what a reader copies or searches. The installed faces are
// registered again, under a family of their own, with that one feature switched off: kerning
// and every other metric stay Inter's.
namespace PrintFont {

// Points every use of Inter in `document` at those faces. Where they cannot be had (no Inter
// installed, a face that does not read), Latin text is laid out glyph by glyph instead, which
// keeps the characters but loses the kerning.
void apply(QTextDocument& document);

// An OpenType font's bytes with its contextual alternates switched off and each of its family
// names that begins with `from` beginning with `to` instead; nothing when they do not read as
// one font.
std::optional<QByteArray> withoutContextualForms(const QByteArray& font, const QString& from, const QString& to);

}
