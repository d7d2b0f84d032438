#pragma once

#include <filesystem>
#include <string>

// The modules the programs open only when they need them (the desktop program, the engines, a
// PDF's text, the sounds, the preview players) are all opened here, the same way: from the
// helper folder, once, and never closed, since what they hand out lives as long as the program.
namespace HelperModule {

// The entry `name` of `module` (a name in the helper folder, or an absolute path), or nullptr
// when the module is missing, cannot be loaded (a damaged file, a library of its own missing or
// lacking a symbol it uses) or has no such entry; `error`, when given, then says why in the
// loader's words. Every symbol is bound at the opening, so that a module that cannot work fails
// here rather than crash at its first call.
void* entry(const std::filesystem::path& module, const char* name, std::string* error = nullptr);

template <class Function>
Function* entry(const std::filesystem::path& module, const char* name, std::string* error = nullptr)
{
    return reinterpret_cast<Function*>(entry(module, name, error));
}

}
