#pragma once

#include <filesystem>
#include <string>

// The modules the programs open only when they need them (the desktop program, the engines, a
// PDF's text, the sounds, the preview players) are all opened here, the same way: from the
// helper folder, once, and never closed, since what they hand out lives as long as the program.
namespace HelperModule {

// When a module's functions are bound to the libraries it uses. At the opening, a module that
// cannot work (a library of its own lacking a symbol it uses) fails there rather than crash at its
// first call; at the first call, the opening skips binding every function of every library the
// module brings, which for libvips and its seventy libraries is several milliseconds.
enum class Binding { atOpening, atFirstCall };

// The entry `name` of `module` (a name in the helper folder, or an absolute path), or nullptr
// when the module is missing, cannot be loaded (a damaged file, a library of its own missing, or
// with `Binding::atOpening` lacking a symbol it uses) or has no such entry; `error`, when given,
// then says why in the loader's words.
void* entry(const std::filesystem::path& module, const char* name, std::string* error = nullptr,
    Binding binding = Binding::atOpening);

template <class Function>
Function* entry(const std::filesystem::path& module, const char* name, std::string* error = nullptr,
    Binding binding = Binding::atOpening)
{
    return reinterpret_cast<Function*>(entry(module, name, error, binding));
}

}
