#pragma once

#include <functional>

class QMenuBar;
class QWidget;

// The program's five menus ("Brivlon", "Arquivo", "Editar", "Janela", "Ajuda") on the main
// window's menu bar, with Ctrl where other desktops use Command. An item whose action is not set
// stays in its place, disabled.
namespace MainMenu {
struct Actions {
    std::function<void()> showWindow;
    std::function<void()> showAbout;
    std::function<void()> showSettings;
    std::function<void()> checkForUpdates;
    std::function<void()> reportProblem;
    std::function<void()> quit;
};
// `window` is the one "Fechar janela", "Minimizar", "Zoom" act on.
void build(QMenuBar& bar, QWidget& window, const Actions& actions);
// Hides every top-level window of the program; "Ocultar Brivlon".
void hideApplication();
// Raises every visible window of the program; "Trazer tudo para a frente".
void bringAllToFront();
}
