#include "headless_trim.h"

#include "cli.h"
#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/base/task.h"
#include "core/engines/time_text.h"
#include "core/engines/trim_media.h"
#include "headless_run.h"

#include <string>
#include <vector>

namespace HeadlessTrim {

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    size_t begin = 0;
    while (begin <= text.size()) {
        auto end = std::min(text.find(separator, begin), text.size());
        if (end > begin)
            pieces.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

// Seconds as a plain number ("12,5" too) or a clock time ("1:02,5"); anything else is 0.
double time(const std::string& text) { return TimeParse::parse(text).value_or(0); }

std::vector<TrimMedia::Range> ranges(const std::vector<std::string>& args)
{
    if (args[3] != "-")
        return {{time(args[2]), time(args[3])}};
    std::vector<TrimMedia::Range> list;
    for (const auto& piece : split(args[2], ',')) {
        auto parts = split(piece, '-');
        if (parts.size() == 2)
            list.emplace_back(time(parts[0]), time(parts[1]));
    }
    return list;
}

}

void run()
{
    const auto& args = Cli::args;
    const fs::path source = args[6];
    const auto ext = args[4] == "keep" ? std::string() : args[4];
    const bool fast = args[5] == "fast";
    // A termination signal ends ffmpeg, and the unfinished output goes with the unwinding.
    HeadlessRun::takeTerminationSignals();
    try {
        Task::Binder binder(Task::newJob());
        auto output = TrimMedia::exportRanges(source, ranges(args), ext, fast, Catalog::kind(source), false, {});
        HeadlessRun::printLine(stdout, output.string());
        HeadlessRun::finish(0);
    } catch (const std::exception& error) {
        if (!HeadlessRun::signalled())
            HeadlessRun::printLine(stderr, "erro: " + describeError(error));
        HeadlessRun::finish(1);
    }
}

}
