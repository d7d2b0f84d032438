#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"
#include "core/base/quality.h"
#include "core/base/task.h"
#include "core/engines/module_kind.h"
#include "core/engines/tool_params.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One job's whole order, the same value on every road: the command line builds it, the runner
// builds it, a worker receives it, and perform() (perform.h) carries it out. Whatever a job needs
// travels in it, so that no road can leave a field behind.
struct Request {
    enum class Op {
        convert,  // the one source through the dispatcher (extracting an archive included)
        mergePDF,  // PDFs into one PDF
        mergeImages,  // images into one PDF
        archive,  // every source into one archive
    };
    // A tool job: the tool's raw value and its options as texts (ToolParams as pairsOf gives
    // them), kept apart from `op` so that a tool job still names its sources the same way.
    struct Tool {
        std::string name;
        std::map<std::string, std::string> params;
        bool operator==(const Tool&) const = default;
    };
    // A trim job (`--trim`, the trim editor's export) of the one source: the stretches it keeps,
    // in seconds; the extension it is written as (empty: its own where it can be written); a
    // stream copy or an encode; and, with `inFolder`, the source's own name in `folder`.
    struct Trim {
        std::vector<std::pair<double, double>> ranges;
        std::string ext;
        bool fast = false;
        bool inFolder = false;
        bool operator==(const Trim&) const = default;
    };

    Op op = Op::convert;
    std::vector<fs::path> sources;
    MediaKind kind = MediaKind::other;
    OutputFormat format;
    // The job's quality; the saved levels apply without one.
    std::optional<QualityLevel> quality;
    // Where every output goes; the usual output folder of each source without one.
    std::optional<fs::path> folder;
    std::optional<Tool> tool;
    std::optional<Trim> trim;

    // Every field, the format's action included (OutputFormat's own == leaves it out).
    bool operator==(const Request& other) const;
};

namespace Requests {

// What a drop of `sources` (a selection of `kind`) on `format` asks for: for a batch format one
// request with the sources in file-manager order, else one request per source in the order
// given, each writing into `folder`.
std::vector<Request> plan(const std::vector<fs::path>& sources, MediaKind kind, const OutputFormat& format,
    std::optional<QualityLevel> quality, const std::optional<fs::path>& folder);

// The folder that holds the outputs when two or more sources go to a non-batch format:
// "Convertidos para <label>" (or with " 2", " 3", …) in the output folder of the first source,
// made here; nothing for one source or a batch format. Throws the file system's error when it
// cannot be made: the command line reports it, the runner goes on without a common folder.
std::optional<fs::path> commonFolder(const std::vector<fs::path>& sources, const OutputFormat& format);
std::string commonFolderName(const OutputFormat& format);

// Where the request runs: its writer's road, or a tool job's (see Road).
Road road(const Request& request);
// The engine modules its job opens, for a worker started for it to open while it waits.
std::vector<EngineModules::Module> modules(const Request& request);

// The writer of a request that is no tool's (see OutputFormats::writer); nothing for a
// conversion no card offers.
std::optional<Writer> writer(const Request& request);

// The task a request's work runs in: the caller's (its cancellation and name claims) with the
// request's output folder and quality bound for the engines.
Task::Context context(const Request& request);

// What a conversion of `source` does before its engine: a source that must be a regular file and
// is not (a link to /dev/zero or a FIFO would be read for ever) throws; one that already has the
// wanted type is copied as it is, under a free name, and the copy is the output.
std::optional<fs::path> asIs(const fs::path& source, MediaKind kind, const OutputFormat& format);

// What carries out each kind of request: perform() (documents/perform.h) gives every engine,
// performHere() those whose work is all ffmpeg's processes. A kind left empty is unsupported.
struct Engines {
    std::function<fs::path(::Tool, const std::vector<fs::path>&, const ToolParams&, const Progress&)> tool;
    std::function<fs::path(const fs::path&, MediaKind, const OutputFormat&, const Progress&)> convert;
    std::function<fs::path(const std::vector<fs::path>&)> mergePDF, mergeImages;
    std::function<fs::path(const std::vector<fs::path>&, const OutputFormat&)> archive;
};
// The one dispatch of a request on every road, inside the task already bound: a trim to the trim
// export (TrimMedia), a tool or a conversion to its engine in `engines`.
fs::path carryOut(const Request& request, const Progress& progress, const Engines& engines);

// Carries out, in this process, a request whose work is all in ffmpeg's processes (road() gives
// the front: a trim, a media tool, a conversion of a video or a sound), as perform() would in a
// worker: each of its tools inside the job's bounds (JobProcess::of), watched against its budget.
fs::path performHere(const Request& request, const Progress& progress);

// A tool's job on `sources`: a join all of them, any other tool the one source it is given.
Request forTool(::Tool tool, const std::vector<fs::path>& sources, const ToolParams& params);
// The tool and its parameters a tool job carries; nothing for an unknown tool.
std::optional<std::pair<::Tool, ToolParams>> toolOf(const Request::Tool& tool);

// The request as bytes (a QDataStream), for the workers; paths keep every byte.
QByteArray pack(const Request& request);
// Nothing for bytes that are no whole request.
std::optional<Request> unpack(const QByteArray& bytes);

}
