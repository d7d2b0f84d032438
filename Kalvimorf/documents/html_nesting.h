#pragma once

#include <QString>

// Qt's HTML import takes time in the square of how deeply elements nest: ten thousand nested
// elements, 110 KB of page, took 25 s. Real pages nest a few dozen deep; past `deepest` the
// opening and closing tags of the deeper elements are left out (their text stays, in the
// formatting of the element at the bound), so the import stays linear in the page's size. A
// table past its own bound goes with its rows and cells, its cells' text kept in order.
namespace HtmlNesting {

inline constexpr int deepest = 512;
// Tables cost more: each level of tables nested in cells takes about half as long again to lay
// out as the one above it (16 levels 2.5 s, 32 levels more than two minutes); real pages nest
// them a handful deep.
inline constexpr int deepestTables = 10;

// Scripts' contents are left out, and a "<" in a style sheet is written as CSS's escape. `text`,
// when given, tells whether anything but blanks stands outside the tags, comments and raw-text
// elements: what a reader of the page would see.
QString bounded(const QString& html, int depth = deepest, bool* text = nullptr);

}
