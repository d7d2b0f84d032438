#include "menus/theme.h"

#include "core/raw_values.h"
#include "core/settings.h"

#include <QProcessEnvironment>

namespace Theme {

namespace {
void (*applyHook)() = nullptr;

// The environment as it was when the theme was first asked for; later changes to the process
// environment do not count.
std::optional<std::string> env(const char* name)
{
    static const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QString::fromLatin1(name)))
        return std::nullopt;
    return environment.value(QString::fromLatin1(name)).toStdString();
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
// A variable that exists decides, even empty or unknown (then the fallback, without a look at
// the store); otherwise the stored choice, where unknown words count as absent.
template <typename Value>
Value inForce(const char* variable, const QString& key, std::optional<Value> (*parse)(const std::string&), Value fallback)
{
    if (auto fromEnv = env(variable))
        return parse(*fromEnv).value_or(fallback);
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
