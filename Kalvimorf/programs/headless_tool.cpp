#include "programs/headless_tool.h"

#include "programs/cli.h"
#include "core/engines/tool_params.h"
#include "programs/headless_run.h"

#include <algorithm>

namespace HeadlessTool {

namespace {

std::vector<std::string>::const_iterator separator() { return std::find(Cli::args.begin(), Cli::args.end(), "--"); }

}

bool accepts() { return Tools::fromRaw(Cli::args[2]) && separator() != Cli::args.end(); }

void run()
{
    const auto& args = Cli::args;
    const auto tool = *Tools::fromRaw(args[2]);
    const auto dashes = separator();
    const auto params = withPairs({}, {args.begin() + 3, std::max(args.begin() + 3, dashes)});
    std::vector<fs::path> files;
    for (auto it = dashes + 1; it < args.end(); ++it)
        files.push_back(fs::absolute(*it));

    HeadlessRun::blockTerminationSignals();
    HeadlessRun::finish(HeadlessRun::perform([&] {
        // A join is one job of every file; any other tool one job per file, in the order given.
        std::vector<Request> requests;
        if (Tools::isBatch(tool))
            requests.push_back(Requests::forTool(tool, files, params));
        else
            for (const auto& file : files)
                requests.push_back(Requests::forTool(tool, {file}, params));
        return requests;
    }));
}

}
