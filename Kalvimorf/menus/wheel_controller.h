#pragma once

#include "core/base/settings.h"
#include "menus/wheel_entry.h"

#include <functional>
#include <string>
#include <vector>

// Opens, cycles and closes the drop menu. For now: what the menu offers.
class WheelController {
public:
    struct Entries {
        std::vector<WheelEntry> entries;
        // Shown in place of the cards when there are none; may hold one line break.
        std::string empty;
    };
    // The cards of a mode for a selection, in display order, and what a drop on each runs. Reads
    // nothing but its arguments and the catalogues.
    static Entries entries(WheelMode mode, const WheelEntry::Paths& files);
    // The menu's title for a mode: "Converter", "Ferramentas", "Ações".
    static std::string title(WheelMode mode);
    // The four quality cards of a group, highest first; the saved level's detail says it is the
    // default. A card's run calls `choose` with its level (nothing when empty).
    static std::vector<WheelEntry> qualityEntries(
        QualityGroup group, QualityLevel saved, std::function<void(QualityLevel)> choose = {});
};
