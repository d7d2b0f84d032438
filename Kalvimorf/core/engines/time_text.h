#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The trim editor's times: minutes, seconds and hundredths, with hours in front from one hour on.
namespace TimeText {
// "1:05.20", "1:02:05.50"; anything not finite reads "0:00.00".
std::string format(double seconds);
}

// Times as people type them, for the trim editor's fields, `--trim` and subtitle cues.
namespace TimeParse {
// What the editor's time fields take: a number of seconds ("90", "12,5") or a clock time
// ("1:02,5", "1:00:00"), blanks around allowed. None when the text is neither, and the field then
// shows its value again.
std::optional<double> parse(const std::string& text);
// "m:s" or "h:m:s", each part a decimal number, "," accepted for "."; "1:02,5" → 62.5. Blanks
// around are allowed, line breaks are not. A bare number of seconds, "inf", "nan" or hexadecimal
// numbers are not times. No range check: a part with a minus sign counts with it ("1:-5" is 55).
std::optional<double> clock(const std::string& text);
// A list of kept ranges as `--trim` takes it, "a-b,c-d", each time as parse() reads it. The comma
// both separates ranges and marks a time's decimals: it belongs to a time where that is the only
// way the whole list reads, and to the time before it where both ways do ("1-2,5,6-7" is 1–2.5
// and 6–7). None when the text is not such a list.
std::optional<std::vector<std::pair<double, double>>> ranges(const std::string& text);
}
