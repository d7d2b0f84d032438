#include "cli.h"
#include "core/jobs/worker.h"
#include "core/jobs/worker_pool.h"

#include <cstdio>
#include <string_view>
#include <unistd.h>

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    // Not an option of the command line: the worker program runs in this process's place, on the
    // same socket, so that whoever starts `brivlon --worker` gets a worker.
    if (argc == 2 && std::string_view(argv[1]) == Worker::option) {
        const auto program = WorkerPool::program();
        ::execl(program.c_str(), program.c_str(), Worker::option, nullptr);
        std::perror(program.c_str());
        ::_exit(1);
    }
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
