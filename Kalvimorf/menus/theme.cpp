#include "menus/theme.h"

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
    for (auto theme : {AppTheme::macos, AppTheme::classic, AppTheme::stage})
        if (rawValue(theme) == raw)
            return theme;
    return std::nullopt;
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
    for (auto appearance : {AppAppearance::automatic, AppAppearance::light, AppAppearance::dark})
        if (rawValue(appearance) == raw)
            return appearance;
    return std::nullopt;
}

AppTheme current()
{
    if (auto fromEnv = env("BRIVLON_THEME"))
        if (auto theme = themeFromRaw(*fromEnv))
            return *theme;
    if (auto stored = Defaults::string("theme.v2"))
        if (auto theme = themeFromRaw(*stored))
            return *theme;
    return AppTheme::macos;
}

AppAppearance appearance()
{
    if (auto fromEnv = env("BRIVLON_APPEARANCE"))
        if (auto value = appearanceFromRaw(*fromEnv))
            return *value;
    if (auto stored = Defaults::string("appearance"))
        if (auto value = appearanceFromRaw(*stored))
            return *value;
    return AppAppearance::automatic;
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
