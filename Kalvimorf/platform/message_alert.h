#pragma once

// The desktop's window for the core's modal questions.
namespace MessageAlert {
// Makes Alert::run show a modal message box; main thread, after the application exists.
void install();
}
