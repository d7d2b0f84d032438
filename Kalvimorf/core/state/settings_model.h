#pragma once

#include "core/base/settings.h"

#include <QObject>
#include <QString>

// The observable settings object of the settings window; main thread only. Every setter writes
// through at once, also when the value is unchanged.
class SettingsModel : public QObject {
    Q_OBJECT
public:
    static SettingsModel& shared();

    AppTheme theme() const { return theme_; }
    AppAppearance appearance() const { return appearance_; }
    bool doneSound() const { return doneSound_; }
    const QString& tab() const { return tab_; }
    bool separateKeys() const { return separateKeys_; }
    TriggerKey singleKey() const { return singleKey_; }
    TriggerKey convertKey() const { return convertKey_; }
    TriggerKey toolsKey() const { return toolsKey_; }
    TriggerKey actionsKey() const { return actionsKey_; }
    bool outputBeside() const { return outputBeside_; }
    const QString& outputFolder() const { return outputFolder_; }
    bool revealWhenDone() const { return revealWhenDone_; }
    const QString& terminalApp() const { return terminalApp_; }
    bool showHUD() const { return showHUD_; }
    bool launchAtLogin() const { return launchAtLogin_; }

    void setTheme(AppTheme value);
    void setAppearance(AppAppearance value);
    void setDoneSound(bool value);
    void setTab(const QString& value);
    void setSeparateKeys(bool value);
    void setSingleKey(TriggerKey value);
    void setConvertKey(TriggerKey value);
    void setToolsKey(TriggerKey value);
    void setActionsKey(TriggerKey value);
    void setOutputBeside(bool value);
    void setOutputFolder(const QString& value);
    void setRevealWhenDone(bool value);
    void setTerminalApp(const QString& value);
    void setShowHUD(bool value);
    void setLaunchAtLogin(bool value);

    TriggerKey key(WheelMode mode) const;
    // Stores a folder picked by the user: its path, then "outputMode" = "folder".
    void useFolder(const QString& path);

    // Builds a model from the store as it is now (the shared one is built on first use).
    SettingsModel();

Q_SIGNALS:
    // Sent before a published property changes, and by whoever writes keys the model does not own.
    void willChange();

private:
    void onHudNotification();
    // Announces the change, then stores the new value.
    template <typename Value> void publish(Value& field, const Value& value)
    {
        Q_EMIT willChange();
        field = value;
    }

    // All loaded from the store by the constructor.
    AppTheme theme_;
    AppAppearance appearance_;
    bool doneSound_;
    QString tab_ = "geral";
    bool separateKeys_;
    TriggerKey singleKey_;
    TriggerKey convertKey_;
    TriggerKey toolsKey_;
    TriggerKey actionsKey_;
    bool outputBeside_;
    QString outputFolder_;
    bool revealWhenDone_;
    QString terminalApp_;
    bool showHUD_;
    bool launchAtLogin_;
};
