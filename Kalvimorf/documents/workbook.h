#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// What a spreadsheet carries between formats: only cell texts. Numbers, dates and booleans
// travel as their text; rows of one sheet may differ in length and are never padded.
namespace SpreadsheetEngine {

// One row of cell texts. Only cells with text are stored, with their zero-based column, so a
// row whose one cell lies in the last column costs that one cell until a writer lays it out.
class Row {
public:
    using Cell = std::pair<size_t, std::string>;  // column, text
    using const_iterator = std::vector<Cell>::const_iterator;
    using iterator = const_iterator;

    Row() = default;
    Row(std::initializer_list<std::string> texts)
    {
        for (const auto& text : texts)
            push_back(text);
    }

    // Adds the text at `column`, or at the row's end when that column is already passed; the
    // cells between stay empty. An empty text only widens the row.
    void put(size_t column, std::string text)
    {
        column = std::max(column, width_);
        width_ = column + 1;
        if (!text.empty())
            cells_.emplace_back(column, std::move(text));
    }
    void push_back(std::string text) { put(width_, std::move(text)); }

    // The number of cells, empty ones included.
    size_t size() const { return width_; }
    bool empty() const { return width_ == 0; }
    // The cells with text, by column.
    const_iterator begin() const { return cells_.begin(); }
    const_iterator end() const { return cells_.end(); }

    bool operator==(const Row&) const = default;

private:
    std::vector<Cell> cells_;
    size_t width_ = 0;
};

struct Sheet {
    std::string name;
    std::vector<Row> rows;
};

using Workbook = std::vector<Sheet>;

}
