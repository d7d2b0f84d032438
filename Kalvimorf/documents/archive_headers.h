#pragma once

#include <filesystem>
#include <optional>

// What an archive's own headers say, read before or after an unpacker has run. The unpacker's
// words are not enough: handed a wrong passphrase, it decrypts noise and complains about the
// noise, and it ends its lines with whatever error number the C library last held.
namespace ArchiveHeaders {
namespace fs = std::filesystem;

// What a RAR 4 or RAR 5 archive's headers say about its entries, read without unpacking.
struct RarFacts {
    bool encrypted = false;  // an entry's data, or the headers after the main one
    // A part of a set of volumes whose first entry began in an earlier part: alone it holds
    // nothing whole.
    bool continuesEarlier = false;
    // Some entry goes on in a later part.
    bool continuesLater = false;
    // The largest window an entry's decoder is told to keep, and the unpacked bytes the entries
    // declare in all (a solid archive's window spans them all).
    unsigned long long dictionary = 0;
    unsigned long long unpacked = 0;
};
// Nothing for any other kind of file.
std::optional<RarFacts> rarFacts(const fs::path& archive);

// True when a zip, RAR 4 or RAR 5 archive says that any of its entries, or its headers, are
// encrypted. Any other kind, or bytes that are none of these, give false.
bool encrypted(const fs::path& archive);

// Refuses a zip whose entries share compressed bytes: a few kilobytes whose thousands of
// directory entries all point into one stream unpack, entry after entry, to terabytes. Real zips
// lay their entries one after the other. Throws ConversionError with
// ErrorCauses::archiveTooLarge; anything that is no zip passes.
void requireSeparateEntries(const fs::path& archive);
}
