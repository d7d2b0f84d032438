#include "menus/wheel_controller.h"

#include "core/base/catalog.h"
#include "core/jobs/conversion_runner.h"
#include "menus/file_action.h"
#include "tools/tool_runner.h"

#include <QString>

namespace {

// The capital card labels of the tools; the two long ones break after a hyphen.
const char* toolLabel(Tool tool)
{
    switch (tool) {
    case Tool::imgCompress:
    case Tool::vidCompress:
    case Tool::pdfCompress: return "COMPRIMIR";
    case Tool::imgResize: return "REDIMEN- SIONAR";
    case Tool::imgCrop: return "RECORTAR";
    case Tool::imgRotate:
    case Tool::vidRotate:
    case Tool::pdfRotate: return "GIRAR";
    case Tool::imgStrip: return "SEM METADADOS";
    case Tool::imgBlurFaces: return "BORRAR ROSTOS";
    case Tool::vidTrim:
    case Tool::audTrim: return "APARAR";
    case Tool::vidMute: return "SEM ÁUDIO";
    case Tool::vidJoin:
    case Tool::audJoin: return "JUNTAR";
    case Tool::audNormalize: return "NORMA- LIZAR";
    case Tool::pdfSplit: return "DIVIDIR";
    case Tool::pdfExtract: return "EXTRAIR PÁGINAS";
    }
    return "";
}

std::string formatDetail(const OutputFormat& format)
{
    if (format.label == Catalog::mergedPDF().label)
        return "Juntar tudo em um PDF";
    if (format.label == Catalog::extractFormat().label)
        return "Extrair o conteúdo";
    return "Converter para " + format.label;
}

}

WheelController::Entries WheelController::entries(WheelMode mode, const WheelEntry::Paths& files)
{
    Entries result;
    switch (mode) {
    case WheelMode::convert:
        if (const auto offer = Catalog::options(files))
            for (const auto& format : offer->formats)
                result.entries.push_back({format.label, formatDetail(format), QualityGroups::of(format.ext),
                    [format](const WheelEntry::Paths& dropped, QualityLevel level) {
                        ConversionRunner::shared().run(dropped, format, level);
                    },
                    [format](const WheelEntry::Paths& dropped) {
                        ConversionRunner::shared().run(dropped, format, std::nullopt);
                    }});
        result.empty = files.size() > 1 ? "Use arquivos do\nmesmo grupo" : "Sem conversões\npara este arquivo";
        break;
    case WheelMode::tools:
        for (auto tool : Tools::available(files))
            result.entries.push_back(
                {toolLabel(tool), Tools::title(tool), std::nullopt, nullptr, [tool](const WheelEntry::Paths& dropped) {
                     ToolRunner::shared().start(tool, dropped);
                 }});
        result.empty = "Sem ferramentas\npara esta seleção";
        break;
    case WheelMode::actions:
        for (auto action : FileActions::all())
            result.entries.push_back({FileActions::label(action), FileActions::detail(action), std::nullopt, nullptr,
                [action](const WheelEntry::Paths& dropped) {
                    FileActions::perform(action, dropped);
                }});
        break;
    }
    return result;
}

std::string WheelController::title(WheelMode mode)
{
    switch (mode) {
    case WheelMode::convert: return "Converter";
    case WheelMode::tools: return "Ferramentas";
    case WheelMode::actions: return "Ações";
    }
    return {};
}

std::vector<WheelEntry> WheelController::qualityEntries(
    QualityGroup group, QualityLevel saved, std::function<void(QualityLevel)> choose)
{
    auto upper = [](const std::string& text) {
        return QString::fromStdString(text).toUpper().toStdString();
    };
    std::vector<WheelEntry> cards;
    for (auto level : QualityLevels::all()) {
        const auto name = QualityLevels::displayName(level);
        const auto shortText = QualityGroups::shortText(group, level);
        cards.push_back({upper(name) + (shortText.empty() ? "" : " " + shortText),
            QualityGroups::label(group, level) + (level == saved ? "\n(padrão)" : ""), std::nullopt, nullptr,
            [choose, level](const WheelEntry::Paths&) {
                if (choose)
                    choose(level);
            }});
    }
    return cards;
}
