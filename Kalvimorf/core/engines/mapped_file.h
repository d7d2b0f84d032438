#pragma once

#include <filesystem>
#include <string_view>

// A file's bytes mapped read-only rather than read: a decoder goes through them once, and their
// pages leave as it does.
class MappedFile {
public:
    // Throws ConversionError::unreadable when the file cannot be opened, is empty or cannot be
    // mapped.
    explicit MappedFile(const std::filesystem::path& file);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const { return {static_cast<const char*>(at_), length_}; }

private:
    void* at_ = nullptr;
    size_t length_ = 0;
};
