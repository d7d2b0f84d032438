#include "documents/text_file.h"
#include "fuzz_input.h"

#include <QStringDecoder>

#include <cstdlib>

using namespace TextFile;

// Any file decodes to UTF-8. The validator agrees with Qt's UTF-8 decoder, and walking the
// bytes code point by code point ends exactly at their end.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto bytes = Fuzz::text(data, size);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    const bool valid = isValidUtf8(bytes);
    if (valid == utf8.hasError() || !isValidUtf8(latin1ToUtf8(bytes)))
        std::abort();
    size_t i = 0;
    while (i < bytes.size())
        nextCodePoint(bytes, i);
    if (i != bytes.size())
        std::abort();

    const auto file = Fuzz::scratch("text");
    writeAtomically(file, bytes);
    if (!isValidUtf8(readDetecting(file)))
        std::abort();
    return 0;
}
