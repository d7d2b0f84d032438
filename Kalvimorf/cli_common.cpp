#include "cli.h"

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

void exitNow(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

}
