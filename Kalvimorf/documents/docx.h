#pragma once

#include "documents/budget.h"
#include "documents/styled_text.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// Word documents (Office Open XML), read and written by us: paragraphs, runs with bold, italic,
// underline and size, hyperlinks, lists, tables, the page size and margins; pictures are read.
// Packed and unpacked with the zip tools.
namespace Docx {
namespace fs = std::filesystem;

// Whether the file is a zip package whose main part is a Word document. The main part is where
// the package's relationships put it (word/document.xml as Word names it, but generator
// libraries name it as they like), the numbering and styles where the main part's do.
bool isDocx(const fs::path& path);
// How much of each picture a reading takes: none (for text alone), the first bytes, which tell
// its size, or all of it.
enum class Pictures { none, heads, whole };
// Throws ConversionError::unreadable when the main part is missing or not well-formed, and the
// sentence for a document too large when it nests past `nesting`.
StyledText::Document read(
    const fs::path& path, Pictures pictures = Pictures::whole, const Nesting& nesting = {});

// The parts read() takes from the package.
struct Parts {
    std::string document;  // the main part
    std::optional<std::string> relationships;
    std::optional<std::string> numbering;
    std::optional<std::string> styles;
    // The main part's name, which the relationships' targets are relative to.
    std::string documentPart = "word/document.xml";
    // Another part by its name in the package (a picture); pictures are left out without it.
    std::function<std::optional<std::string>(const std::string&)> part;
};
// The same reading from the parts' bytes.
StyledText::Document parse(const Parts& parts, const Nesting& nesting = {});
// Writes the package as a new file at `destination`, which must not exist.
void write(const StyledText::Document& document, const fs::path& destination);

}
