#include "core/engines/image_library.h"

#include <vips/vips8>

namespace ImageLibrary {

bool start()
{
    static const bool started = [] {
        // The decoders report what they repaired (a cut-short JPEG, a chunk with a bad
        // checksum) as warnings on standard error. The image either converts, and the note is
        // noise, or it fails and the error says why; and standard error belongs to the
        // command line's own "erro: " lines. They are dropped rather than kept in the error
        // log, which holds failures the user met: a folder of slightly damaged photos would
        // push those out of its bounded length.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
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
