#pragma once

// The commands that both the tray menu and the main menu offer, worded once and run the same way
// from either.
namespace AppCommands {

inline constexpr const char* openWindow = "Abrir Brivlon";
inline constexpr const char* settings = "Ajustes…";
inline constexpr const char* checkForUpdates = "Procurar atualizações…";
inline constexpr const char* reportProblem = "Relatar um problema…";
inline constexpr const char* quit = "Sair do Brivlon";
// The main window's button and menu item, and the title of the dialog they open.
inline constexpr const char* chooseFiles = "Escolher arquivos…";

void showSettings();
// A check the user asked for: it ends with an answer, whatever it finds.
void checkForUpdatesNow();
void openReport();

}
