#pragma once

#include "core/base/job_budget.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What a reader may build from one file, counted in bytes as it holds them. A few kilobytes of
// packed XML can name millions of empty elements, and a few bytes of CSV a cell, each costing far
// more once built than read; real files stay well below the bounds. Past its bound the reader
// gives up with the budget's sentence.
class Budget {
public:
    // A document's tree and what is made of it (JobBudget::Limits::document).
    static size_t documentBytes() { return JobBudget::limits().document; }
    static constexpr const char* documentTooLarge = "O documento é grande demais para abrir.";

    // What a paragraph (or a table's cell) and a run cost once the text system has them too: a
    // block of Qt's document with its layout and formats, and their line of plain text. Empty
    // paragraphs cost this much for a few bytes of input each.
    static constexpr size_t paragraphCost = 1024;
    static constexpr size_t runCost = 256;
    // An open group or element, with what it inherits.
    static constexpr size_t levelCost = 256;

    explicit Budget(size_t bytes = documentBytes(), std::string sentence = documentTooLarge)
        : left_(bytes), sentence_(std::move(sentence))
    {
    }
    // Throws ConversionError::because with the sentence when less is left.
    void spend(size_t bytes);
    // What was spent on something since let go.
    void refund(size_t bytes) { left_ += bytes; }

private:
    size_t left_;
    std::string sentence_;
};

// How deeply a reader lets a file nest its elements (an RTF its groups) and its tables in
// cells before it gives up with the sentence for a document too large; nothing is bounded
// unless asked. Our readers go through any depth within their budget, the office suite does not.
struct Nesting {
    size_t levels = SIZE_MAX;
    size_t tables = SIZE_MAX;
    // Throws ConversionError::because with Budget::documentTooLarge past either bound.
    void check(size_t level, size_t tablesDeep) const;
};
