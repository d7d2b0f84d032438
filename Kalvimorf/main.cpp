#include "cli.h"
#include "core/jobs/worker.h"

#include <string_view>

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    // Not an option of the command line: the desktop program starts its own workers this way.
    if (argc == 2 && std::string_view(argv[1]) == Worker::option)
        Worker::serve();
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
