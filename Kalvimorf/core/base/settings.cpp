#include "core/base/settings.h"

#include "core/base/app_paths.h"
#include "core/base/raw_values.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <mutex>

namespace {

struct TriggerKeyRow {
    TriggerKey value;
    std::string_view raw;
    unsigned flag;
    std::string_view title;
};
constexpr EnumTable<TriggerKeyRow, 5> triggerKeys{{{
    {TriggerKey::shift, "shift", ModifierFlags::shift, "⇧ Shift"},
    {TriggerKey::command, "command", ModifierFlags::command, "⌘ Command"},
    {TriggerKey::control, "control", ModifierFlags::control, "⌃ Control"},
    {TriggerKey::option, "option", ModifierFlags::option, "⌥ Option"},
    {TriggerKey::off, "off", 0, "Desativado"},
}}};

struct WheelModeRow {
    WheelMode value;
    std::string_view raw;
    TriggerKey defaultKey;
};
constexpr EnumTable<WheelModeRow, 3> wheelModes{{{
    {WheelMode::convert, "convert", TriggerKey::shift},
    {WheelMode::tools, "tools", TriggerKey::command},
    {WheelMode::actions, "actions", TriggerKey::control},
}}};

constexpr TriggerKey singleKeyDefault = TriggerKey::shift;

}

namespace TriggerKeys {

const std::vector<TriggerKey>& all()
{
    static const auto keys = triggerKeys.values();
    return keys;
}

std::string rawValue(TriggerKey key) { return triggerKeys.raw(key); }
std::optional<TriggerKey> fromRaw(const std::string& raw) { return triggerKeys.parse(raw); }
unsigned flag(TriggerKey key) { return triggerKeys[key].flag; }
std::string title(TriggerKey key) { return std::string(triggerKeys[key].title); }

}

namespace WheelModes {

const std::vector<WheelMode>& all()
{
    static const auto modes = wheelModes.values();
    return modes;
}

std::string rawValue(WheelMode mode) { return wheelModes.raw(mode); }
std::optional<WheelMode> fromRaw(const std::string& raw) { return wheelModes.parse(raw); }

}

namespace Defaults {

namespace {

// JSON keeps a value's type, where INI would turn every boolean into the text "true".
bool readJson(QIODevice& device, QSettings::SettingsMap& map)
{
    const auto bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    map = document.object().toVariantMap();
    return true;
}

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map)
{
    const auto bytes = QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Indented);
    return device.write(bytes) == bytes.size();
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format = QSettings::registerFormat("json", readJson, writeJson);
    return format;
}

// A fresh object per use: QSettings reloads the file when it changed on disk, and objects are
// not shared between threads.
std::unique_ptr<QSettings> open()
{
    auto settings = std::make_unique<QSettings>(jsonFormat(), QSettings::UserScope, "Brivlon", "Brivlon");
    settings->setFallbacksEnabled(false);
    return settings;
}

// What tells one version of the file from another without reading it. A write through QSettings
// replaces the file (new inode); a write in place changes the modification time or the size.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;  // -1: no file
    timespec modified{};
    timespec changed{};
    bool operator==(const Stamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size
            && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
            && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

Stamp stampOf(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// File times move in steps of the kernel's clock tick, so two writes within one tick can leave
// the same time behind. A file that changed less than this long ago is read again next time.
constexpr double settleSeconds = 0.05;

bool settled(const Stamp& stamp)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double age = double(now.tv_sec - stamp.modified.tv_sec) + (now.tv_nsec - stamp.modified.tv_nsec) / 1e9;
    const double changeAge = double(now.tv_sec - stamp.changed.tv_sec) + (now.tv_nsec - stamp.changed.tv_nsec) / 1e9;
    return std::min(age, changeAge) >= settleSeconds;
}

// The parsed store, read again only when the file is not the one last read: a read costs one
// stat() instead of an open and a parse, and a write by another process is still seen at once.
QVariantMap snapshot()
{
    static std::mutex mutex;
    static QVariantMap values;
    static std::optional<Stamp> trusted;

    static const std::string path = file().string();
    const Stamp stamp = stampOf(path);
    std::lock_guard lock(mutex);
    if (trusted && *trusted == stamp)
        return values;
    QSettings::SettingsMap map;
    QFile device(QString::fromStdString(path));
    if (stamp.size >= 0 && device.open(QIODevice::ReadOnly) && !readJson(device, map))
        map.clear();
    values = map;
    trusted.reset();
    if (settled(stamp))
        trusted = stamp;
    return values;
}

}

QVariant value(const QString& key) { return snapshot().value(key); }

bool contains(const QString& key) { return snapshot().contains(key); }

std::optional<std::string> string(const QString& key)
{
    const auto stored = value(key);
    if (stored.typeId() != QMetaType::QString)
        return std::nullopt;
    return stored.toString().toStdString();
}

std::optional<bool> boolean(const QString& key)
{
    const auto stored = value(key);
    if (stored.typeId() != QMetaType::Bool)
        return std::nullopt;
    return stored.toBool();
}

void set(const QString& key, const QVariant& value)
{
    auto settings = open();
    settings->setValue(key, value);
    settings->sync();
}

void remove(const QString& key)
{
    auto settings = open();
    settings->remove(key);
    settings->sync();
}

std::filesystem::path file()
{
    // QSettings settles the path of a scope once per process, so it is asked once too.
    static const std::filesystem::path path = open()->fileName().toStdString();
    return path;
}

}

namespace Prefs {

bool switchOn(const QString& key) { return Defaults::boolean(key).value_or(true); }

bool separateKeys() { return switchOn("separateKeys"); }
bool doneSound() { return switchOn("doneSound"); }
bool cardSound() { return switchOn("cardSound"); }
bool askQuality() { return switchOn("quality.ask"); }

std::optional<std::filesystem::path> fixedOutputFolder()
{
    if (Defaults::string("outputMode") != std::optional<std::string>("folder"))
        return std::nullopt;
    auto folder = Defaults::string("outputFolder");
    if (!folder || folder->empty())
        return std::nullopt;
    return std::filesystem::path(*folder);
}

TriggerKey triggerKey(std::optional<WheelMode> mode)
{
    if (!mode)
        return Defaults::stored("key.single", TriggerKeys::fromRaw, singleKeyDefault);
    const auto key = QString::fromStdString("key." + WheelModes::rawValue(*mode));
    return Defaults::stored(key, TriggerKeys::fromRaw, wheelModes[*mode].defaultKey);
}

}

Notifications& Notifications::shared()
{
    static auto* instance = new Notifications;
    return *instance;
}
