#include "shell/app_delegate.h"

void AppDelegate::applicationDidFinishLaunching() { }
