#pragma once

#include <QString>

#include <functional>
#include <optional>

class SettingsModel;

// Asks for a folder, showing `start` first; nothing when the user cancels.
using FolderQuestion = std::function<std::optional<QString>(const QString& start)>;

// The folder dialog titled "Salvar em" whose accept button reads "Usar esta pasta".
std::optional<QString> askForFolder(const QString& start);

// Where the question starts: the fixed folder chosen before, else the download folder, else the
// home folder; never the folder the program happened to be started from.
QString folderToStartIn(const SettingsModel& model);

// Lets the user pick the fixed output folder: its path is stored, then the folder mode; a
// cancelled dialog changes nothing.
void chooseFolder(SettingsModel& model, const FolderQuestion& ask = askForFolder);
