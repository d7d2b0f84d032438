#pragma once

#include <filesystem>
#include <string>

// The program's desktop entries: the launcher one, so that menus and "Open with" find it, and the
// autostart one. Both are platform/brivlon.desktop, the entry that is installed, with Exec naming
// the running executable.
namespace DesktopEntry {

// $XDG_DATA_HOME/applications/brivlon.desktop.
std::filesystem::path path();
// The launcher entry for `executable`, with the files as %F.
std::string text(const std::filesystem::path& executable);
// The autostart entry for `executable`: no files, no file types.
std::string autostartText(const std::filesystem::path& executable);
// Writes the launcher entry when it is missing or starts another executable; true when written.
bool install(const std::filesystem::path& executable);

}
