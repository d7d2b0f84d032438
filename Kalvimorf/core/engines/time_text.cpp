#include "core/engines/time_text.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <locale.h>
#include <string_view>
#include <vector>

namespace TimeText {

std::string format(double seconds)
{
    if (!std::isfinite(seconds))
        return "0:00.00";
    // Hundredths, halves away from zero; past what a count can hold the value is pinned.
    const double rounded = std::round(seconds * 100);
    const long long c = std::fabs(rounded) < 9e15 ? (long long)rounded : 0;
    const char* sign = c < 0 ? "-" : "";
    const long long a = c < 0 ? -c : c;
    char text[64];
    if (a < 360000)
        std::snprintf(text, sizeof text, "%s%lld:%02lld.%02lld", sign, a / 6000, (a / 100) % 60, a % 100);
    else
        std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%02lld", sign, a / 100 / 3600, a / 100 / 60 % 60,
            (a / 100) % 60, a % 100);
    return text;
}

}

namespace TimeParse {

namespace {

bool isBreak(QChar c) { return (c >= u'\n' && c <= u'\r') || c == u'\u0085' || c == u'\u2028' || c == u'\u2029'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

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

}

std::optional<double> clock(const std::string& text)
{
    // Tabs and the Unicode space separators around the time go; a line break stays and fails it.
    const QString decoded = QString::fromStdString(text);
    auto blank = [](QChar c) {
        return c.isSpace() && !isBreak(c);
    };
    qsizetype first = 0, last = decoded.size();
    while (first < last && blank(decoded[first]))
        ++first;
    while (last > first && blank(decoded[last - 1]))
        --last;
    auto cleaned = QStringView(decoded).mid(first, last - first).toUtf8().toStdString();
    std::replace(cleaned.begin(), cleaned.end(), ',', '.');
    std::vector<double> values;
    for (size_t begin = 0; begin <= cleaned.size();) {
        const auto end = std::min(cleaned.find(':', begin), cleaned.size());
        if (end > begin) {
            auto value = number(std::string_view(cleaned).substr(begin, end - begin));
            if (!value)
                return std::nullopt;
            values.push_back(*value);
        }
        begin = end + 1;
    }
    if (values.size() == 2)
        return values[0] * 60 + values[1];
    if (values.size() == 3)
        return (values[0] * 3600 + values[1] * 60) + values[2];
    return std::nullopt;
}

std::optional<double> parse(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const auto trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    auto number = trimmed;
    for (auto& c : number)
        if (c == ',')
            c = '.';
    double value = 0;
    const auto* end = number.data() + number.size();
    auto [stop, error] = std::from_chars(number.data(), end, value);
    if (error == std::errc() && stop == end && std::isfinite(value))
        return value;
    return clock(trimmed);
}

std::optional<std::vector<std::pair<double, double>>> ranges(const std::string& text)
{
    std::vector<std::string> pieces;
    for (size_t begin = 0;;) {
        const auto end = std::min(text.find(',', begin), text.size());
        pieces.push_back(text.substr(begin, end - begin));
        if (end == text.size())
            break;
        begin = end + 1;
    }
    // One range made of pieces [from, to]: two times around a single "-", neither empty.
    const auto range = [&](size_t from, size_t to) -> std::optional<std::pair<double, double>> {
        std::string joined;
        for (size_t i = from; i <= to; ++i) {
            if (pieces[i].find_first_not_of(" \t") == std::string::npos)
                return std::nullopt;
            joined += (i == from ? "" : ",") + pieces[i];
        }
        const auto dash = joined.find('-');
        if (dash == std::string::npos || joined.find('-', dash + 1) != std::string::npos)
            return std::nullopt;
        const auto start = parse(joined.substr(0, dash)), end = parse(joined.substr(dash + 1));
        if (!start || !end)
            return std::nullopt;
        return std::pair(*start, *end);
    };
    // From the end backwards: where the pieces from i on read as a list, and the longest first
    // range that lets them. A range takes at most three pieces: "1", "5-2", "5" is 1,5-2,5.
    const size_t n = pieces.size();
    std::vector<std::optional<size_t>> next(n + 1);
    std::vector<bool> reads(n + 1, false);
    reads[n] = true;
    for (size_t i = n; i-- > 0;) {
        for (size_t to = std::min(i + 2, n - 1) + 1; to-- > i;) {
            if (reads[to + 1] && range(i, to)) {
                reads[i] = true;
                next[i] = to + 1;
                break;
            }
        }
    }
    if (!reads[0])
        return std::nullopt;
    std::vector<std::pair<double, double>> list;
    for (size_t i = 0; i < n; i = *next[i])
        list.push_back(*range(i, *next[i] - 1));
    return list;
}

}
