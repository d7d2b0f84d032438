#include "core/jobs/worker.h"

// The light worker program (see CMakeLists.txt): it is given only jobs that need no image
// library, so it leaves it unstarted; starting it would open the engine module.
int main() { Worker::serve(false); }
