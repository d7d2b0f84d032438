#pragma once

#include <optional>
#include <string>

// Which surface shows the menu, and where the fan opens.
enum class MenuStyle { fan, wheel };
enum class FanPlacement { cursor, center };

namespace MenuStyles {
// BRIVLON_MENU="wheel" exactly gives the wheel; anything else the fan.
MenuStyle current();
}

namespace FanPlacements {
std::string rawValue(FanPlacement placement);
std::optional<FanPlacement> fromRaw(const std::string& raw);
// BRIVLON_FAN_AT when it names a placement, else the stored "fan.placement" ("center" or the
// cursor); read at every opening.
FanPlacement current();
}
