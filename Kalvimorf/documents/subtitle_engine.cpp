#include "documents/subtitle_engine.h"

#include "core/conversion_error.h"
#include "core/output_paths.h"
#include "documents/text_file.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace SubtitleEngine {

namespace {

// Milliseconds beyond this do not fit the 64-bit count a stamp is made from.
constexpr double maxStampMilliseconds = 9.2e18;

bool stampable(double seconds)
{
    return std::isfinite(seconds) && std::fabs(seconds * 1000) < maxStampMilliseconds;
}

// Blanks within a line: tab and the Unicode space separators.
bool isBlank(char32_t c)
{
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isBlankOrBreak(char32_t c)
{
    return isBlank(c) || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

template <typename Predicate>
std::string_view trimmed(std::string_view s, Predicate skip)
{
    while (!s.empty()) {
        size_t next = 0;
        if (!skip(TextFile::nextCodePoint(s, next)))
            break;
        s.remove_prefix(next);
    }
    while (!s.empty()) {
        // The last code point starts at most three continuation bytes before the end.
        size_t start = s.size() - 1;
        while (start > 0 && s.size() - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
            --start;
        size_t next = start;
        char32_t c = TextFile::nextCodePoint(s, next);
        if (next != s.size() || !skip(c))
            break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

std::vector<std::string_view> split(std::string_view s, std::string_view separator)
{
    std::vector<std::string_view> pieces;
    for (size_t at; (at = s.find(separator)) != std::string_view::npos; s.remove_prefix(at + separator.size()))
        pieces.push_back(s.substr(0, at));
    pieces.push_back(s);
    return pieces;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to)
{
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal floating-point number and nothing else: an optional sign, digits with an optional
// fraction (or a fraction alone), an optional exponent. Read in the C locale whatever the
// process's locale is; a magnitude too large for a double gives infinity.
std::optional<double> number(std::string_view piece)
{
    size_t i = 0, n = piece.size();
    if (i < n && (piece[i] == '+' || piece[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < n && isDigit(piece[i]))
        ++i, ++digits;
    if (i < n && piece[i] == '.') {
        ++i;
        while (i < n && isDigit(piece[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (piece[i] == 'e' || piece[i] == 'E')) {
        ++i;
        if (i < n && (piece[i] == '+' || piece[i] == '-'))
            ++i;
        size_t exponentDigits = 0;
        while (i < n && isDigit(piece[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    const std::string copy(piece);
    return strtod_l(copy.c_str(), nullptr, cLocale);
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
            if (close != std::string_view::npos && close > i + 1) {
                auto inner = text.substr(i + 1, close - i - 1);
                bool style = inner == "b" || inner == "i" || inner == "u" || inner == "/b" || inner == "/i" || inner == "/u";
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

std::optional<double> time(const std::string& text)
{
    std::string cleaned(trimmed(text, isBlank));
    std::replace(cleaned.begin(), cleaned.end(), ',', '.');
    std::vector<double> values;
    for (auto piece : split(cleaned, ":")) {
        if (piece.empty())
            continue;
        auto value = number(piece);
        if (!value)
            return std::nullopt;
        values.push_back(*value);
    }
    if (values.size() == 2)
        return values[0] * 60 + values[1];
    if (values.size() == 3)
        return (values[0] * 3600 + values[1] * 60) + values[2];
    return std::nullopt;
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
    std::string text = source;
    replaceAll(text, "\r\n", "\n");
    std::replace(text.begin(), text.end(), '\r', '\n');
    replaceAll(text, "\xEF\xBB\xBF", "");

    std::vector<Cue> cues;
    for (auto block : split(text, "\n\n")) {
        auto lines = split(block, "\n");
        auto timing = std::find_if(lines.begin(), lines.end(),
                                   [](std::string_view line) { return line.find("-->") != std::string_view::npos; });
        if (timing == lines.end())
            continue;
        auto sides = split(*timing, "-->");
        if (sides.size() != 2)
            continue;
        auto start = time(std::string(sides[0]));
        if (!start)
            continue;
        auto right = trimmed(sides[1], isBlank);
        auto end = time(std::string(right.substr(0, right.find(' '))));
        if (!end)
            continue;
        std::string body;
        for (auto line = timing + 1; line != lines.end(); ++line) {
            if (line != timing + 1)
                body += '\n';
            body += *line;
        }
        auto cueText = trimmed(body, isBlankOrBreak);
        if (cueText.empty())
            continue;
        cues.push_back({*start, *end, std::string(cueText)});
    }
    return cues;
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    auto cues = parse(TextFile::readUtf8(source));
    // A time too large to stamp would come out as garbage; such a cue is left out like any
    // other unusable block.
    std::erase_if(cues, [](const Cue& cue) { return !stampable(cue.start) || !stampable(cue.end); });
    if (cues.empty())
        throw ConversionError::unreadable();
    const auto output = OutputPaths::destination(source, format.ext);
    std::vector<std::string> entries;
    std::string text;
    if (format.ext == "srt") {
        for (size_t i = 0; i < cues.size(); ++i)
            entries.push_back(std::to_string(i + 1) + "\n" + stamp(cues[i].start, ',') + " --> " +
                              stamp(cues[i].end, ',') + "\n" + withoutTags(cues[i].text, true) + "\n");
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
    TextFile::writeAtomically(output, text);
    return output;
}

}
