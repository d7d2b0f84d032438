#include "core/document_engines.h"

#include "core/conversion_error.h"

std::shared_ptr<DocumentEngines> DocumentEngines::required()
{
    auto engines = shared();
    if (!engines)
        throw ConversionError::unsupported();
    return engines;
}
