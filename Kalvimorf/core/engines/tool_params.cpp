#include "core/engines/tool_params.h"

#include "core/base/output_paths.h"
#include "core/base/raw_values.h"

#include <charconv>

namespace Tools {

namespace {

struct Row {
    Tool value;
    std::string_view raw;
    MediaKind kind;
    const char* suffix;
};

// In declaration order: the order the cards show them.
constexpr EnumTable<Row, 18> table = {{{
    {Tool::imgCompress, "imgCompress", MediaKind::image, "comprimido"},
    {Tool::imgResize, "imgResize", MediaKind::image, "redimensionado"},
    {Tool::imgCrop, "imgCrop", MediaKind::image, "recortado"},
    {Tool::imgRotate, "imgRotate", MediaKind::image, "girado"},
    {Tool::imgStrip, "imgStrip", MediaKind::image, "sem metadados"},
    {Tool::imgBlurFaces, "imgBlurFaces", MediaKind::image, "rostos borrados"},
    {Tool::vidCompress, "vidCompress", MediaKind::video, "comprimido"},
    {Tool::vidTrim, "vidTrim", MediaKind::video, "aparado"},
    {Tool::vidMute, "vidMute", MediaKind::video, "sem áudio"},
    {Tool::vidRotate, "vidRotate", MediaKind::video, "girado"},
    {Tool::vidJoin, "vidJoin", MediaKind::video, "juntos"},
    {Tool::audTrim, "audTrim", MediaKind::audio, "aparado"},
    {Tool::audNormalize, "audNormalize", MediaKind::audio, "normalizado"},
    {Tool::audJoin, "audJoin", MediaKind::audio, "juntos"},
    {Tool::pdfCompress, "pdfCompress", MediaKind::pdf, "comprimido"},
    {Tool::pdfSplit, "pdfSplit", MediaKind::pdf, "páginas"},
    {Tool::pdfRotate, "pdfRotate", MediaKind::pdf, "girado"},
    {Tool::pdfExtract, "pdfExtract", MediaKind::pdf, "extraído"},
}}};

}

const std::vector<Tool>& all()
{
    static const std::vector<Tool> tools = table.values();
    return tools;
}

std::string rawValue(Tool tool) { return table.raw(tool); }
std::optional<Tool> fromRaw(const std::string& raw) { return table.parse(raw); }
std::string suffix(Tool tool) { return table[tool].suffix; }
MediaKind kind(Tool tool) { return table[tool].kind; }
bool isBatch(Tool tool) { return tool == Tool::vidJoin || tool == Tool::audJoin; }

std::filesystem::path preferredOutput(const std::filesystem::path& source, Tool tool, const std::string& ext)
{
    auto name = source.stem().string() + " (" + suffix(tool) + ")";
    if (!ext.empty())
        name += "." + ext;
    return OutputPaths::directory(source) / name;
}

}

namespace {

std::optional<int> decimal(const std::string& text)
{
    auto digits = std::string_view(text);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.front() == '+' || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

}

ToolParams withPairs(ToolParams params, const std::vector<std::string>& pairs)
{
    for (const auto& pair : pairs) {
        const auto equals = pair.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == pair.size())
            continue;
        const auto key = pair.substr(0, equals), value = pair.substr(equals + 1);
        const auto number = [&](int& field) {
            if (auto n = decimal(value))
                field = *n;
        };
        if (key == "quality")
            number(params.quality);
        else if (key == "maxSide")
            number(params.maxSide);
        else if (key == "resolution")
            number(params.resolution);
        else if (key == "scale") {
            number(params.scalePercent);
            params.useMaxSide = false;
        } else if (key == "aspect")
            params.aspect = value;
        else if (key == "start")
            params.start = value;
        else if (key == "end")
            params.end = value;
        else if (key == "pages")
            params.pages = value;
    }
    return params;
}

std::vector<std::string> pairsOf(const ToolParams& params)
{
    std::vector<std::string> pairs{"quality=" + std::to_string(params.quality),
        "maxSide=" + std::to_string(params.maxSide), "resolution=" + std::to_string(params.resolution),
        "aspect=" + params.aspect, "start=" + params.start, "pages=" + params.pages};
    if (!params.useMaxSide)
        pairs.push_back("scale=" + std::to_string(params.scalePercent));
    if (!params.end.empty())
        pairs.push_back("end=" + params.end);
    return pairs;
}
