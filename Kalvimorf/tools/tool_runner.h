#pragma once

#include "core/base/progress.h"
#include "tools/tool.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class JobStore;
class Limiter;

// Turns a drop on a tools card into jobs: the tools that take options ask first in the options
// panel; each file becomes a job (a join, one job for all), run at its gate (the desktop's:
// Limiter::tools(), beside the conversions' own).
class ToolRunner {
public:
    using Engine = std::function<std::filesystem::path(
        Tool, const std::vector<std::filesystem::path>&, const ToolParams&, const Progress&)>;
    // Shows the options panel and calls back with the chosen parameters, or never.
    using OptionsPanel
        = std::function<void(Tool, const std::vector<std::filesystem::path>&, std::function<void(const ToolParams&)>)>;

    // Opens the trim editor on the files; the trim tools make no job of their own.
    using TrimOpener = std::function<void(const std::vector<std::filesystem::path>&)>;

    static ToolRunner& shared();
    ToolRunner(JobStore& store, Engine engine, OptionsPanel panel, TrimOpener trimEditor, std::shared_ptr<Limiter> gate);
    // With a gate of its own.
    ToolRunner(JobStore& store, Engine engine, OptionsPanel panel, TrimOpener trimEditor = {}, int places = 3);

    // Main thread.
    void start(Tool tool, const std::vector<std::filesystem::path>& urls);
    // Main thread; returns once the jobs exist.
    void run(Tool tool, const std::vector<std::filesystem::path>& urls, const ToolParams& params);

    Limiter& limiter() { return *limiter_; }

private:
    JobStore& store_;
    Engine engine_;
    OptionsPanel panel_;
    TrimOpener trimEditor_;
    std::shared_ptr<Limiter> limiter_;
};
