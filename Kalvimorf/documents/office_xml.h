#pragma once

#include <QString>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// What the office formats' readers and writers share: telling a package by its first bytes,
// escaping text for XML, lengths with units, and finding a package's parts by its relationships.
namespace OfficeXML {

// The first bytes of the file, at most `count`; empty when it cannot be read.
std::string head(const std::filesystem::path& path, size_t count);
bool isZip(const std::filesystem::path& path);
// XML 1.0 allows tab, line feed, carriage return and U+0020 and up, except the surrogates and
// U+FFFE/U+FFFF. Anything else makes a part that office programs refuse to open.
bool allowedInXML(char32_t c);
// The text as XML can hold it: a surrogate without its pair becomes U+FFFD, as a UTF-8 encoder
// writes it, and the other characters XML 1.0 forbids are dropped. The text itself when it is
// fit already.
QString xmlText(const QString& text);
// Text and attribute values for XML: xmlText with the five special characters escaped.
QString escape(const QString& text);
// "2cm", "0.5in", "12pt", "20mm", "1.5pc" in points; nothing for anything else.
std::optional<double> points(const QString& length);

// A relationship of a package's part: its type's address and its target as written.
struct Relationship {
    std::string type;
    std::string target;
};
// The relationships of a relationships part by id; none when the part is missing or malformed.
std::map<std::string, Relationship> relationships(std::string_view xml);
// The target of the first relationship of that kind (the last piece of its type, which the
// transitional and strict schemas share).
std::optional<std::string> targetOfType(const std::map<std::string, Relationship>& relationships, std::string_view kind);
// The relationships part of a part: "xl/workbook.xml" has "xl/_rels/workbook.xml.rels".
std::string relationshipsPartOf(const std::string& part);
// A relationship's target as a path in the package: against the folder of the part that names
// it, or from the package's root when it begins with "/"; "." and ".." resolved.
std::string resolvePart(const std::string& from, const std::string& target);

}
