#pragma once

#include <optional>
#include <string>
#include <vector>

enum class QualityLevel { max, high, web, light };

namespace QualityLevels {
const std::vector<QualityLevel>& all();
std::string rawValue(QualityLevel level);
std::optional<QualityLevel> fromRaw(const std::string& raw);
std::string displayName(QualityLevel level);
int order(QualityLevel level);
}

// The ten output groups that take a quality; the raw value is the suffix of "quality.<group>".
enum class QualityGroup { jpg, webp, heic, avif, video, webm, gif, mp3, m4a, ogg };

namespace QualityGroups {
const std::vector<QualityGroup>& all();
std::string rawValue(QualityGroup group);
std::optional<QualityGroup> fromRaw(const std::string& raw);
// The group of an output extension, its row's in the formats' table (OutputFormats).
std::optional<QualityGroup> of(const std::string& ext);
std::string title(QualityGroup group);
std::string label(QualityGroup group, QualityLevel level);
std::string detail(QualityGroup group, QualityLevel level);
std::string shortText(QualityGroup group, QualityLevel level);
}

namespace Quality {
// The saved level of a group, read from the store at each call.
QualityLevel saved(QualityGroup group);
// The level a conversion to `ext` uses: the task's override, else the saved choice, else the
// group's default; always high outside the groups.
QualityLevel levelFor(const std::string& ext);
// The override bound to the current task, if any.
std::optional<QualityLevel> override();
}
