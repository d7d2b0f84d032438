#pragma once

#include "core/base/job_budget.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What a spreadsheet carries between formats: only cell texts. Numbers, dates and booleans
// travel as their text; rows of one sheet may differ in length and are never padded.
namespace SpreadsheetEngine {

// One row of cell texts. Only cells with text are stored, with their zero-based column, so a
// row whose one cell lies in the last column costs that one cell until a writer lays it out. The
// texts lie back to back in one string: a million rows of short numbers cost little more than
// their digits.
class Row {
public:
    using Cell = std::pair<size_t, std::string_view>;  // column, text

    class const_iterator {
    public:
        using value_type = Cell;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const Row* row, size_t index) : row_(row), index_(index) { }
        Cell operator*() const { return row_->cell(index_); }
        const_iterator& operator++()
        {
            ++index_;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto before = *this;
            ++index_;
            return before;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        const Row* row_ = nullptr;
        size_t index_ = 0;
    };
    using iterator = const_iterator;

    Row() = default;
    Row(std::initializer_list<std::string> texts)
    {
        for (const auto& text : texts)
            push_back(text);
    }

    // Adds the text at `column`, or at the row's end when that column is already passed; the
    // cells between stay empty. An empty text only widens the row.
    void put(size_t column, std::string_view text) { add(column, text, false); }
    // The same for a text that lies elsewhere and outlives the row (a package's shared strings,
    // kept by the sheet): the row holds where it lies, so that a long text named by thousands
    // of cells is held once.
    void putBorrowed(size_t column, std::string_view text) { add(column, text, text.size() > sizeof(Borrowed)); }
    void push_back(std::string_view text) { put(width_, text); }

    // The number of cells, empty ones included.
    size_t size() const { return width_; }
    bool empty() const { return width_ == 0; }
    // The cells with text, by column.
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, cells_.size()}; }
    // What the row holds in memory, in bytes.
    size_t cost() const { return sizeof(Row) + texts_.capacity() + cells_.capacity() * sizeof(Stored); }
    // Gives back what growing left unused.
    void shrink()
    {
        texts_.shrink_to_fit();
        cells_.shrink_to_fit();
    }

    bool operator==(const Row& other) const
    {
        if (width_ != other.width_ || cells_.size() != other.cells_.size())
            return false;
        for (size_t i = 0; i < cells_.size(); ++i)
            if (cell(i) != other.cell(i))
                return false;
        return true;
    }

private:
    // A borrowed text's place, stored in texts_ where a copy would lie.
    struct Borrowed {
        const char* data;
        size_t size;
    };
    static constexpr uint32_t borrowedFlag = 0x80000000;
    struct Stored {
        uint32_t column;
        uint32_t end;  // where its text ends in texts_, with borrowedFlag for a borrowed one
    };

    void add(size_t column, std::string_view text, bool borrowed)
    {
        column = std::max(column, width_);
        width_ = column + 1;
        if (text.empty())
            return;
        const size_t size = borrowed ? sizeof(Borrowed) : text.size();
        if (texts_.size() + size >= borrowedFlag || column > UINT32_MAX)
            throw std::length_error("row");
        if (borrowed) {
            const Borrowed place{text.data(), text.size()};
            texts_.append(reinterpret_cast<const char*>(&place), sizeof place);
        } else {
            texts_.append(text);
        }
        cells_.push_back({uint32_t(column), uint32_t(texts_.size()) | (borrowed ? borrowedFlag : 0)});
    }

    Cell cell(size_t index) const
    {
        const size_t start = index == 0 ? 0 : cells_[index - 1].end & ~borrowedFlag;
        const auto end = cells_[index].end;
        if (end & borrowedFlag) {
            Borrowed place{};
            std::memcpy(&place, texts_.data() + start, sizeof place);
            return {cells_[index].column, std::string_view(place.data, place.size)};
        }
        return {cells_[index].column, std::string_view(texts_).substr(start, end - start)};
    }

    std::string texts_;
    std::vector<Stored> cells_;
    size_t width_ = 0;
};

// What a workbook read from a file may hold in memory (JobBudget::Limits::table). Past it the
// reader gives up with tableTooLarge.
inline const size_t tableBytes = JobBudget::limits().table;
inline constexpr const char* tableTooLarge = "A tabela é grande demais para abrir.";
// One row (JobBudget::rowCharacters).
inline constexpr size_t rowBytes = JobBudget::rowCharacters;

struct Sheet {
    std::string name;
    std::vector<Row> rows;
    // What the rows' borrowed texts lie in.
    std::shared_ptr<const void> texts;
};

using Workbook = std::vector<Sheet>;

}
