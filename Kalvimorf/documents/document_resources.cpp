#include "documents/document_resources.h"

#include "core/base/file_safety.h"
#include "core/base/references.h"
#include "core/engines/image_engine.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <optional>

namespace DocumentResources {

namespace {

// Past this a file beside a page is no picture or style sheet of it: the largest photos of a
// saved page are a few megabytes.
constexpr off_t largestResource = 64 * 1024 * 1024;

// Drawn where a picture may not be read: transparent, so the page keeps its layout and shows
// nothing. A null picture would not do: Qt then reads the name as a path itself.
const QImage& emptyPicture()
{
    static const QImage picture = [] {
        QImage image(1, 1, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        return image;
    }();
    return picture;
}

std::optional<QByteArray> readBounded(const fs::path& path)
{
    // Non-blocking, so that a FIFO planted beside the page cannot hold the conversion.
    const auto bytes = FileSafety::readRegular(path, largestResource);
    if (!bytes)
        return std::nullopt;
    return QByteArray(bytes->data(), qsizetype(bytes->size()));
}

// A file: address whose file, links followed, lies in `root` or below.
std::optional<QByteArray> fileWithin(const QUrl& url, const fs::path& root)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const auto real = References::fileWithin(url.toLocalFile().toStdString(), root);
    return real ? readBounded(*real) : std::nullopt;
}

std::optional<QByteArray> bytesFor(const QUrl& url, const fs::path& root)
{
    if (auto data = References::dataAddress(url))
        return data;
    return fileWithin(url, root);
}

// A picture in a raster format. SVG is left out: its own pictures would be read by paths the
// document never showed us.
std::optional<QImage> pictureOf(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format().toLower();
    if (format.isEmpty() || format.startsWith("svg"))
        return std::nullopt;
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

// Style sheets and background pictures come through here while the HTML is parsed, and any
// picture that was not settled beforehand; the kind asked for is not said, so a picture is
// handed over decoded and anything else as its bytes.
QVariant provide(const QUrl& url, const fs::path& root)
{
    const auto bytes = bytesFor(url, root);
    if (!bytes)
        return emptyPicture();
    if (auto picture = pictureOf(*bytes))
        return *picture;
    return *bytes;
}

fs::path canonicalFolder(const fs::path& folder)
{
    if (folder.empty())
        return {};
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    return error ? fs::path() : real;
}

// Each picture the document shows once, by the key the layout will ask for (its name as an
// address, resolved against the base), with the bytes it may read.
void forEachPicture(
    const QTextDocument& document, const std::function<void(const QUrl&, const std::optional<QByteArray>&)>& visit)
{
    const fs::path root = canonicalFolder(folderOf(document));
    QSet<QUrl> seen;
    for (auto block = document.begin(); block != document.end(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl key = document.baseUrl().resolved(QUrl(format.toImageFormat().name()));
            if (seen.contains(key))
                continue;
            seen.insert(key);
            visit(key, bytesFor(key, root));
        }
    }
}

}

QVariant Document::loadResource(int, const QUrl& name)
{
    const auto provider = resourceProvider();
    return provider ? provider(name) : QVariant(emptyPicture());
}

void confine(QTextDocument& document, const fs::path& folder)
{
    // Every other document of the process, a copy whose provider was not passed on among them,
    // reads nothing at all.
    static std::once_flag once;
    std::call_once(once, [] {
        QTextDocument::setDefaultResourceProvider([](const QUrl&) -> QVariant { return emptyPicture(); });
    });
    const fs::path root = canonicalFolder(folder);
    document.setBaseUrl(root.empty() ? QUrl() : QUrl::fromLocalFile(QString::fromStdString(root.string() + "/")));
    document.setResourceProvider([root](const QUrl& url) { return provide(url, root); });
}

fs::path folderOf(const QTextDocument& document)
{
    const QUrl base = document.baseUrl();
    return base.isLocalFile() ? fs::path(base.toLocalFile().toStdString()) : fs::path();
}

void settlePictures(QTextDocument& document)
{
    forEachPicture(document, [&document](const QUrl& key, const std::optional<QByteArray>& bytes) {
        const auto picture = bytes ? pictureOf(*bytes) : std::nullopt;
        document.addResource(QTextDocument::ImageResource, key, picture ? *picture : emptyPicture());
    });
}

void requireDrawable(const QByteArray& picture)
{
    QBuffer buffer;
    buffer.setData(picture);
    buffer.open(QIODevice::ReadOnly);
    const QSize size = QImageReader(&buffer).size();
    // Drawn as Qt holds a picture: four bytes a pixel.
    if (size.isValid())
        ImageEngine::requireHeld(double(size.width()) * size.height(), 4);
}

void requireDrawable(const QTextDocument& document)
{
    forEachPicture(document, [](const QUrl&, const std::optional<QByteArray>& bytes) {
        if (bytes)
            requireDrawable(*bytes);
    });
}

}
