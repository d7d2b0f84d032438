#pragma once

#include "core/base/file_safety.h"

#include <qpdf/Pipeline.hh>

#include <exception>
#include <string>

// qpdf's output, gathered into large writes to a file that has no name until it is complete.
// qpdf also finishes its pipelines from destructors, where an exception ends the program (a full
// disk did): a failed write is kept, later bytes are dropped, and rethrow() hands it on once the
// writer has returned.
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
    // Throws the first failed write's error, if any.
    void rethrow() const
    {
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    FileSafety::NewFile& file_;
    std::string buffer_;
    std::exception_ptr failure_;
};
