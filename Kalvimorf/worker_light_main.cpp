#include "core/jobs/worker.h"

#include <malloc.h>

// The light worker program (see CMakeLists.txt): it is given only jobs that need no image
// library, so it leaves it unstarted; starting it would open the engine module.
int main()
{
    // qpdf frees and reallocates blocks of tens of kilobytes at the top of the heap for every
    // page; with glibc's default padding each one moved the break, several thousand system calls
    // and fresh zeroed pages for a 500-page document, a third of the run. The padding is spare
    // address space, resident only once used.
    ::mallopt(M_TOP_PAD, 4 << 20);
    Worker::serve(false);
}
