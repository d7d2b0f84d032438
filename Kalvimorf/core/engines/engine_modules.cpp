#include "core/engines/engine_modules.h"

#include "core/base/error_log.h"
#include "core/base/helper_module.h"
#include "core/base/raw_values.h"

#include <atomic>
#include <stdexcept>
#include <string>

namespace EngineModules {

namespace {

// The modules: each is brivlon-<raw>.so in the helper folder, and its entry is brivlon_<entry>.
struct ModuleRow {
    Module value;
    std::string_view raw;
    const char* entry;
};
constexpr EnumTable<ModuleRow, 4> modules{{{
    {Module::images, "images", "brivlon_images"},
    {Module::documents, "documents", "brivlon_documents"},
    {Module::faces, "faces", "brivlon_faces"},
    {Module::pdfText, "pdf-text", "brivlon_pdf_text"},
}}};

std::atomic<const Linked*> linked{nullptr};

// The table `module` hands over, the module opened now; throws the sentence that asks for a new
// installation when it cannot be.
const void* open(Module module)
{
    const auto& row = modules[module];
    std::string error;
    const auto file = "brivlon-" + std::string(row.raw) + ".so";
    // Bound at each function's first call: a small picture's whole job takes about 40 ms, and
    // binding all of libvips' libraries at the opening would add several. A module that lacks a
    // symbol then ends its job as a crash, in the worker, which is where a fault ends only the job.
    const auto entry = HelperModule::entry<const void*()>(file, row.entry, &error, HelperModule::Binding::atFirstCall);
    if (!entry) {
        // The loader's reason is for whoever mends the installation; the job row says what to do.
        // Once a process: a worker warming the module, and then each job, meet the same reason.
        static std::atomic<unsigned> logged{0};
        const unsigned bit = 1u << static_cast<unsigned>(module);
        if (!(logged.fetch_or(bit) & bit))
            ErrorLog::add(error);
        throw std::runtime_error("Uma parte do Brivlon está faltando ou danificada. Reinstale o app.");
    }
    return entry();
}

template <class Table> const Table& table(Module module, const Table* Linked::*own)
{
    if (const auto* tables = linked.load())
        return *(tables->*own);
    // Opened once for the process: a module that failed is tried again by the next job, which
    // then reports the same.
    static std::atomic<const Table*> opened{nullptr};
    if (const auto* known = opened.load())
        return *known;
    const auto* fresh = static_cast<const Table*>(open(module));
    opened.store(fresh);
    return *fresh;
}

}

const Images& images() { return table(Module::images, &Linked::images); }

const Documents& documents() { return table(Module::documents, &Linked::documents); }

const Faces& faces() { return table(Module::faces, &Linked::faces); }

const PDFText& pdfText() { return table(Module::pdfText, &Linked::pdfText); }

std::string_view raw(Module module) { return modules[module].raw; }

std::optional<Module> parse(std::string_view raw) { return modules.parse(raw); }

std::vector<Module> all() { return modules.values(); }

void warm(Module module)
{
    switch (module) {
    case Module::images: images().startLibrary(); return;
    case Module::documents: documents(); return;
    case Module::faces: faces(); return;
    case Module::pdfText: pdfText(); return;
    }
}

void link(const Linked& tables)
{
    static const Linked kept = tables;
    linked.store(&kept);
}

}
