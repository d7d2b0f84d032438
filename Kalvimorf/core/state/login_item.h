#pragma once

#include "core/base/service.h"

// Whether the program starts with the user's session. The desktop side installs the real one;
// without it the program never starts at login and cannot be made to.
class LoginItem : public Service<LoginItem> {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() = 0;
    // False when the change could not be made.
    virtual bool setEnabled(bool enabled) = 0;
};
