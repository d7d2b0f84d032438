#pragma once

#include <QString>

#include <functional>
#include <optional>

class SettingsModel;

// Asks for a folder; nothing when the user cancels.
using FolderQuestion = std::function<std::optional<QString>()>;

// The folder dialog titled "Salvar em" whose accept button reads "Usar esta pasta".
std::optional<QString> askForFolder();

// Lets the user pick the fixed output folder: its path is stored, then the folder mode; a
// cancelled dialog changes nothing.
void chooseFolder(SettingsModel& model, const FolderQuestion& ask = askForFolder);
