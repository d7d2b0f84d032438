#pragma once

#include "core/base/service.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Touch feedback on opening, moving over and dropping on a card. Linux desktops have no haptic
// trackpad service, so nothing is installed there; tests install a recording performer.
namespace Haptics {

enum class Level { off, soft, strong };
const std::vector<Level>& levels();
std::string rawValue(Level level);
std::optional<Level> levelFromRaw(const std::string& raw);
std::string name(Level level);
// The stored "haptics" choice, read afresh; absent or unknown is strong.
Level level();

enum class Pattern { alignment, levelChange, generic };

// Nothing installed performs nothing, which is the desktop's case.
class Performer : public Service<Performer> {
public:
    virtual ~Performer() = default;
    virtual void perform(Pattern pattern) = 0;
};

void open();
void tick();
void pick();

}
