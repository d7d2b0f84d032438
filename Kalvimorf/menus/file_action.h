#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The things the actions mode does with the dropped files themselves.
enum class FileAction { openWith, zip, move, copy, airdrop, copyPath, reveal, terminal };

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

// The terminals tried in order, by name (looked up in PATH) or absolute path. An empty list
// restores the desktop's usual ones.
void setTerminalCandidates(std::vector<std::string> candidates);
}
