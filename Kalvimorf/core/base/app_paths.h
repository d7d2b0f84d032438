#pragma once

#include <filesystem>

// Where the program keeps and finds its files on Linux.
namespace AppPaths {
// The folder of the running executable (from /proc/self/exe).
std::filesystem::path executableDir();
// The folder of the program's helpers (its workers, its modules and resources/): for a program in
// bin/ with ../libexec/brivlon beside it, as installed and as built, that folder; for a helper,
// which is in it, or a program copied alone, its own folder. Test programs, in the build's
// tests/ folder, find the build's the same way.
std::filesystem::path helperDir();
// resources/ in the helper folder; for a worker, those of the program that started it
// (BRIVLON_RESOURCES).
std::filesystem::path resources();
// $XDG_STATE_HOME/Brivlon (default ~/.local/state/Brivlon).
std::filesystem::path stateDir();
// $XDG_DATA_HOME/Brivlon (default ~/.local/share/Brivlon): Relatos/, Componentes/.
std::filesystem::path dataDir();
// The user's download folder (XDG user dirs).
std::filesystem::path downloads();
// The file where the desktop names the user's folders ($XDG_CONFIG_HOME/user-dirs.dirs), which
// downloads() reads: a job that may fall back to the download folder must be able to read it.
std::filesystem::path userDirs();
}
