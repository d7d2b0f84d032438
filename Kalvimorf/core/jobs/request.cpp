#include "core/jobs/request.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_formats.h"
#include "core/base/output_paths.h"
#include "core/base/raw_values.h"
#include "core/engines/media_engine.h"
#include "core/engines/media_tools.h"
#include "core/engines/trim_media.h"
#include "core/jobs/job_process.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

bool Request::operator==(const Request& other) const
{
    return op == other.op && sources == other.sources && kind == other.kind && format == other.format
        && format.action == other.format.action && quality == other.quality && folder == other.folder
        && tool == other.tool && trim == other.trim;
}

namespace Requests {

namespace {

struct OpRow {
    Request::Op value;
    const char* raw;
};
constexpr EnumTable<OpRow, 4> ops{{{
    {Request::Op::convert, "convert"},
    {Request::Op::mergePDF, "pdf"},
    {Request::Op::mergeImages, "images"},
    {Request::Op::archive, "archive"},
}}};

// Texts and paths travel as their bytes: a file name need not be UTF-8.
QByteArray bytes(const std::string& text) { return QByteArray(text.data(), qsizetype(text.size())); }
std::string text(const QByteArray& bytes) { return bytes.toStdString(); }

template <typename T> QByteArray optionalRaw(const std::optional<T>& value, std::string (*raw)(T))
{
    return value ? bytes(raw(*value)) : QByteArray();
}

constexpr auto streamVersion = QDataStream::Qt_6_0;

}

std::string commonFolderName(const OutputFormat& format) { return "Convertidos para " + format.label; }

namespace {

// A later part of a set of volumes given with the set's first part is read with it: its own
// job would find nothing whole to unpack.
std::vector<fs::path> withoutTakenParts(const std::vector<fs::path>& sources)
{
    std::vector<fs::path> kept;
    for (const auto& source : sources) {
        const auto first = Catalog::firstVolume(source);
        if (!first || std::find(sources.begin(), sources.end(), *first) == sources.end())
            kept.push_back(source);
    }
    return kept;
}

}

std::optional<fs::path> commonFolder(const std::vector<fs::path>& sources, const OutputFormat& format)
{
    if (format.batch || withoutTakenParts(sources).size() < 2)
        return std::nullopt;
    return OutputPaths::makeCommonFolder(sources.front(), format.label);
}

std::vector<Request> plan(const std::vector<fs::path>& sources, MediaKind kind, const OutputFormat& format,
    std::optional<QualityLevel> quality, const std::optional<fs::path>& folder)
{
    if (format.batch) {
        Request request{Request::Op::archive, Catalog::sorted(sources), kind, format, quality, std::nullopt, {}};
        if (format.action == FormatAction::mergePDF)
            request.op = kind == MediaKind::pdf ? Request::Op::mergePDF : Request::Op::mergeImages;
        return {request};
    }
    std::vector<Request> requests;
    for (const auto& source : withoutTakenParts(sources))
        requests.push_back({Request::Op::convert, {source}, kind, format, quality, folder, {}});
    return requests;
}

QByteArray pack(const Request& request)
{
    QByteArray result;
    QDataStream out(&result, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out << bytes(ops.raw(request.op));
    out << quint32(request.sources.size());
    for (const auto& source : request.sources)
        out << bytes(source.native());
    out << bytes(MediaKinds::rawValue(request.kind)) << bytes(request.format.ext) << bytes(request.format.label)
        << request.format.batch << bytes(FormatActions::rawValue(request.format.action));
    out << optionalRaw(request.quality, QualityLevels::rawValue);
    out << request.folder.has_value() << bytes(request.folder.value_or(fs::path()).native());
    out << request.tool.has_value();
    if (request.tool) {
        out << bytes(request.tool->name) << quint32(request.tool->params.size());
        for (const auto& [key, value] : request.tool->params)
            out << bytes(key) << bytes(value);
    }
    out << request.trim.has_value();
    if (request.trim) {
        out << quint32(request.trim->ranges.size());
        for (const auto& [start, end] : request.trim->ranges)
            out << start << end;
        out << bytes(request.trim->ext) << request.trim->fast << request.trim->inFolder;
    }
    return result;
}

std::optional<Request> unpack(const QByteArray& data)
{
    QDataStream in(data);
    in.setVersion(streamVersion);
    Request request;
    QByteArray op, kind, ext, label, action, quality, folder;
    quint32 count = 0;
    in >> op >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QByteArray source;
        in >> source;
        request.sources.emplace_back(text(source));
    }
    bool hasFolder = false, hasTool = false;
    in >> kind >> ext >> label >> request.format.batch >> action >> quality >> hasFolder >> folder >> hasTool;
    if (hasTool) {
        Request::Tool tool;
        QByteArray name;
        in >> name >> count;
        tool.name = text(name);
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            QByteArray key, value;
            in >> key >> value;
            tool.params[text(key)] = text(value);
        }
        request.tool = std::move(tool);
    }
    bool hasTrim = false;
    in >> hasTrim;
    if (hasTrim) {
        Request::Trim trim;
        QByteArray ext;
        in >> count;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            double start = 0, end = 0;
            in >> start >> end;
            trim.ranges.emplace_back(start, end);
        }
        in >> ext >> trim.fast >> trim.inFolder;
        trim.ext = text(ext);
        request.trim = std::move(trim);
    }
    const auto parsedOp = ops.parse(text(op));
    const auto parsedKind = MediaKinds::fromRaw(text(kind));
    const auto parsedAction = FormatActions::fromRaw(text(action));
    if (in.status() != QDataStream::Ok || !in.atEnd() || !parsedOp || !parsedKind || !parsedAction
        || request.sources.empty())
        return std::nullopt;
    request.op = *parsedOp;
    request.kind = *parsedKind;
    request.format.ext = text(ext);
    request.format.label = text(label);
    request.format.action = *parsedAction;
    if (!quality.isEmpty()) {
        request.quality = QualityLevels::fromRaw(text(quality));
        if (!request.quality)
            return std::nullopt;
    }
    if (hasFolder)
        request.folder = fs::path(text(folder));
    return request;
}

Request forTool(::Tool tool, const std::vector<fs::path>& sources, const ToolParams& params)
{
    Request request;
    request.sources = sources;
    request.kind = Tools::kind(tool);
    Request::Tool job{Tools::rawValue(tool), {}};
    for (const auto& pair : pairsOf(params)) {
        const auto equals = pair.find('=');
        job.params[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    request.tool = std::move(job);
    return request;
}

std::optional<std::pair<::Tool, ToolParams>> toolOf(const Request::Tool& tool)
{
    const auto which = Tools::fromRaw(tool.name);
    if (!which)
        return std::nullopt;
    std::vector<std::string> pairs;
    for (const auto& [key, value] : tool.params)
        pairs.push_back(key + "=" + value);
    return std::pair{*which, withPairs({}, pairs)};
}

std::optional<Writer> writer(const Request& request)
{
    if (request.tool || request.trim)
        return std::nullopt;
    switch (request.op) {
    case Request::Op::convert: return OutputFormats::writer(request.kind, request.format);
    case Request::Op::mergePDF: return Writer::pdfMerge;
    case Request::Op::mergeImages: return Writer::imagesToPDF;
    case Request::Op::archive: return Writer::pack;
    }
    return std::nullopt;
}

Road road(const Request& request)
{
    // A trim is all ffmpeg's work.
    if (request.trim)
        return Road::front;
    // What no card or tool offers fails in the worker, which says so as for any other job.
    if (request.tool) {
        const auto tool = toolOf(*request.tool);
        return tool ? Tools::road(tool->first) : Road::worker;
    }
    const auto made = writer(request);
    return made ? OutputFormats::road(*made) : Road::worker;
}

std::vector<EngineModules::Module> modules(const Request& request)
{
    using Module = EngineModules::Module;
    if (request.trim)
        return {};
    if (request.tool) {
        const auto tool = toolOf(*request.tool);
        if (!tool)
            return {};
        const auto engine = Tools::engine(tool->first);
        if (tool->first == Tool::imgBlurFaces)
            return {Module::images, Module::faces};
        if (engine == &ToolEngineEntries::image || engine == &ToolEngineEntries::pdfCompress)
            return {Module::images};
        return {};
    }
    const auto made = writer(request);
    if (!made)
        return {};
    switch (*made) {
    case Writer::image:
    case Writer::imagesToPDF: return {Module::images};
    case Writer::pdfPages:
    case Writer::document: return {Module::documents};
    case Writer::pdfText: return {Module::pdfText};
    case Writer::media:
    case Writer::pdfMerge:
    case Writer::subtitle:
    case Writer::spreadsheet:
    case Writer::repack:
    case Writer::extract:
    case Writer::pack: return {};
    }
    return {};
}

Task::Context context(const Request& request)
{
    auto context = Task::withQuality(Task::with(Task::current(), request.folder), request.quality);
    context.outputModes = FileSafety::outputModes(request.sources);
    return context;
}

std::optional<fs::path> asIs(const fs::path& source, MediaKind kind, const OutputFormat& format)
{
    // Only folders and packed items may be anything else.
    if (kind != MediaKind::folder && kind != MediaKind::other && Catalog::normalizedExt(source) != "rtfd")
        FileSafety::requireRegularFile(source);
    if (format.action != FormatAction::convert || Catalog::normalizedExt(source) != format.ext)
        return std::nullopt;
    return FileSafety::copyNew(source, OutputPaths::names(source, OutputFormats::fileExtension(format.ext)));
}

fs::path carryOut(const Request& request, const Progress& progress, const Engines& engines)
{
    if (request.sources.empty())
        throw ConversionError::unsupported();
    const auto needed = [](const auto& engine) -> const auto&
    {
        if (!engine)
            throw ConversionError::unsupported();
        return engine;
    };
    if (request.trim) {
        const auto& trim = *request.trim;
        return TrimMedia::exportRanges(
            request.sources.front(), trim.ranges, trim.ext, trim.fast, request.kind, trim.inFolder, progress);
    }
    if (request.tool) {
        const auto tool = toolOf(*request.tool);
        if (!tool)
            throw ConversionError::unsupported();
        return needed(engines.tool)(tool->first, request.sources, tool->second, progress);
    }
    switch (request.op) {
    case Request::Op::convert:
        return needed(engines.convert)(request.sources.front(), request.kind, request.format, progress);
    case Request::Op::mergePDF: return needed(engines.mergePDF)(request.sources);
    case Request::Op::mergeImages: return needed(engines.mergeImages)(request.sources);
    case Request::Op::archive: return needed(engines.archive)(request.sources, request.format);
    }
    throw ConversionError::unsupported();
}

fs::path performHere(const Request& request, const Progress& progress)
{
    auto bounded = context(request);
    bounded.bounds = JobProcess::of(request);
    Task::Binder binder(std::move(bounded));
    // Of the engines only ffmpeg's: what else a request asks for is never the front's (road()).
    static const Engines media{
        .tool = &MediaTools::perform,
        .convert =
            [](const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress) {
                if (auto copy = asIs(source, kind, format))
                    return *copy;
                return MediaEngine::convert(source, format, progress);
            },
        .mergePDF = {},
        .mergeImages = {},
        .archive = {},
    };
    return carryOut(request, progress, media);
}
}
