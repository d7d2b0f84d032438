#include "core/jobs/worker_serve.h"
#include "documents/perform.h"

// The worker program: every job whose parsing is our own code runs here, opening the engine
// modules it needs. Its arguments after the worker option name the modules to open while it
// waits for its first job.
int main(int argc, char** argv)
{
    performInWorkers();
    Worker::serve(Worker::modulesToWarm(argc, argv));
}
