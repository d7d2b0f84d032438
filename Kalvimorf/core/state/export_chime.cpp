#include "core/state/export_chime.h"

#include "core/base/conversion_error.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace ExportChime {

Chime::Kind kindFor(const std::string& word) { return Chime::kindFromRaw(word).value_or(Chime::Kind::success); }

bool run(const std::vector<std::string>& args)
{
    if (args.size() < 3)
        return false;
    const auto kind = args.size() >= 4 ? kindFor(args[3]) : Chime::Kind::success;
    const auto data = Chime::wavData(kind);
    const std::string& path = args[2];

    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file && std::fwrite(data.data(), 1, data.size(), file) == data.size();
    int failure = written ? 0 : errno;
    if (file && std::fclose(file) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (written)
        return true;
    if (file) {
        // A half-written sound is no sound: leave nothing behind.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    const auto reason = describeError(std::filesystem::filesystem_error(
        "", std::filesystem::path(path), std::error_code(failure, std::generic_category())));
    std::fprintf(stderr, "erro: %s\n", reason.c_str());
    return false;
}

}
