#include "core/base/app_paths.h"
#include "engine_module.h"

#include <dlfcn.h>
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
    const std::string path = (AppPaths::helperDir() / file).string();
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = const void* (*)();
    const auto entry = module ? reinterpret_cast<Entry>(::dlsym(module, name)) : nullptr;
    if (!entry)
        throw std::runtime_error(::dlerror());
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
