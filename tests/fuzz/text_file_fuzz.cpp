#include "core/base/file_safety.h"
#include "documents/text_file.h"
#include "fuzz_input.h"

#include <QByteArrayView>

#include <cstdlib>

// Any bytes decode to valid UTF-8, as a page too, and removing byte-order marks keeps it valid. Read from a
// file in pieces of any size, the bytes give that same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto bytes = Fuzz::text(data, size);
    auto text = TextFile::decodeDetecting(bytes);
    if (!QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8())
        std::abort();
    // A page decodes to valid UTF-8 whatever charset it declares.
    const auto page = TextFile::decodeHtml(bytes);
    if (!QByteArrayView(page.data(), qsizetype(page.size())).isValidUtf8())
        std::abort();
    TextFile::removeByteOrderMarks(text);
    if (!QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8()
        || text.find("\xEF\xBB\xBF") != std::string::npos)
        std::abort();

    const auto path = Fuzz::scratch("texto.csv");
    std::filesystem::remove(path);
    FileSafety::writeNew(path, bytes);
    std::string pieces;
    TextFile::eachPiece(
        path,
        [&pieces](std::string_view piece) {
            pieces += piece;
            return true;
        },
        size > 0 ? 1 + data[0] % 9 : 1);
    if (pieces != text)
        std::abort();
    return 0;
}
