#pragma once

#include "core/base/service.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

// Where outputs go and under which free names; nothing the program writes overwrites anything.
namespace OutputPaths {
namespace fs = std::filesystem;

fs::path directory(const fs::path& source);
// A free name in directory(source): base.ext, then "base 2.ext", "base 3.ext", … A name that
// another running job has chosen (see Claims) counts as taken too.
fs::path destination(const fs::path& source, const std::string& ext);

// Makes the new folder that holds the outputs of a request for two or more files, in the output
// folder of the first one: "<prefix><label>", then "<prefix><label> 2", … Throws the file
// system's error when it cannot be made.
fs::path makeCommonFolder(
    const fs::path& firstSource, const std::string& label, const std::string& prefix = "Convertidos para ");

// The names one job has chosen. While a job's task context carries a Claims, every name
// destination() gives it stays reserved for the whole process, so that jobs running at once
// never pick the same free name; the names are released when the last copy of the context
// (and so the Claims) goes away, that is when the job ends.
class Claims {
public:
    Claims() = default;
    ~Claims();
    Claims(const Claims&) = delete;
    Claims& operator=(const Claims&) = delete;
    void add(const fs::path& path);

private:
    std::mutex mutex_;
    std::vector<fs::path> names_;
};

// Whether a folder takes new files. Tests install one (root may write everywhere); without one
// the process's own access rights decide.
class WritableCheck : public Service<WritableCheck> {
public:
    virtual ~WritableCheck() = default;
    virtual bool isWritable(const fs::path& folder) = 0;
};
}
