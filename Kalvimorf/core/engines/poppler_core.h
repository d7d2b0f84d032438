#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// Poppler's own document, for the engines that read text or draw pages: its text layout and its
// rasteriser need none of the imaging or Qt libraries that its Qt front pulls in, so the text
// extraction can run in the light worker program. Poppler's headers stay in this file's source:
// some of their names would shadow the program's.
namespace PopplerCore {

// A document belongs to one thread at a time. Pages are numbered from 1.
class Document {
public:
    // Poppler's messages silenced (a damaged file is reported by what it fails to give). Throws
    // ConversionError: unreadable when the file does not open, the password sentence when it
    // wants one.
    explicit Document(const std::filesystem::path& source);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    int pageCount() const;

    // Everything poppler lays out on the page, in reading order; empty for a damaged page.
    std::string text(int number);

    // The page's crop box at `dpi` in pixels, its rotation applied, each side truncated; none for
    // a damaged page.
    std::optional<std::pair<double, double>> size(int number, double dpi);

    // Whether the page draws pictures (image objects of its resources, or of the forms it
    // draws): poppler scales each picture whole, to the size it is drawn, for every band.
    bool drawsPictures(int number);

    // Rows `top` to `top + rows` of the page drawn at `dpi` and `width` pixels wide, on opaque
    // white with the page's rotation applied: three bytes a pixel (red, green, blue), the rows
    // back to back. Valid until the next call; null when they cannot be drawn, a picture among
    // them included (its decoder could not start: poppler would leave it blank). Glyphs are kept
    // from call to call, so one document draws a run of pages faster than one per page.
    const unsigned char* drawRows(int number, double dpi, int top, int width, int rows);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}
