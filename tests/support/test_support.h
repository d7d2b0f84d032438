#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace TestSupport {

// A fresh folder that is removed when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void writeFile(const fs::path& path, const std::string& contents);
std::string readFile(const fs::path& path);

struct RunResult {
    int exitCode = -1;      // -1 when it was still running at the deadline and got killed
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs the built brivlon binary (or another program) with an optional environment overlay;
// kills it after `timeoutSeconds`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     double timeoutSeconds = 120, const std::vector<std::pair<std::string, std::string>>& env = {},
                     const std::string& cwd = {});
RunResult runBrivlon(const std::vector<std::string>& arguments, double timeoutSeconds = 120,
                     const std::vector<std::pair<std::string, std::string>>& env = {});

// The per-process sandbox home made by the test main.
fs::path sandboxHome();

// Puts `implementation` behind a service interface for the life of the object, then nothing.
template <typename Interface>
class Installed {
public:
    explicit Installed(std::shared_ptr<Interface> implementation) { Interface::set(std::move(implementation)); }
    ~Installed() { Interface::set(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

}
