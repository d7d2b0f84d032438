#pragma once

#include <filesystem>

// Office documents locked with a password. Word and spreadsheets keep an encrypted package in
// an OLE compound file beside its "EncryptionInfo" stream; OpenDocument keeps its package but
// encrypts its parts, as its manifest records. Nothing of either is readable without the
// password, and the user is told so rather than that the file could not be read.
namespace OfficeProtection {

// A compound file (the old binary container) that holds an "EncryptionInfo" stream.
bool isEncryptedPackage(const std::filesystem::path& path);
// An OpenDocument package whose manifest lists encrypted parts.
bool isProtectedOpenDocument(const std::filesystem::path& path);
// Throws ConversionError with ErrorCauses::password when the file is either.
void requireUnlocked(const std::filesystem::path& path);

}
