#include "shell/main_menu.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QWidget>

namespace MainMenu {

namespace {

QAction* item(QMenu& menu, const QString& title, const std::function<void()>& action, const QKeySequence& keys = {})
{
    auto* entry = menu.addAction(title);
    entry->setShortcut(keys);
    if (action)
        QObject::connect(entry, &QAction::triggered, entry, [action] {
            action();
        });
    else
        entry->setEnabled(false);
    return entry;
}

// Edit commands go to whatever has the keyboard focus, when it knows them (text fields do).
std::function<void()> toFocus(const char* slot)
{
    return [slot] {
        if (auto* focus = QApplication::focusWidget())
            QMetaObject::invokeMethod(focus, slot);
    };
}

}

void hideApplication()
{
    for (auto* window : QApplication::topLevelWidgets())
        if (window->isVisible())
            window->hide();
}

void bringAllToFront()
{
    for (auto* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->isWindow() && !(window->windowFlags() & Qt::Popup))
            window->raise();
}

void build(QMenuBar& bar, QWidget& window, const Actions& actions)
{
    auto* app = bar.addMenu("Brivlon");
    item(*app, "Sobre o Brivlon", actions.showAbout);
    item(*app, "Procurar atualizações…", actions.checkForUpdates);
    app->addSeparator();
    item(*app, "Ajustes…", actions.showSettings, QKeySequence("Ctrl+,"));
    app->addSeparator();
    item(*app, "Ocultar Brivlon", hideApplication, QKeySequence("Ctrl+H"));
    app->addSeparator();
    item(*app, "Sair do Brivlon", actions.quit, QKeySequence("Ctrl+Q"));

    auto* file = bar.addMenu("Arquivo");
    item(*file, "Abrir Brivlon", actions.showWindow, QKeySequence("Ctrl+N"));
    QWidget* target = &window;
    item(
        *file, "Fechar janela",
        [target] {
            target->close();
        },
        QKeySequence("Ctrl+W"));

    auto* edit = bar.addMenu("Editar");
    item(*edit, "Desfazer", toFocus("undo"), QKeySequence("Ctrl+Z"));
    item(*edit, "Refazer", toFocus("redo"), QKeySequence("Ctrl+Shift+Z"));
    edit->addSeparator();
    item(*edit, "Recortar", toFocus("cut"), QKeySequence("Ctrl+X"));
    item(*edit, "Copiar", toFocus("copy"), QKeySequence("Ctrl+C"));
    item(*edit, "Colar", toFocus("paste"), QKeySequence("Ctrl+V"));
    item(*edit, "Selecionar tudo", toFocus("selectAll"), QKeySequence("Ctrl+A"));

    auto* windows = bar.addMenu("Janela");
    item(
        *windows, "Minimizar",
        [target] {
            target->showMinimized();
        },
        QKeySequence("Ctrl+M"));
    item(*windows, "Zoom", [target] {
        if (target->isMaximized())
            target->showNormal();
        else
            target->showMaximized();
    });
    windows->addSeparator();
    item(*windows, "Trazer tudo para a frente", bringAllToFront);

    auto* help = bar.addMenu("Ajuda");
    item(*help, "Relatar um problema…", actions.reportProblem);
    item(*help, "Procurar atualizações…", actions.checkForUpdates);
}

}
