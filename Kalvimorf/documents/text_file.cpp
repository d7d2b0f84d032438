#include "documents/text_file.h"

#include "core/base/file_safety.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
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

namespace {

// Calls `chunk` with the file's bytes in order, `pieceSize` at a time, until it returns false or
// the file ends.
void eachChunk(const std::filesystem::path& path, size_t pieceSize, const std::function<bool(std::string_view)>& chunk)
{
    FileSafety::requireRegularFile(path);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::system_error(errno ? errno : ENOENT, std::generic_category(), path.string());
    std::string buffer(std::max<size_t>(pieceSize, 1), '\0');
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const auto got = size_t(in.gcount());
        if (got > 0 && !chunk(std::string_view(buffer).substr(0, got)))
            return;
    }
    if (in.bad())
        throw std::system_error(errno ? errno : EIO, std::generic_category(), path.string());
}

}

void eachPiece(const std::filesystem::path& path, const std::function<bool(std::string_view)>& piece, size_t chunkSize)
{
    // The decoding: the mark's UTF-16 or UTF-32 when that reads without error, else UTF-8 when
    // every byte is, else ISO Latin-1.
    std::string head;
    eachChunk(path, chunkSize, [&](std::string_view chunk) {
        head.append(chunk.substr(0, 4 - head.size()));
        return head.size() < 4;
    });
    std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(view(head));
    if (encoding && *encoding == QStringConverter::Utf8)
        encoding = std::nullopt;
    bool fallback = false;
    if (encoding) {
        QStringDecoder decoder(*encoding);
        eachChunk(path, chunkSize, [&](std::string_view chunk) {
            [[maybe_unused]] const QString text = decoder(view(chunk));
            return !decoder.hasError();
        });
        fallback = decoder.hasError();
    } else {
        // Each chunk up to its last whole character; the bytes of a character the chunk cuts
        // go before the next one.
        std::string pending;
        eachChunk(path, chunkSize, [&](std::string_view chunk) {
            pending.append(chunk);
            size_t whole = pending.size();
            for (size_t back = 1; back <= 4 && back <= pending.size(); ++back) {
                const auto byte = uint8_t(pending[pending.size() - back]);
                if ((byte & 0xC0) == 0x80)
                    continue;
                const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
                if (length > back)
                    whole = pending.size() - back;
                break;
            }
            fallback = !view(std::string_view(pending).substr(0, whole)).isValidUtf8();
            pending.erase(0, whole);
            return !fallback;
        });
        fallback = fallback || !pending.empty();
    }
    QStringDecoder decoder(fallback ? QStringConverter::Latin1 : encoding.value_or(QStringConverter::Utf8));
    // A mark split between two pieces is put together first.
    std::string carry;
    bool more = true;
    auto hand = [&](std::string text, bool last) {
        text.insert(0, carry);
        carry.clear();
        removeByteOrderMarks(text);
        if (!last) {
            // Up to two bytes that may begin a mark wait for the next piece.
            size_t keep = 0;
            if (text.ends_with("\xEF\xBB"))
                keep = 2;
            else if (text.ends_with("\xEF"))
                keep = 1;
            carry = text.substr(text.size() - keep);
            text.resize(text.size() - keep);
        }
        if (!text.empty())
            more = piece(text);
    };
    // The first half of a surrogate pair that a chunk cuts waits for its second half.
    QString high;
    eachChunk(path, chunkSize, [&](std::string_view chunk) {
        if (!fallback && !encoding) {
            hand(std::string(chunk), false);
            return more;
        }
        QString decoded = high + QString(decoder(view(chunk)));
        high.clear();
        if (!decoded.isEmpty() && decoded.back().isHighSurrogate()) {
            high = decoded.back();
            decoded.chop(1);
        }
        hand(decoded.toStdString(), false);
        return more;
    });
    if (more)
        hand(high.toStdString(), true);
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
