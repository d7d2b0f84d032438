#pragma once

#include "core/base/file_safety.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

// A home of the test program's own, made before anything reads the environment and removed
// with everything in it at the end: HOME, the XDG folders, the runtime folder and TMPDIR all
// point into it. The program registers its autostart and desktop entries, keeps its settings
// and its error log, and takes its socket under those names; neither the tests nor the programs
// they start may leave any of that in the home of whoever runs them, or meet what the user's
// own Brivlon keeps there. tests/support/private-home does the same for scripts.
// A program that ends early (an exit, an abort, a signal such as the test runner's at its time
// limit) runs no destructor: a keeper process, made with the home, removes it once the program
// has gone, however it went. The home lies in /tmp, whose short paths leave room for the sockets
// the program makes under it, or in the folder BRIVLON_TEST_HOMES names (a test program that
// another test starts, inside that one's home).
class PrivateHome {
public:
    PrivateHome()
    {
        const char* homes = std::getenv("BRIVLON_TEST_HOMES");
        std::string pattern = std::string(homes && *homes == '/' ? homes : "/tmp") + "/brivlon-test-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("no private home");
        path_ = pattern;
        keep();
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
    ~PrivateHome()
    {
        FileSafety::removeTree(path_);
        ::close(keeper_);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    // The keeper reads a pipe whose only writing end this program holds (closed on exec, so the
    // programs the tests start do not keep it open): the end of the file is the program's end. It
    // leaves the program's session, so that a signal to the program's group spares it, and its
    // parent, so that no test counts it among the program's children.
    void keep()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ends[1]);
            if (::fork() != 0)
                ::_exit(0);
            ::setsid();
            char byte;
            ssize_t got;
            do
                got = ::read(ends[0], &byte, 1);
            while (got < 0 && errno == EINTR);
            FileSafety::removeTree(path_);
            ::_exit(0);
        }
        ::close(ends[0]);
        if (child > 0)
            while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
        keeper_ = ends[1];
    }

    std::filesystem::path path_;
    int keeper_ = -1;
};

}
