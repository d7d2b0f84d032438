#pragma once

#include "documents/styled_text.h"

#include <filesystem>

// Word documents (Office Open XML), read and written by us: paragraphs, runs with bold, italic,
// underline and size, hyperlinks, lists, tables, the page size and margins. Packed and unpacked
// with the zip tools.
namespace Docx {
namespace fs = std::filesystem;

// Whether the file is a zip package holding word/document.xml.
bool isDocx(const fs::path& path);
// Throws ConversionError::unreadable when the main part is missing or not well-formed.
StyledText::Document read(const fs::path& path);
// Writes the package as a new file at `destination`, which must not exist.
void write(const StyledText::Document& document, const fs::path& destination);

}
