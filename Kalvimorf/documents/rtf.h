#pragma once

#include "documents/budget.h"
#include "documents/styled_text.h"

#include <string>
#include <string_view>

// Rich Text Format, read and written by us: groups, bold, italic, underline, sizes, paragraphs
// and line breaks, tabs, Unicode and code-page characters, hyperlink fields, simple lists and
// tables, the page size and margins. Destinations we do not show are skipped.
namespace Rtf {

// Whether the bytes begin like an RTF document ("{\rtf").
bool isRtf(std::string_view bytes);
// Anything unknown is skipped; an unbalanced end closes what is open. Only a document that would
// take more than a Budget's worth to build, or nests its groups past `nesting`, fails
// (ConversionError).
StyledText::Document read(std::string_view bytes, const Nesting& nesting = {});
std::string write(const StyledText::Document& document);

}
