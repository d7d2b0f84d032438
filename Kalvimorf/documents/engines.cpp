#include "documents/engines.h"

#include "core/document_engines.h"
#include "documents/archive_engine.h"
#include "documents/spreadsheet_engine.h"
#include "documents/subtitle_engine.h"

namespace Documents {

namespace {

class Engines final : public DocumentEngines {
public:
    fs::path subtitle(const fs::path& source, const OutputFormat& format) override
    {
        return SubtitleEngine::convert(source, format);
    }
    fs::path spreadsheet(const fs::path& source, const OutputFormat& format) override
    {
        return SpreadsheetEngine::convert(source, format);
    }
    fs::path extract(const fs::path& archive) override { return ArchiveEngine::extract(archive); }
    fs::path repack(const fs::path& archive, const OutputFormat& format) override
    {
        return ArchiveEngine::repack(archive, format);
    }
    fs::path pack(const std::vector<fs::path>& items, const OutputFormat& format) override
    {
        return ArchiveEngine::create(items, format);
    }
};

}

void install() { DocumentEngines::set(std::make_shared<Engines>()); }

}
