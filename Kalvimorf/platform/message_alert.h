#pragma once

#include "core/state/alert.h"

// The desktop's message box and alert sound for the core's modal questions; main thread, after
// the application exists.
class MessageAlert final : public Alert::Presenter {
public:
    int ask(const Alert::Request& request) override;
    void beep() override;
};
