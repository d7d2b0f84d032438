#include "menus/menu_style.h"

#include "core/base/raw_values.h"
#include "core/base/settings.h"

#include <cstdlib>

namespace MenuStyles {

MenuStyle current()
{
    const char* value = std::getenv("BRIVLON_MENU");
    return value && std::string(value) == "wheel" ? MenuStyle::wheel : MenuStyle::fan;
}

}

namespace FanPlacements {

namespace {
struct PlacementRow {
    FanPlacement value;
    std::string_view raw;
};
constexpr EnumTable<PlacementRow, 2> placements{{{
    {FanPlacement::cursor, "cursor"},
    {FanPlacement::center, "center"},
}}};
}

std::string rawValue(FanPlacement placement) { return placements.raw(placement); }
std::optional<FanPlacement> fromRaw(const std::string& raw) { return placements.parse(raw); }

FanPlacement current()
{
    if (const char* value = std::getenv("BRIVLON_FAN_AT"))
        if (auto placement = fromRaw(value))
            return *placement;
    return Defaults::choice(SettingKey::fanPlacement, fromRaw);
}

}
