#include "documents/delimited.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"

#include <algorithm>
#include <array>

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
        throw ConversionError::ffmpeg(tableTooLarge);
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
        throw ConversionError::ffmpeg(tableTooLarge);
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

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A signed number as spreadsheets type it: digits with one decimal point or comma, an exponent,
// a percent sign.
bool isSignedNumber(std::string_view text)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i]))
            ++digits;
        else if ((text[i] == '.' || text[i] == ',') && !point)
            point = true;
        else
            break;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            ++i;
        const size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i == start)
            return false;
    }
    if (i < text.size() && text[i] == '%')
        ++i;
    return i == text.size();
}

// A spreadsheet opening the file runs a cell that begins like a formula ("=cmd|' /C calc'!A0",
// "@SUM(…)", "=HYPERLINK(…)"); a leading apostrophe makes it read the cell as text. Numbers with
// their sign stay numbers.
bool looksLikeFormula(std::string_view cell)
{
    if (cell.empty() || std::string_view("=+-@\t\r").find(cell.front()) == std::string_view::npos)
        return false;
    return !isSignedNumber(cell);
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
