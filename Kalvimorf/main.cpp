#include "programs/cli.h"
#include "core/base/helper_module.h"
#include "core/jobs/worker.h"
#include "core/jobs/worker_pool.h"
#include "programs/headless_conversion.h"
#include "programs/headless_tool.h"
#include "programs/headless_trim.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// Rows that need nothing of the desktop: they run before the desktop module is loaded, so that
// a command-line conversion starts with Qt Core alone and its worker starts at once.
const std::vector<Cli::Row>& headlessRows()
{
    static const std::vector<Cli::Row> rows = {
        {"--convert", 4, nullptr, HeadlessConversion::run},
        {"--tool", 4, HeadlessTool::accepts, HeadlessTool::run},
        {"--trim", 7, nullptr, HeadlessTrim::run},
    };
    return rows;
}

}

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    // Not an option of the command line: the worker program runs in this process's place, on the
    // same socket, so that whoever starts `brivlon --worker` gets a worker.
    if (argc >= 2 && std::string_view(argv[1]) == Worker::option) {
        // With the modules named after the option, for it to open while it waits.
        const auto program = WorkerPool::program();
        argv[0] = const_cast<char*>(program.c_str());
        ::execv(program.c_str(), argv);
        std::perror(program.c_str());
        ::_exit(int(Cli::ExitCode::failed));
    }
    Cli::walk(headlessRows());
    // The desktop program, the render modes and every other row.
    std::string error;
    const auto entry = HelperModule::entry<int(int, char**)>("brivlon-desktop.so", "brivlon_desktop_main", &error);
    if (!entry) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return int(Cli::ExitCode::failed);
    }
    entry(argc, argv);
    return int(Cli::ExitCode::done);
}
