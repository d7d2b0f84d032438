#pragma once

#include <string>
#include <vector>

// What a spreadsheet carries between formats: only cell texts. Numbers, dates and booleans
// travel as their text; rows of one sheet may differ in length and are never padded.
namespace SpreadsheetEngine {

using Row = std::vector<std::string>;

struct Sheet {
    std::string name;
    std::vector<Row> rows;
};

using Workbook = std::vector<Sheet>;

}
