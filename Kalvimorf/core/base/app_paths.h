#pragma once

#include <filesystem>

// Where the program keeps and finds its files on Linux.
namespace AppPaths {
// The folder of the running executable (from /proc/self/exe).
std::filesystem::path executableDir();
// resources/ beside the executable; for a worker, those of the program that started it
// (BRIVLON_RESOURCES).
std::filesystem::path resources();
// $XDG_STATE_HOME/Brivlon (default ~/.local/state/Brivlon).
std::filesystem::path stateDir();
// $XDG_DATA_HOME/Brivlon (default ~/.local/share/Brivlon): Relatos/, Componentes/.
std::filesystem::path dataDir();
// The user's download folder (XDG user dirs).
std::filesystem::path downloads();
}
