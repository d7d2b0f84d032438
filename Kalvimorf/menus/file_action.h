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
// become finished jobs in the job store.
void perform(FileAction action, const std::vector<std::filesystem::path>& urls);
}
