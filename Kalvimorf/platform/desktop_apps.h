#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The applications the desktop knows from their .desktop entries, and how to start one with files.
struct DesktopApp {
    std::string id;  // the desktop-file id, "org.example.Editor.desktop"
    std::string name;  // in Portuguese when the entry has it
    std::string icon;  // a theme icon name or a path
    std::string exec;  // the Exec line, key-file escapes already undone
    std::filesystem::path entry;
};

namespace DesktopApps {

// The applications registered for the types of all the files (the user's default first, then
// the others in name order), followed by every other application that takes files.
std::vector<DesktopApp> forFiles(const std::vector<std::filesystem::path>& files);

// The argument lists (program first) that open `files` with `app`: one list when the Exec line
// takes several files, one per file when it takes one. An Exec line without any file field code
// gets one run per file with the file appended.
std::vector<std::vector<std::string>> commandLines(
    const DesktopApp& app, const std::vector<std::filesystem::path>& files);

// Starts the command lines detached, without a shell. A program that cannot be found is skipped.
void open(const DesktopApp& app, const std::vector<std::filesystem::path>& files);

// `name` when it is an absolute path to an executable file, else the first executable file of
// that name in the folders of PATH; empty when there is none.
std::string findProgram(const std::string& name);

}
