#include "core/base/appearance.h"

#include "core/base/raw_values.h"
#include "core/base/settings.h"

#include <QProcessEnvironment>

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

// The environment as it was when the look was first asked for; later changes to the process
// environment do not count.
std::optional<std::string> env(const char* name)
{
    static const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QString::fromLatin1(name)))
        return std::nullopt;
    return environment.value(QString::fromLatin1(name)).toStdString();
}

// A variable that exists decides, even empty or unknown (then the key's default, without a look
// at the store); otherwise the stored choice, where unknown words count as absent.
template <typename Value>
Value inForce(const char* variable, SettingKey key, std::optional<Value> (*parse)(const std::string&))
{
    if (auto fromEnv = env(variable))
        return parse(*fromEnv).value_or(*parse(SettingKeys::defaultText(key)));
    return Defaults::choice(key, parse);
}

}

std::string rawValue(AppTheme theme) { return themes.raw(theme); }
std::optional<AppTheme> themeFromRaw(const std::string& raw) { return themes.parse(raw); }
std::string rawValue(AppAppearance appearance) { return appearances.raw(appearance); }
std::optional<AppAppearance> appearanceFromRaw(const std::string& raw) { return appearances.parse(raw); }

AppTheme current() { return inForce("BRIVLON_THEME", SettingKey::theme, themeFromRaw); }

AppAppearance appearance() { return inForce("BRIVLON_APPEARANCE", SettingKey::appearance, appearanceFromRaw); }

void apply()
{
    if (auto applier = Applier::shared())
        applier->apply();
}

}
