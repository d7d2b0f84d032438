#pragma once

#include "core/base/service.h"

#include <filesystem>
#include <string>

// What a job that still made its output has to tell the user: what it had to leave out and why
// (an archive's entries that could not be written). In a worker each note travels to the parent
// over the worker's channel; the command line prints it; where nothing is installed, the error
// log alone keeps the details.
class JobNotes : public Service<JobNotes> {
public:
    virtual ~JobNotes() = default;
    // A whole sentence for the user about the file `about` (the source the job read).
    virtual void note(const std::filesystem::path& about, const std::string& sentence) = 0;
};
