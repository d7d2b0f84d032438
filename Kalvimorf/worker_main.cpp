#include "core/jobs/worker.h"

// The worker program: the only one that links the engines, and with them the imaging, PDF and
// media libraries, so that the command line, the tray program and the render modes never load
// them. It starts as fast as those libraries allow, with nothing of the desktop in the way.
int main() { Worker::serve(); }
