#include "programs/cli.h"

// The desktop module's one entry, which the front opens for every mode it does not run itself.
extern "C" __attribute__((visibility("default"))) int brivlon_desktop_main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    Cli::dispatch();
    return Cli::normalStart();
}
