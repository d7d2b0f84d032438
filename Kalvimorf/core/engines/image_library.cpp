#include "core/engines/image_library.h"

#include "core/base/error_log.h"
#include "core/base/process.h"

#include <gmodule.h>
#include <vips/vips8>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace ImageLibrary {

namespace {

// True once loadModules has run.
std::atomic<bool> modulesIn = false;
std::mutex loading;

std::atomic<unsigned long> regionFailures = 0;
// The handler runs on the thread that warned: a job's reasons are its own thread's.
thread_local std::string lastWarning;

// What the library calls untrusted covers ImageMagick (and through it PostScript, PCX and a
// hundred more), SVG, PDF, PPM, JPEG 2000 and XL and the scientific formats; the matrix and CSV
// readers take any text file. Of these, JPEG 2000 and JPEG XL are read by their own projects'
// decoders (OpenJPEG, libjxl), which are fuzzed where they are made, and are let through by name;
// the library's own readers of the rest stay blocked. The block holds for the classes there are,
// so it is set again once the modules have added theirs.
void blockUnasked()
{
    vips_block_untrusted_set(TRUE);
    for (const char* loader : {"VipsForeignLoadMagick", "VipsForeignLoadMatrix", "VipsForeignLoadCsv"}) {
        if (g_type_from_name(loader))
            vips_operation_block_set(loader, TRUE);
    }
    for (const char* loader : {"VipsForeignLoadJp2k", "VipsForeignLoadJxl"}) {
        if (g_type_from_name(loader))
            vips_operation_block_set(loader, FALSE);
    }
}

void loadModules()
{
    std::lock_guard lock(loading);
    if (modulesIn)
        return;
    modulesIn = true;
    const auto folder = std::string(BRIVLON_VIPS_LIBDIR) + "/vips-modules-" + std::to_string(vips_version(0)) + "."
        + std::to_string(vips_version(1));
    GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
    if (!dir)
        return;
    while (const char* name = g_dir_read_name(dir)) {
        if (!g_str_has_suffix(name, "." G_MODULE_SUFFIX))
            continue;
        // A module registers its operations as it opens and stays for the life of the process,
        // as the library's own loading does; one that fails to open only leaves its formats out.
        const std::string path = folder + "/" + name;
        if (GModule* module = g_module_open(path.c_str(), G_MODULE_BIND_LAZY))
            g_module_make_resident(module);
    }
    g_dir_close(dir);
    blockUnasked();
}

}

bool start()
{
    static const bool started = [] {
        // The decoders report what they repaired (a cut-short JPEG, a chunk with a bad
        // checksum) as warnings on standard error. The image either converts, and the note is
        // noise, or it fails and the error says why; and standard error belongs to the
        // command line's own "erro: " lines. They are not kept in the error log, which holds
        // failures the user met: a folder of slightly damaged photos would push those out of its
        // bounded length. The last one is held for reasonOf: some loaders fail with an empty
        // error and give their reason only as a warning.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
            [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
                if (message && g_str_has_prefix(message, "error in tile"))
                    ++regionFailures;
                else if (message && *message && (level & G_LOG_LEVEL_WARNING))
                    lastWarning = std::string(domain) + ": " + message;
            },
            nullptr);
        // What the other libraries under it say (GLib's own criticals, a decoder's complaint) is
        // a fault worth finding again, but still not a line for the user's terminal.
        g_log_set_default_handler(
            [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
                if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)))
                    return;
                static std::mutex logging;
                std::lock_guard lock(logging);
                ErrorLog::add(std::string(domain ? domain : "GLib") + ": " + (message ? message : ""));
            },
            nullptr);
        // The library looks for its modules under $VIPSHOME; a home without any starts it bare.
        // Whatever home the environment held (a parent that ran the library sets one) is put
        // back for the tools this process runs.
        // A worker starts the library on a thread of its own while a job may be starting tools.
        int failed = 0;
        {
            Process::EnvironmentChange change;
            const char* home = std::getenv("VIPSHOME");
            const std::optional<std::string> held = home ? std::optional<std::string>(home) : std::nullopt;
            ::setenv("VIPSHOME", "/nonexistent/brivlon-no-vips-modules", 1);
            failed = VIPS_INIT("brivlon");
            if (held)
                ::setenv("VIPSHOME", held->c_str(), 1);
            else
                ::unsetenv("VIPSHOME");
        }
        if (failed)
            return false;
        blockUnasked();
        // Every conversion reads a different file, and a file edited between two conversions
        // must be read again: the operation cache would only hold stale pixels and memory.
        vips_cache_set_max(0);
        return true;
    }();
    return started;
}

unsigned long failedRegions() { return regionFailures; }

std::string reasonOf(const std::string& errorText)
{
    const auto line = errorText.substr(0, errorText.find('\n'));
    std::string warned = std::exchange(lastWarning, {});
    if (line.find_first_not_of(" \t\r") != std::string::npos)
        return line;
    return warned.substr(0, warned.find('\n'));
}

void forgetWarnings() { lastWarning.clear(); }

bool packed(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    char magic[2] = {};
    return in.read(magic, 2) && magic[0] == '\x1f' && magic[1] == '\x8b';
}

bool has(const char* operation)
{
    if (!start())
        return false;
    if (vips_type_find("VipsOperation", operation))
        return true;
    loadModules();
    return vips_type_find("VipsOperation", operation) != 0;
}

std::string loaderFor(const std::filesystem::path& file)
{
    if (!start() || packed(file))
        return {};
    const char* found = vips_foreign_find_load(file.c_str());
    if (!found && !modulesIn) {
        vips_error_clear();
        loadModules();
        found = vips_foreign_find_load(file.c_str());
    }
    if (!found) {
        vips_error_clear();
        return {};
    }
    // The search takes blocked loaders too (they fail only once asked to load).
    const GType type = g_type_from_name(found);
    auto* kind = type ? g_type_class_peek(type) : nullptr;
    if (!kind || (VIPS_OPERATION_CLASS(kind)->flags & VIPS_OPERATION_BLOCKED))
        return {};
    // The class name ("VipsForeignLoadJpegFile") to the operation's ("jpegload").
    const char* nickname = VIPS_OBJECT_CLASS(kind)->nickname;
    return nickname ? nickname : found;
}

}
