#include "programs/headless_trim.h"

#include "core/base/catalog.h"
#include "core/engines/time_text.h"
#include "core/engines/tool_params.h"
#include "core/engines/trim_media.h"
#include "programs/cli.h"
#include "programs/headless_run.h"

#include <string>
#include <vector>

namespace HeadlessTrim {

namespace {

// Seconds as a plain number ("12,5" too) or a clock time ("1:02,5"); blank is 0. A text that
// reads as neither is refused rather than taken as 0, which would cut other times than asked.
double time(const std::string& text)
{
    if (text.find_first_not_of(" \t") == std::string::npos)
        return 0;
    if (auto seconds = TimeParse::parse(text))
        return *seconds;
    throw ToolError(
        "Não foi possível ler o tempo \"" + text + "\". Use segundos (12,5) ou minutos e segundos (1:02,5).");
}

std::vector<TrimMedia::Range> ranges(const std::vector<std::string>& args)
{
    if (args[3] != "-")
        return {{time(args[2]), time(args[3])}};
    if (auto list = TimeParse::ranges(args[2]))
        return *list;
    throw ToolError("Não foi possível ler os trechos \"" + args[2]
        + "\". Separe-os com vírgulas, cada um com início e fim: 0:10-0:20,1:02,5-1:04.");
}

}

void run()
{
    const auto& args = Cli::args;
    // Printed as --convert and --tool print theirs: the output beside an absolute source.
    const fs::path source = fs::absolute(args[6]);
    // A job like any other: a request of the front's road, carried out inside the job's bounds.
    HeadlessRun::finish(HeadlessRun::perform([&] {
        Request request;
        request.sources = {source};
        request.kind = Catalog::kind(source);
        request.trim
            = Request::Trim{ranges(args), args[4] == "keep" ? std::string() : args[4], args[5] == "fast", false};
        return std::vector<Request>{request};
    }));
}

}
