#include "tools/tool.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"

namespace Tools {

namespace {

struct Row {
    Tool tool;
    const char* raw;
    MediaKind kind;
    const char* title;
    const char* suffix;
    bool needsOptions;
};

// In declaration order: the order the cards show them.
const Row rows[] = {
    {Tool::imgCompress, "imgCompress", MediaKind::image, "Comprimir", "comprimido", true},
    {Tool::imgResize, "imgResize", MediaKind::image, "Redimensionar", "redimensionado", true},
    {Tool::imgCrop, "imgCrop", MediaKind::image, "Recortar", "recortado", true},
    {Tool::imgRotate, "imgRotate", MediaKind::image, "Girar 90°", "girado", false},
    {Tool::imgStrip, "imgStrip", MediaKind::image, "Remover metadados", "sem metadados", false},
    {Tool::imgBlurFaces, "imgBlurFaces", MediaKind::image, "Borrar rostos", "rostos borrados", false},
    {Tool::vidCompress, "vidCompress", MediaKind::video, "Comprimir", "comprimido", true},
    {Tool::vidTrim, "vidTrim", MediaKind::video, "Aparar", "aparado", false},
    {Tool::vidMute, "vidMute", MediaKind::video, "Remover áudio", "sem áudio", false},
    {Tool::vidRotate, "vidRotate", MediaKind::video, "Girar 90°", "girado", false},
    {Tool::vidJoin, "vidJoin", MediaKind::video, "Juntar", "juntos", false},
    {Tool::audTrim, "audTrim", MediaKind::audio, "Aparar", "aparado", false},
    {Tool::audNormalize, "audNormalize", MediaKind::audio, "Normalizar volume", "normalizado", false},
    {Tool::audJoin, "audJoin", MediaKind::audio, "Juntar", "juntos", false},
    {Tool::pdfCompress, "pdfCompress", MediaKind::pdf, "Comprimir", "comprimido", false},
    {Tool::pdfSplit, "pdfSplit", MediaKind::pdf, "Dividir páginas", "páginas", false},
    {Tool::pdfRotate, "pdfRotate", MediaKind::pdf, "Girar 90°", "girado", false},
    {Tool::pdfExtract, "pdfExtract", MediaKind::pdf, "Extrair páginas", "extraído", true},
};

const Row& row(Tool tool) { return rows[static_cast<size_t>(tool)]; }

}

const std::vector<Tool>& all()
{
    static const std::vector<Tool> tools = [] {
        std::vector<Tool> result;
        for (const auto& r : rows)
            result.push_back(r.tool);
        return result;
    }();
    return tools;
}

std::string rawValue(Tool tool) { return row(tool).raw; }
std::string title(Tool tool) { return row(tool).title; }
std::string suffix(Tool tool) { return row(tool).suffix; }
MediaKind kind(Tool tool) { return row(tool).kind; }
bool needsOptions(Tool tool) { return row(tool).needsOptions; }

bool isBatch(Tool tool) { return tool == Tool::vidJoin || tool == Tool::audJoin; }

std::optional<Tool> fromRaw(const std::string& raw)
{
    for (const auto& r : rows)
        if (raw == r.raw)
            return r.tool;
    return std::nullopt;
}

std::vector<Tool> available(const std::vector<std::filesystem::path>& urls)
{
    const auto offer = Catalog::options(urls);
    if (!offer)
        return {};
    std::vector<Tool> result;
    for (const auto& r : rows)
        if (r.kind == offer->kind && (!isBatch(r.tool) || urls.size() >= 2))
            result.push_back(r.tool);
    return result;
}

}

namespace ToolEngine {

FileSafety::NameFor output(const std::filesystem::path& source, Tool tool, const std::optional<std::string>& ext)
{
    const auto base = source.stem().string() + " (" + Tools::suffix(tool) + ")";
    return FileSafety::numberedNames(OutputPaths::directory(source), base, ext ? *ext : Catalog::normalizedExt(source));
}

}
