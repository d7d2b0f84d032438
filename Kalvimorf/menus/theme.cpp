#include "menus/theme.h"

#include "core/raw_values.h"
#include "core/settings.h"

#include <cstdlib>

namespace Theme {

namespace {
void (*applyHook)() = nullptr;

std::optional<std::string> env(const char* name)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}
}

std::string rawValue(AppTheme theme)
{
    switch (theme) {
    case AppTheme::macos: return "macos";
    case AppTheme::classic: return "classic";
    case AppTheme::stage: return "stage";
    }
    return {};
}

std::optional<AppTheme> themeFromRaw(const std::string& raw)
{
    const AppTheme themes[] = {AppTheme::macos, AppTheme::classic, AppTheme::stage};
    return parseRaw<AppTheme>(themes, [](AppTheme theme) { return rawValue(theme); }, raw);
}

std::string rawValue(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::automatic: return "auto";
    case AppAppearance::light: return "light";
    case AppAppearance::dark: return "dark";
    }
    return {};
}

std::optional<AppAppearance> appearanceFromRaw(const std::string& raw)
{
    const AppAppearance appearances[] = {AppAppearance::automatic, AppAppearance::light, AppAppearance::dark};
    return parseRaw<AppAppearance>(appearances, [](AppAppearance value) { return rawValue(value); }, raw);
}

namespace {
// The environment's choice first, then the stored one; unknown words count as absent.
template <typename Value>
Value inForce(const char* variable, const QString& key, std::optional<Value> (*parse)(const std::string&), Value fallback)
{
    if (auto fromEnv = env(variable))
        if (auto value = parse(*fromEnv))
            return *value;
    if (auto stored = Defaults::string(key))
        if (auto value = parse(*stored))
            return *value;
    return fallback;
}
}

AppTheme current()
{
    return inForce("BRIVLON_THEME", "theme.v2", themeFromRaw, AppTheme::macos);
}

AppAppearance appearance()
{
    return inForce("BRIVLON_APPEARANCE", "appearance", appearanceFromRaw, AppAppearance::automatic);
}

void apply()
{
    if (applyHook)
        applyHook();
}

void setApplyHook(void (*hook)())
{
    applyHook = hook;
}

}
