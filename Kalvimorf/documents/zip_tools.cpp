#include "documents/zip_tools.h"

#include "core/conversion_error.h"
#include "core/shell.h"

#include <system_error>

namespace ZipTools {

namespace {
const std::string zip = "/usr/bin/zip";
const std::string unzip = "/usr/bin/unzip";

// unzip reads the entry argument as a wildcard pattern; package entries such as
// "[Content_Types].xml" must match only themselves.
std::string escapedPattern(const std::string& entry)
{
    std::string out;
    out.reserve(entry.size());
    for (char c : entry) {
        if (c == '[' || c == ']' || c == '*' || c == '?' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}
}

std::string literalName(const std::string& name)
{
    return name.starts_with('-') ? "./" + name : name;
}

void packNames(const fs::path& destination, const fs::path& folder, const std::vector<std::string>& names)
{
    std::vector<std::string> arguments = {"-r", "-y", "-q", "-X", destination.string()};
    for (const auto& name : names)
        arguments.push_back(literalName(name));
    arguments.insert(arguments.end(), {"-x", "*.DS_Store", "__MACOSX/*"});
    Shell::run(zip, arguments, {.cwd = folder});
}

void packContents(const fs::path& destination, const fs::path& folder)
{
    Shell::run(zip, {"-X", "-r", "-q", destination.string(), "."}, {.cwd = folder});
}

std::optional<std::string> readEntry(const fs::path& package, const std::string& entry)
{
    try {
        auto bytes = Shell::run(unzip, {"-p", package.string(), escapedPattern(entry)});
        if (bytes.empty())
            return std::nullopt;
        return bytes;
    } catch (const ConversionError&) {
        return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

void unpack(const fs::path& package, const fs::path& target)
{
    Shell::run(unzip, {"-q", "-o", package.string(), "-d", target.string()});
}

}
