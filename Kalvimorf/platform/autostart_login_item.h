#pragma once

#include "core/state/login_item.h"

// Starting at login, the freedesktop way: a desktop entry in $XDG_CONFIG_HOME/autostart.
class AutostartLoginItem final : public LoginItem {
public:
    bool isEnabled() override;
    bool setEnabled(bool enabled) override;
};
