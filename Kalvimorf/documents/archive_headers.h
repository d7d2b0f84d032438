#pragma once

#include <filesystem>

// What an archive's own headers say, read before or after an unpacker has run. The unpacker's
// words are not enough: handed a wrong passphrase, it decrypts noise and complains about the
// noise, and it ends its lines with whatever error number the C library last held.
namespace ArchiveHeaders {
namespace fs = std::filesystem;

// True when a zip, RAR 4 or RAR 5 archive says that any of its entries, or its headers, are
// encrypted. Any other kind, or bytes that are none of these, give false.
bool encrypted(const fs::path& archive);

// Refuses a zip whose entries share compressed bytes: a few kilobytes whose thousands of
// directory entries all point into one stream unpack, entry after entry, to terabytes. Real zips
// lay their entries one after the other. Throws ConversionError with
// ErrorCauses::archiveTooLarge; anything that is no zip passes.
void requireSeparateEntries(const fs::path& archive);
}
