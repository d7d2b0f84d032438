#pragma once

#include "core/base/appearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPalette>

#include <optional>

class QWidget;

// The desktop's side of the theme: whether a surface is dark, applying the chosen appearance to
// the application, and the signal every surface repaints on.
namespace Theme {

// Carries themeChanged; lives on the main thread. While the appearance is auto it also follows
// the desktop: the settings portal's colour scheme and, where there is no portal, the
// application palette the platform theme hands over.
class Notifier : public QObject {
    Q_OBJECT
public:
    static Notifier& shared();
    // Listens to the portal on `bus` from now on, and reads its colour scheme once.
    void watchPortal(QDBusConnection bus);
    // The portal's colour scheme: dark or light, nothing without a portal or a preference.
    std::optional<bool> portalPrefersDark() const { return portalDark_; }
    // Whether the desktop's own palette, as the platform theme hands it over, is dark; read
    // whenever the application's palette is the desktop's.
    bool desktopPaletteDark() const { return desktopPaletteDark_; }
    void setDesktopPaletteDark(bool dark);

public Q_SLOTS:
    // The portal's SettingChanged(group, key, value).
    void portalSettingChanged(const QDBusMessage& message);

Q_SIGNALS:
    void themeChanged();
    // The desktop's colour scheme changed, whatever appearance the program has.
    void desktopSchemeChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<bool> portalDark_;
    bool desktopPaletteDark_ = false;
    bool watching_ = false;
};

// light and dark answer without looking. auto judges the lightness of the window colour of the
// widget's window, so a view inside a dark window is dark; without a widget (or in a window with
// no opaque colour) it asks the desktop's colour scheme (the settings portal), else the
// application's window colour.
bool isDark(const QWidget* widget = nullptr);

// The desktop's scheme, whatever the program's appearance: what the panels and their trays are
// drawn in. The portal's colour scheme, else the desktop's own palette.
bool desktopIsDark();

}

// Applies the chosen appearance to the application's palette (auto restores the style's own),
// then emits themeChanged.
class DesktopTheme : public Theme::Applier {
public:
    void apply() override;
    // Makes it the theme's applier and starts following the desktop; main thread, after the
    // application exists.
    static void install();
    // Set while apply() changes the application palette, which is no news from the desktop.
    static bool applying();
};
