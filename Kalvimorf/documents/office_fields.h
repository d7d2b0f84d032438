#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Fields of a document that make the office suite read something of its own accord when it lays
// the document out: a picture or a text pulled in by path or address (INCLUDEPICTURE,
// INCLUDETEXT), a linked object (LINK), a conversation with a program (DDE). The suite's settings
// shut most links, but not every field, and where the kernel cannot bound the job's files the
// suite would print the reader's files into the sender's document. Such a field keeps its last
// result and loses its instruction before the suite sees the document.
namespace OfficeFields {
namespace fs = std::filesystem;

// Whether a field's instruction, as plain text ("INCLUDEPICTURE \"/x.png\" \\d"), names one of those.
bool reachesOutside(std::string_view instruction);

// The RTF text with the instruction of every such field emptied; the text itself when none has one.
std::string neutralisedRtf(std::string_view rtf);

// A part of a Word package with the instruction of every such field emptied, simple fields and
// complex ones alike.
std::string neutralisedWordPart(std::string_view xml);

// The document the suite should open: `input` itself, or for an RTF or a Word package with such
// fields a copy in `work` under the same name.
fs::path prepare(const fs::path& input, const fs::path& work);
}
