#pragma once

#include "platform/desktop_apps.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The two questions the file actions ask before they act: which application opens the files and
// which folder receives them. The desktop's dialogs answer them unless another chooser is set
// (tests answer for the user). Main thread; both block while they ask.
class ActionChooser {
public:
    virtual ~ActionChooser() = default;
    // One of `apps`, or nothing when the user gives up.
    virtual std::optional<DesktopApp> application(const std::vector<DesktopApp>& apps, const std::string& message) = 0;
    // An existing folder, or nothing when the user gives up.
    virtual std::optional<std::filesystem::path> folder(const std::string& message) = 0;

    static ActionChooser& shared();
    // nullptr restores the dialogs.
    static void set(std::shared_ptr<ActionChooser> chooser);
};
