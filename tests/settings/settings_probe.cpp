// The main window with its menus, to open the settings window from the keyboard. Prints
// "ready <x> <y>" once the main window is mapped, "item <title>: enabled|disabled" for the menu
// items of the settings, the update check and the report, then "settings <ms>" when the settings
// window is exposed (ms since "Ajustes…" fired) and "tab switch <ms>", the slowest switch between
// its pages painted at once, on the first visit and on a later one.

#include "settings/settings_window.h"
#include "shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

#include <cstdio>

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    auto& window = MainWindow::shared();
    window.move(300, 200);
    window.present();

    // The clock starts with the key, before the shortcut's own handler builds the window.
    QElapsedTimer sinceItem;
    struct KeyWatch : QObject {
        QElapsedTimer* clock;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
                auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() == Qt::Key_Comma && !clock->isValid())
                    clock->start();
            }
            return false;
        }
    } watch;
    watch.clock = &sinceItem;
    app.installEventFilter(&watch);

    QTimer shown;
    QObject::connect(&shown, &QTimer::timeout, [&] {
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            return;
        shown.stop();
        const auto centre = window.mapToGlobal(window.rect().center());
        std::printf("ready %d %d\n", centre.x(), centre.y());
        // Every item of these titles, in every menu: one disabled line is a failure.
        for (const char* title : {"Ajustes…", "Procurar atualizações…", "Relatar um problema…"}) {
            bool enabled = true;
            for (auto* menu : window.menuBar()->actions())
                for (auto* item : menu->menu()->actions())
                    if (item->text() == title)
                        enabled = enabled && item->isEnabled();
            std::printf("item %s: %s\n", title, enabled ? "enabled" : "disabled");
        }
    });
    shown.start(20);

    QTimer settings;
    QObject::connect(&settings, &QTimer::timeout, [&] {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (widget->windowTitle() != "Ajustes do Brivlon" || !widget->windowHandle()
                || !widget->windowHandle()->isExposed())
                continue;
            settings.stop();
            std::printf("settings %lld\n", static_cast<long long>(sinceItem.isValid() ? sinceItem.elapsed() : -1));
            auto* tabs = static_cast<SettingsWindow*>(widget)->tabWidget();
            QApplication::processEvents();
            // The first visit of a page lays it out and polishes it; later ones only paint.
            qint64 slowest[2] = {0, 0};
            for (int round = 0; round < 2; ++round)
                for (int i = 0; i < tabs->count(); ++i) {
                    QElapsedTimer clock;
                    clock.start();
                    tabs->setCurrentIndex((i + 1) % tabs->count());
                    widget->repaint();
                    slowest[round] = std::max(slowest[round], clock.elapsed());
                }
            std::printf(
                "tab switch %lld %lld\n", static_cast<long long>(slowest[0]), static_cast<long long>(slowest[1]));
            return;
        }
    });
    settings.start(2);
    return QApplication::exec();
}
