#pragma once

#include "core/base/job_budget.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The zip containers of archives, XLSX and DOCX packages, made and read by the system's zip and
// unzip. Every call blocks until the tool ends; a failed run throws ConversionError::because with
// the tool's last error line. The zips written mark their non-ASCII UTF-8 names as UTF-8.
namespace ZipTools {
namespace fs = std::filesystem;

// The address space every archiver child may take (JobBudget::Limits::tool). A few bytes of
// archive can ask for gigabytes (a dictionary size in a header, a stream that unpacks to itself);
// real archives stay far below: the largest common dictionaries are 64 MiB.
inline unsigned long long archiverMemory() { return JobBudget::limits().tool; }
// What a part of a package read whole, or a package unpacked, may unpack to
// (JobBudget::Limits::unpacked).
inline const unsigned long long unpackedLimit = JobBudget::limits().unpacked;
// What a packer's failure says when the packer names no known cause.
inline constexpr const char* cannotPack = "Não foi possível criar o arquivo compactado.";

// Packs the named files and folders (folders with their content), as they lie in `folder`, into
// `destination`, leaving out .DS_Store files and anything under __MACOSX. An existing archive at
// `destination` gets the entries added. A missing or unreadable name fails the run.
void packNames(const fs::path& destination, const fs::path& folder, const std::vector<std::string>& names);

// Packs the content of `folder` under paths relative to it.
void packContents(const fs::path& destination, const fs::path& folder);

// Entries are found by name without regard to letter case, as the package formats compare
// names; an exact match wins.
//
// Whether the package lists the entry, without unpacking anything; for a file whose directory
// cannot be read, whether unzip finds it.
bool contains(const fs::path& package, const std::string& entry);

// The bytes of one entry; nothing when the entry is missing, empty or the run fails. An entry
// that declares more than unpackedLimit, or unpacks to more, throws ConversionError with
// ErrorCauses::archiveTooLarge: whoever reads it holds it whole. The other entries' sizes do
// not matter (a document's photos, for its text).
std::optional<std::string> readEntry(const fs::path& package, const std::string& entry);

// The bytes of one entry handed to `sink` as they are unpacked, never held whole, so that no
// size bounds them: whoever reads them bounds what it builds. False when the entry is missing or
// the run fails; what the sink throws ends the run and passes on.
bool streamEntry(const fs::path& package, const std::string& entry, const std::function<void(std::string_view)>& sink);

// Unpacks every entry under `target`, replacing existing files without asking. Refused when the
// directory declares more than unpackedLimit in all, and each file is bounded by it as it is
// written. For packages the program made itself; a user's package is read entry by entry.
void unpack(const fs::path& package, const fs::path& target);

// One file of a zip, as its central directory declares it.
struct Entry {
    std::string name;
    uint16_t flags = 0;  // bit 0: encrypted
    uint64_t packed = 0;  // the bytes of its data in the zip
    uint64_t size = 0;  // unpacked, as declared
    uint64_t local = 0;  // where its local header lies
    // The name the Unicode Path extra field gives (as Windows archivers write for names their
    // code page lacks), when it was made for this name; empty otherwise.
    std::string unicodeName;
    uint32_t mode = 0;  // its Unix mode, type bits included, when it was packed on Unix; else 0
};

// The files a zip's central directory lists, in its order; nothing when the bytes are no zip.
std::optional<std::vector<Entry>> entries(const fs::path& archive);

// A name as a command-line argument that no tool can take for an option ("-v.txt" → "./-v.txt").
std::string literalName(const std::string& name);
}
