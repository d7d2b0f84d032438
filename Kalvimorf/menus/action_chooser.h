#pragma once

#include "core/base/service.h"
#include "platform/desktop_apps.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The two questions the file actions ask before they act: which application opens the files and
// which folder receives them. Windowed starts install the desktop's dialogs; tests answer for the
// user; with nothing installed the actions stop as if the user gave up. Main thread; both block
// while they ask.
class ActionChooser : public Service<ActionChooser> {
public:
    virtual ~ActionChooser() = default;
    // One of `apps`, or nothing when the user gives up.
    virtual std::optional<DesktopApp> application(const std::vector<DesktopApp>& apps, const std::string& message) = 0;
    // An existing folder, or nothing when the user gives up.
    virtual std::optional<std::filesystem::path> folder(const std::string& message) = 0;

    // Installs the desktop's dialogs.
    static void installDialogs();
};

class QFileDialog;

// Gives one of Qt's file dialogs a first size in which the details list shows a file's name, size,
// kind and date whole, and keeps those three columns as wide as what they hold; Qt's own first
// size cuts them ("18,…MiB", "Data de modificaç").
void fitFileColumns(QFileDialog& dialog);
