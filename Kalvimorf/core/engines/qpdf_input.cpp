#include "core/engines/qpdf_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr qpdf_offset_t blockSize = 64 * 1024;

size_t readAt(int fd, char* buffer, size_t length, qpdf_offset_t offset)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, buffer + done, length - done, offset + qpdf_offset_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw std::system_error(errno, std::generic_category(), "pread");
        if (got == 0)
            break;
        done += size_t(got);
    }
    return done;
}

}

FileBlocks::FileBlocks(const std::filesystem::path& path) : name_(path.string()), block_(size_t(blockSize))
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), name_);
}

FileBlocks::~FileBlocks() { ::close(fd_); }

bool FileBlocks::load()
{
    if (position_ >= blockStart_ && position_ < blockStart_ + qpdf_offset_t(blockLength_))
        return true;
    blockStart_ = position_ - position_ % blockSize;
    blockLength_ = readAt(fd_, block_.data(), block_.size(), blockStart_);
    return position_ < blockStart_ + qpdf_offset_t(blockLength_);
}

size_t FileBlocks::read(char* buffer, size_t length)
{
    last_offset = position_;
    size_t done = 0;
    while (done < length) {
        // A long read (a stream's data) goes straight to its buffer, past the block.
        if (length - done >= size_t(blockSize)
            && !(position_ >= blockStart_ && position_ < blockStart_ + qpdf_offset_t(blockLength_))) {
            const size_t got = readAt(fd_, buffer + done, length - done, position_);
            done += got;
            position_ += qpdf_offset_t(got);
            break;
        }
        if (!load())
            break;
        const size_t offset = size_t(position_ - blockStart_);
        const size_t count = std::min(length - done, blockLength_ - offset);
        std::memcpy(buffer + done, block_.data() + offset, count);
        done += count;
        position_ += qpdf_offset_t(count);
    }
    // As qpdf's own source: a read from past the end leaves the position at the end.
    if (done == 0 && !load()) {
        seek(0, SEEK_END);
        position_ = last_offset = std::min(last_offset, position_);
    }
    return done;
}

void FileBlocks::seek(qpdf_offset_t offset, int whence)
{
    qpdf_offset_t base = 0;
    if (whence == SEEK_CUR) {
        base = position_;
    } else if (whence == SEEK_END) {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            throw std::system_error(errno, std::generic_category(), name_);
        base = status.st_size;
    }
    if (base + offset < 0)
        throw std::runtime_error(name_ + ": seek before the start");
    position_ = base + offset;
}

void FileBlocks::unreadCh(char)
{
    if (position_ > 0)
        --position_;
}

qpdf_offset_t FileBlocks::findAndSkipNextEOL()
{
    // The offset of the next end of line, leaving the position past every \r and \n that follow;
    // with none before the end of the file, the file's end, as qpdf's own source does (even from a
    // position past it).
    for (;;) {
        if (!load()) {
            seek(0, SEEK_END);
            return position_;
        }
        const char* from = block_.data() + (position_ - blockStart_);
        const char* end = block_.data() + blockLength_;
        const char* found = std::find_if(from, end, [](char c) { return c == '\r' || c == '\n'; });
        position_ += found - from;
        if (found != end)
            break;
    }
    const qpdf_offset_t result = position_;
    while (load()) {
        const char c = block_[size_t(position_ - blockStart_)];
        if (c != '\r' && c != '\n')
            break;
        ++position_;
    }
    return result;
}
