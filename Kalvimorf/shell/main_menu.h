#pragma once

#include <functional>

class QMenuBar;
class QWidget;

// The main window's menu bar as Linux desktops lay one out: "Arquivo" (choose files, close the
// window, "Sair" Ctrl+Q), "Editar" (the edit commands, then "Ajustes…" Ctrl+,) and "Ajuda" (the
// report, the update check, "Sobre o Brivlon"). An item whose action is not set stays in its
// place, disabled.
namespace MainMenu {
struct Actions {
    std::function<void()> chooseFiles;
    std::function<void()> showAbout;
    std::function<void()> showSettings;
    std::function<void()> checkForUpdates;
    std::function<void()> reportProblem;
    std::function<void()> quit;
};
// `window` is the one "Fechar janela" closes.
void build(QMenuBar& bar, QWidget& window, const Actions& actions);
}
