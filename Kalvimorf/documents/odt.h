#pragma once

#include "documents/budget.h"
#include "documents/styled_text.h"

#include <QTextDocument>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// OpenDocument text. We read it ourselves (content, automatic and named styles, lists, tables,
// links, the page layout); Qt's ODF writer writes it, and we add the page layout it leaves out.
namespace Odt {
namespace fs = std::filesystem;

// Whether the file is a zip package whose "mimetype" names an OpenDocument text.
bool isOdt(const fs::path& path);
// Throws ConversionError::unreadable when content.xml is missing or not well-formed, and the
// sentence for a document too large when its body nests past `nesting`.
StyledText::Document read(const fs::path& path, const Nesting& nesting = {});
// The same reading from the bytes of content.xml and styles.xml.
StyledText::Document parse(
    std::string_view content, const std::optional<std::string>& styles, const Nesting& nesting = {});
// Writes the package as a new file at `destination`, which must not exist.
void write(const QTextDocument& document, const StyledText::PageSetup& page, const fs::path& destination);

}
