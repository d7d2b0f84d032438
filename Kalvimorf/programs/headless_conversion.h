#pragma once

// `--convert <format> <file>...`: converts without any window and ends the process.
namespace HeadlessConversion {
[[noreturn]] void run();
}
