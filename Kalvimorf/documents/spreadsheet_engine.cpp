#include "documents/spreadsheet_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "documents/delimited.h"
#include "documents/text_file.h"
#include "documents/xlsx.h"

#include <algorithm>

namespace SpreadsheetEngine {

Workbook load(const fs::path& source)
{
    const auto ext = Catalog::normalizedExt(source);
    if (ext == "xlsx")
        return readXLSX(source);
    auto text = TextFile::readDetecting(source);
    TextFile::removeByteOrderMarks(text);
    const char delimiter = ext == "tsv" ? '\t' : detectDelimiter(text);
    return {Sheet{"Planilha1", parseDelimited(text, delimiter)}};
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    const auto workbook = load(source);
    if (workbook.empty())
        throw ConversionError::unreadable();
    if (format.ext == "xlsx")
        return writeXLSX(workbook, OutputPaths::names(source, "xlsx"));
    const char delimiter = format.ext == "tsv" ? '\t' : ',';
    if (workbook.size() == 1)
        return writeDelimited(workbook.front().rows, delimiter, OutputPaths::names(source, format.ext));
    // "Vendas (CSV)", then "Vendas (CSV) 2", …, given once every sheet is in the hidden folder.
    const auto names = FileSafety::numberedNames(
        OutputPaths::directory(source), source.stem().string() + " (" + format.label + ")", "");
    auto staged = FileSafety::StagedPath::folderFor(names);
    for (const auto& sheet : workbook) {
        auto name = sheet.name;
        std::replace(name.begin(), name.end(), '/', '-');
        // Sheets whose names come out the same land beside each other as "name 2", …
        writeDelimited(sheet.rows, delimiter, staged.path() / (name + "." + format.ext));
    }
    return staged.publish(names);
}

}
