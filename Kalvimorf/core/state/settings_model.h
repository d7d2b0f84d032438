#pragma once

#include "core/base/settings.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QVariantMap>

// The observable settings object of the settings window; main thread only. Every setter writes
// through at once, also when the value is unchanged. The model follows the store: a write by
// another process or another part of the program reaches it through a watch on the store's file.
class SettingsModel : public QObject {
    Q_OBJECT
public:
    static SettingsModel& shared();

    AppTheme theme() const { return stored_.theme; }
    AppAppearance appearance() const { return stored_.appearance; }
    bool doneSound() const { return stored_.doneSound; }
    const QString& tab() const { return tab_; }
    bool separateKeys() const { return stored_.separateKeys; }
    TriggerKey singleKey() const { return stored_.singleKey; }
    TriggerKey convertKey() const { return stored_.convertKey; }
    TriggerKey toolsKey() const { return stored_.toolsKey; }
    TriggerKey actionsKey() const { return stored_.actionsKey; }
    bool outputBeside() const { return stored_.outputBeside; }
    const QString& outputFolder() const { return stored_.outputFolder; }
    bool revealWhenDone() const { return stored_.revealWhenDone; }
    const QString& terminalApp() const { return stored_.terminalApp; }
    bool showHUD() const { return stored_.showHUD; }
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
    // Sent after a change: of one of the model's values, through a setter or a write to the store
    // from elsewhere, or of any other key of the store (the settings window shows those too).
    void changed();

private:
    // What the model mirrors from the store.
    struct Stored {
        AppTheme theme;
        AppAppearance appearance;
        bool doneSound;
        bool separateKeys;
        TriggerKey singleKey;
        TriggerKey convertKey;
        TriggerKey toolsKey;
        TriggerKey actionsKey;
        bool outputBeside;
        QString outputFolder;
        bool revealWhenDone;
        QString terminalApp;
        bool showHUD;
        bool operator==(const Stored&) const = default;
    };
    static Stored load();

    // Sets one mirrored value and writes it through.
    template <typename Value> void write(Value Stored::*field, const Value& value, SettingKey key, const QVariant& raw)
    {
        const bool differs = stored_.*field != value;
        stored_.*field = value;
        Defaults::set(key, raw);
        refresh(differs);
    }
    // Takes the store as it is now; sends `changed` when anything differs from what was seen, or
    // when the caller already changed something.
    void refresh(bool changedHere);
    void watch();
    void storeTouched();

    Stored stored_;
    QVariantMap seen_;
    QString tab_ = "geral";
    bool launchAtLogin_;
    QFileSystemWatcher watcher_;
};
