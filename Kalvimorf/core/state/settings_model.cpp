#include "core/state/settings_model.h"

#include "core/base/app_paths.h"
#include "core/state/alert.h"
#include "core/state/login_item.h"

SettingsModel& SettingsModel::shared()
{
    static auto* instance = new SettingsModel;
    return *instance;
}

SettingsModel::SettingsModel()
{
    theme_ = Theme::current();
    appearance_ = Theme::appearance();
    doneSound_ = Prefs::switchOn("doneSound");
    separateKeys_ = Prefs::switchOn("separateKeys");
    singleKey_ = Prefs::triggerKey(std::nullopt);
    convertKey_ = Prefs::triggerKey(WheelMode::convert);
    toolsKey_ = Prefs::triggerKey(WheelMode::tools);
    actionsKey_ = Prefs::triggerKey(WheelMode::actions);
    outputBeside_ = Defaults::string("outputMode") != std::optional<std::string>("folder");
    if (auto folder = Defaults::string("outputFolder"))
        outputFolder_ = QString::fromStdString(*folder);
    else
        outputFolder_ = QString::fromStdString(AppPaths::downloads().string());
    revealWhenDone_ = Defaults::boolean("revealWhenDone").value_or(false);
    terminalApp_ = QString::fromStdString(Defaults::string("terminalApp").value_or("Terminal"));
    showHUD_ = !Defaults::boolean("hudHidden").value_or(false);
    auto loginItem = LoginItem::shared();
    launchAtLogin_ = loginItem && loginItem->isEnabled();
    connect(&Notifications::shared(), &Notifications::hudVisibilityChanged, this, &SettingsModel::onHudNotification);
}

void SettingsModel::onHudNotification()
{
    const bool hidden = Defaults::boolean("hudHidden").value_or(false);
    if (showHUD_ == hidden)
        setShowHUD(!hidden);
}

void SettingsModel::setTheme(AppTheme value)
{
    publish(theme_, value);
    Defaults::set("theme.v2", QString::fromStdString(Theme::rawValue(value)));
    Theme::apply();
}

void SettingsModel::setAppearance(AppAppearance value)
{
    publish(appearance_, value);
    Defaults::set("appearance", QString::fromStdString(Theme::rawValue(value)));
    Theme::apply();
}

void SettingsModel::setDoneSound(bool value)
{
    publish(doneSound_, value);
    Defaults::set("doneSound", value);
}

void SettingsModel::setTab(const QString& value) { publish(tab_, value); }

void SettingsModel::setSeparateKeys(bool value)
{
    publish(separateKeys_, value);
    Defaults::set("separateKeys", value);
}

void SettingsModel::setSingleKey(TriggerKey value)
{
    publish(singleKey_, value);
    Defaults::set("key.single", QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setConvertKey(TriggerKey value)
{
    publish(convertKey_, value);
    Defaults::set("key.convert", QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setToolsKey(TriggerKey value)
{
    publish(toolsKey_, value);
    Defaults::set("key.tools", QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setActionsKey(TriggerKey value)
{
    publish(actionsKey_, value);
    Defaults::set("key.actions", QString::fromStdString(TriggerKeys::rawValue(value)));
}

void SettingsModel::setOutputBeside(bool value)
{
    publish(outputBeside_, value);
    Defaults::set("outputMode", value ? QStringLiteral("beside") : QStringLiteral("folder"));
}

void SettingsModel::setOutputFolder(const QString& value)
{
    publish(outputFolder_, value);
    Defaults::set("outputFolder", value);
}

void SettingsModel::setRevealWhenDone(bool value)
{
    publish(revealWhenDone_, value);
    Defaults::set("revealWhenDone", value);
}

void SettingsModel::setTerminalApp(const QString& value)
{
    publish(terminalApp_, value);
    Defaults::set("terminalApp", value);
}

void SettingsModel::setShowHUD(bool value)
{
    publish(showHUD_, value);
    const bool hidden = Defaults::boolean("hudHidden").value_or(false);
    if (hidden == value) {
        Defaults::set("hudHidden", !value);
        Notifications::shared().postHudVisibilityChanged();
    }
}

void SettingsModel::setLaunchAtLogin(bool value)
{
    publish(launchAtLogin_, value);
    auto loginItem = LoginItem::shared();
    const bool enabled = loginItem && loginItem->isEnabled();
    if (enabled != value && !(loginItem && loginItem->setEnabled(value)))
        Alert::beep();
}

TriggerKey SettingsModel::key(WheelMode mode) const
{
    switch (mode) {
    case WheelMode::convert: return convertKey_;
    case WheelMode::tools: return toolsKey_;
    case WheelMode::actions: return actionsKey_;
    }
    return convertKey_;
}

void SettingsModel::useFolder(const QString& path)
{
    setOutputFolder(path);
    setOutputBeside(false);
}
