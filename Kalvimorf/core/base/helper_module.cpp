#include "core/base/helper_module.h"

#include "core/base/app_paths.h"
#include "core/base/file_safety.h"

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace HelperModule {

namespace {

bool readAt(int fd, void* into, size_t size, off_t offset)
{
    return ::pread(fd, into, size, offset) == ssize_t(size);
}

// The loader maps a module's segments where its header says they are, and a module cut short (a
// copy or an update that stopped half way) then dies of SIGBUS at the first page past the end of
// the file, inside dlopen. Whatever this check lets through the loader itself refuses cleanly.
bool cutShort(const std::string& path)
{
    const FileSafety::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    Elf64_Ehdr header { };
    if (!fd || ::fstat(fd.get(), &status) != 0 || !readAt(fd.get(), &header, sizeof header, 0)
        || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64
        || header.e_phentsize != sizeof(Elf64_Phdr))
        return false;
    const auto size = static_cast<unsigned long long>(status.st_size);
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (header.e_phoff + segments.size() * sizeof(Elf64_Phdr) > size)
        return true;
    if (!readAt(fd.get(), segments.data(), segments.size() * sizeof(Elf64_Phdr), off_t(header.e_phoff)))
        return true;
    for (const auto& segment : segments)
        if (segment.p_type == PT_LOAD && (segment.p_offset > size || segment.p_filesz > size - segment.p_offset))
            return true;
    return false;
}

}

void* entry(const std::filesystem::path& module, const char* name, std::string* error, Binding binding)
{
    const auto path = (AppPaths::helperDir() / module).string();
    if (cutShort(path)) {
        if (error)
            *error = path + ": file too short";
        return nullptr;
    }
    // Local: what a module defines serves its own entries, never another module.
    const int when = [binding] {
        switch (binding) {
        case Binding::atOpening: return RTLD_NOW;
        case Binding::atFirstCall: return RTLD_LAZY;
        }
        return RTLD_NOW;
    }();
    void* opened = ::dlopen(path.c_str(), when | RTLD_LOCAL);
    void* found = opened ? ::dlsym(opened, name) : nullptr;
    if (!found && error) {
        const char* reason = ::dlerror();
        *error = reason ? reason : path + ": " + name;
    }
    return found;
}

}
