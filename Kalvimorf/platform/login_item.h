#pragma once

// Starting at login, the freedesktop way: a desktop entry in $XDG_CONFIG_HOME/autostart.
namespace LoginItem {
bool isEnabled();
// False when the entry could not be written or removed.
bool setEnabled(bool enabled);
}
