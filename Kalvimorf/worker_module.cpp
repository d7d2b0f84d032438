#include "core/jobs/worker.h"

// The engines' half of the program, a module of its own that only `brivlon --worker` loads
// (main.cpp): the command line, the tray program and the render modes never load an imaging,
// PDF or media library, and start as fast as a small Qt program does.
extern "C" __attribute__((visibility("default"))) [[noreturn]] void brivlon_worker_serve() { Worker::serve(); }
