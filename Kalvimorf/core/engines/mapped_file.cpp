#include "core/engines/mapped_file.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

MappedFile::MappedFile(const std::filesystem::path& file)
{
    FileSafety::Fd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    if (!in || ::fstat(in.get(), &status) != 0 || status.st_size <= 0)
        throw ConversionError::unreadable();
    length_ = size_t(status.st_size);
    at_ = ::mmap(nullptr, length_, PROT_READ, MAP_PRIVATE, in.get(), 0);
    if (at_ == MAP_FAILED)
        throw ConversionError::unreadable();
    ::madvise(at_, length_, MADV_SEQUENTIAL);
}

MappedFile::~MappedFile() { ::munmap(at_, length_); }
