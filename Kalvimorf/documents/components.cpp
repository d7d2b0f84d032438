#include "documents/components.h"

#include "core/base/app_paths.h"
#include "documents/text_file.h"

#include <unistd.h>

#include <cstdlib>

namespace Components {

fs::path folder() { return AppPaths::dataDir() / "Componentes"; }
fs::path officeApp() { return folder() / "Documentos"; }
fs::path officeMarker() { return folder() / "documentos.versao"; }
fs::path officeProfile() { return folder() / "perfil-documentos"; }

std::optional<fs::path> soffice()
{
    if (std::getenv("BRIVLON_NO_COMPONENTS"))
        return std::nullopt;
    const fs::path program = officeApp() / "program" / "soffice";
    std::error_code error;
    if (!fs::is_regular_file(program, error) || ::access(program.c_str(), X_OK) != 0)
        return std::nullopt;
    try {
        if (TextFile::readUtf8(officeMarker()) != officeVersion)
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return program;
}

bool networkUsable() { return !std::getenv("BRIVLON_FORCE_OFFLINE"); }

bool downloadable()
{
#if defined(__x86_64__)
    return true;
#else
    return false;
#endif
}

}
