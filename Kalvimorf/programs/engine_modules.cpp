#include "core/base/error_log.h"
#include "core/base/helper_module.h"
#include "programs/engine_module.h"

#include <stdexcept>

// The modules, opened on first use by the programs that leave engines to them (the lighter
// workers, and brivlon's own fork for PDF text). A module is opened into the program's own
// symbols (the program exports them), so that it shares the program's tasks, processes, name
// claims and image library.

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
