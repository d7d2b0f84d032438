#pragma once

#include "documents/styled_text.h"

#include <QTextDocument>

#include <filesystem>

// OpenDocument text. We read it ourselves (content, automatic and named styles, lists, tables,
// links, the page layout); Qt's ODF writer writes it, and we add the page layout it leaves out.
namespace Odt {
namespace fs = std::filesystem;

// Whether the file is a zip package whose "mimetype" names an OpenDocument text.
bool isOdt(const fs::path& path);
// Throws ConversionError::unreadable when content.xml is missing or not well-formed.
StyledText::Document read(const fs::path& path);
// Writes the package as a new file at `destination`, which must not exist.
void write(const QTextDocument& document, const StyledText::PageSetup& page, const fs::path& destination);

}
