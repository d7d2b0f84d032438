#pragma once

#include <string>
#include <string_view>

// One line per failure the user met, in $XDG_STATE_HOME/Brivlon/erros.log; bounded to 500 lines.
namespace ErrorLog {
// One failure; its blank lines are left out, and a message of nothing else is not logged.
void add(const std::string& message);
// Each non-empty line of `text` as a failure of its own, after `prefix` (what a tool printed).
void addLines(const std::string& prefix, std::string_view text);
std::string recent(int n);
}
