#include "core/engines/tool_params.h"

#include "core/base/output_paths.h"
#include "core/base/raw_values.h"

#include <charconv>

namespace Tools {

namespace {

using Kind = ToolControl::Kind;

struct Row {
    Tool value;
    std::string_view raw;
    MediaKind kind;
    // The output's name: "<stem> (<suffix>).<ext>".
    std::string_view suffix;
    std::string_view label;
    std::string_view title;
    ToolEngineEntries::Entry ToolEngineEntries::*engine;
    // The panel's controls; none runs the tool at once.
    std::vector<ToolControl> controls = {};
    // "key=value" pairs over the runner's defaults that the panel starts from.
    std::vector<std::string> panelStart = {};
    bool batch = false;
    bool opensEditor = false;
};

const std::vector<ToolChoice> qualities{{"Alta", 85}, {"Média", 70}, {"Baixa", 50}};

// In declaration order: the order the cards show them.
const EnumTable<Row, 18>& table()
{
    static const EnumTable<Row, 18> rows{{{
        {Tool::imgCompress, "imgCompress", MediaKind::image, "comprimido", "COMPRIMIR", "Comprimir",
            &ToolEngineEntries::image,
            {{Kind::buttons, "Qualidade", &ToolParams::quality, qualities},
                {Kind::menu, "Tamanho máximo", &ToolParams::maxSide,
                    {{"Original", 0}, {"3840 px", 3840}, {"2560 px", 2560}, {"1920 px", 1920}, {"1280 px", 1280}}},
                {Kind::caption, "PNG não tem compressão com perda: só o tamanho é reduzido."}},
            // Compression starts from the original size.
            {"maxSide=0"}},
        {Tool::imgResize, "imgResize", MediaKind::image, "redimensionado", "REDIMEN- SIONAR", "Redimensionar", &ToolEngineEntries::image,
            // The hidden picker keeps its value, so switching back shows the earlier choice.
            {{Kind::modes, "Modo", &ToolParams::useMaxSide, {{"Lado maior", true}, {"Porcentagem", false}}},
                {Kind::menu, "Lado maior", &ToolParams::maxSide,
                    {{"3840 px", 3840}, {"2560 px", 2560}, {"1920 px", 1920}, {"1600 px", 1600}, {"1280 px", 1280},
                        {"1080 px", 1080}, {"720 px", 720}, {"512 px", 512}},
                    0},
                {Kind::menu, "Escala", &ToolParams::scalePercent,
                    {{"75%", 75}, {"50%", 50}, {"33%", 33}, {"25%", 25}, {"10%", 10}}, 1}}},
        {Tool::imgCrop, "imgCrop", MediaKind::image, "recortado", "RECORTAR", "Recortar",
            &ToolEngineEntries::image,
            {{Kind::menu, "Proporção", &ToolParams::aspect,
                 {{"1:1", 0, "1:1"}, {"4:5", 0, "4:5"}, {"3:4", 0, "3:4"}, {"2:3", 0, "2:3"}, {"16:9", 0, "16:9"},
                     {"9:16", 0, "9:16"}, {"4:3", 0, "4:3"}, {"3:2", 0, "3:2"}}},
                {Kind::caption, "Recorte centralizado."}}},
        {Tool::imgRotate, "imgRotate", MediaKind::image, "girado", "GIRAR", "Girar 90°",
            &ToolEngineEntries::image},
        {Tool::imgStrip, "imgStrip", MediaKind::image, "sem metadados", "SEM METADADOS", "Remover metadados", &ToolEngineEntries::image},
        // Face detection is OpenCV's, which the image worker opens for this tool alone.
        {Tool::imgBlurFaces, "imgBlurFaces", MediaKind::image, "rostos borrados", "BORRAR ROSTOS", "Borrar rostos", &ToolEngineEntries::image},
        {Tool::vidCompress, "vidCompress", MediaKind::video, "comprimido", "COMPRIMIR", "Comprimir",
            &ToolEngineEntries::media,
            {{Kind::buttons, "Qualidade", &ToolParams::quality, qualities},
                {Kind::menu, "Resolução máxima", &ToolParams::resolution,
                    {{"Original", 0}, {"1080p", 1080}, {"720p", 720}, {"480p", 480}}},
                {Kind::caption, "Saída em MP4 (HEVC), com o codificador de software x265."}},
            {"resolution=1080"}},
        {Tool::vidTrim, "vidTrim", MediaKind::video, "aparado", "APARAR", "Aparar",
            &ToolEngineEntries::media, {}, {}, false, true},
        {Tool::vidMute, "vidMute", MediaKind::video, "sem áudio", "SEM ÁUDIO", "Remover áudio",
            &ToolEngineEntries::media},
        {Tool::vidRotate, "vidRotate", MediaKind::video, "girado", "GIRAR", "Girar 90°",
            &ToolEngineEntries::media},
        {Tool::vidJoin, "vidJoin", MediaKind::video, "juntos", "JUNTAR", "Juntar",
            &ToolEngineEntries::media, {}, {}, true},
        {Tool::audTrim, "audTrim", MediaKind::audio, "aparado", "APARAR", "Aparar",
            &ToolEngineEntries::media, {}, {}, false, true},
        {Tool::audNormalize, "audNormalize", MediaKind::audio, "normalizado", "NORMA- LIZAR", "Normalizar volume", &ToolEngineEntries::media},
        {Tool::audJoin, "audJoin", MediaKind::audio, "juntos", "JUNTAR", "Juntar",
            &ToolEngineEntries::media, {}, {}, true},
        {Tool::pdfCompress, "pdfCompress", MediaKind::pdf, "comprimido", "COMPRIMIR", "Comprimir",
            &ToolEngineEntries::pdfCompress},
        {Tool::pdfSplit, "pdfSplit", MediaKind::pdf, "páginas", "DIVIDIR", "Dividir páginas",
            &ToolEngineEntries::pdf},
        {Tool::pdfRotate, "pdfRotate", MediaKind::pdf, "girado", "GIRAR", "Girar 90°",
            &ToolEngineEntries::pdf},
        {Tool::pdfExtract, "pdfExtract", MediaKind::pdf, "extraído", "EXTRAIR PÁGINAS", "Extrair páginas", &ToolEngineEntries::pdf,
            {{Kind::field, "Páginas", &ToolParams::pages}, {Kind::caption, "Ex.: 1-3, 5, 8-  (8- = da 8 até o fim)"}}},
    }}};
    return rows;
}

const Row& row(Tool tool) { return table()[tool]; }

}

const std::vector<Tool>& all()
{
    static const std::vector<Tool> tools = table().values();
    return tools;
}

std::string rawValue(Tool tool) { return table().raw(tool); }
std::optional<Tool> fromRaw(const std::string& raw) { return table().parse(raw); }
std::string suffix(Tool tool) { return std::string(row(tool).suffix); }
MediaKind kind(Tool tool) { return row(tool).kind; }
bool isBatch(Tool tool) { return row(tool).batch; }
std::string label(Tool tool) { return std::string(row(tool).label); }
std::string title(Tool tool) { return std::string(row(tool).title); }
bool needsOptions(Tool tool) { return !row(tool).controls.empty(); }
const std::vector<ToolControl>& controls(Tool tool) { return row(tool).controls; }
ToolParams panelStart(Tool tool) { return withPairs({}, row(tool).panelStart); }
bool opensEditor(Tool tool) { return row(tool).opensEditor; }
Road road(Tool tool)
{
    // The media tools are ffmpeg's, as media conversions are.
    return row(tool).engine == &ToolEngineEntries::media ? OutputFormats::road(Writer::media) : Road::worker;
}
ToolEngineEntries::Entry ToolEngineEntries::*engine(Tool tool) { return row(tool).engine; }

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
