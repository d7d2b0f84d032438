#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The zip containers of archives, XLSX and DOCX packages, made and read by the system's zip and
// unzip. Every call blocks until the tool ends; a failed run throws ConversionError::ffmpeg with
// the tool's last error line. The zips written mark their non-ASCII UTF-8 names as UTF-8.
namespace ZipTools {
namespace fs = std::filesystem;

// The address space every archiver child may take. A few bytes of archive can ask for gigabytes
// (a dictionary size in a header, a stream that unpacks to itself); real archives stay far
// below: the largest common dictionaries are 64 MiB.
inline constexpr unsigned long long archiverMemory = 1ULL << 30;
// No part of a real document unpacks past this, nor all of its parts together; a few hundred
// kilobytes of zip can ask for gigabytes, which whoever reads the part would hold in memory.
inline constexpr unsigned long long unpackedLimit = 256ULL << 20;
// What a packer's failure says when the packer names no known cause.
inline constexpr const char* cannotPack = "Não foi possível criar o arquivo compactado.";

// Packs the named files and folders (folders with their content), as they lie in `folder`, into
// `destination`, leaving out .DS_Store files and anything under __MACOSX. An existing archive at
// `destination` gets the entries added. A missing or unreadable name fails the run.
void packNames(const fs::path& destination, const fs::path& folder, const std::vector<std::string>& names);

// Packs the content of `folder` under paths relative to it.
void packContents(const fs::path& destination, const fs::path& folder);

// The bytes of one entry; nothing when the entry is missing, empty or the run fails. A package
// whose entries declare more than unpackedLimit in all, or whose entry unpacks to more, throws
// ConversionError with ErrorCauses::archiveTooLarge.
std::optional<std::string> readEntry(const fs::path& package, const std::string& entry);

// Unpacks every entry under `target`, replacing existing files without asking. The same bounds
// as readEntry: on what the directory declares, and on each file as it is written.
void unpack(const fs::path& package, const fs::path& target);

// One file of a zip, as its central directory declares it.
struct Entry {
    std::string name;
    uint16_t flags = 0;  // bit 0: encrypted
    uint64_t packed = 0;  // the bytes of its data in the zip
    uint64_t size = 0;  // unpacked
    uint64_t local = 0;  // where its local header lies
};

// The files a zip's central directory lists, in its order; nothing when the bytes are no zip.
std::optional<std::vector<Entry>> entries(const fs::path& archive);

// A name as a command-line argument that no tool can take for an option ("-v.txt" → "./-v.txt").
std::string literalName(const std::string& name);
}
