#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Reading the text inputs of the document engines. Only regular files are read (a link to
// /dev/zero or a FIFO fails with ConversionError::unreadable); other failures are the
// platform's (std::system_error with the system's description).
namespace TextFile {

std::string readBytes(const std::filesystem::path& path);
// The file as UTF-8; bytes that are not valid UTF-8 fail with EILSEQ. A leading byte-order
// mark stays in the text as U+FEFF.
std::string readUtf8(const std::filesystem::path& path);
// decodeDetecting() of the file's bytes.
std::string readDetecting(const std::filesystem::path& path);
// The bytes decoded by their byte-order mark (UTF-8, UTF-16 or UTF-32), else as UTF-8 when they
// are valid UTF-8, else as ISO Latin-1, which every byte sequence is. Returned as UTF-8.
std::string decodeDetecting(std::string_view bytes);
// A web page's bytes as UTF-8: by their byte-order mark, else by the charset the page declares
// (declaredCharset()), else as decodeDetecting() does.
std::string decodeHtml(std::string_view bytes);
// The charset a page declares before its body, in a meta element or an XHTML page's XML
// declaration, as written; nothing when none.
std::optional<std::string> declaredCharset(std::string_view bytes);
// The text of the file as decodeDetecting() gives it, without any U+FEFF, in pieces from about
// `chunkSize` bytes of the file handed to `piece` one after the other, so that a file of any size is
// never held whole; reading stops when `piece` returns false. The file is read once to choose
// its decoding and once more for the text.
void eachPiece(const std::filesystem::path& path, const std::function<bool(std::string_view)>& piece,
    size_t chunkSize = size_t(1) << 20);
// Removes every U+FEFF (UTF-8 byte-order mark) wherever it stands.
void removeByteOrderMarks(std::string& text);

}
