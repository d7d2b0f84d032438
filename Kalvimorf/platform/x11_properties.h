#pragma once

#include <cstdint>
#include <optional>

// Small reads and writes of X11 window properties on Qt's own connection to the X server.
struct xcb_connection_t;

namespace X11Properties {
// Qt's connection, or nullptr when Qt runs on another platform (offscreen, Wayland).
xcb_connection_t* connection();
// The atom of `name`, made when the server has none yet; 0 (None) on failure.
std::uint32_t atom(xcb_connection_t* connection, const char* name);
// The first 32-bit value of a window's property of `type`, if it has one.
std::optional<std::uint32_t> cardinal(
    xcb_connection_t* connection, std::uint32_t window, std::uint32_t property, std::uint32_t type);
}
