#include "core/base/output_paths.h"

#include "core/base/app_paths.h"
#include "core/base/file_safety.h"
#include "core/base/settings.h"
#include "core/base/task.h"

#include <cerrno>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace OutputPaths {

namespace {

std::mutex reservedMutex;
std::set<fs::path> reserved;

bool isWritable(const fs::path& folder)
{
    if (auto check = WritableCheck::shared())
        return check->isWritable(folder);
    return ::access(folder.c_str(), W_OK) == 0;
}

bool taken(const fs::path& candidate)
{
    std::error_code error;
    return fs::symlink_status(candidate, error).type() != fs::file_type::not_found || reserved.count(candidate) > 0;
}

}

Claims::~Claims()
{
    std::lock_guard lock(reservedMutex);
    for (const auto& name : names_)
        reserved.erase(name);
}

void Claims::add(const fs::path& path)
{
    std::lock_guard lock(mutex_);
    names_.push_back(path);
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

fs::path destination(const fs::path& source, const std::string& ext)
{
    const auto folder = directory(source);
    const auto nameFor = FileSafety::numberedNames(folder, source.stem().string(), ext);
    const auto& claims = Task::current().claims;
    std::lock_guard lock(reservedMutex);
    for (long long n = 1;; ++n) {
        auto candidate = nameFor(n);
        FileSafety::requireNameFits(candidate);
        if (taken(candidate))
            continue;
        if (claims) {
            reserved.insert(candidate);
            claims->add(candidate);
        }
        return candidate;
    }
}

fs::path makeCommonFolder(const fs::path& firstSource, const std::string& label, const std::string& prefix)
{
    const auto parent = directory(firstSource);
    const auto base = prefix + label;
    fs::create_directories(parent);
    std::lock_guard lock(reservedMutex);
    for (long long n = 1;; ++n) {
        auto candidate = parent / (n < 2 ? base : base + " " + std::to_string(n));
        FileSafety::requireNameFits(candidate);
        if (reserved.count(candidate))
            continue;
        if (::mkdir(candidate.c_str(), 0777) == 0)
            return candidate;
        // Anything already there, file or folder, takes the name.
        if (errno != EEXIST)
            throw fs::filesystem_error("mkdir", candidate, std::error_code(errno, std::generic_category()));
    }
}

}
