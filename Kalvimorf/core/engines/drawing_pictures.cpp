#include "core/engines/drawing_pictures.h"

#include "core/base/file_safety.h"
#include "core/base/references.h"

#include <QBuffer>
#include <QImageReader>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <optional>

namespace fs = std::filesystem;

namespace DrawingPictures {

namespace {

// Past this a file beside a drawing is no picture of it.
constexpr uintmax_t largestPicture = 64 * 1024 * 1024;
// Drawings inside drawings, each settled in turn; deeper ones are left out.
constexpr int deepest = 3;

// The file a reference names, when it lies in `root` (the drawing's folder, links followed) or
// below it; a file: address is a path, any other scheme none.
std::optional<fs::path> within(const QString& reference, const fs::path& root)
{
    if (root.empty() || reference.isEmpty())
        return std::nullopt;
    fs::path named;
    const QUrl url(reference);
    if (url.scheme().compare("file", Qt::CaseInsensitive) == 0)
        named = url.toLocalFile().toStdString();
    else if (url.scheme().size() > 1)
        return std::nullopt;
    else
        named = reference.toStdString();
    return References::fileWithin(named.is_absolute() ? named : root / named, root);
}

QByteArray settleAt(const QByteArray& drawing, const fs::path& root, int depth);

// The picture as the drawing may carry it: a raster picture as it is, a drawing settled in turn
// (against the folder its own references are meant for), anything else nothing.
std::optional<QByteArray> carried(const QByteArray& bytes, const fs::path& root, int depth)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer).toLower();
    if (format.isEmpty() || format == "svgz")
        return std::nullopt;
    if (format == "svg")
        return depth < deepest ? std::optional(settleAt(bytes, root, depth + 1)) : std::nullopt;
    return bytes;
}

// The reference as it goes to the renderer: a data address, or empty for a missing picture.
QString settled(const QString& reference, const fs::path& root, int depth)
{
    std::optional<QByteArray> bytes = References::dataAddress(QUrl(reference));
    fs::path folder = root;
    if (!bytes) {
        const auto file = within(reference, root);
        if (!file)
            return {};
        // Links were followed above; a FIFO or a device is no picture.
        if (const auto read = FileSafety::readRegular(*file, largestPicture))
            bytes = QByteArray(read->data(), qsizetype(read->size()));
        folder = file->parent_path();
    }
    if (!bytes)
        return {};
    const auto picture = carried(*bytes, folder, depth);
    if (!picture)
        return {};
    return QLatin1String("data:;base64,") + QString::fromLatin1(picture->toBase64());
}

bool isReference(const QXmlStreamAttribute& attribute)
{
    const auto name = attribute.qualifiedName();
    return name == QLatin1String("href") || name.endsWith(QLatin1String(":href"));
}

QByteArray settleAt(const QByteArray& drawing, const fs::path& root, int depth)
{
    QXmlStreamReader reader(drawing);
    // Names stay as written, prefixes and their declarations included.
    reader.setNamespaceProcessing(false);
    QByteArray result;
    QXmlStreamWriter writer(&result);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            break;
        const auto name = reader.qualifiedName();
        const bool picture = reader.isStartElement()
            && (name == QLatin1String("image") || name.endsWith(QLatin1String(":image")));
        if (!picture) {
            writer.writeCurrentToken(reader);
            continue;
        }
        writer.writeStartElement(name.toString());
        for (const auto& attribute : reader.attributes()) {
            if (!isReference(attribute)) {
                writer.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
                continue;
            }
            const QString value = settled(attribute.value().toString().trimmed(), root, depth);
            if (!value.isEmpty())
                writer.writeAttribute(attribute.qualifiedName().toString(), value);
        }
    }
    // Past an error the renderer stops as well, keeping what it read before it.
    return result;
}

}

QByteArray settle(const QByteArray& drawing, const fs::path& folder)
{
    // Most drawings name no picture, and go as they are; one in UTF-16 or UTF-32 could hide one.
    if (!drawing.contains("image") && !drawing.contains('\0'))
        return drawing;
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    return settleAt(drawing, error ? fs::path() : root, 0);
}

}
