#pragma once

#include "tools/tool.h"

#include <filesystem>
#include <vector>

// Starts tool jobs. The tool engines are not part of this build yet: a start ends at once in a
// failed job that says so, so that nothing pretends to work.
class ToolRunner {
public:
    static ToolRunner& shared();
    void start(Tool tool, const std::vector<std::filesystem::path>& urls);
};
