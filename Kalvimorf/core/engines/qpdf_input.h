#pragma once

// qpdf's headers warn unless told that no deprecated pointer holders are used.
#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <qpdf/InputSource.hh>

#include <filesystem>
#include <string>
#include <vector>

// A PDF read for qpdf in blocks, by position. qpdf's own file source goes through the C library's
// stream, which moves the descriptor for every 128 bytes its tokenizer takes and every offset it
// asks: thousands of system calls for a hundred pages, a tenth of a short job. Here a read within
// the block held is a copy, and any other one is a single pread.
class FileBlocks final : public InputSource {
public:
    // Throws std::system_error when the file does not open.
    explicit FileBlocks(const std::filesystem::path& path);
    ~FileBlocks() override;
    FileBlocks(const FileBlocks&) = delete;
    FileBlocks& operator=(const FileBlocks&) = delete;

    qpdf_offset_t findAndSkipNextEOL() override;
    const std::string& getName() const override { return name_; }
    qpdf_offset_t tell() override { return position_; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { position_ = 0; }
    size_t read(char* buffer, size_t length) override;
    void unreadCh(char) override;

private:
    // The block that holds the current position, if the file reaches it; false past its end.
    bool load();

    int fd_ = -1;
    std::string name_;
    qpdf_offset_t position_ = 0;
    std::vector<char> block_;
    qpdf_offset_t blockStart_ = 0;
    size_t blockLength_ = 0;
};
