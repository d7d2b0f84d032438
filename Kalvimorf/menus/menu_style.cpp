#include "menus/menu_style.h"

#include "core/settings.h"

#include <cstdlib>

namespace MenuStyles {

MenuStyle current()
{
    const char* value = std::getenv("BRIVLON_MENU");
    return value && std::string(value) == "wheel" ? MenuStyle::wheel : MenuStyle::fan;
}

}

namespace FanPlacements {

std::string rawValue(FanPlacement placement)
{
    switch (placement) {
    case FanPlacement::cursor: return "cursor";
    case FanPlacement::center: return "center";
    }
    return {};
}

std::optional<FanPlacement> fromRaw(const std::string& raw)
{
    for (auto placement : {FanPlacement::cursor, FanPlacement::center})
        if (rawValue(placement) == raw)
            return placement;
    return std::nullopt;
}

FanPlacement current()
{
    if (const char* value = std::getenv("BRIVLON_FAN_AT"))
        if (auto placement = fromRaw(value))
            return *placement;
    return Defaults::string("fan.placement") == std::optional<std::string>("center") ? FanPlacement::center
                                                                                     : FanPlacement::cursor;
}

}
