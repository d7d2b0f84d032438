#pragma once

#include <string>

// One line per failure the user met, in $XDG_STATE_HOME/Brivlon/erros.log; bounded to 500 lines.
namespace ErrorLog {
void add(const std::string& message);
std::string recent(int n);
}
