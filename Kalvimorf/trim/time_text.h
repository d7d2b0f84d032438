#pragma once

#include <optional>
#include <string>

// The trim editor's times: minutes, seconds and hundredths, with hours in front from one hour on.
namespace TimeText {
// "1:05.20", "1:02:05.50"; anything not finite reads "0:00.00".
std::string format(double seconds);
}

// What the editor's time fields take: a number of seconds ("90", "12,5") or a clock time
// ("1:02,5", "1:00:00"), blanks around allowed. None when the text is neither, and the field then
// shows its value again.
namespace TimeParse {
std::optional<double> parse(const std::string& text);
}
