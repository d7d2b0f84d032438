#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/appearance.h"

// Device-independent modifier flags, the values the trigger keys stand for.
namespace ModifierFlags {
constexpr unsigned shift = 0x20000;
constexpr unsigned control = 0x40000;
constexpr unsigned option = 0x80000;
constexpr unsigned command = 0x100000;
// Only these four ever take part; caps lock, num lock and the rest are masked away.
constexpr unsigned mask = shift | control | option | command;
}

// A modifier key that triggers a menu mode; off disables it.
enum class TriggerKey { shift, command, control, option, off };

namespace TriggerKeys {
const std::vector<TriggerKey>& all();
std::string rawValue(TriggerKey key);
std::optional<TriggerKey> fromRaw(const std::string& raw);
// The device-independent modifier flag the key stands for (0 for off).
unsigned flag(TriggerKey key);
// "⇧ Shift", "❖ Super", … as the settings window lists them.
std::string title(TriggerKey key);
}

enum class WheelMode { convert, tools, actions };

namespace WheelModes {
const std::vector<WheelMode>& all();
std::string rawValue(WheelMode mode);
std::optional<WheelMode> fromRaw(const std::string& raw);
}

// Where outputs go unless a task says otherwise: beside their source or into the fixed folder.
enum class OutputMode { beside, folder };

namespace OutputModes {
std::string rawValue(OutputMode mode);
std::optional<OutputMode> fromRaw(const std::string& raw);
}

// Every key of the user-defaults store. Its row in settings.cpp gives its name, its type and its
// default, so that no name or default is written anywhere else.
enum class SettingKey {
    theme,
    appearance,
    doneSound,
    cardSound,
    separateKeys,
    singleKey,
    convertKey,
    toolsKey,
    actionsKey,
    outputMode,
    outputFolder,
    revealWhenDone,
    terminalApp,
    hudHidden,
    askQuality,
    quality,  // a family: one key per quality group, "quality.<group>"
    finale,
    haptics,
    fanPlacement,
    loginItemConfigured,
    settingsFrame,
};

// How a key's value is stored: a boolean, free text, or the raw value of an enumeration.
enum class SettingType { boolean, text, choice };

namespace SettingKeys {
const std::vector<SettingKey>& all();
// The name in the store; a family's member is appended after a dot ("quality.jpg").
QString name(SettingKey key, std::string_view member = {});
SettingType type(SettingKey key);
// A boolean key's default.
bool defaultFlag(SettingKey key);
// A text or choice key's default; empty for keys without one (a family's members take theirs
// from their own table, the output folder is the Downloads folder).
std::string defaultText(SettingKey key);
}

// The user-defaults store: ~/.config/Brivlon/Brivlon.json through QSettings with a JSON format
// that keeps types (a stored string "no" stays a string). Every read checks whether the file
// changed and parses it again only then, so a write by another process is seen at the next read.
// Safe from any thread. Reads never fail: a missing or ill-typed value gives the key's default.
namespace Defaults {
QVariant value(SettingKey key, std::string_view member = {});
// Every stored key and its value, as the file holds them now.
QVariantMap all();
// The stored string, or nothing when absent or not a string.
std::optional<std::string> string(SettingKey key, std::string_view member = {});
// The stored boolean, or nothing when absent or not a boolean.
std::optional<bool> boolean(SettingKey key);
// A boolean key: the stored boolean, else its default.
bool flag(SettingKey key);
// A text key: the stored string, else its default.
std::string text(SettingKey key);
// A choice key: the stored raw value parsed by `parse`, else its default parsed.
template <typename Value> Value choice(SettingKey key, std::optional<Value> (*parse)(const std::string&))
{
    auto text = string(key);
    auto value = text ? parse(*text) : std::nullopt;
    if (!value)
        value = parse(SettingKeys::defaultText(key));
    Q_ASSERT(value);
    return value.value_or(Value{});
}
// A member of a family: the stored raw value parsed by `parse`, else `fallback` (the member's
// default, which its own table keeps).
template <typename Value>
Value choice(SettingKey key, std::string_view member, std::optional<Value> (*parse)(const std::string&), Value fallback)
{
    auto text = string(key, member);
    auto value = text ? parse(*text) : std::nullopt;
    return value.value_or(fallback);
}
void set(SettingKey key, const QVariant& value);
void set(SettingKey key, std::string_view member, const QVariant& value);
void remove(SettingKey key, std::string_view member = {});
// The file behind the store.
std::filesystem::path file();
}

// Plain readers for code that runs anywhere. A switch is on until the user turns it off.
namespace Prefs {
bool separateKeys();
bool doneSound();
bool cardSound();
bool askQuality();
// The "outputFolder" path when "outputMode" is exactly "folder" and the path is not empty.
std::optional<std::filesystem::path> fixedOutputFolder();
// The trigger key of a mode, or the single key for no mode; an absent or unknown word gives the
// key's default.
TriggerKey triggerKey(std::optional<WheelMode> mode);
// The key that stores the trigger key of a mode, or the single key's for no mode.
SettingKey triggerSetting(std::optional<WheelMode> mode);
}

// Posts and observes the one cross-cutting notification.
class Notifications : public QObject {
    Q_OBJECT
public:
    static Notifications& shared();
    void postHudVisibilityChanged() { Q_EMIT hudVisibilityChanged(); }
Q_SIGNALS:
    void hudVisibilityChanged();
};
