#pragma once

#include "core/catalog.h"
#include "core/service.h"

#include <vector>

// The conversions of the documents layer that the dispatcher and the runner call: subtitles,
// spreadsheets and archives. The documents library installs its engines at start-up
// (Documents::install()); while none is installed these routes are unsupported.
class DocumentEngines : public Service<DocumentEngines> {
public:
    virtual ~DocumentEngines() = default;
    virtual fs::path subtitle(const fs::path& source, const OutputFormat& format) = 0;
    virtual fs::path spreadsheet(const fs::path& source, const OutputFormat& format) = 0;
    virtual fs::path extract(const fs::path& archive) = 0;
    virtual fs::path repack(const fs::path& archive, const OutputFormat& format) = 0;
    // One archive of all the items.
    virtual fs::path pack(const std::vector<fs::path>& items, const OutputFormat& format) = 0;

    // The installed engines; throws ConversionError::unsupported() when there are none.
    static std::shared_ptr<DocumentEngines> required();
};
