#pragma once

#include "core/base/service.h"

#include <optional>
#include <string>

// The look the user chose. The choice is plain settings work and lives here; drawing it (the
// palettes and applying the appearance to the running application) belongs to the desktop side,
// which installs a Theme::Applier.
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

// Makes the running application follow the choice in force.
class Applier : public Service<Applier> {
public:
    virtual ~Applier() = default;
    virtual void apply() = 0;
};

// Asks the installed applier, if any, to apply the choice in force.
void apply();
}
