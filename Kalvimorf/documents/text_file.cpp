#include "documents/text_file.h"

#include "core/base/file_safety.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace TextFile {

namespace {

QByteArrayView view(std::string_view bytes) { return QByteArrayView(bytes.data(), qsizetype(bytes.size())); }

std::string fromLatin1(std::string_view bytes) { return QString::fromLatin1(view(bytes)).toStdString(); }

}

std::string readBytes(const std::filesystem::path& path)
{
    FileSafety::requireRegularFile(path);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::system_error(errno ? errno : ENOENT, std::generic_category(), path.string());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::system_error(errno ? errno : EIO, std::generic_category(), path.string());
    return bytes;
}

std::string readUtf8(const std::filesystem::path& path)
{
    auto bytes = readBytes(path);
    if (!view(bytes).isValidUtf8())
        throw std::system_error(EILSEQ, std::generic_category(), path.string());
    return bytes;
}

std::string readDetecting(const std::filesystem::path& path) { return decodeDetecting(readBytes(path)); }

std::string decodeDetecting(std::string_view bytes)
{
    // UTF-16 and UTF-32 only with their mark: bytes without one are UTF-8 or Latin-1.
    const auto marked = QStringConverter::encodingForData(view(bytes));
    if (marked && *marked != QStringConverter::Utf8) {
        QStringDecoder decoder(*marked);
        const QString text = decoder(view(bytes));
        return decoder.hasError() ? fromLatin1(bytes) : text.toStdString();
    }
    return view(bytes).isValidUtf8() ? std::string(bytes) : fromLatin1(bytes);
}

void removeByteOrderMarks(std::string& text)
{
    // One pass: erasing each mark in place would move the rest of the text once per mark.
    const std::string_view mark = "\xEF\xBB\xBF";
    size_t kept = 0;
    for (size_t i = 0; i < text.size();) {
        if (std::string_view(text).substr(i, mark.size()) == mark) {
            i += mark.size();
            continue;
        }
        text[kept++] = text[i++];
    }
    text.resize(kept);
}

}
