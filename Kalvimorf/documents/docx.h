#pragma once

#include "documents/styled_text.h"

#include <filesystem>
#include <optional>
#include <string>

// Word documents (Office Open XML), read and written by us: paragraphs, runs with bold, italic,
// underline and size, hyperlinks, lists, tables, the page size and margins. Packed and unpacked
// with the zip tools.
namespace Docx {
namespace fs = std::filesystem;

// Whether the file is a zip package holding word/document.xml.
bool isDocx(const fs::path& path);
// Throws ConversionError::unreadable when the main part is missing or not well-formed.
StyledText::Document read(const fs::path& path);

// The parts read() takes from the package.
struct Parts {
    std::string document;  // word/document.xml
    std::optional<std::string> relationships;
    std::optional<std::string> numbering;
    std::optional<std::string> styles;
};
// The same reading from the parts' bytes.
StyledText::Document parse(const Parts& parts);
// Writes the package as a new file at `destination`, which must not exist.
void write(const StyledText::Document& document, const fs::path& destination);

}
