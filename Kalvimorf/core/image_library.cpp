#include "core/image_library.h"

#include <vips/vips8>

namespace ImageLibrary {

bool start()
{
    static const bool started = [] {
        if (VIPS_INIT("brivlon") != 0)
            return false;
        // Every conversion reads a different file, and a file edited between two conversions
        // must be read again: the operation cache would only hold stale pixels and memory.
        vips_cache_set_max(0);
        return true;
    }();
    return started;
}

}
