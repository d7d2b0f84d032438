#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The things the actions mode does with the dropped files themselves.
// Sending to nearby devices has no counterpart on Linux, so there is no such action.
enum class FileAction { openWith, zip, move, copy, copyPath, reveal, terminal };

namespace FileActions {
const std::vector<FileAction>& all();
std::string label(FileAction action);
std::string detail(FileAction action);
// Carries the action out on the main thread; an empty list does nothing. Outcomes worth telling
// become finished jobs in the job store, which sounds and logs failures. Zipping goes on after
// the call returns, and so does a move across file systems, as a running job that can be
// cancelled.
void perform(FileAction action, const std::vector<std::filesystem::path>& files);

// How jobs name a selection: the item's name for one, "N itens" for more.
std::string selectionName(const std::vector<std::filesystem::path>& files);

}
