#pragma once

#include <functional>

// The commands that both the tray menu and the main menu offer, worded once. The settings
// window, the update check and the problem report come from their own parts of the program,
// which set their actions at start-up; until one is set, its items stay in both menus, disabled.
namespace AppCommands {

inline constexpr const char* openWindow = "Abrir Brivlon";
inline constexpr const char* settings = "Ajustes…";
inline constexpr const char* checkForUpdates = "Procurar atualizações…";
inline constexpr const char* reportProblem = "Relatar um problema…";
inline constexpr const char* quit = "Sair do Brivlon";

struct Actions {
    std::function<void()> showSettings;
    std::function<void()> checkForUpdates;
    std::function<void()> reportProblem;
};
// The program's one set; each menu reads it when it is built.
Actions& shared();

}
