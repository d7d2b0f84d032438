#include "core/base/error_log.h"
#include "core/base/helper_module.h"
#include "engine_module.h"

#include <stdexcept>

// The lighter worker programs' stand-ins for the engines they leave to the engine module: each
// opens the module on first use and calls the engine there. The module is opened into the
// program's own symbols (the program exports them), so that it shares the program's tasks,
// processes, name claims and image library. This file holds what both programs leave out;
// light_forwarders.cpp and image_forwarders.cpp what only one does.

namespace {

// The module `file` in the program's helper folder, opened on first use; its entry `name` gives
// its table.
const void* openModule(const char* file, const char* name)
{
    std::string error;
    const auto entry = HelperModule::entry<const void*()>(file, name, &error);
    if (!entry) {
        // The loader's reason is for whoever mends the installation; the job row says what to do.
        ErrorLog::add(error);
        throw std::runtime_error("Uma parte do Brivlon está faltando ou danificada. Reinstale o app.");
    }
    return entry();
}

}

const EngineEntries& engineModule()
{
    static const auto* const entries = static_cast<const EngineEntries*>(
        openModule("brivlon-engines.so", engineEntriesName));
    return *entries;
}

const TextEntries& textModule()
{
    static const auto* const entries = static_cast<const TextEntries*>(
        openModule("brivlon-pdf-text.so", textEntriesName));
    return *entries;
}

const FaceEntries& facesModule()
{
    static const auto* const entries = static_cast<const FaceEntries*>(
        openModule("brivlon-faces.so", faceEntriesName));
    return *entries;
}

fs::path PDFEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    if (format.ext == "txt")
        return textModule().convertPDFText(source);
    return engineModule().convertPDF(source, format, progress);
}

fs::path DocumentEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return engineModule().convertDocument(source, format, progress);
}
