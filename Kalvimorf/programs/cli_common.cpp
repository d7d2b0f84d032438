#include "programs/cli.h"

#include "core/base/file_safety.h"

#include <cstdio>
#include <unistd.h>

// What the front and the desktop module both need; each has its own copy.
namespace Cli {

std::vector<std::string> args;

void walk(const std::vector<Row>& rows)
{
    if (args.size() < 2)
        return;
    const auto& option = args[1];
    for (const auto& row : rows) {
        if (int(args.size()) < row.minimum || option != row.option)
            continue;
        if (row.accepts && !row.accepts())
            continue;
        if (row.run)
            row.run();
    }
}

namespace {

std::vector<std::filesystem::path> madeForTheRun;

}

void removeAtExit(const std::filesystem::path& folder) { madeForTheRun.push_back(folder); }

void exitNow(int code)
{
    for (const auto& folder : madeForTheRun)
        FileSafety::removeTree(folder);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

}
