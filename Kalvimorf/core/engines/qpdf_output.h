#pragma once

#include "core/base/file_safety.h"

#include <qpdf/Pipeline.hh>

#include <exception>
#include <malloc.h>
#include <string>

// qpdf frees and takes back blocks of tens of kilobytes at the top of the heap for every page it
// reads or writes; with glibc's default padding each one moved the break, several thousand system
// calls and fresh zeroed pages for a 500-page document, a third of the run. The padding is spare
// address space, resident only once used. Process-wide, so set once, before qpdf's first document.
inline void padHeapForQpdf() { [[maybe_unused]] static const bool padded = ::mallopt(M_TOP_PAD, 4 << 20) == 1; }

// qpdf's output, gathered into large writes to a file that has no name until it is complete.
// qpdf finishes its pipelines from destructors, where a failed write must not throw (that would
// end the process): the first failure is kept, later output dropped, and check() rethrows it once
// the writer is done.
class NewFilePipeline final : public Pipeline {
public:
    explicit NewFilePipeline(FileSafety::NewFile& file) : Pipeline("new file", nullptr), file_(file) { }
    using Pipeline::write;
    void write(unsigned char const* data, size_t length) override
    {
        buffer_.append(reinterpret_cast<const char*>(data), length);
        if (buffer_.size() >= (size_t(1) << 20))
            finish();
    }
    void finish() override
    {
        if (!failure_) {
            try {
                file_.write(buffer_);
            } catch (...) {
                failure_ = std::current_exception();
            }
        }
        buffer_.clear();
    }
    // Call after the writer returned: throws the write's failure, if there was one.
    void check() const
    {
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    FileSafety::NewFile& file_;
    std::string buffer_;
    std::exception_ptr failure_;
};
