#pragma once

// `--tool <tool> [key=value ...] -- <file>...`: runs a file tool without any window, one file after
// another, and ends the process.
namespace HeadlessTool {
// Whether the arguments are this mode's: a known tool and a "--".
bool accepts();
[[noreturn]] void run();
}
