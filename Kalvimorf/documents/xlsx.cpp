#include "documents/xlsx.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "documents/xml_tree.h"
#include "documents/zip_tools.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>
#include <map>

namespace SpreadsheetEngine {

namespace {

namespace fs = std::filesystem;

// The format's own bounds; nothing a reader finds beyond them is a real cell.
constexpr long long maxRows = 1048576;
constexpr long long maxColumns = 16384;
// Sheet names are limited to this many UTF-16 units.
constexpr qsizetype maxSheetName = 31;

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
std::string xmlText(std::string_view text, qsizetype limit = -1)
{
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r';
    });
    if (plain && (limit < 0 || qsizetype(text.size()) <= limit))
        return std::string(text);
    // Bytes that are not UTF-8 decode to U+0000, which XML cannot hold either.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInvalidToNull);
    const QString decoded = decoder(QByteArrayView(text.data(), qsizetype(text.size())));
    QString kept;
    for (char32_t c : decoded.toUcs4()) {
        if (!allowedInXML(c))
            continue;
        if (limit >= 0 && kept.size() + (QChar::requiresSurrogates(c) ? 2 : 1) > limit)
            break;
        kept += QString::fromUcs4(&c, 1);
    }
    return kept.toStdString();
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

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

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

std::string columnName(size_t c)
{
    std::string letters;
    for (size_t k = c + 1; k > 0; k = (k - 1) / 26)
        letters.insert(letters.begin(), char('A' + (k - 1) % 26));
    return letters;
}

void writePart(const fs::path& folder, const std::string& name, const std::string& body)
{
    FileSafety::writeNew(folder / name, std::string(header) + body);
}

// A sheet goes to its file in slices as it is laid out, so that writing costs no second copy of
// the whole table.
void writeWorksheet(const Sheet& sheet, const fs::path& path)
{
    FileSafety::NewFile file(path.parent_path());
    std::string part
        = std::string(header) + "<worksheet xmlns=\"" + schemaRoot + "/spreadsheetml/2006/main\"><sheetData>";
    for (size_t r = 0; r < sheet.rows.size(); ++r) {
        const auto number = std::to_string(r + 1);
        part.append("<row r=\"").append(number).append("\">");
        for (const auto& [column, cell] : sheet.rows[r]) {
            part.append("<c r=\"").append(columnName(column)).append(number);
            if (isPlainNumber(cell))
                part.append("\"><v>").append(cell).append("</v></c>");
            else
                part.append("\" t=\"inlineStr\"><is><t xml:space=\"preserve\">")
                    .append(escaped(xmlText(cell)))
                    .append("</t></is></c>");
        }
        part.append("</row>");
        if (part.size() >= (1 << 20)) {
            file.write(part);
            part.clear();
        }
    }
    part.append("</sheetData></worksheet>");
    file.write(part);
    file.publish(path);
}

void writeParts(const Workbook& workbook, const fs::path& folder)
{
    fs::create_directories(folder / "_rels");
    fs::create_directories(folder / "xl/_rels");
    fs::create_directories(folder / "xl/worksheets");
    std::string overrides, sheets, relationships;
    for (size_t i = 0; i < workbook.size(); ++i) {
        const auto n = std::to_string(i + 1);
        overrides += "<Override PartName=\"/xl/worksheets/sheet" + n
            + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        sheets += "<sheet name=\"" + escaped(xmlText(workbook[i].name, maxSheetName)) + "\" sheetId=\"" + n
            + "\" r:id=\"rId" + n + "\"/>";
        relationships += "<Relationship Id=\"rId" + n + "\" Type=\"" + schemaRoot
            + "/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    writePart(folder, "[Content_Types].xml",
        "<Types xmlns=\"" + schemaRoot
            + "/package/2006/content-types\">"
              "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
            + overrides + "</Types>");
    writePart(folder, "_rels/.rels",
        "<Relationships xmlns=\"" + schemaRoot + "/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\""
            + schemaRoot
            + "/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    writePart(folder, "xl/workbook.xml",
        "<workbook xmlns=\"" + schemaRoot + "/spreadsheetml/2006/main\" xmlns:r=\"" + schemaRoot
            + "/officeDocument/2006/relationships\"><sheets>" + sheets + "</sheets></workbook>");
    writePart(folder, "xl/_rels/workbook.xml.rels",
        "<Relationships xmlns=\"" + schemaRoot + "/package/2006/relationships\">" + relationships + "</Relationships>");
    for (size_t i = 0; i < workbook.size(); ++i)
        writeWorksheet(workbook[i], folder / ("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml"));
}

void requireWithinBounds(const Sheet& sheet)
{
    const bool fits = (long long)sheet.rows.size() <= maxRows
        && std::all_of(sheet.rows.begin(), sheet.rows.end(), [](const Row& row) {
               return (long long)row.size() <= maxColumns;
           });
    if (!fits)
        throw ConversionError::ffmpeg(
            "A tabela passa do limite de uma planilha XLSX (1.048.576 linhas e 16.384 colunas).");
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

void append(std::string& to, QStringView text)
{
    const QByteArray bytes = text.toUtf8();
    to.append(bytes.constData(), size_t(bytes.size()));
}

std::string utf8(QStringView text)
{
    std::string result;
    append(result, text);
    return result;
}

// Walks a part keeping only the depth and whether each open element is a text run ("t"); the
// handlers see the depth of the element concerned (the root is 1).
template <typename Start, typename Text, typename End>
bool readStream(std::string_view xml, Start onStart, Text onText, End onEnd)
{
    std::vector<bool> isRun;
    auto depth = [&] {
        return (long long)isRun.size();
    };
    return XML::walk(xml,
        {[&](const QXmlStreamReader& reader) {
             isRun.push_back(XML::localName(reader) == u"t");
             onStart(reader, depth());
         },
            [&](const QXmlStreamReader& reader) {
                if (!isRun.empty())
                    onText(reader.text(), depth(), isRun.back());
            },
            [&] {
                onEnd(depth());
                isRun.pop_back();
            }});
}

// One cell while its element is open: its "r" and "t" attributes, the direct text of its
// first "v" element and the text runs of its first "is" element.
struct OpenCell {
    long long depth = 0;  // 0 while no cell is open
    std::optional<long long> column;
    std::string type;
    bool hasType = false;
    long long valueDepth = 0, inlineDepth = 0;
    bool seenValue = false, seenInline = false;
    std::string raw, inlineText;

    std::string value(const SharedStrings& shared) const
    {
        if (!hasType)
            return raw;
        if (type == "s") {
            auto index = integer(raw);
            if (!index || *index < 0 || *index >= (long long)shared.size())
                return {};
            return std::string(shared[size_t(*index)]);
        }
        if (type == "inlineStr")
            return seenInline ? inlineText : std::string();
        if (type == "b")
            return raw == "1" ? "VERDADEIRO" : "FALSO";
        return raw;
    }
};

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

void SharedStrings::add(std::string_view text)
{
    texts_.append(text);
    ends_.push_back(texts_.size());
}

std::string_view SharedStrings::operator[](size_t index) const
{
    if (index >= ends_.size())
        return {};
    const size_t start = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(texts_).substr(start, ends_[index] - start);
}

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

std::optional<SharedStrings> parseSharedStrings(std::string_view xml)
{
    // The runs of every "si" child of the root, phonetic runs included, joined.
    SharedStrings strings;
    std::string item;
    bool inItem = false;
    const bool wellFormed = readStream(
        xml,
        [&](const QXmlStreamReader& reader, long long depth) {
            if (depth == 2 && XML::localName(reader) == u"si") {
                inItem = true;
                item.clear();
            }
        },
        [&](QStringView text, long long depth, bool inRun) {
            if (inItem && inRun && depth > 2)
                append(item, text);
        },
        [&](long long depth) {
            if (depth == 2 && inItem) {
                strings.add(item);
                inItem = false;
            }
        });
    if (!wellFormed)
        return std::nullopt;
    return strings;
}

std::optional<std::vector<Row>> parseWorksheet(std::string_view xml, const SharedStrings& shared)
{
    // The "row" children of the first "sheetData" element, and their "c" children.
    std::vector<Row> rows;
    long long sheetData = 0, rowDepth = 0;  // depths of the open elements, 0 when not open
    bool sheetDataSeen = false, keepRow = false;
    Row row;
    OpenCell cell;
    auto onStart = [&](const QXmlStreamReader& reader, long long depth) {
        const QStringView name = XML::localName(reader);
        if (!sheetDataSeen && name == u"sheetData") {
            sheetDataSeen = true;
            sheetData = depth;
        } else if (sheetData && depth == sheetData + 1 && name == u"row") {
            rowDepth = depth;
            auto number = integer(utf8(reader.attributes().value(QLatin1StringView("r"))));
            const long long count = (long long)rows.size();
            const long long at = number.value_or(count + 1);
            keepRow = at <= maxRows && count < maxRows;
            if (keepRow)
                rows.resize(size_t(std::max(count, at - 1)));
            row = Row();
        } else if (rowDepth && depth == rowDepth + 1 && name == u"c") {
            cell = OpenCell{.depth = depth};
            const auto attributes = reader.attributes();
            cell.column = columnIndex(utf8(attributes.value(QLatin1StringView("r"))));
            cell.hasType = attributes.hasAttribute(QLatin1StringView("t"));
            cell.type = utf8(attributes.value(QLatin1StringView("t")));
        } else if (cell.depth && depth > cell.depth) {
            if (name == u"v" && !cell.seenValue) {
                cell.seenValue = true;
                cell.valueDepth = depth;
            } else if (name == u"is" && !cell.seenInline) {
                cell.seenInline = true;
                cell.inlineDepth = depth;
            }
        }
    };
    auto onText = [&](QStringView text, long long depth, bool inRun) {
        if (!cell.depth)
            return;
        if (depth == cell.valueDepth)
            append(cell.raw, text);
        if (cell.inlineDepth && depth > cell.inlineDepth && inRun)
            append(cell.inlineText, text);
    };
    auto onEnd = [&](long long depth) {
        if (depth == cell.valueDepth)
            cell.valueDepth = 0;
        if (depth == cell.inlineDepth)
            cell.inlineDepth = 0;
        if (cell.depth && depth == cell.depth) {
            // The cell lands at its column, or after the cells so far when that column is
            // already taken or unknown.
            const long long position = std::max(cell.column.value_or(0), (long long)row.size());
            if (keepRow && position < maxColumns)
                row.put(size_t(position), cell.value(shared));
            cell = OpenCell();
        }
        if (rowDepth && depth == rowDepth) {
            if (keepRow)
                rows.push_back(std::move(row));
            rowDepth = 0;
        }
        if (depth == sheetData)
            sheetData = 0;
    };
    if (!readStream(xml, onStart, onText, onEnd))
        return std::nullopt;
    return rows;
}

fs::path writeXLSX(const Workbook& workbook, const FileSafety::NameFor& names)
{
    std::for_each(workbook.begin(), workbook.end(), requireWithinBounds);
    FileSafety::TempDir temp;
    const auto parts = temp.path() / "partes";
    const auto package = temp.path() / "pacote.xlsx";
    writeParts(workbook, parts);
    ZipTools::packContents(package, parts);
    return FileSafety::placeFree(package, names);
}

std::optional<std::vector<SheetEntry>> parseSheetList(std::string_view workbookXml, std::string_view relationshipsXml)
{
    auto workbook = XML::parse(workbookXml);
    if (!workbook)
        return std::nullopt;
    std::map<std::string, std::string> targets;
    if (auto relationships = XML::parse(relationshipsXml))
        for (const auto& relationship : relationships->children) {
            const auto* id = relationship->attr("Id");
            const auto* target = relationship->attr("Target");
            if (relationship->name == "Relationship" && id && target)
                targets[*id] = *target;
        }
    std::vector<SheetEntry> entries;
    const auto* sheets = workbook->find("sheets");
    if (!sheets)
        return entries;
    for (const auto& element : sheets->children) {
        if (element->name != "sheet")
            continue;
        const auto n = std::to_string(entries.size() + 1);
        const auto* name = element->attr("name");
        std::string target = "worksheets/sheet" + n + ".xml";
        if (auto id = relationshipId(*element))
            if (auto it = targets.find(*id); it != targets.end())
                target = it->second;
        entries.push_back({name ? *name : "Planilha" + n, target.starts_with("/") ? target.substr(1) : "xl/" + target});
    }
    return entries;
}

Workbook readXLSX(const fs::path& package)
{
    FileSafety::requireRegularFile(package);
    const auto workbook = packagePart(package, "xl/workbook.xml");
    const auto sheets = workbook
        ? parseSheetList(*workbook, packagePart(package, "xl/_rels/workbook.xml.rels").value_or(""))
        : std::nullopt;
    if (!sheets)
        throw ConversionError::unreadable();

    // Blank cells in place of every shared string would pass for a successful conversion.
    SharedStrings shared;
    if (auto bytes = packagePart(package, "xl/sharedStrings.xml")) {
        auto parsed = parseSharedStrings(*bytes);
        if (!parsed)
            throw ConversionError::unreadable();
        shared = std::move(*parsed);
    }

    Workbook result;
    for (const auto& sheet : *sheets) {
        auto bytes = packagePart(package, sheet.part);
        if (!bytes)
            continue;
        auto rows = parseWorksheet(*bytes, shared);
        if (!rows)
            throw ConversionError::unreadable();
        result.push_back({sheet.name, std::move(*rows)});
    }
    return result;
}

}
