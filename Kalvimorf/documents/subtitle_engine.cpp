#include "documents/subtitle_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/engines/time_text.h"
#include "documents/text_file.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace SubtitleEngine {

namespace {

// Milliseconds beyond this do not fit the 64-bit count a stamp is made from.
constexpr double maxStampMilliseconds = 9.2e18;

bool stampable(double seconds) { return std::isfinite(seconds) && std::fabs(seconds * 1000) < maxStampMilliseconds; }

bool isBreak(QChar c) { return (c >= u'\n' && c <= u'\r') || c == u'\u0085' || c == u'\u2028' || c == u'\u2029'; }

// The text without blanks at either end: tab and the Unicode space separators, and line breaks
// too unless `keepBreaks`.
std::string trimmed(std::string_view text, bool keepBreaks)
{
    const QString decoded = QString::fromUtf8(text.data(), qsizetype(text.size()));
    auto skip = [&](QChar c) {
        return c.isSpace() && !(keepBreaks && isBreak(c));
    };
    qsizetype first = 0, last = decoded.size();
    while (first < last && skip(decoded[first]))
        ++first;
    while (last > first && skip(decoded[last - 1]))
        --last;
    return QStringView(decoded).mid(first, last - first).toUtf8().toStdString();
}

std::vector<std::string_view> split(std::string_view s, std::string_view separator)
{
    std::vector<std::string_view> pieces;
    for (size_t at; (at = s.find(separator)) != std::string_view::npos; s.remove_prefix(at + separator.size()))
        pieces.push_back(s.substr(0, at));
    pieces.push_back(s);
    return pieces;
}

// "\r\n" and lone "\r" as "\n", in one pass: replacing in place would move the rest of the
// text once per line.
std::string withUnixLineEnds(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        result.push_back(text[i] == '\r' ? '\n' : text[i]);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    return result;
}

// Removes every "<…>" tag (at least one character between the brackets); with `keepStyle`, the
// plain bold, italic and underline tags ("<i>", "</b>" …) stay.
std::string withoutTags(std::string_view text, bool keepStyle)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '<') {
            auto close = text.find('>', i + 1);
            if (close == std::string_view::npos) {
                // No tag closes after here: searching again for every later "<" would take
                // quadratic time.
                result.append(text.substr(i));
                break;
            }
            if (close > i + 1) {
                auto inner = text.substr(i + 1, close - i - 1);
                bool style
                    = inner == "b" || inner == "i" || inner == "u" || inner == "/b" || inner == "/i" || inner == "/u";
                if (!(keepStyle && style)) {
                    i = close + 1;
                    continue;
                }
            }
        }
        result.push_back(text[i++]);
    }
    return result;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            result += separator;
        result += parts[i];
    }
    return result;
}

}

std::string stamp(double seconds, char separator)
{
    // Callers pass stampable times; anything else is clamped rather than left undefined.
    const double scaled = std::clamp(std::round(seconds * 1000), -maxStampMilliseconds, maxStampMilliseconds);
    const long long ms = std::isnan(scaled) ? 0 : (long long)scaled;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld%c%03lld", ms / 3600000, (ms / 60000) % 60,
        (ms / 1000) % 60, separator, ms % 1000);
    return buffer;
}

std::vector<Cue> parse(const std::string& source)
{
    std::string text = withUnixLineEnds(source);
    TextFile::removeByteOrderMarks(text);

    std::vector<Cue> cues;
    for (auto block : split(text, "\n\n")) {
        auto lines = split(block, "\n");
        auto timing = std::find_if(lines.begin(), lines.end(), [](std::string_view line) {
            return line.find("-->") != std::string_view::npos;
        });
        if (timing == lines.end())
            continue;
        auto sides = split(*timing, "-->");
        if (sides.size() != 2)
            continue;
        auto start = TimeParse::clock(std::string(sides[0]));
        if (!start)
            continue;
        auto right = trimmed(sides[1], true);
        auto end = TimeParse::clock(right.substr(0, right.find(' ')));
        if (!end)
            continue;
        std::string body;
        for (auto line = timing + 1; line != lines.end(); ++line) {
            if (line != timing + 1)
                body += '\n';
            body += *line;
        }
        auto cueText = trimmed(body, false);
        if (cueText.empty())
            continue;
        cues.push_back({*start, *end, std::move(cueText)});
    }
    return cues;
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    // The subtitles of the longest films take a few megabytes; reading takes a few times the
    // file's size in memory, which a file of gigabytes in one line would make a hazard.
    FileSafety::requireRegularFile(source);
    if (fs::file_size(source) > maxFileSize)
        throw ConversionError::because(tooLarge);
    auto cues = parse(TextFile::readUtf8(source));
    // A time too large to stamp would come out as garbage; such a cue is left out like any
    // other unusable block.
    std::erase_if(cues, [](const Cue& cue) {
        return !stampable(cue.start) || !stampable(cue.end);
    });
    if (cues.empty())
        throw ConversionError::unreadable();
    std::vector<std::string> entries;
    std::string text;
    if (format.ext == "srt") {
        for (size_t i = 0; i < cues.size(); ++i)
            entries.push_back(std::to_string(i + 1) + "\n" + stamp(cues[i].start, ',') + " --> "
                + stamp(cues[i].end, ',') + "\n" + withoutTags(cues[i].text, true) + "\n");
        text = join(entries, "\n");
    } else if (format.ext == "vtt") {
        for (const auto& cue : cues)
            entries.push_back(stamp(cue.start, '.') + " --> " + stamp(cue.end, '.') + "\n" + cue.text + "\n");
        text = "WEBVTT\n\n" + join(entries, "\n");
    } else if (format.ext == "txt") {
        for (const auto& cue : cues)
            entries.push_back(withoutTags(cue.text, false));
        text = join(entries, "\n") + "\n";
    } else {
        throw ConversionError::unsupported();
    }
    return FileSafety::writeNew(OutputPaths::names(source, format.ext), text);
}

}
