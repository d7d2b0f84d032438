#pragma once

#include <optional>
#include <string>

enum class AppTheme { macos, classic, stage };
enum class AppAppearance { automatic, light, dark };

namespace Theme {
std::string rawValue(AppTheme theme);
std::optional<AppTheme> themeFromRaw(const std::string& raw);
std::string rawValue(AppAppearance appearance);
std::optional<AppAppearance> appearanceFromRaw(const std::string& raw);

// The theme in force: BRIVLON_THEME, then "theme.v2", then macos.
AppTheme current();
// The appearance in force: BRIVLON_APPEARANCE, then "appearance", then auto.
AppAppearance appearance();
// Applies the appearance to the running application; the desktop side installs the hook.
void apply();
void setApplyHook(void (*hook)());
}
