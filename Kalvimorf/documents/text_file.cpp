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

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Where `needle` (lower case) next stands in `text` from `from`, ASCII case ignored.
size_t findNoCase(std::string_view text, std::string_view needle, size_t from)
{
    for (size_t at = from; at + needle.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < needle.size() && lowerAscii(text[at + i]) == needle[i])
            ++i;
        if (i == needle.size())
            return at;
    }
    return std::string_view::npos;
}

}

std::optional<std::string> declaredCharset(std::string_view bytes)
{
    // Pages declare it in their head; a page that opens with scripts and comments may push it
    // well past the first kilobyte.
    const std::string_view head = bytes.substr(0, size_t(64) << 10);
    for (size_t at = 0; at < head.size();) {
        const size_t lt = head.find('<', at);
        if (lt == std::string_view::npos)
            break;
        const std::string_view rest = head.substr(lt);
        // What comments and scripts hold is no declaration, whatever it looks like.
        const auto skipTo = [&](std::string_view end) {
            const size_t close = findNoCase(head, end, lt + 1);
            return close == std::string_view::npos ? head.size() : close + end.size();
        };
        if (rest.starts_with("<!--")) {
            at = skipTo("-->");
            continue;
        }
        if (findNoCase(rest.substr(0, 7), "<script", 0) == 0) {
            at = skipTo("</script");
            continue;
        }
        if (findNoCase(rest.substr(0, 5), "<body", 0) == 0)
            break;
        // An XHTML page's XML declaration names it as encoding="x".
        const bool declaration = rest.starts_with("<?xml");
        if (!declaration && findNoCase(rest.substr(0, 5), "<meta", 0) != 0) {
            at = lt + 1;
            continue;
        }
        const size_t end = std::min(head.find('>', lt), head.size());
        const std::string_view tag = head.substr(lt, end - lt);
        at = end;
        // charset="x", and content="text/html; charset=x" of an http-equiv Content-Type.
        const std::string_view key = declaration ? "encoding" : "charset";
        size_t value = findNoCase(tag, key, 0);
        if (value == std::string_view::npos)
            continue;
        value += key.size();
        while (value < tag.size() && (tag[value] == ' ' || tag[value] == '\t'))
            ++value;
        if (value >= tag.size() || tag[value] != '=')
            continue;
        ++value;
        while (value < tag.size() && (tag[value] == ' ' || tag[value] == '"' || tag[value] == '\''))
            ++value;
        size_t stop = value;
        while (stop < tag.size() && std::string_view(" \t\r\n\"';/>?").find(tag[stop]) == std::string_view::npos)
            ++stop;
        if (stop > value)
            return std::string(tag.substr(value, stop - value));
    }
    return std::nullopt;
}

std::string decodeHtml(std::string_view bytes)
{
    // A mark outweighs the page's own word, as in every browser.
    if (QStringConverter::encodingForData(view(bytes)))
        return decodeDetecting(bytes);
    if (auto declared = declaredCharset(bytes)) {
        QStringDecoder decoder(declared->c_str());
        // A page read as bytes cannot be UTF-16 whatever it says; its markup was read as ASCII.
        const auto encoding = QStringConverter::encodingForName(declared->c_str());
        const bool wide = encoding
            && (*encoding == QStringConverter::Utf16 || *encoding == QStringConverter::Utf16LE
                || *encoding == QStringConverter::Utf16BE || *encoding == QStringConverter::Utf32
                || *encoding == QStringConverter::Utf32LE || *encoding == QStringConverter::Utf32BE);
        if (decoder.isValid() && !wide)
            return QString(decoder(view(bytes))).toStdString();
    }
    return decodeDetecting(bytes);
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
