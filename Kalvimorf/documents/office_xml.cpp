#include "documents/office_xml.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

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

QString escape(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        const auto u = c.unicode();
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
            continue;
        if (u == 0xFFFE || u == 0xFFFF)
            continue;
        switch (u) {
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

}
