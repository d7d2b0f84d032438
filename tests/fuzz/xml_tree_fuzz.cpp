#include "documents/xml_tree.h"
#include "fuzz_input.h"

#include <cstdlib>

// Any bytes give a tree or nothing; a tree answers lookups, and element names are local.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto root = XML::parse(Fuzz::text(data, size));
    if (!root)
        return 0;
    const auto* found = root->find("t");
    if (root->name.find(':') != std::string::npos || (found && found->name != "t"))
        std::abort();
    root->allText("t");
    root->attr("r");
    return 0;
}
