#pragma once

#include <QString>

// Hands addresses to the desktop's own handlers through GIO. Unlike xdg-open or
// QDesktopServices, GIO tells whether a handler took the address, and a mailto address never
// falls through to a browser.
namespace DesktopUri {
// Whether some application is the default for the scheme ("mailto", "https").
bool hasHandler(const QString& scheme);
// Starts the default handler with `uri`; false when there is none or it could not start.
bool open(const QString& uri);
}
