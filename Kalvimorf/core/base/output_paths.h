#pragma once

#include "core/base/file_safety.h"
#include "core/base/service.h"

#include <filesystem>
#include <string>

// Where outputs go and under which free names; nothing the program writes overwrites anything.
namespace OutputPaths {
namespace fs = std::filesystem;

fs::path directory(const fs::path& source);
// The names of an output of `source`: base.ext in directory(source), then "base 2.ext",
// "base 3.ext", … (without ".ext" when `ext` is empty). Nothing is taken until the output is
// published under the first free one.
FileSafety::NameFor names(const fs::path& source, const std::string& ext);

// Makes the new folder that holds the outputs of a request for two or more files, in the output
// folder of the first one: "<prefix><label>", then "<prefix><label> 2", … Throws the file
// system's error when it cannot be made.
fs::path makeCommonFolder(
    const fs::path& firstSource, const std::string& label, const std::string& prefix = "Convertidos para ");

// Whether a folder takes new files. Tests install one (root may write everywhere); without one
// the process's own access rights decide.
class WritableCheck : public Service<WritableCheck> {
public:
    virtual ~WritableCheck() = default;
    virtual bool isWritable(const fs::path& folder) = 0;
};
}
