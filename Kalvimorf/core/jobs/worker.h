#pragma once

// The desktop program's conversions run in a worker: this same executable started in a hidden
// mode, one conversion per process, so that a library that crashes or never returns on a bad
// file takes only that job down.
//
// The line protocol over the worker's standard input and output (one socket), every value
// escaped with escape() so that a path may hold any byte:
//   parent → worker: "op <convert|pdf|images|archive>", "source <path>" (repeated),
//                    "kind <raw>", "ext <ext>", "label <label>", "batch <0|1>",
//                    optionally "quality <raw>" and "folder <path>", then "go".
//   worker → parent: "ready" at start, "progress <fraction>" any number of times, then one of
//                    "done <path>", "failed <message>", "cancelled"; the office route's
//                    "notice <message>" and "component" may come in between.

#include "core/base/catalog.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class QualityLevel;

namespace Worker {

// The hidden option that starts the worker mode.
inline constexpr const char* option = "--worker";

struct Request {
    enum class Op { convert, mergePDF, mergeImages, archive };
    Op op = Op::convert;
    std::vector<fs::path> sources;
    MediaKind kind = MediaKind::other;
    OutputFormat format;
    std::optional<QualityLevel> quality;
    std::optional<fs::path> folder;
};

std::string encode(const Request& request);

// Backslash, line feed and carriage return escaped, so that a value never ends a line.
std::string escape(std::string_view value);
std::string unescape(std::string_view value);

// The worker mode's main: no application object, no display. Never returns.
[[noreturn]] void serve();

}
