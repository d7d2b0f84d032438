#include "documents/budget.h"

#include "core/base/conversion_error.h"

void Budget::spend(size_t bytes)
{
    if (bytes > left_)
        throw ConversionError::because(sentence_);
    left_ -= bytes;
}

void Nesting::check(size_t level, size_t tablesDeep) const
{
    if (level > levels || tablesDeep > tables)
        throw ConversionError::because(Budget::documentTooLarge);
}
