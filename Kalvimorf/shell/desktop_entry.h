#pragma once

#include <filesystem>
#include <string>

// The program's launcher entry, so that menus, "Open with" and docks find it.
namespace DesktopEntry {

// $XDG_DATA_HOME/applications/brivlon.desktop.
std::filesystem::path path();
std::string text(const std::filesystem::path& executable);
// Writes the entry when it is missing or starts another executable; true when written.
bool install(const std::filesystem::path& executable);

}
