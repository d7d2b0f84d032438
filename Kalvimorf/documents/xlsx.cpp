#include "documents/xlsx.h"

#include "core/conversion_error.h"
#include "core/file_safety.h"
#include "core/shell.h"
#include "documents/text_file.h"
#include "documents/xml_tree.h"
#include "documents/zip_tools.h"

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <system_error>

namespace SpreadsheetEngine {

namespace {

namespace fs = std::filesystem;

// The format's own bounds; nothing a reader finds beyond them is a real cell.
constexpr long long maxRows = 1048576;
constexpr long long maxColumns = 16384;
// Sheet names are limited to this many UTF-16 units.
constexpr size_t maxSheetName = 31;

const std::string schemaRoot = "http://schemas.openxmlformats.org";
constexpr std::string_view header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// A part of a package. Entry names beginning with "-" would read as options of unzip, and
// no part of a package begins with one.
std::optional<std::string> packagePart(const fs::path& package, const std::string& entry)
{
    if (entry.empty() || entry.front() == '-')
        return std::nullopt;
    return ZipTools::readEntry(fs::absolute(package), entry);
}

// XML 1.0 allows tab, line feed, carriage return and U+0020 and up, except the surrogates and
// U+FFFE/U+FFFF. Anything else makes a package that spreadsheet applications reject.
bool allowedInXML(char32_t c)
{
    if (c < 0x20)
        return c == '\t' || c == '\n' || c == '\r';
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    return c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

// The text without what XML cannot hold (and without bytes that are not UTF-8), cut after
// `limit` UTF-16 units when given; a character that needs a surrogate pair is never split.
std::string xmlText(std::string_view text, size_t limit = std::string::npos)
{
    std::string result;
    result.reserve(text.size());
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        size_t start = i;
        char32_t c = TextFile::nextCodePoint(text, i);
        if (c == TextFile::invalidCodePoint || !allowedInXML(c))
            continue;
        units += c > 0xFFFF ? 2 : 1;
        if (units > limit)
            break;
        result.append(text.substr(start, i - start));
    }
    return result;
}

std::string escaped(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        default: result.push_back(c);
        }
    }
    return result;
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// An optional minus, 0 or an integer of up to 15 digits without a leading zero, and an optional
// point with one or more digits: what a spreadsheet keeps exactly as a number. Anything else
// ("007", "1e5", "+3", a 16-digit number) stays text.
bool isPlainNumber(std::string_view text)
{
    size_t i = 0, n = text.size();
    if (i < n && text[i] == '-')
        ++i;
    if (i == n || !isAsciiDigit(text[i]))
        return false;
    if (text[i] == '0') {
        ++i;
    } else {
        size_t first = i;
        while (i < n && isAsciiDigit(text[i]))
            ++i;
        if (i - first > 15)
            return false;
    }
    if (i == n)
        return true;
    if (text[i] != '.' || ++i == n)
        return false;
    for (; i < n; ++i)
        if (!isAsciiDigit(text[i]))
            return false;
    return true;
}

std::string columnName(long long c)
{
    std::string letters;
    for (long long k = c + 1; k > 0; k = (k - 1) / 26)
        letters.insert(letters.begin(), char('A' + (k - 1) % 26));
    return letters;
}

std::string worksheetPart(const Sheet& sheet)
{
    std::string part = "<worksheet xmlns=\"" + schemaRoot + "/spreadsheetml/2006/main\"><sheetData>";
    for (size_t r = 0; r < sheet.rows.size(); ++r) {
        const auto number = std::to_string(r + 1);
        part.append("<row r=\"").append(number).append("\">");
        const auto& row = sheet.rows[r];
        for (size_t c = 0; c < row.size(); ++c) {
            const auto& cell = row[c];
            if (cell.empty())
                continue;
            part.append("<c r=\"").append(columnName((long long)c)).append(number);
            if (isPlainNumber(cell))
                part.append("\"><v>").append(cell).append("</v></c>");
            else
                part.append("\" t=\"inlineStr\"><is><t xml:space=\"preserve\">")
                    .append(escaped(xmlText(cell)))
                    .append("</t></is></c>");
        }
        part.append("</row>");
    }
    part.append("</sheetData></worksheet>");
    return part;
}

void writePart(const fs::path& folder, const std::string& name, const std::string& body)
{
    TextFile::writeAtomically(folder / name, std::string(header) + body);
}

void writeParts(const Workbook& workbook, const fs::path& folder)
{
    fs::create_directories(folder / "_rels");
    fs::create_directories(folder / "xl/_rels");
    fs::create_directories(folder / "xl/worksheets");
    std::string overrides, sheets, relationships;
    for (size_t i = 0; i < workbook.size(); ++i) {
        const auto n = std::to_string(i + 1);
        overrides += "<Override PartName=\"/xl/worksheets/sheet" + n +
                     ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        sheets += "<sheet name=\"" + escaped(xmlText(workbook[i].name, maxSheetName)) + "\" sheetId=\"" + n +
                  "\" r:id=\"rId" + n + "\"/>";
        relationships += "<Relationship Id=\"rId" + n + "\" Type=\"" + schemaRoot +
                         "/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    writePart(folder, "[Content_Types].xml",
              "<Types xmlns=\"" + schemaRoot + "/package/2006/content-types\">"
              "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>" +
                  overrides + "</Types>");
    writePart(folder, "_rels/.rels",
              "<Relationships xmlns=\"" + schemaRoot + "/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"" +
                  schemaRoot + "/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    writePart(folder, "xl/workbook.xml",
              "<workbook xmlns=\"" + schemaRoot + "/spreadsheetml/2006/main\" xmlns:r=\"" + schemaRoot +
                  "/officeDocument/2006/relationships\"><sheets>" + sheets + "</sheets></workbook>");
    writePart(folder, "xl/_rels/workbook.xml.rels",
              "<Relationships xmlns=\"" + schemaRoot + "/package/2006/relationships\">" + relationships + "</Relationships>");
    for (size_t i = 0; i < workbook.size(); ++i)
        writePart(folder, "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml", worksheetPart(workbook[i]));
}

// ---- reading ----

// An optionally signed decimal integer. Digits too many for 64 bits saturate, so that an
// absurd row number stays absurd instead of reading as "no number".
std::optional<long long> integer(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        value = value > (LLONG_MAX - 9) / 10 ? LLONG_MAX : value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// The zero-based column of a reference such as "B7" from its leading letters A to Z (either
// case), capped just past the format's last column; nothing when it has no leading letter.
std::optional<long long> columnIndex(std::string_view reference)
{
    long long value = 0;
    size_t i = 0;
    for (; i < reference.size(); ++i) {
        char c = reference[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z')
            break;
        value = std::min(value * 26 + (c - 'A' + 1), maxColumns + 1);
    }
    if (i == 0)
        return std::nullopt;
    return value - 1;
}

std::string cellValue(const XML::Node& cell, const std::vector<std::string>& shared)
{
    const auto* value = cell.find("v");
    const std::string raw = value ? value->text : std::string();
    const auto* type = cell.attr("t");
    if (!type)
        return raw;
    if (*type == "s") {
        auto index = integer(raw);
        if (!index || *index < 0 || *index >= (long long)shared.size())
            return {};
        return shared[size_t(*index)];
    }
    if (*type == "inlineStr") {
        const auto* is = cell.find("is");
        return is ? is->allText("t") : std::string();
    }
    if (*type == "b")
        return raw == "1" ? "VERDADEIRO" : "FALSO";
    return raw;
}

std::vector<Row> table(const XML::Node& worksheet, const std::vector<std::string>& shared)
{
    std::vector<Row> rows;
    const auto* sheetData = worksheet.find("sheetData");
    if (!sheetData)
        return rows;
    for (const auto& element : sheetData->children) {
        if (element->name != "row")
            continue;
        const auto* r = element->attr("r");
        auto parsed = r ? integer(*r) : std::nullopt;
        long long number = parsed ? *parsed : (long long)rows.size() + 1;
        if (number > maxRows || (long long)rows.size() >= maxRows)
            continue;
        while ((long long)rows.size() < number - 1)
            rows.emplace_back();
        Row row;
        for (const auto& cell : element->children) {
            if (cell->name != "c")
                continue;
            const auto* ref = cell->attr("r");
            auto column = columnIndex(ref ? *ref : std::string());
            // Where the cell lands: at its column, or after the cells so far when that column
            // is already taken or unknown.
            long long position = std::max(column.value_or(0), (long long)row.size());
            if (position >= maxColumns)
                continue;
            row.resize(size_t(position));
            row.push_back(cellValue(*cell, shared));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// The relationship id of a sheet element: its attribute in some namespace named "...id"
// (r:id, whatever the prefix).
std::optional<std::string> relationshipId(const XML::Node& sheet)
{
    for (const auto& [key, value] : sheet.attrs)
        if (key.find(':') != std::string::npos && key.ends_with("id"))
            return value;
    return std::nullopt;
}

}

void writeXLSX(const Workbook& workbook, const fs::path& destination)
{
    const FileSafety::TempDir temp;
    const auto& folder = temp.path();
    try {
        writeParts(workbook, folder);
        ZipTools::packContents(fs::absolute(destination), folder);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        throw;
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

Workbook readXLSX(const fs::path& package)
{
    auto part = [&](const std::string& name) -> std::shared_ptr<XML::Node> {
        auto bytes = packagePart(package, name);
        return bytes ? XML::parse(*bytes) : nullptr;
    };

    auto workbook = part("xl/workbook.xml");
    if (!workbook)
        throw ConversionError::unreadable();

    std::vector<std::string> shared;
    if (auto strings = part("xl/sharedStrings.xml"))
        for (const auto& item : strings->children)
            if (item->name == "si")
                shared.push_back(item->allText("t"));

    std::map<std::string, std::string> targets;
    if (auto relationships = part("xl/_rels/workbook.xml.rels"))
        for (const auto& relationship : relationships->children) {
            const auto* id = relationship->attr("Id");
            const auto* target = relationship->attr("Target");
            if (relationship->name == "Relationship" && id && target)
                targets[*id] = *target;
        }

    Workbook result;
    const auto* sheets = workbook->find("sheets");
    if (!sheets)
        return result;
    size_t n = 0;
    for (const auto& element : sheets->children) {
        if (element->name != "sheet")
            continue;
        ++n;
        const auto* name = element->attr("name");
        std::string target = "worksheets/sheet" + std::to_string(n) + ".xml";
        if (auto id = relationshipId(*element))
            if (auto it = targets.find(*id); it != targets.end())
                target = it->second;
        const auto path = target.starts_with("/") ? target.substr(1) : "xl/" + target;
        auto worksheet = part(path);
        if (!worksheet)
            continue;
        result.push_back({name ? *name : "Planilha" + std::to_string(n), table(*worksheet, shared)});
    }
    return result;
}

}
