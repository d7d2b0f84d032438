#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The applications the desktop knows from their desktop entries, as GIO reads them (entries,
// mimeapps.list choices, Exec field codes), and how to start one with files.
struct DesktopApp {
    std::string id;  // the desktop-file id, "org.example.Editor.desktop"
    std::string name;  // in Portuguese when the entry has it
    std::string icon;  // a theme icon name or a path
    std::filesystem::path entry;
    // What tells the entry from another of the same name in a list (its comment, else its
    // command); empty while its name is its own.
    std::string detail;
};

namespace DesktopApps {

// The applications registered for the types of all the files (the user's default first, then
// the others in name order), followed by every other application that takes files; never this
// program itself. Entries that share a name carry what tells them apart (`detail`).
std::vector<DesktopApp> forFiles(const std::vector<std::filesystem::path>& files);

// The words a list shows for `app`: its name, with its detail after a dash when it has one.
std::string label(const DesktopApp& app);

// Starts `app` with `files` as its Exec line says (one run for a list, one per file for a single
// file field), without a shell. An application that cannot be started is skipped.
void open(const DesktopApp& app, const std::vector<std::filesystem::path>& files);

// `name` when it is an absolute path to an executable file, else the first executable file of
// that name in the folders of PATH; empty when there is none.
std::string findProgram(const std::string& name);

// The terminal emulators installed: the desktop entries of the TerminalEmulator category whose
// program is there. The desktop's default comes first (the first installed one that an
// xdg-terminals.list names, for the current desktop before any, in the user's configuration
// before the system's; else the one $TERMINAL names; else Debian's x-terminal-emulator choice),
// the others in name order.
std::vector<DesktopApp> terminals();
// Of `terminals`, the one whose id is `id`, else the first; nothing for an empty list.
std::optional<DesktopApp> terminal(const std::vector<DesktopApp>& terminals, const std::string& id);
// Starts the terminal's program (its Exec line without field codes, no shell) in `folder`, where
// terminals open their first shell; false when it cannot be started.
bool openTerminal(const DesktopApp& terminal, const std::filesystem::path& folder);

}
