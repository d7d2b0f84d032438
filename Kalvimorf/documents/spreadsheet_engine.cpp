#include "documents/spreadsheet_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "documents/budget.h"
#include "documents/delimited.h"
#include "documents/text_file.h"
#include "documents/xlsx.h"

#include <algorithm>
#include <cstdint>
#include <functional>

namespace SpreadsheetEngine {

namespace {

// The rows of a CSV or TSV file as they are read: the text is never held whole.
void eachRow(const fs::path& source, const std::string& ext, const std::function<void(Row&&)>& row)
{
    char delimiter = '\t';
    if (ext != "tsv") {
        DelimiterCount count;
        TextFile::eachPiece(source, [&count](std::string_view piece) {
            return count.add(piece);
        });
        delimiter = count.delimiter();
    }
    DelimitedReader reader(delimiter, row);
    TextFile::eachPiece(source, [&reader](std::string_view piece) {
        reader.add(piece);
        return true;
    });
    reader.finish();
}

// The rows held for a workbook, refused past `most` rows with beyondSheet.
std::vector<Row> rowsOf(const fs::path& source, const std::string& ext, size_t most)
{
    Budget budget(tableBytes, tableTooLarge);
    std::vector<Row> rows;
    eachRow(source, ext, [&](Row&& row) {
        if (rows.size() == most)
            throw ConversionError::because(beyondSheet);
        row.shrink();
        // The list of rows grows by doubling.
        budget.spend(row.cost() + sizeof(Row));
        rows.push_back(std::move(row));
    });
    return rows;
}

}

Workbook load(const fs::path& source)
{
    const auto ext = Catalog::normalizedExt(source);
    if (ext == "xlsx")
        return readXLSX(source);
    return {Sheet{"Planilha1", rowsOf(source, ext, SIZE_MAX)}};
}

fs::path convert(const fs::path& source, const OutputFormat& format)
{
    const auto ext = Catalog::normalizedExt(source);
    if (ext != "xlsx" && format.ext != "xlsx") {
        // Text to text goes a row at a time: a file of any length holds one row in memory.
        DelimitedWriter writer(format.ext == "tsv" ? '\t' : ',', OutputPaths::names(source, format.ext));
        eachRow(source, ext, [&writer](Row&& row) {
            writer.add(row);
        });
        return writer.finish();
    }
    // A table of more rows than a sheet holds is refused as soon as it passes them.
    const auto workbook
        = ext == "xlsx" ? readXLSX(source) : Workbook{Sheet{"Planilha1", rowsOf(source, ext, size_t(sheetRows))}};
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
