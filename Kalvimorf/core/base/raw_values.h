#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Each stored or parsed enumeration has one table of rows {value, raw, other columns…}: its text
// is written once, and both directions, the list of cases and every other column come from the
// same rows. Parsing is exact: case-sensitive, nothing for an unknown text.
template <typename Row, std::size_t N> struct EnumTable {
    using Value = decltype(Row::value);
    std::array<Row, N> rows;

    // Every case has a row; the first row only answers for a value outside the enumeration.
    const Row& operator[](Value value) const
    {
        for (const auto& row : rows)
            if (row.value == value)
                return row;
        return rows.front();
    }
    std::string raw(Value value) const { return std::string((*this)[value].raw); }
    std::optional<Value> parse(std::string_view raw) const
    {
        for (const auto& row : rows)
            if (row.raw == raw)
                return row.value;
        return std::nullopt;
    }
    std::vector<Value> values() const
    {
        std::vector<Value> all;
        for (const auto& row : rows)
            all.push_back(row.value);
        return all;
    }
};
