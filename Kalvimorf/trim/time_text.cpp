#include "trim/time_text.h"

#include "documents/subtitle_engine.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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
    return SubtitleEngine::time(trimmed);
}

}
