#include "core/state/settings_model.h"

#include "core/base/app_paths.h"
#include "core/state/alert.h"
#include "core/state/login_item.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString storeFile() { return QString::fromStdString(Defaults::file().string()); }

}

SettingsModel& SettingsModel::shared()
{
    static auto* instance = new SettingsModel;
    return *instance;
}

SettingsModel::SettingsModel() : stored_(load()), seen_(Defaults::all())
{
    auto loginItem = LoginItem::shared();
    launchAtLogin_ = loginItem && loginItem->isEnabled();
    connect(&Notifications::shared(), &Notifications::hudVisibilityChanged, this, [this] {
        refresh(false);
    });
    watch();
}

SettingsModel::Stored SettingsModel::load()
{
    const auto folder = Defaults::string(SettingKey::outputFolder);
    return {
        .theme = Theme::current(),
        .appearance = Theme::appearance(),
        .doneSound = Defaults::flag(SettingKey::doneSound),
        .separateKeys = Defaults::flag(SettingKey::separateKeys),
        .singleKey = Prefs::triggerKey(std::nullopt),
        .convertKey = Prefs::triggerKey(WheelMode::convert),
        .toolsKey = Prefs::triggerKey(WheelMode::tools),
        .actionsKey = Prefs::triggerKey(WheelMode::actions),
        .outputBeside = Defaults::choice(SettingKey::outputMode, OutputModes::fromRaw) == OutputMode::beside,
        .outputFolder = QString::fromStdString(folder ? *folder : AppPaths::downloads().string()),
        .revealWhenDone = Defaults::flag(SettingKey::revealWhenDone),
        .terminalApp = QString::fromStdString(Defaults::text(SettingKey::terminalApp)),
        .showHUD = !Defaults::flag(SettingKey::hudHidden),
    };
}

// QSettings writes a new file and renames it over the old one, which ends a watch on the file
// itself; the folder's watch sees the rename, and the new file is watched again.
void SettingsModel::watch()
{
    const auto file = storeFile();
    const auto folder = QFileInfo(file).absolutePath();
    QDir().mkpath(folder);
    watcher_.addPath(folder);
    if (QFileInfo::exists(file))
        watcher_.addPath(file);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &SettingsModel::storeTouched);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &SettingsModel::storeTouched);
}

void SettingsModel::storeTouched()
{
    const auto file = storeFile();
    if (!watcher_.files().contains(file) && QFileInfo::exists(file))
        watcher_.addPath(file);
    refresh(false);
}

void SettingsModel::refresh(bool changedHere)
{
    auto store = Defaults::all();
    auto now = load();
    const bool differs = changedHere || store != seen_ || now != stored_;
    seen_ = std::move(store);
    stored_ = std::move(now);
    if (differs)
        Q_EMIT changed();
}

void SettingsModel::setTheme(AppTheme value)
{
    const bool differs = stored_.theme != value;
    stored_.theme = value;
    Defaults::set(SettingKey::theme, QString::fromStdString(Theme::rawValue(value)));
    Theme::apply();
    refresh(differs);
}

void SettingsModel::setAppearance(AppAppearance value)
{
    const bool differs = stored_.appearance != value;
    stored_.appearance = value;
    Defaults::set(SettingKey::appearance, QString::fromStdString(Theme::rawValue(value)));
    Theme::apply();
    refresh(differs);
}

void SettingsModel::setDoneSound(bool value) { write(&Stored::doneSound, value, SettingKey::doneSound, value); }

void SettingsModel::setTab(const QString& value)
{
    if (tab_ == value)
        return;
    tab_ = value;
    Q_EMIT changed();
}

void SettingsModel::setSeparateKeys(bool value)
{
    write(&Stored::separateKeys, value, SettingKey::separateKeys, value);
}

void SettingsModel::setSingleKey(TriggerKey value)
{
    write(&Stored::singleKey, value, Prefs::triggerSetting(std::nullopt),
        QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setConvertKey(TriggerKey value)
{
    write(&Stored::convertKey, value, Prefs::triggerSetting(WheelMode::convert),
        QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setToolsKey(TriggerKey value)
{
    write(&Stored::toolsKey, value, Prefs::triggerSetting(WheelMode::tools),
        QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setActionsKey(TriggerKey value)
{
    write(&Stored::actionsKey, value, Prefs::triggerSetting(WheelMode::actions),
        QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setOutputBeside(bool value)
{
    const auto mode = value ? OutputMode::beside : OutputMode::folder;
    write(&Stored::outputBeside, value, SettingKey::outputMode, QString::fromStdString(OutputModes::rawValue(mode)));
}

void SettingsModel::setOutputFolder(const QString& value)
{
    write(&Stored::outputFolder, value, SettingKey::outputFolder, value);
}

void SettingsModel::setRevealWhenDone(bool value)
{
    write(&Stored::revealWhenDone, value, SettingKey::revealWhenDone, value);
}

void SettingsModel::setTerminalApp(const QString& value)
{
    write(&Stored::terminalApp, value, SettingKey::terminalApp, value);
}

void SettingsModel::setShowHUD(bool value)
{
    const bool differs = stored_.showHUD != value;
    stored_.showHUD = value;
    // Only a real change is written and announced, so that the model's own observer, which
    // calls back here, finds them in agreement and stops.
    if (Defaults::flag(SettingKey::hudHidden) != value) {
        refresh(differs);
        return;
    }
    Defaults::set(SettingKey::hudHidden, !value);
    refresh(differs);
    Notifications::shared().postHudVisibilityChanged();
}

void SettingsModel::setLaunchAtLogin(bool value)
{
    const bool differs = launchAtLogin_ != value;
    launchAtLogin_ = value;
    auto loginItem = LoginItem::shared();
    const bool enabled = loginItem && loginItem->isEnabled();
    if (enabled != value && !(loginItem && loginItem->setEnabled(value)))
        Alert::beep();
    if (differs)
        Q_EMIT changed();
}

TriggerKey SettingsModel::key(WheelMode mode) const
{
    switch (mode) {
    case WheelMode::convert: return stored_.convertKey;
    case WheelMode::tools: return stored_.toolsKey;
    case WheelMode::actions: return stored_.actionsKey;
    }
    return stored_.convertKey;
}

void SettingsModel::useFolder(const QString& path)
{
    setOutputFolder(path);
    setOutputBeside(false);
}
