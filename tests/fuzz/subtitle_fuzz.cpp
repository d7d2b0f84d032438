#include "core/engines/time_text.h"
#include "documents/subtitle_engine.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace SubtitleEngine;

// Any text gives cues with text, and each time that can be written reads back as itself, to
// the millisecond.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const auto& cue : parse(std::string(Fuzz::text(data, size)))) {
        if (cue.text.empty())
            std::abort();
        for (double t : {cue.start, cue.end}) {
            if (!(t >= 0 && t < 1e12))
                continue;
            const double exact = std::round(t * 1000) / 1000;
            const auto back = TimeParse::clock(stamp(t, ','));
            if (!back || std::fabs(*back - exact) > 1e-9 * std::max(1.0, exact))
                std::abort();
        }
    }
    return 0;
}
