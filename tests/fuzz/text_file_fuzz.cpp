#include "documents/text_file.h"
#include "fuzz_input.h"

#include <QByteArrayView>

#include <cstdlib>

// Any bytes decode to valid UTF-8, and removing byte-order marks keeps it valid.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto text = TextFile::decodeDetecting(Fuzz::text(data, size));
    if (!QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8())
        std::abort();
    TextFile::removeByteOrderMarks(text);
    if (!QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8()
        || text.find("\xEF\xBB\xBF") != std::string::npos)
        std::abort();
    return 0;
}
