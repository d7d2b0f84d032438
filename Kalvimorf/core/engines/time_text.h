#pragma once

#include <optional>
#include <string>

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
}
