#include "core/base/app_paths.h"
#include "engine_module.h"

#include <dlfcn.h>
#include <stdexcept>
#include <system_error>

// The worker program's stand-ins for the engines of its engine module: each opens the module on
// first use and calls the engine there. The module is opened into the program's own symbols
// (the program exports them), so that it shares the program's tasks, processes and name claims.
namespace {

const EngineEntries& engines()
{
    static const EngineEntries* const entries = [] {
        const auto beside = AppPaths::executableDir() / "brivlon-engines.so";
        std::error_code error;
        const std::string path = fs::exists(beside, error) ? beside.string() : std::string(BRIVLON_ENGINE_MODULE);
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        using Entry = const EngineEntries* (*)();
        const auto entry = module ? reinterpret_cast<Entry>(::dlsym(module, engineEntriesName)) : nullptr;
        if (!entry)
            throw std::runtime_error(::dlerror());
        return entry();
    }();
    return *entries;
}

}

fs::path ImageEngine::convert(const fs::path& source, const OutputFormat& format)
{
    return engines().convertImage(source, format);
}

fs::path ImageEngine::mergeToPDF(const std::vector<fs::path>& sources) { return engines().mergeImages(sources); }

fs::path PDFEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return engines().convertPDF(source, format, progress);
}

fs::path DocumentEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return engines().convertDocument(source, format, progress);
}

fs::path ToolEngines::run(
    Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress)
{
    return engines().runTool(tool, sources, params, progress);
}

bool ImageLibrary::start() { return engines().startImageLibrary(); }
