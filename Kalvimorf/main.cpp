#include "cli.h"

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
