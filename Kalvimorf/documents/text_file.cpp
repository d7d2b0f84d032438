#include "documents/text_file.h"

#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace TextFile {

namespace {

bool startsWith(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

// The encoding that a byte-order mark at the start announces, if any. UTF-32 LE is tested
// before UTF-16 LE because its mark begins with the same two bytes.
std::optional<QStringConverter::Encoding> encodingOfMark(std::string_view bytes)
{
    using namespace std::string_view_literals;
    if (startsWith(bytes, "\xEF\xBB\xBF"sv))
        return QStringConverter::Utf8;
    if (startsWith(bytes, "\xFF\xFE\x00\x00"sv))
        return QStringConverter::Utf32LE;
    if (startsWith(bytes, "\x00\x00\xFE\xFF"sv))
        return QStringConverter::Utf32BE;
    if (startsWith(bytes, "\xFF\xFE"sv))
        return QStringConverter::Utf16LE;
    if (startsWith(bytes, "\xFE\xFF"sv))
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

}

std::string readBytes(const std::filesystem::path& path)
{
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
    if (!isValidUtf8(bytes))
        throw std::system_error(EILSEQ, std::generic_category(), path.string());
    return bytes;
}

std::string readDetecting(const std::filesystem::path& path)
{
    auto bytes = readBytes(path);
    if (auto encoding = encodingOfMark(bytes); encoding && *encoding != QStringConverter::Utf8) {
        QStringDecoder decoder(*encoding);
        QString text = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        if (!decoder.hasError())
            return text.toStdString();
        return latin1ToUtf8(bytes);
    }
    if (isValidUtf8(bytes))
        return bytes;
    return latin1ToUtf8(bytes);
}

void writeAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    QSaveFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(path.string() + ": " + file.errorString().toStdString());
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit())
        throw std::runtime_error(path.string() + ": " + file.errorString().toStdString());
}

char32_t nextCodePoint(std::string_view text, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        ++i;
        return invalidCodePoint;
    }
    if (text.size() - i < length || byte(i + 1) < low || byte(i + 1) > high) {
        ++i;
        return invalidCodePoint;
    }
    char32_t value = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return invalidCodePoint;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    return value;
}

bool isValidUtf8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80)
            ++i;
        else if (nextCodePoint(bytes, i) == invalidCodePoint)
            return false;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(char(0xC0 | (byte >> 6)));
            text.push_back(char(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

}
