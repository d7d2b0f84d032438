#pragma once

#include "core/base/progress.h"
#include "core/jobs/request.h"

// Carries out one request in this process and returns its output: the request's folder and
// quality are bound for the engines, inside the caller's task (its cancellation and name claims).
// Every road ends here: the desktop through a worker, tests directly, the command line through a
// worker for any work that is not all ffmpeg's (that it does itself, through Requests::performHere).
fs::path perform(const Request& request, const Progress& progress);

// Hands perform() to the worker's serving loop (Worker::Performer): the worker program's start,
// and the tests' own workers.
void performInWorkers();
