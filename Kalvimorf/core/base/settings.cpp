#include "core/base/settings.h"

#include "core/base/app_paths.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/raw_values.h"

#include <QBuffer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <variant>

namespace {

struct TriggerKeyRow {
    TriggerKey value;
    std::string_view raw;
    unsigned flag;
    std::string_view title;
};
constexpr EnumTable<TriggerKeyRow, 5> triggerKeys{{{
    {TriggerKey::shift, "shift", ModifierFlags::shift, "⇧ Shift"},
    {TriggerKey::command, "command", ModifierFlags::command, "❖ Super"},
    {TriggerKey::control, "control", ModifierFlags::control, "⌃ Ctrl"},
    {TriggerKey::option, "option", ModifierFlags::option, "⎇ Alt"},
    {TriggerKey::off, "off", 0, "Desativado"},
}}};

struct WheelModeRow {
    WheelMode value;
    std::string_view raw;
    SettingKey key;
};
constexpr EnumTable<WheelModeRow, 3> wheelModes{{{
    {WheelMode::convert, "convert", SettingKey::convertKey},
    {WheelMode::tools, "tools", SettingKey::toolsKey},
    {WheelMode::actions, "actions", SettingKey::actionsKey},
}}};

struct OutputModeRow {
    OutputMode value;
    std::string_view raw;
};
constexpr EnumTable<OutputModeRow, 2> outputModes{{{
    {OutputMode::beside, "beside"},
    {OutputMode::folder, "folder"},
}}};

// A boolean key's default, or the word a text or choice key falls back to.
using Fallback = std::variant<bool, std::string_view>;

struct KeyRow {
    SettingKey value;
    std::string_view raw;  // the name in the store
    SettingType type;
    Fallback fallback;
};
constexpr EnumTable<KeyRow, 21> keys{{{
    {SettingKey::theme, "theme.v2", SettingType::choice, "macos"},
    {SettingKey::appearance, "appearance", SettingType::choice, "auto"},
    {SettingKey::doneSound, "doneSound", SettingType::boolean, true},
    {SettingKey::cardSound, "cardSound", SettingType::boolean, true},
    {SettingKey::separateKeys, "separateKeys", SettingType::boolean, true},
    {SettingKey::singleKey, "key.single", SettingType::choice, "shift"},
    {SettingKey::convertKey, "key.convert", SettingType::choice, "shift"},
    {SettingKey::toolsKey, "key.tools", SettingType::choice, "command"},
    {SettingKey::actionsKey, "key.actions", SettingType::choice, "control"},
    {SettingKey::outputMode, "outputMode", SettingType::choice, "beside"},
    {SettingKey::outputFolder, "outputFolder", SettingType::text, ""},
    {SettingKey::revealWhenDone, "revealWhenDone", SettingType::boolean, false},
    {SettingKey::terminalApp, "terminalApp", SettingType::text, "Terminal"},
    {SettingKey::hudHidden, "hudHidden", SettingType::boolean, false},
    {SettingKey::askQuality, "quality.ask", SettingType::boolean, true},
    {SettingKey::quality, "quality", SettingType::choice, ""},
    {SettingKey::finale, "sound.finale", SettingType::choice, "wand"},
    {SettingKey::haptics, "haptics", SettingType::choice, "strong"},
    {SettingKey::fanPlacement, "fan.placement", SettingType::choice, "cursor"},
    {SettingKey::loginItemConfigured, "loginItemConfigured", SettingType::boolean, false},
    {SettingKey::settingsFrame, "AjustesBrivlon", SettingType::text, ""},
}}};

// A boolean key falls back to a boolean, every other key to a word; no two keys share a name.
constexpr bool rowsAreSound()
{
    for (size_t i = 0; i < keys.rows.size(); ++i) {
        if (std::holds_alternative<bool>(keys.rows[i].fallback) != (keys.rows[i].type == SettingType::boolean))
            return false;
        for (size_t j = 0; j < i; ++j)
            if (keys.rows[i].raw == keys.rows[j].raw)
                return false;
    }
    return true;
}
static_assert(rowsAreSound());
}

namespace SettingKeys {

const std::vector<SettingKey>& all()
{
    static const auto list = keys.values();
    return list;
}

QString name(SettingKey key, std::string_view member)
{
    auto name = keys.raw(key);
    if (!member.empty())
        name.append(".").append(member);
    return QString::fromStdString(name);
}

SettingType type(SettingKey key) { return keys[key].type; }

bool defaultFlag(SettingKey key)
{
    const auto* flag = std::get_if<bool>(&keys[key].fallback);
    return flag && *flag;
}

std::string defaultText(SettingKey key)
{
    const auto* text = std::get_if<std::string_view>(&keys[key].fallback);
    return text ? std::string(*text) : std::string();
}

}

namespace OutputModes {
std::string rawValue(OutputMode mode) { return outputModes.raw(mode); }
std::optional<OutputMode> fromRaw(const std::string& raw) { return outputModes.parse(raw); }
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

// Settings take a few kilobytes; a megabyte leaves room for any file a person edits. A larger
// file, or anything that is no regular file (a link to /dev/zero, a pipe, a folder), is no
// settings file: it would be read for ever, hold every reader or fill the memory. It counts as
// empty, and it is never written over: it may be the user's own.
constexpr qint64 maxFileBytes = 1 << 20;

// JSON keeps a value's type, where INI would turn every boolean into the text "true".
bool readJson(QIODevice& device, QSettings::SettingsMap& map)
{
    if (device.isSequential() || device.size() > maxFileBytes)
        return false;
    const auto bytes = device.read(maxFileBytes);
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

enum class FileState { absent, sane, odd };

// What stands at the settings path, followed through links, opened without waiting on a pipe;
// `bytes`, when given, receives a sane file's content.
FileState inspect(const std::string& path, QByteArray* bytes = nullptr)
{
    const FileSafety::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return errno == ENOENT ? FileState::absent : FileState::odd;
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxFileBytes)
        return FileState::odd;
    if (!bytes)
        return FileState::sane;
    // The file may grow between the look and the read: never more than the bound is read.
    const auto read = FileSafety::readUpTo(fd.get(), size_t(maxFileBytes) + 1);
    if (!read || read->size() > size_t(maxFileBytes))
        return FileState::odd;
    *bytes = QByteArray(read->data(), qsizetype(read->size()));
    return FileState::sane;
}

void reportOdd(const std::string& path)
{
    ErrorLog::add("Ajustes: " + path
        + " não é um arquivo comum de até 1 MiB; valem os ajustes padrão e o arquivo não é alterado.");
}

// A fresh object per use: QSettings reloads the file when it changed on disk, and objects are
// not shared between threads. Nothing when the file is odd: QSettings would read it whole.
std::unique_ptr<QSettings> open()
{
    if (inspect(file().string()) == FileState::odd) {
        reportOdd(file().string());
        return nullptr;
    }
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
    // The odd file last told of in the error log, so that it is told once, not at every read.
    static std::optional<Stamp> reported;

    static const std::string path = file().string();
    const Stamp stamp = stampOf(path);
    std::lock_guard lock(mutex);
    if (trusted && *trusted == stamp)
        return values;
    QSettings::SettingsMap map;
    QByteArray bytes;
    if (stamp.size >= 0) {
        if (inspect(path, &bytes) == FileState::odd) {
            if (!reported || !(*reported == stamp))
                reportOdd(path);
            reported = stamp;
        } else {
            QBuffer device(&bytes);
            if (device.open(QIODevice::ReadOnly) && !readJson(device, map))
                map.clear();
        }
    }
    values = map;
    trusted.reset();
    if (settled(stamp))
        trusted = stamp;
    return values;
}

}

QVariant value(SettingKey key, std::string_view member) { return snapshot().value(SettingKeys::name(key, member)); }

QVariantMap all() { return snapshot(); }

std::optional<std::string> string(SettingKey key, std::string_view member)
{
    const auto stored = value(key, member);
    if (stored.typeId() != QMetaType::QString)
        return std::nullopt;
    return stored.toString().toStdString();
}

std::optional<bool> boolean(SettingKey key)
{
    const auto stored = value(key);
    if (stored.typeId() != QMetaType::Bool)
        return std::nullopt;
    return stored.toBool();
}

bool flag(SettingKey key) { return boolean(key).value_or(SettingKeys::defaultFlag(key)); }

std::string text(SettingKey key) { return string(key).value_or(SettingKeys::defaultText(key)); }

void set(SettingKey key, std::string_view member, const QVariant& value)
{
    auto settings = open();
    if (!settings)
        return;
    settings->setValue(SettingKeys::name(key, member), value);
    settings->sync();
}

void set(SettingKey key, const QVariant& value) { set(key, {}, value); }

void remove(SettingKey key, std::string_view member)
{
    auto settings = open();
    if (!settings)
        return;
    settings->remove(SettingKeys::name(key, member));
    settings->sync();
}

std::filesystem::path file()
{
    // Where QSettings keeps a user-scope file on this platform, found without a QSettings object,
    // which reads the file as it is made. Settled once per process, as QSettings settles it.
    static const std::filesystem::path path = [] {
        auto folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        if (folder.isEmpty())
            folder = QDir::homePath() + QStringLiteral("/.config");
        return std::filesystem::path((folder + QStringLiteral("/Brivlon/Brivlon.json")).toStdString());
    }();
    return path;
}

}

namespace Prefs {

bool separateKeys() { return Defaults::flag(SettingKey::separateKeys); }
bool doneSound() { return Defaults::flag(SettingKey::doneSound); }
bool cardSound() { return Defaults::flag(SettingKey::cardSound); }
bool askQuality() { return Defaults::flag(SettingKey::askQuality); }

std::optional<std::filesystem::path> fixedOutputFolder()
{
    if (Defaults::choice(SettingKey::outputMode, OutputModes::fromRaw) != OutputMode::folder)
        return std::nullopt;
    const auto folder = Defaults::text(SettingKey::outputFolder);
    if (folder.empty())
        return std::nullopt;
    return std::filesystem::path(folder);
}

SettingKey triggerSetting(std::optional<WheelMode> mode)
{
    return mode ? wheelModes[*mode].key : SettingKey::singleKey;
}

TriggerKey triggerKey(std::optional<WheelMode> mode)
{
    return Defaults::choice(triggerSetting(mode), TriggerKeys::fromRaw);
}

}

Notifications& Notifications::shared()
{
    static auto* instance = new Notifications;
    return *instance;
}
