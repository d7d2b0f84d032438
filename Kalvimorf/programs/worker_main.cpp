#include "core/jobs/worker.h"

// The full worker program, and the image one (see CMakeLists.txt): they start the image library
// while they wait, so that a worker kept ready has it started when its job comes. Nothing of the
// desktop is in the way.
int main() { Worker::serve(); }
