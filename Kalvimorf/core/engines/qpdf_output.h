#pragma once

#include "core/base/file_safety.h"

#include <qpdf/Pipeline.hh>

#include <string>

// qpdf's output, gathered into large writes to a file that has no name until it is complete.
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
        file_.write(buffer_);
        buffer_.clear();
    }

private:
    FileSafety::NewFile& file_;
    std::string buffer_;
};
