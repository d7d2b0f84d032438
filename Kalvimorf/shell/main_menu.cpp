#include "shell/main_menu.h"

#include "shell/app_commands.h"

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

void build(QMenuBar& bar, QWidget& window, const Actions& actions)
{
    auto* file = bar.addMenu("Arquivo");
    item(*file, "Escolher arquivos…", actions.chooseFiles, QKeySequence("Ctrl+O"));
    QWidget* target = &window;
    item(
        *file, "Fechar janela",
        [target] {
            target->close();
        },
        QKeySequence("Ctrl+W"));
    file->addSeparator();
    item(*file, "Sair", actions.quit, QKeySequence("Ctrl+Q"));

    auto* edit = bar.addMenu("Editar");
    item(*edit, "Desfazer", toFocus("undo"), QKeySequence("Ctrl+Z"));
    item(*edit, "Refazer", toFocus("redo"), QKeySequence("Ctrl+Shift+Z"));
    edit->addSeparator();
    item(*edit, "Recortar", toFocus("cut"), QKeySequence("Ctrl+X"));
    item(*edit, "Copiar", toFocus("copy"), QKeySequence("Ctrl+C"));
    item(*edit, "Colar", toFocus("paste"), QKeySequence("Ctrl+V"));
    item(*edit, "Selecionar tudo", toFocus("selectAll"), QKeySequence("Ctrl+A"));
    edit->addSeparator();
    item(*edit, AppCommands::settings, actions.showSettings, QKeySequence("Ctrl+,"));

    auto* help = bar.addMenu("Ajuda");
    item(*help, AppCommands::reportProblem, actions.reportProblem);
    item(*help, AppCommands::checkForUpdates, actions.checkForUpdates);
    help->addSeparator();
    item(*help, "Sobre o Brivlon", actions.showAbout);
}

}
