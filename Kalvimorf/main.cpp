#include "cli.h"
#include "documents/engines.h"

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    Documents::install();
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
