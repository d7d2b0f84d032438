#include "core/appearance.h"

#include "core/raw_values.h"
#include "core/settings.h"

#include <cstdlib>

namespace Theme {

namespace {

struct ThemeRow {
    AppTheme value;
    std::string_view raw;
};
constexpr EnumTable<ThemeRow, 3> themes{{{
    {AppTheme::macos, "macos"},
    {AppTheme::classic, "classic"},
    {AppTheme::stage, "stage"},
}}};

struct AppearanceRow {
    AppAppearance value;
    std::string_view raw;
};
constexpr EnumTable<AppearanceRow, 3> appearances{{{
    {AppAppearance::automatic, "auto"},
    {AppAppearance::light, "light"},
    {AppAppearance::dark, "dark"},
}}};

// The environment's choice first, then the stored one; unknown words count as absent.
template <typename Table>
auto inForce(const char* variable, const QString& key, const Table& table, typename Table::Value fallback)
{
    if (const char* fromEnv = std::getenv(variable))
        if (auto value = table.parse(fromEnv))
            return *value;
    if (auto stored = Defaults::string(key))
        if (auto value = table.parse(*stored))
            return *value;
    return fallback;
}

}

std::string rawValue(AppTheme theme) { return themes.raw(theme); }
std::optional<AppTheme> themeFromRaw(const std::string& raw) { return themes.parse(raw); }
std::string rawValue(AppAppearance appearance) { return appearances.raw(appearance); }
std::optional<AppAppearance> appearanceFromRaw(const std::string& raw) { return appearances.parse(raw); }

AppTheme current()
{
    return inForce("BRIVLON_THEME", "theme.v2", themes, AppTheme::macos);
}

AppAppearance appearance()
{
    return inForce("BRIVLON_APPEARANCE", "appearance", appearances, AppAppearance::automatic);
}

void apply()
{
    if (auto applier = Applier::shared())
        applier->apply();
}

}
