#pragma once

#include "core/base/appearance.h"

#include <QObject>

class QWidget;

// The desktop's side of the theme: whether a surface is dark, applying the chosen appearance to
// the application, and the signal every surface repaints on.
namespace Theme {

// Carries themeChanged; lives on the main thread.
class Notifier : public QObject {
    Q_OBJECT
public:
    static Notifier& shared();
Q_SIGNALS:
    void themeChanged();
};

// light and dark answer without looking; auto asks the desktop's colour-scheme setting through
// the settings portal (1 = dark), else judges the lightness of the widget's (or the
// application's) window colour.
bool isDark(const QWidget* widget = nullptr);

}

// Applies the chosen appearance to the application's palette (auto restores the style's own),
// then emits themeChanged.
class DesktopTheme : public Theme::Applier {
public:
    void apply() override;
    // Makes it the theme's applier; main thread, after the application exists.
    static void install();
};
