#include "tools/tool.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"

namespace Tools {

namespace {

struct Row {
    Tool tool;
    const char* title;
    bool needsOptions;
};

// In declaration order.
const Row rows[] = {
    {Tool::imgCompress, "Comprimir", true},
    {Tool::imgResize, "Redimensionar", true},
    {Tool::imgCrop, "Recortar", true},
    {Tool::imgRotate, "Girar 90°", false},
    {Tool::imgStrip, "Remover metadados", false},
    {Tool::imgBlurFaces, "Borrar rostos", false},
    {Tool::vidCompress, "Comprimir", true},
    {Tool::vidTrim, "Aparar", false},
    {Tool::vidMute, "Remover áudio", false},
    {Tool::vidRotate, "Girar 90°", false},
    {Tool::vidJoin, "Juntar", false},
    {Tool::audTrim, "Aparar", false},
    {Tool::audNormalize, "Normalizar volume", false},
    {Tool::audJoin, "Juntar", false},
    {Tool::pdfCompress, "Comprimir", false},
    {Tool::pdfSplit, "Dividir páginas", false},
    {Tool::pdfRotate, "Girar 90°", false},
    {Tool::pdfExtract, "Extrair páginas", true},
};

const Row& row(Tool tool) { return rows[static_cast<size_t>(tool)]; }

}

std::string title(Tool tool) { return row(tool).title; }
bool needsOptions(Tool tool) { return row(tool).needsOptions; }

std::vector<Tool> available(const std::vector<std::filesystem::path>& urls)
{
    const auto offer = Catalog::options(urls);
    if (!offer)
        return {};
    std::vector<Tool> result;
    for (auto tool : all())
        if (kind(tool) == offer->kind && (!isBatch(tool) || urls.size() >= 2))
            result.push_back(tool);
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
