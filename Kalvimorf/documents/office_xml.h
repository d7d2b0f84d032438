#pragma once

#include <QString>

#include <filesystem>
#include <optional>
#include <string>

// What the office formats' readers and writers share: telling a package by its first bytes,
// escaping text for XML, and lengths with units.
namespace OfficeXML {

// The first bytes of the file, at most `count`; empty when it cannot be read.
std::string head(const std::filesystem::path& path, size_t count);
bool isZip(const std::filesystem::path& path);
// Text and attribute values for XML: the five special characters escaped and the characters
// XML 1.0 cannot hold dropped.
QString escape(const QString& text);
// "2cm", "0.5in", "12pt", "20mm", "1.5pc" in points; nothing for anything else.
std::optional<double> points(const QString& length);

}
