#include "core/base/error_causes.h"

#include "core/base/error_log.h"
#include "core/base/process.h"

#include <QString>

#include <array>
#include <cerrno>
#include <filesystem>
#include <utility>

namespace ErrorCauses {

namespace {

// Phrases of ffmpeg, libarchive's tar, gzip, bzip2, zip and the image and PDF libraries, compared
// without case. Earlier rows win within one line: "Write error: No space left on device" is a
// full disk, not a failed write of some other kind, and libarchive ends its messages with
// whatever the C library's error number last held ("Truncated ZIP file data: Invalid or
// incomplete multibyte …"), so the tool's own words come before the system's.
const std::array<std::pair<const char*, Cause>, 61> phrases = {{
    {"No space left on device", Cause::diskFull},
    {"Disk quota exceeded", Cause::diskFull},
    {"File too large", Cause::diskFull},
    {"passphrase", Cause::password},
    {"password", Cause::password},
    {"encrypted", Cause::password},
    {"encryption", Cause::password},
    {"decrypt", Cause::password},
    {"Truncated", Cause::damaged},
    {"Premature end", Cause::damaged},
    {"unexpected end", Cause::damaged},
    {"Invalid data found when processing input", Cause::damaged},
    {"moov atom not found", Cause::damaged},
    {"missing mandatory atoms", Cause::damaged},
    {"invalid STSD entries", Cause::damaged},
    {"error reading header", Cause::damaged},
    // ffmpeg on a file cut after its header, or on bytes that only bear a media name.
    {"ended prematurely", Cause::damaged},
    {"Cannot determine format of input stream", Cause::damaged},
    {"Invalid frame size", Cause::damaged},
    {"Could not seek to", Cause::damaged},
    {"No JPEG data found", Cause::damaged},
    {"End of file", Cause::damaged},
    {"partial file", Cause::damaged},
    {"while decoding", Cause::damaged},
    {"corrupt", Cause::damaged},
    {"damaged", Cause::damaged},
    {"Unrecognized archive format", Cause::damaged},
    {"not in gzip format", Cause::damaged},
    {"crc error", Cause::damaged},
    {"libpng read error", Cause::damaged},
    // A header that states what no decoder opens: a WAV of 65,535 channels.
    {"Too many channels", Cause::damaged},
    {"Error while opening decoder", Cause::damaged},
    {"Cannot allocate memory", Cause::tooLarge},
    // x264 and other encoders that meet the job's data bound as they open.
    {"malloc of size", Cause::tooLarge},
    {"Out of memory", Cause::tooLarge},
    {"memory allocation", Cause::tooLarge},
    {"Couldn't allocate", Cause::tooLarge},
    {"bad_alloc", Cause::tooLarge},
    {"Path contains '..'", Cause::unsafeEntry},
    {"Hard-link target", Cause::unsafeEntry},
    {"Cannot extract through symlink", Cause::unsafeEntry},
    {"matches no streams", Cause::noStream},
    {"does not contain any stream", Cause::noStream},
    {"Output file does not contain any stream", Cause::noStream},
    {"Decoder not found", Cause::unsupportedCodec},
    {"not found for input stream", Cause::unsupportedCodec},
    {"unknown codec", Cause::unsupportedCodec},
    {"Could not find codec parameters", Cause::unsupportedCodec},
    {"Not yet implemented", Cause::unsupportedCodec},
    {"no decoder found", Cause::unsupportedCodec},
    {"Unsupported codec", Cause::unsupportedCodec},
    {"is not supported", Cause::unsupportedCodec},
    {"not currently supported", Cause::unsupportedCodec},
    {"support unavailable", Cause::unsupportedCodec},
    {"Unsupported compression", Cause::unsupportedCodec},
    {"Unsupported ZIP compression method", Cause::unsupportedCodec},
    {"Unsupported Method", Cause::unsupportedCodec},  // 7-Zip
    {"codec ID", Cause::unsupportedCodec},  // libarchive's 7z reader on a filter it lacks
    {"No such file or directory", Cause::unreadable},
    {"Format not on whitelist", Cause::unreadable},  // a playlist or list posing as media
    {"Invalid or incomplete multibyte", Cause::notUtf8},
}};

// Lines with which tools give up after the cause, never a cause themselves.
const std::array<const char*, 8> givingUp = {"Error exit delayed from previous errors", "Conversion failed!",
    "To ignore this, add a trailing", "Error marking filters as finished", "Last message repeated",
    "Error initializing output stream", "Error opening output file", "Nothing was written into output file"};

bool givesUp(std::string_view line)
{
    for (const char* phrase : givingUp) {
        if (line.find(phrase) != std::string_view::npos)
            return true;
    }
    return false;
}

// "<tool>: <line>" for the error log, without saying the tool's name twice.
std::string logged(const std::string& tool, std::string_view line)
{
    if (tool.empty() || (line.starts_with(tool) && line.substr(tool.size()).starts_with(":")))
        return std::string(line);
    return tool + ": " + std::string(line);
}
}

std::optional<Cause> causeOf(std::string_view line)
{
    const auto text = QString::fromUtf8(line.data(), qsizetype(line.size()));
    for (const auto& [phrase, cause] : phrases) {
        if (text.contains(QLatin1String(phrase), Qt::CaseInsensitive))
            return cause;
    }
    return std::nullopt;
}

std::string sentenceFor(Cause cause, const Sentences& sentences)
{
    switch (cause) {
    case Cause::diskFull: return diskFull;
    case Cause::noStream: return sentences.noStream;
    case Cause::password: return password;
    case Cause::damaged: return damaged;
    case Cause::unsupportedCodec: return unsupportedCodec;
    case Cause::unsafeEntry: return unsafeEntry;
    case Cause::tooLarge: return sentences.tooLarge;
    case Cause::notUtf8: return sentences.notUtf8;
    case Cause::unreadable: return unreadable;
    }
    return unreadable;
}

std::string explain(std::string_view errorText, const std::string& executable, const Sentences& sentences)
{
    const auto tool = executable.empty() ? std::string() : std::filesystem::path(executable).filename().string();
    std::string_view rest = errorText, first;
    while (!rest.empty()) {
        const auto end = std::min(rest.find('\n'), rest.size());
        const auto line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (const auto cause = causeOf(line)) {
            ErrorLog::add(logged(tool, line));
            return sentenceFor(*cause, sentences);
        }
        if (first.empty() && !line.empty() && !givesUp(line))
            first = line;
    }
    const auto last = Process::lastErrorLine(errorText, executable);
    if (sentences.fallback.empty())
        return last;
    const auto raw = first.empty() ? std::string_view(last) : first;
    if (!raw.empty())
        ErrorLog::add(logged(tool, raw));
    return sentences.fallback;
}

bool isDiskFull(const std::error_code& code)
{
    if (code.category() != std::generic_category() && code.category() != std::system_category())
        return false;
    return code.value() == ENOSPC || code.value() == EDQUOT || code.value() == EFBIG;
}

ConversionError writeFailure(const std::system_error& error)
{
    return isDiskFull(error.code()) ? ConversionError::because(diskFull) : ConversionError::writeFailed();
}

ConversionError failure(std::string_view errorText, const std::string& executable, const Sentences& sentences)
{
    return ConversionError::because(explain(errorText, executable, sentences));
}

}
