#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <filesystem>
#include <optional>
#include <string>
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
// "⇧ Shift", "⌘ Command", … as the settings window lists them.
std::string title(TriggerKey key);
}

enum class WheelMode { convert, tools, actions };

namespace WheelModes {
const std::vector<WheelMode>& all();
std::string rawValue(WheelMode mode);
std::optional<WheelMode> fromRaw(const std::string& raw);
}

// The user-defaults store: ~/.config/Brivlon/Brivlon.json through QSettings with a JSON format
// that keeps types (a stored string "no" stays a string). Every read checks whether the file
// changed and parses it again only then, so a write by another process is seen at the next read.
// Safe from any thread.
namespace Defaults {
QVariant value(const QString& key);
bool contains(const QString& key);
// The stored string, or nothing when absent or not a string.
std::optional<std::string> string(const QString& key);
// The stored boolean, or nothing when absent or not a boolean.
std::optional<bool> boolean(const QString& key);
// A stored enumeration: the raw value parsed by `parse`, else `fallback`.
template <typename Value>
Value stored(const QString& key, std::optional<Value> (*parse)(const std::string&), Value fallback)
{
    auto text = string(key);
    auto value = text ? parse(*text) : std::nullopt;
    return value.value_or(fallback);
}
void set(const QString& key, const QVariant& value);
void remove(const QString& key);
// The file behind the store.
std::filesystem::path file();
}

// Plain readers for code that runs anywhere.
namespace Prefs {
bool separateKeys();
bool doneSound();
bool cardSound();
bool askQuality();
std::optional<std::filesystem::path> fixedOutputFolder();
// The trigger key of a mode, or the single key for no mode; an absent or unknown word gives the
// default (shift for the single key and convert, command for tools, control for actions).
TriggerKey triggerKey(std::optional<WheelMode> mode);
// The switch rule: a stored boolean, else true.
bool switchOn(const QString& key);
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
