#pragma once

#include "core/base/progress.h"
#include "core/base/service.h"
#include "core/engines/module_kind.h"
#include "core/jobs/request.h"
#include "core/jobs/worker.h"

#include <vector>

namespace Worker {

// What a worker does with a request in the job's process: perform() (documents/perform.h), which
// sits above this room. The worker program's start installs it; without it every job fails.
class Performer : public Service<Performer> {
public:
    virtual ~Performer() = default;
    virtual fs::path perform(const Request& request, const Progress& progress) = 0;
};

// The worker mode's main: no application object, no display. Never returns. The modules in `warm`
// are opened while it waits for its first request, so that the job finds them ready.
[[noreturn]] void serve(const std::vector<EngineModules::Module>& warm);

// The modules named in a worker's arguments after the worker option (see WorkerPool::Options).
std::vector<EngineModules::Module> modulesToWarm(int argc, char** argv);

}
