#include "documents/office_xml.h"

#include "documents/xml_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace OfficeXML {

std::string head(const std::filesystem::path& path, size_t count)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string bytes(count, '\0');
    const ssize_t got = ::read(fd, bytes.data(), count);
    ::close(fd);
    bytes.resize(got > 0 ? size_t(got) : 0);
    return bytes;
}

bool isZip(const std::filesystem::path& path) { return head(path, 4) == std::string("PK\x03\x04", 4); }

bool allowedInXML(char32_t c)
{
    if (c < 0x20)
        return c == '\t' || c == '\n' || c == '\r';
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    return c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

QString xmlText(const QString& text)
{
    const auto fits = [&](qsizetype i) {
        const QChar c = text[i];
        if (c.isHighSurrogate())
            return i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (c.isLowSurrogate())
            return i > 0 && text[i - 1].isHighSurrogate();
        return allowedInXML(c.unicode());
    };
    qsizetype first = 0;
    while (first < text.size() && fits(first))
        ++first;
    if (first == text.size())
        return text;
    QString result = text.left(first);
    result.reserve(text.size());
    for (qsizetype i = first; i < text.size(); ++i) {
        if (fits(i))
            result += text[i];
        else if (text[i].isSurrogate())
            result += QChar::ReplacementCharacter;
    }
    return result;
}

QString escape(const QString& text)
{
    const QString fit = xmlText(text);
    QString result;
    result.reserve(fit.size());
    for (QChar c : fit) {
        switch (c.unicode()) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&apos;"; break;
        default: result += c;
        }
    }
    return result;
}

std::optional<double> points(const QString& length)
{
    static const std::pair<const char*, double> units[]
        = {{"cm", 72 / 2.54}, {"mm", 72 / 25.4}, {"in", 72}, {"pt", 1}, {"pc", 12}, {"px", 0.75}};
    const QString text = length.trimmed();
    for (const auto& [unit, factor] : units) {
        if (!text.endsWith(QLatin1String(unit)))
            continue;
        bool ok = false;
        const double value = text.chopped(2).toDouble(&ok);
        if (ok && std::isfinite(value))
            return value * factor;
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

// The folder of a part, with its "/": "" for a part at the root.
std::string folderOf(const std::string& part)
{
    const auto slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

}

std::map<std::string, Relationship> relationships(std::string_view xml)
{
    std::map<std::string, Relationship> found;
    if (auto root = XML::parse(xml))
        for (const auto& relationship : root->children) {
            const auto* id = relationship->attr("Id");
            const auto* type = relationship->attr("Type");
            const auto* target = relationship->attr("Target");
            if (relationship->name == "Relationship" && id && target)
                found[*id] = {type ? *type : std::string(), *target};
        }
    return found;
}

std::optional<std::string> targetOfType(const std::map<std::string, Relationship>& relationships, std::string_view kind)
{
    for (const auto& [id, relationship] : relationships)
        if (relationship.type.ends_with(kind) && relationship.type.size() > kind.size()
            && relationship.type[relationship.type.size() - kind.size() - 1] == '/')
            return relationship.target;
    return std::nullopt;
}

std::string relationshipsPartOf(const std::string& part)
{
    return folderOf(part) + "_rels/" + part.substr(folderOf(part).size()) + ".rels";
}

std::string resolvePart(const std::string& from, const std::string& target)
{
    // Some producers write Windows' separators.
    std::string forward = target;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    const std::string joined = forward.starts_with("/") ? forward.substr(1) : folderOf(from) + forward;
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= joined.size()) {
        const size_t slash = std::min(joined.find('/', start), joined.size());
        const std::string piece = joined.substr(start, slash - start);
        if (piece == "..") {
            if (!pieces.empty())
                pieces.pop_back();
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        start = slash + 1;
    }
    std::string path;
    for (const auto& piece : pieces)
        path += (path.empty() ? "" : "/") + piece;
    return path;
}

}
