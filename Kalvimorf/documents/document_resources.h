#pragma once

#include <QTextDocument>

#include <filesystem>

// What an imported page may pull in besides its own text: pictures and style sheets. A document
// someone sent must not carry the reader's files back in its PDF or ODT, nor tell its sender
// that it was opened, so it reaches only files in its own folder and below (relative references,
// as a saved page keeps its pictures in "name_files/"), and data: addresses, which are inside
// the document anyway. Absolute paths, file: addresses elsewhere, links that lead out of the
// folder and every network address get an empty picture instead; nothing else reads a file for
// the document (Qt's own fallback would read any path it is given).
namespace DocumentResources {
namespace fs = std::filesystem;

// A document that reads nothing of its own accord. Qt asks a document's own loader for a resource
// before the provider confine() installs, and that loader reads whatever path or file: address
// it is given: a table's or the page's background, a background in a style, a style sheet. Here
// every resource the page names, by attribute or by style, goes to the provider.
class Document : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};

// Confines `document` to `folder` from now on. Call it before the text is set, so that style
// sheets and background pictures read while the HTML is parsed are confined too, and again on a
// copy (QTextDocument::clone) before that copy is laid out.
void confine(QTextDocument& document, const fs::path& folder);

// The folder a document was confined to; empty when it never was.
fs::path folderOf(const QTextDocument& document);

// Gives every picture the document holds its bytes (or the empty picture) ahead of the layout.
void settlePictures(QTextDocument& document);

// Throws the sentence of a picture too large to hold when the bytes are a picture whose size
// says so (a PNG of a few kilobytes may say 30,000 × 30,000): such a picture would otherwise be
// left out of what is drawn, and the job end as if nothing were missing.
void requireDrawable(const QByteArray& picture);
// The same for every picture the document shows, before it is drawn.
void requireDrawable(const QTextDocument& document);

}
