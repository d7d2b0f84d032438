// The main window with its menus, to open the settings window from the keyboard. Prints
// "ready <x> <y>" once the main window is mapped, "item <title>: enabled|disabled" for the menu
// items of the settings, the update check and the report, then "settings <ms>" when the settings
// window is exposed (ms since "Ajustes…" fired) and "tab switch <ms>", the slowest switch between
// its pages painted at once, on the first visit and on a later one.
//
// With "report" it shows the problem report form instead and prints "form <x> <y> <x> <y>", the
// centres of its send button and its text field on the screen, then "status <x> <y> <text>"
// whenever the form's status changes, with the send button's centre as the grown form has it, and
// "typing" when the text field takes the keyboard.
//
// With "escape <file>" it shows the settings window, the report form and the options panel of each
// tool that has one (for the file) one after the other, each once the one before has gone:
// "<window> active" once it has the keyboard, "<window> closed" when it goes ("settings", "form",
// "panel <tool>"), and "applied" should a panel run its tool.
//
// With "reopen" it shows the settings window three times, closing it each time the window manager
// has framed it and given it the keyboard, and prints "frame <x> <y> <w> <h>" for each showing, then
// "done".

#include "settings/feedback.h"
#include "settings/feedback_window.h"
#include "settings/settings_window.h"
#include "shell/main_window.h"
#include "tools/tool_panel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <string_view>

namespace {

QPoint centre(QWidget* widget) { return widget->mapToGlobal(widget->rect().center()); }

// Shows the windows in turn, each once the one before has closed.
int escape(const char* file)
{
    std::vector<std::pair<std::string, std::function<QWidget*()>>> steps{
        {"settings",
            [] {
                SettingsWindow::showWindow();
                return static_cast<QWidget*>(&SettingsWindow::shared());
            }},
        {"form",
            [] {
                Feedback::shared().open();
                return static_cast<QWidget*>(Feedback::shared().window());
            }},
    };
    // Every tool that asks before it runs: their panels start with the keyboard on different
    // controls.
    for (auto tool : {Tool::imgCompress, Tool::imgResize, Tool::imgCrop, Tool::vidCompress, Tool::pdfExtract})
        steps.emplace_back("panel " + Tools::rawValue(tool), [file, tool] {
            ToolPanelController::shared().show(tool, {file}, [](const ToolParams&) {
                std::printf("applied\n");
            });
            return static_cast<QWidget*>(ToolPanelController::shared().window());
        });
    // As in the tray program, closing the last window ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    size_t next = 0;
    QPointer<QWidget> shown;
    bool active = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (shown && shown->isVisible()) {
            if (!active && shown->isActiveWindow()) {
                active = true;
                std::printf("%s active\n", steps[next - 1].first.c_str());
            }
            return;
        }
        if (next > 0 && active) {
            std::printf("%s closed\n", steps[next - 1].first.c_str());
            active = false;
        }
        if (next == steps.size()) {
            watch.stop();
            return;
        }
        shown = steps[next++].second();
    });
    watch.start(20);
    return QApplication::exec();
}

int reopen()
{
    QApplication::setQuitOnLastWindowClosed(false);
    auto& window = SettingsWindow::shared();
    int shown = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!window.isVisible()) {
            if (shown == 3) {
                std::printf("done\n");
                QApplication::quit();
                return;
            }
            SettingsWindow::showWindow();
            return;
        }
        // Framed and placed: the frame is larger than the client and the window manager has
        // handed it the keyboard, which it does once it has put the window where it goes.
        const auto frame = window.frameGeometry();
        if (!window.isActiveWindow() || frame == window.geometry())
            return;
        ++shown;
        std::printf("frame %d %d %d %d\n", frame.x(), frame.y(), frame.width(), frame.height());
        window.close();
    });
    watch.start(20);
    return QApplication::exec();
}

int report()
{
    auto& feedback = Feedback::shared();
    QObject::connect(&feedback, &Feedback::changed, [&feedback, last = QString()]() mutable {
        if (feedback.status() == last || !feedback.window())
            return;
        last = feedback.status();
        // Once the form has shown the change: the status line takes room, and the button is where
        // the laid-out form puts it.
        QTimer::singleShot(0, feedback.window(), [window = feedback.window(), status = last] {
            window->layout()->activate();
            const auto send = centre(window->sendButton());
            std::printf("status %d %d %s\n", send.x(), send.y(), status.toUtf8().constData());
        });
    });
    feedback.open();
    // The window manager hands a click on, and the focus with it, only once it has seen it; keys
    // typed before that would go elsewhere.
    struct FocusWatch : QObject {
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::FocusIn)
                std::printf("typing\n");
            return false;
        }
    } focus;
    feedback.window()->textEdit()->installEventFilter(&focus);
    QTimer shown;
    QObject::connect(&shown, &QTimer::timeout, [&] {
        auto* window = feedback.window();
        if (!window->windowHandle() || !window->windowHandle()->isExposed())
            return;
        shown.stop();
        const auto send = centre(window->sendButton());
        const auto text = centre(window->textEdit());
        std::printf("form %d %d %d %d\n", send.x(), send.y(), text.x(), text.y());
    });
    shown.start(20);
    return QApplication::exec();
}

}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "reopen")
        return reopen();
    if (argc > 1 && std::string_view(argv[1]) == "report")
        return report();
    if (argc > 2 && std::string_view(argv[1]) == "escape")
        return escape(argv[2]);
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
