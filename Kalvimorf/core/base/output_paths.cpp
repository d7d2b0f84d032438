#include "core/base/output_paths.h"

#include "core/base/app_paths.h"
#include "core/base/file_safety.h"
#include "core/base/settings.h"
#include "core/base/task.h"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace OutputPaths {

namespace {

bool isWritable(const fs::path& folder)
{
    if (auto check = WritableCheck::shared())
        return check->isWritable(folder);
    return ::access(folder.c_str(), W_OK) == 0;
}
}

fs::path directory(const fs::path& source)
{
    const auto& context = Task::current();
    if (context.overrideDir)
        return *context.overrideDir;
    if (auto fixed = Prefs::fixedOutputFolder()) {
        std::error_code error;
        if (fs::is_directory(*fixed, error) && isWritable(*fixed))
            return *fixed;
    }
    auto folder = source.parent_path();
    if (folder.empty())
        folder = fs::current_path();
    if (isWritable(folder))
        return folder;
    // A fresh account may have no download folder yet; the desktop makes it on first use too.
    auto downloads = AppPaths::downloads();
    fs::create_directories(downloads);
    return downloads;
}

FileSafety::NameFor names(const fs::path& source, const std::string& ext)
{
    return FileSafety::numberedNames(directory(source), source.stem().string(), ext);
}

fs::path makeCommonFolder(const fs::path& firstSource, const std::string& label, const std::string& prefix)
{
    const auto parent = directory(firstSource);
    const auto base = prefix + label;
    fs::create_directories(parent);
    for (long long n = 1;; ++n) {
        auto candidate = parent / (n < 2 ? base : base + " " + std::to_string(n));
        FileSafety::requireNameFits(candidate);
        if (::mkdir(candidate.c_str(), 0777) == 0) {
            FileSafety::limitToJobModes(candidate);
            return candidate;
        }
        // Anything already there, file or folder, takes the name.
        if (errno != EEXIST)
            throw fs::filesystem_error("mkdir", candidate, std::error_code(errno, std::generic_category()));
    }
}

}
