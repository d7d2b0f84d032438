#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Reading and writing the text outputs of the document engines. Failures are the platform's
// (std::system_error or std::runtime_error with the system's description).
namespace TextFile {

std::string readBytes(const std::filesystem::path& path);
// The file as UTF-8; bytes that are not valid UTF-8 fail with EILSEQ. A leading byte-order
// mark stays in the text as U+FEFF.
std::string readUtf8(const std::filesystem::path& path);
// The file decoded by its byte-order mark (UTF-8, UTF-16 or UTF-32), else as UTF-8 when it is
// valid UTF-8, else as ISO Latin-1, which every byte sequence is. Returned as UTF-8.
std::string readDetecting(const std::filesystem::path& path);
// Writes through a temporary file in the same folder that replaces `path` only once complete.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes);

// What nextCodePoint gives for bytes that are not UTF-8.
constexpr char32_t invalidCodePoint = 0xFFFFFFFF;
// The code point that starts at byte `i`, moving `i` past it. Bytes that do not form one
// (overlong forms and encoded surrogates included) give invalidCodePoint and move by one.
char32_t nextCodePoint(std::string_view text, size_t& i);
bool isValidUtf8(std::string_view bytes);
std::string latin1ToUtf8(std::string_view bytes);

}
