#pragma once

#include <QString>

#include <filesystem>
#include <map>
#include <set>
#include <vector>

// Word documents name fonts by face ("Inter Bold", "Inter-BoldItalic"), while the office suite
// knows families only. Before the suite lays a document out, styled names become their family
// with explicit bold and italic marks, and the files of the fonts the document uses are copied
// into the suite's profile, where it finds them as the user's fonts. Any failure leaves the
// document untouched or copies fewer fonts; nothing but a cancellation throws.
namespace DocxFonts {
namespace fs = std::filesystem;

struct Face {
    QString family;
    bool bold = false;
    bool italic = false;
    bool operator==(const Face&) const = default;
};
using Faces = std::map<QString, Face>;

// Styled names (full names and PostScript names that are not themselves a family) of the
// installed fonts, built once per process from fontconfig.
const Faces& faces();

// One XML part with styled names in run properties replaced by their family and marks added.
QString fix(const QString& xml, const Faces& known = faces());
// The font names a part uses, theme references ("+mj-lt") left out.
std::set<QString> names(const QString& xml);

struct Prepared {
    fs::path input;
    std::set<QString> families;
};
// The document the suite should open (the source or a rewritten copy in `work`) and the fonts
// it names. Only DOCX is looked into, and of it only the parts that name fonts are unpacked.
Prepared prepare(const fs::path& source, const fs::path& work);
// Empties `target` and fills it with copies of the font files of those families, except the
// distribution's own fonts, which the suite sees anyway.
void collectFonts(const std::set<QString>& families, const fs::path& target);
// The installed files of one family, each once.
std::vector<fs::path> files(const QString& family);
}
