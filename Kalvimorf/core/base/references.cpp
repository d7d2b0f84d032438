#include "core/base/references.h"

namespace fs = std::filesystem;

namespace References {

std::optional<fs::path> fileWithin(const fs::path& named, const fs::path& root)
{
    if (root.empty() || named.empty())
        return std::nullopt;
    std::error_code error;
    const fs::path real = fs::canonical(named, error);
    if (error)
        return std::nullopt;
    const fs::path inside = real.lexically_relative(root);
    if (inside.empty() || inside == "." || *inside.begin() == "..")
        return std::nullopt;
    return real;
}

std::optional<QByteArray> dataAddress(const QUrl& url)
{
    if (url.scheme().compare("data", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QByteArray whole = url.toString(QUrl::FullyEncoded).toLatin1().mid(5);
    const qsizetype comma = whole.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    const QByteArray payload = QByteArray::fromPercentEncoding(whole.mid(comma + 1));
    if (whole.left(comma).toLower().endsWith(";base64"))
        return QByteArray::fromBase64(payload);
    return payload;
}

}
