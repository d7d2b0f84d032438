#include "cli.h"

#include <vips/vips.h>

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    // Once, before any thread can reach an image library call.
    VIPS_INIT(argv[0]);
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
