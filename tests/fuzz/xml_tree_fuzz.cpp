#include "core/base/conversion_error.h"
#include "documents/xml_tree.h"
#include "fuzz_input.h"
#include "xml_events.h"

#include <cstdlib>
#include <string>

// Any bytes give a tree or nothing; a tree answers lookups, and element names are local. Fed in
// pieces of any size, a document reads as it does whole. A tree that passes its budget is
// refused, never half built.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto text = Fuzz::text(data, size);
    XmlEvents whole, pieces;
    const bool wellFormed = XML::walk(text, whole.handlers());
    const size_t step = size > 0 ? 1 + data[0] % 7 : 1;
    XML::Feed feed(pieces.handlers());
    for (size_t at = 0; at < text.size(); at += step)
        feed.add(text.substr(at, step));
    // Character data may come in other slices; what matters is that it all comes, in order. (Read
    // in pieces, Qt's reader misses a few faults whose bytes a piece boundary splits, such as
    // "]]>" in text: what it accepts there is still read as the bytes say.)
    const bool piecesWellFormed = feed.finish();
    if (wellFormed && (!piecesWellFormed || pieces.seen != whole.seen))
        std::abort();

    const auto root = XML::parse(text);
    if (!root)
        return 0;
    const auto* found = root->find("t");
    if (root->name.find(':') != std::string::npos || (found && found->name != "t"))
        std::abort();
    root->allText("t");
    root->attr("r");
    Budget small(size_t(size) * 4);
    try {
        XML::parse(text, small);
    } catch (const ConversionError&) {
    }
    return 0;
}
