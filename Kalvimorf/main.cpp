#include "cli.h"
#include "core/jobs/worker.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace {

// Loads the engines' module (worker_module.cpp) and serves; the module sits in the program's
// resources, or, for a build run from elsewhere, where the build put it.
[[noreturn]] void serveFromModule()
{
    const auto beside
        = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "resources/lib/brivlon-worker.so";
    for (const std::string& path : {beside.string(), std::string(BRIVLON_WORKER_MODULE)}) {
        if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
            if (auto* serve = reinterpret_cast<void (*)()>(::dlsym(module, "brivlon_worker_serve")))
                serve();
    }
    // The parent sees a worker that ended without an answer, as after a crash.
    std::fprintf(stderr, "brivlon: %s\n", ::dlerror());
    ::_exit(1);
}

}

int main(int argc, char** argv)
{
    Cli::args.assign(argv, argv + argc);
    // Not an option of the command line: the program starts its own workers this way.
    if (argc == 2 && std::string_view(argv[1]) == Worker::option)
        serveFromModule();
    Cli::dispatch();
    Cli::normalStart();
    return 0;
}
