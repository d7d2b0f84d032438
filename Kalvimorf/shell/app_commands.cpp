#include "shell/app_commands.h"

#include "settings/feedback.h"
#include "settings/updates.h"
#include "shell/app_delegate.h"

namespace AppCommands {

void showSettings() { AppDelegate::showSettings(); }

void checkForUpdatesNow() { Updates::shared().check(true); }

void openReport() { Feedback::shared().open(); }

}
