#pragma once

// `--trim <start> <end> <ext|keep> <fast|x> <file>` and
// `--trim <a-b,c-d,...> - <ext|keep> <fast|x> <file>`: writes the kept ranges of one file
// without any window, prints the output's path and ends the process.
namespace HeadlessTrim {
[[noreturn]] void run();
}
