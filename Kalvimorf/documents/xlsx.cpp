#include "documents/xlsx.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "documents/budget.h"
#include "documents/office_xml.h"
#include "documents/office_protection.h"
#include "documents/xml_tree.h"
#include "documents/zip_tools.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>

namespace SpreadsheetEngine {

using OfficeXML::allowedInXML;
using OfficeXML::relationshipsPartOf;
using OfficeXML::targetOfType;

namespace {

namespace fs = std::filesystem;

constexpr long long maxRows = sheetRows;
constexpr long long maxColumns = sheetColumns;
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
    return ZipTools::readEntry(package, entry);
}

// No text, tag or comment of a real sheet comes near this: a cell holds 32,767 characters.
constexpr size_t longestRun = 16 << 20;

// A part read as it is unpacked; `found` tells afterwards whether the package had it.
std::function<bool(const XML::Handlers&)> fromPackage(const fs::path& package, const std::string& entry, bool& found)
{
    return [&package, entry, &found](const XML::Handlers& handlers) {
        XML::Feed feed(handlers, longestRun);
        found = !entry.empty() && entry.front() != '-'
            && ZipTools::streamEntry(package, entry, [&feed](std::string_view chunk) {
                   feed.add(chunk);
               });
        return feed.finish();
    };
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
        throw ConversionError::because(beyondSheet);
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

// A part read as a stream from wherever it lies: runs the handlers over it and says whether it
// was well-formed.
using Source = std::function<bool(const XML::Handlers&)>;

Source fromBytes(std::string_view xml)
{
    return [xml](const XML::Handlers& handlers) {
        return XML::walk(xml, handlers);
    };
}

// Walks a part keeping only the depth and whether each open element is a text run ("t"); the
// handlers see the depth of the element concerned (the root is 1).
template <typename Start, typename Text, typename End>
bool readStream(const Source& source, Start onStart, Text onText, End onEnd)
{
    std::vector<bool> isRun;
    auto depth = [&] {
        return (long long)isRun.size();
    };
    return source({[&](const QXmlStreamReader& reader) {
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

    // The text of a shared string cell; nothing for any other.
    std::optional<std::string_view> sharedText(const SharedStrings& shared) const
    {
        if (!hasType || type != "s")
            return std::nullopt;
        auto index = integer(raw);
        if (!index || *index < 0 || *index >= (long long)shared.size())
            return std::string_view();
        return shared[size_t(*index)];
    }

    std::string value(const SharedStrings& shared) const
    {
        if (!hasType)
            return raw;
        if (const auto text = sharedText(shared))
            return std::string(*text);
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

namespace {

std::optional<SharedStrings> readSharedStrings(const Source& source, Budget& budget)
{
    // The runs of every "si" child of the root, phonetic runs included, joined.
    SharedStrings strings;
    std::string item;
    bool inItem = false;
    const bool wellFormed = readStream(
        source,
        [&](const QXmlStreamReader& reader, long long depth) {
            if (depth == 2 && XML::localName(reader) == u"si") {
                inItem = true;
                item.clear();
            }
        },
        [&](QStringView text, long long depth, bool inRun) {
            if (inItem && inRun && depth > 2) {
                const size_t before = item.size();
                append(item, text);
                // Twice: the item, then its copy in the table.
                budget.spend((item.size() - before) * 2);
            }
        },
        [&](long long depth) {
            if (depth == 2 && inItem) {
                budget.spend(sizeof(size_t) * 2);
                strings.add(item);
                inItem = false;
            }
        });
    if (!wellFormed)
        return std::nullopt;
    return strings;
}

// With `borrow`, the rows hold where a shared string lies instead of a copy, and the shared
// strings must outlive them. `text` pays for the cells' texts as they would be laid out, borrowed
// or not: a long shared string named by a million cells costs nothing to hold, but its copies
// would be written.
std::optional<std::vector<Row>> readWorksheet(
    const Source& source, const SharedStrings& shared, Budget& budget, Budget& text, bool borrow)
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
            if (keepRow && at - 1 > count) {
                // The empty rows of a gap, and their room in the list, which grows by doubling.
                budget.spend(size_t(at - 1 - count) * sizeof(Row) * 2);
                rows.resize(size_t(at - 1));
            }
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
        // A cell's text is held while it is open; what it keeps is paid for with its row.
        if (depth == cell.valueDepth) {
            const size_t before = cell.raw.size();
            append(cell.raw, text);
            budget.spend(cell.raw.size() - before);
        }
        if (cell.inlineDepth && depth > cell.inlineDepth && inRun) {
            const size_t before = cell.inlineText.size();
            append(cell.inlineText, text);
            budget.spend(cell.inlineText.size() - before);
        }
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
            if (keepRow && position < maxColumns) {
                const auto sharedText = borrow ? cell.sharedText(shared) : std::nullopt;
                const auto value = sharedText ? std::string() : cell.value(shared);
                const std::string_view laid = sharedText ? *sharedText : std::string_view(value);
                text.spend(laid.size());
                if (sharedText)
                    row.putBorrowed(size_t(position), laid);
                else
                    row.put(size_t(position), laid);
            }
            budget.refund(cell.raw.size() + cell.inlineText.size());
            cell = OpenCell();
        }
        if (rowDepth && depth == rowDepth) {
            if (keepRow) {
                row.shrink();
                budget.spend(row.cost() + sizeof(Row));
                rows.push_back(std::move(row));
            }
            rowDepth = 0;
        }
        if (depth == sheetData)
            sheetData = 0;
    };
    if (!readStream(source, onStart, onText, onEnd))
        return std::nullopt;
    return rows;
}

}

std::optional<SharedStrings> parseSharedStrings(std::string_view xml)
{
    Budget budget(tableBytes, tableTooLarge);
    return readSharedStrings(fromBytes(xml), budget);
}

std::optional<std::vector<Row>> parseWorksheet(std::string_view xml, const SharedStrings& shared)
{
    Budget budget(tableBytes, tableTooLarge), text(tableBytes, tableTooLarge);
    return readWorksheet(fromBytes(xml), shared, budget, text, false);
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

std::optional<std::vector<SheetEntry>> parseSheetList(
    std::string_view workbookXml, std::string_view relationshipsXml, const std::string& workbookPart)
{
    auto workbook = XML::parse(workbookXml);
    if (!workbook)
        return std::nullopt;
    const auto relationships = OfficeXML::relationships(relationshipsXml);
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
            if (auto it = relationships.find(*id); it != relationships.end())
                target = it->second.target;
        entries.push_back({name ? *name : "Planilha" + n, resolvePart(workbookPart, target)});
    }
    return entries;
}

Workbook readXLSX(const fs::path& package)
{
    FileSafety::requireRegularFile(package);
    if (OfficeProtection::isEncryptedPackage(package))
        throw ConversionError::because(ErrorCauses::password);
    const auto path = fs::absolute(package);
    // The parts are wherever the package's relationships put them: the workbook where the
    // package's own relationships say, the rest where the workbook's say.
    const auto main = targetOfType(OfficeXML::relationships(packagePart(path, "_rels/.rels").value_or("")), "officeDocument");
    const std::string workbookPart = main ? resolvePart("", *main) : "xl/workbook.xml";
    const auto workbook = packagePart(path, workbookPart);
    const auto workbookRelationships = packagePart(path, relationshipsPartOf(workbookPart)).value_or("");
    const auto sheets = workbook ? parseSheetList(*workbook, workbookRelationships, workbookPart) : std::nullopt;
    if (!sheets)
        throw ConversionError::unreadable();
    const auto strings = targetOfType(OfficeXML::relationships(workbookRelationships), "sharedStrings");
    const std::string stringsPart = resolvePart(workbookPart, strings.value_or("sharedStrings.xml"));

    // Shared strings and sheets as unzip unpacks them: a sheet of a million rows is hundreds of
    // megabytes of XML, and only the cells are kept.
    Budget budget(tableBytes, tableTooLarge);
    bool found = false;
    auto parsed = readSharedStrings(fromPackage(path, stringsPart, found), budget);
    // Blank cells in place of every shared string would pass for a successful conversion.
    if (found && !parsed)
        throw ConversionError::unreadable();
    const auto shared = std::make_shared<const SharedStrings>(found ? std::move(*parsed) : SharedStrings());

    Budget text(tableBytes, tableTooLarge);
    Workbook result;
    for (const auto& sheet : *sheets) {
        auto rows = readWorksheet(fromPackage(path, sheet.part, found), *shared, budget, text, true);
        if (!found)
            continue;
        if (!rows)
            throw ConversionError::unreadable();
        result.push_back({sheet.name, std::move(*rows), shared});
    }
    return result;
}

}
