#pragma once

#include "core/engines/module_kind.h"
#include "core/jobs/worker.h"

#include <vector>

namespace Worker {

// The worker mode's main: no application object, no display. Never returns. The modules in `warm`
// are opened while it waits for its first request, so that the job finds them ready.
[[noreturn]] void serve(const std::vector<EngineModules::Module>& warm);

// The modules named in a worker's arguments after the worker option (see WorkerPool::Options).
std::vector<EngineModules::Module> modulesToWarm(int argc, char** argv);

}
