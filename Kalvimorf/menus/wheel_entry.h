#pragma once

#include "core/base/quality.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One card or wheel segment: what it shows and what a drop on it runs (main thread; whatever the
// actions start runs on its own afterwards).
struct WheelEntry {
    using Paths = std::vector<std::filesystem::path>;

    std::string label;
    std::optional<std::string> detail;
    // Set: a drop may first ask for a quality level of this group, then runWithQuality runs.
    std::optional<QualityGroup> quality;
    std::function<void(const Paths&, QualityLevel)> runWithQuality;
    std::function<void(const Paths&)> run;
};
