#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The applications the desktop knows from their desktop entries, as GIO reads them (entries,
// mimeapps.list choices, Exec field codes), and how to start one with files.
struct DesktopApp {
    std::string id;  // the desktop-file id, "org.example.Editor.desktop"
    std::string name;  // in Portuguese when the entry has it
    std::string icon;  // a theme icon name or a path
    std::filesystem::path entry;
};

namespace DesktopApps {

// The applications registered for the types of all the files (the user's default first, then
// the others in name order), followed by every other application that takes files.
std::vector<DesktopApp> forFiles(const std::vector<std::filesystem::path>& files);

// Starts `app` with `files` as its Exec line says (one run for a list, one per file for a single
// file field), without a shell. An application that cannot be started is skipped.
void open(const DesktopApp& app, const std::vector<std::filesystem::path>& files);

// `name` when it is an absolute path to an executable file, else the first executable file of
// that name in the folders of PATH; empty when there is none.
std::string findProgram(const std::string& name);

}
