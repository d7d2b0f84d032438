#include "documents/delimited.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace SpreadsheetEngine {

namespace {
constexpr std::array<char, 3> candidates{',', ';', '\t'};
}

bool DelimiterCount::add(std::string_view piece)
{
    if (ended_)
        return false;
    const auto end = piece.find_first_of("\r\n");
    ended_ = end != std::string_view::npos;
    const auto line = piece.substr(0, end);
    for (size_t i = 0; i < candidates.size(); ++i)
        counts_[i] += std::count(line.begin(), line.end(), candidates[i]);
    return !ended_;
}

char DelimiterCount::delimiter() const
{
    char best = ',';
    long bestCount = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (counts_[i] > bestCount) {
            best = candidates[i];
            bestCount = counts_[i];
        }
    }
    return best;
}

char detectDelimiter(std::string_view text)
{
    DelimiterCount count;
    count.add(text);
    return count.delimiter();
}

DelimitedReader::DelimitedReader(char delimiter, std::function<void(Row&&)> row, size_t largestRow)
    : delimiter_(delimiter), onRow_(std::move(row)), largestRow_(largestRow)
{
}

void DelimitedReader::endField()
{
    row_.push_back(field_);
    field_.clear();
    // One line of gigabytes would otherwise be held whole before any bound saw it.
    if (row_.cost() > largestRow_)
        throw ConversionError::because(tableTooLarge);
}

void DelimitedReader::endRow()
{
    endField();
    onRow_(std::move(row_));
    row_ = Row();
}

void DelimitedReader::add(std::string_view text)
{
    for (const char c : text) {
        if (quoteSeen_) {
            quoteSeen_ = false;
            if (c == '"') {
                field_.push_back('"');
                continue;
            }
            quoted_ = false;  // and the character is read outside the quotes
        }
        if (afterReturn_) {
            afterReturn_ = false;
            if (c == '\n')
                continue;
        }
        if (quoted_) {
            if (c == '"')
                quoteSeen_ = true;
            else
                field_.push_back(c);
            continue;
        }
        if (c == '"' && field_.empty())
            quoted_ = true;
        else if (c == delimiter_)
            endField();
        else if (c == '\n')
            endRow();
        else if (c == '\r') {
            afterReturn_ = true;
            endRow();
        } else
            field_.push_back(c);
    }
    if (field_.size() > largestRow_)
        throw ConversionError::because(tableTooLarge);
}

void DelimitedReader::finish()
{
    if (!field_.empty() || !row_.empty())
        endRow();
}

std::vector<Row> parseDelimited(std::string_view text, char delimiter)
{
    std::vector<Row> rows;
    DelimitedReader reader(delimiter, [&rows](Row&& row) {
        rows.push_back(std::move(row));
    });
    reader.add(text);
    reader.finish();
    return rows;
}

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool isLetter(char c) { return upper(c) >= 'A' && upper(c) <= 'Z'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Functions that fetch from or open something outside the sheet: an address, another file, a
// program. Named as their last dotted piece ("_xlfn.WEBSERVICE", "COM.MICROSOFT.WEBSERVICE"),
// in English and as spreadsheets set to Portuguese parse them, Brazil's and Portugal's names
// where they differ (a sheet in Portuguese runs "=HIPERLINK(" as another runs "=HYPERLINK(").
// Those that keep their English name there (RTD, DDE, the IMPORT… ones) are listed once.
constexpr std::array<std::string_view, 27> reachingFunctions = {"HYPERLINK", "WEBSERVICE", "IMPORTXML", "IMPORTDATA",
    "IMPORTHTML", "IMPORTFEED", "IMPORTRANGE", "IMAGE", "FILTERXML", "CALL", "REGISTER", "EXEC", "RTD", "DDE",
    "DDEAUTO", "INDIRECT", "HIPERLINK", "HIPERLIGAÇÃO", "SERVIÇOWEB", "IMAGEM", "FILTRARXML", "FILTROXML", "CHAMAR",
    "REGISTRO", "REGISTAR", "INDIRETO", "INDIRECTO"};

// A function's name as a spreadsheet compares it, whatever the case it was typed in ("serviçoweb").
std::string upperName(std::string_view name)
{
    if (std::all_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x80; })) {
        std::string result;
        std::transform(name.begin(), name.end(), std::back_inserter(result), upper);
        return result;
    }
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toUpper().toStdString();
}

// Letters outside ASCII ("Ç", "Ã") are bytes of 0x80 and up in UTF-8.
bool inName(char c) { return isLetter(c) || isDigit(c) || c == '_' || uint8_t(c) >= 0x80; }

// A cell reference right after a "!": "A0", "$B$7" (Sheet2!A1, 'C:\[x.xls]S'!A1, cmd|' /C x'!A0).
bool referenceAt(std::string_view text, size_t at)
{
    if (at < text.size() && text[at] == '$')
        ++at;
    const size_t letters = at;
    while (at < text.size() && isLetter(text[at]))
        ++at;
    if (at == letters)
        return false;
    if (at < text.size() && text[at] == '$')
        ++at;
    return at < text.size() && isDigit(text[at]);
}

// Whether the formula, the text after its sign, reaches outside the sheet: a DDE call to a
// program ("cmd|"), a reference into another sheet or book ("!A1", LibreOffice's "'file:…'#$"),
// or one of the functions above.
bool reachesOutside(std::string_view formula)
{
    for (size_t i = 0; i < formula.size(); ++i) {
        const char c = formula[i];
        const bool externalSheet = c == '#' && i + 1 < formula.size() && formula[i + 1] == '$';
        if (c == '|' || (c == '!' && referenceAt(formula, i + 1)) || externalSheet)
            return true;
        if (c != '(')
            continue;
        size_t start = i;
        while (start > 0 && inName(formula[start - 1]))
            --start;
        std::string name = upperName(formula.substr(start, i - start));
        // "REGISTER.ID(", "REGISTRO.ID(": the piece before the dot is the name.
        if (name == "ID" && start > 0 && formula[start - 1] == '.')
            name = "REGISTER";
        if (std::find(reachingFunctions.begin(), reachingFunctions.end(), name) != reachingFunctions.end())
            return true;
    }
    return false;
}

// A spreadsheet opening the file runs a cell that begins with "=", "+", "-" or "@" (after any
// blanks) as a formula. Only one that reaches outside the sheet is written after an apostrophe,
// which makes it read as text: everything else a person typed, a negative amount, a phone
// number, a dash, a mention, stays as it was, and a formula that only counts within the sheet
// does the same work it did where it came from.
bool looksLikeFormula(std::string_view cell)
{
    const auto start = cell.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || std::string_view("=+-@").find(cell[start]) == std::string_view::npos)
        return false;
    return reachesOutside(cell.substr(start + 1));
}

void appendRow(std::string& text, const Row& row, char delimiter)
{
    const char special[] = {delimiter, '"', '\n', '\r'};
    const std::string_view specials(special, sizeof special);
    size_t column = 0;  // where the text so far ends
    for (const auto& [at, cell] : row) {
        text.append(at - column, delimiter);
        column = at;
        const bool formula = looksLikeFormula(cell);
        if (cell.find_first_of(specials) == std::string_view::npos) {
            if (formula)
                text.push_back('\'');
            text += cell;
            continue;
        }
        text.push_back('"');
        if (formula)
            text.push_back('\'');
        for (char ch : cell) {
            if (ch == '"')
                text.push_back('"');
            text.push_back(ch);
        }
        text.push_back('"');
    }
    if (!row.empty())
        text.append(row.size() - 1 - column, delimiter);
    text += "\r\n";
}

}

DelimitedWriter::DelimitedWriter(char delimiter, FileSafety::NameFor names)
    : delimiter_(delimiter), names_(std::move(names)), file_(names_.folder()),
      text_(delimiter == ',' ? "\xEF\xBB\xBF" : "")
{
}

void DelimitedWriter::add(const Row& row)
{
    any_ = true;
    appendRow(text_, row, delimiter_);
    if (text_.size() >= (1 << 20)) {
        file_.write(text_);
        text_.clear();
    }
}

std::filesystem::path DelimitedWriter::finish()
{
    if (!any_)
        text_ += "\r\n";
    file_.write(text_);
    text_.clear();
    return file_.publish(names_);
}

std::string delimitedText(const std::vector<Row>& rows, char delimiter)
{
    std::string text = delimiter == ',' ? "\xEF\xBB\xBF" : "";
    for (const auto& row : rows)
        appendRow(text, row, delimiter);
    if (rows.empty())
        text += "\r\n";
    return text;
}

std::filesystem::path writeDelimited(const std::vector<Row>& rows, char delimiter, const FileSafety::NameFor& names)
{
    DelimitedWriter writer(delimiter, names);
    for (const auto& row : rows)
        writer.add(row);
    return writer.finish();
}

}
