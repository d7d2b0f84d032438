#pragma once

#include "core/base/file_safety.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace TestSupport {

// A home of the test program's own, made before anything reads the environment and removed
// with everything in it at the end: HOME, the XDG folders, the runtime folder and TMPDIR all
// point into it. The program registers its autostart and desktop entries, keeps its settings
// and its error log, and takes its socket under those names; neither the tests nor the programs
// they start may leave any of that in the home of whoever runs them, or meet what the user's
// own Brivlon keeps there. tests/support/private-home does the same for scripts.
class PrivateHome {
public:
    PrivateHome()
    {
        char pattern[] = "/tmp/brivlon-test-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("no private home");
        path_ = pattern;
        const std::pair<const char*, std::filesystem::path> places[] = {{"HOME", path_},
            {"XDG_CONFIG_HOME", path_ / ".config"}, {"XDG_STATE_HOME", path_ / ".local/state"},
            {"XDG_DATA_HOME", path_ / ".local/share"}, {"XDG_CACHE_HOME", path_ / ".cache"},
            {"XDG_RUNTIME_DIR", path_ / "runtime"}, {"TMPDIR", path_ / "tmp"}};
        for (const auto& [name, place] : places) {
            std::filesystem::create_directories(place);
            ::setenv(name, place.c_str(), 1);
        }
        // Scripts the tests run need no home of their own then (support/private-home).
        ::setenv("BRIVLON_PRIVATE_HOME", path_.c_str(), 1);
        // As a session's own: nobody else may read it, or Qt and the sound servers refuse it.
        ::chmod((path_ / "runtime").c_str(), 0700);
    }
    ~PrivateHome() { FileSafety::removeTree(path_); }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}
