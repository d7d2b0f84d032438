// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

// libvips first: GLib names a member "signals", which Qt's keyword macro would break.
#include <vips/vips8>

#include "core/engines/pdf_compress.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"
#include "core/engines/image_library.h"
#include "core/engines/pdf_tools.h"
#include "core/engines/tool_params.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFJob.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <qpdf/Pipeline.hh>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace PDFCompress {

namespace fs = std::filesystem;

namespace {

// Sample data of an image that can be resampled here: 8 bits per sample, grey or RGB, no mask
// of its own to keep in step.
std::optional<int> resampledBands(QPDFObjectHandle dict)
{
    if (!dict.getKey("/BitsPerComponent").isInteger() || dict.getKey("/BitsPerComponent").getIntValue() != 8
        || dict.hasKey("/SMask") || dict.hasKey("/Mask") || dict.hasKey("/Decode") || dict.hasKey("/ImageMask"))
        return std::nullopt;
    auto space = dict.getKey("/ColorSpace");
    if (space.isNameAndEquals("/DeviceRGB"))
        return 3;
    if (space.isNameAndEquals("/DeviceGray"))
        return 1;
    return std::nullopt;
}

// The decoded samples of an image, as qpdf gives them row after row, averaged over blocks of
// `step` × `step` pixels as they come: a 30000 × 30000 picture is never held whole (900 MB
// grey), only a row of sums and the reduced copy.
class BlockAverage final : public Pipeline {
public:
    BlockAverage(int width, int height, int bands, int step)
        : Pipeline("block average", nullptr), width_(size_t(width)), height_(size_t(height)), bands_(size_t(bands)),
          step_(size_t(step)), outWidth_((width_ + step_ - 1) / step_), outHeight_((height_ + step_ - 1) / step_),
          row_(width_ * bands_), sums_(outWidth_ * bands_), counts_(outWidth_)
    {
        out_.reserve(outWidth_ * outHeight_ * bands_);
    }
    using Pipeline::write;
    void write(unsigned char const* data, size_t length) override
    {
        while (length > 0 && rows_ < height_) {
            const size_t take = std::min(length, row_.size() - filled_);
            std::copy(data, data + take, row_.begin() + std::ptrdiff_t(filled_));
            filled_ += take;
            data += take;
            length -= take;
            if (filled_ == row_.size())
                addRow();
        }
        extra_ += length;
    }
    void finish() override { }

    // The reduced samples, or none when the data was not exactly width × height × bands.
    std::optional<std::string> take()
    {
        if (rows_ != height_ || filled_ != 0 || extra_ != 0)
            return std::nullopt;
        return std::move(out_);
    }
    int width() const { return int(outWidth_); }
    int height() const { return int(outHeight_); }

private:
    void addRow()
    {
        filled_ = 0;
        for (size_t block = 0, x = 0; block < outWidth_; ++block) {
            const size_t end = std::min(width_, x + step_);
            counts_[block] += end - x;
            for (; x < end; ++x)
                for (size_t b = 0; b < bands_; ++b)
                    sums_[block * bands_ + b] += row_[x * bands_ + b];
        }
        ++rows_;
        if (rows_ % step_ == 0 || rows_ == height_) {
            for (size_t i = 0; i < sums_.size(); ++i)
                out_.push_back(char((sums_[i] + counts_[i / bands_] / 2) / counts_[i / bands_]));
            std::fill(sums_.begin(), sums_.end(), 0);
            std::fill(counts_.begin(), counts_.end(), 0);
        }
    }

    const size_t width_, height_, bands_, step_, outWidth_, outHeight_;
    std::vector<unsigned char> row_;
    std::vector<uint64_t> sums_, counts_;
    std::string out_;
    size_t filled_ = 0, rows_ = 0, extra_ = 0;
};

// Pages' images that are larger than the page at pixelsPerInch become JPEGs of that size. Returns
// whether any image changed.
bool downsampleImages(QPDF& pdf)
{
    // The smallest factor each image needs over all pages that draw it.
    std::map<QPDFObjGen, std::pair<QPDFObjectHandle, double>> wanted;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        const auto box = page.getMediaBox().getArrayAsRectangle();
        const double pageWidth = std::abs(box.urx - box.llx) / 72 * pixelsPerInch;
        const double pageHeight = std::abs(box.ury - box.lly) / 72 * pixelsPerInch;
        for (auto& [name, image] : page.getImages()) {
            auto dict = image.getDict();
            if (!dict.getKey("/Width").isInteger() || !dict.getKey("/Height").isInteger() || !resampledBands(dict))
                continue;
            const double width = double(dict.getKey("/Width").getIntValue());
            const double height = double(dict.getKey("/Height").getIntValue());
            // The page may be turned; the image fits either way round.
            const double factor = std::min(std::max(pageWidth, pageHeight) / std::max(width, height),
                std::min(pageWidth, pageHeight) / std::min(width, height));
            if (factor >= 1)
                continue;
            auto [entry, added] = wanted.try_emplace(image.getObjGen(), image, factor);
            if (!added)
                entry->second.second = std::min(entry->second.second, factor);
        }
    }
    // The image library starts only for a document that has images to make smaller.
    if (wanted.empty() || !ImageLibrary::start())
        return false;
    bool changed = false;
    for (auto& [id, entry] : wanted) {
        Task::checkCancelled();
        auto& [image, factor] = entry;
        auto dict = image.getDict();
        const int width = int(dict.getKey("/Width").getIntValue());
        const int height = int(dict.getKey("/Height").getIntValue());
        const int bands = *resampledBands(dict);
        // Blocks small enough to leave the resampler at least a halving, where its kernel works
        // as it should.
        const int step = std::max(1, int(std::floor(0.5 / factor)));
        BlockAverage reduced(width, height, bands, step);
        try {
            bool decoded = false;
            // A filter qpdf cannot undo, or data that does not decode: left as it is.
            if (!image.pipeStreamData(&reduced, &decoded, 0, qpdf_dl_all, true) || !decoded)
                continue;
        } catch (const std::exception&) {
            continue;
        }
        auto samples = reduced.take();
        if (!samples)
            continue;
        try {
            auto picture = vips::VImage::new_from_memory(
                samples->data(), samples->size(), reduced.width(), reduced.height(), bands, VIPS_FORMAT_UCHAR);
            const int newWidth = std::max(1, int(width * factor + 0.5)),
                      newHeight = std::max(1, int(height * factor + 0.5));
            auto smaller = picture.resize(double(newWidth) / reduced.width(),
                vips::VImage::option()
                    ->set("vscale", double(newHeight) / reduced.height())
                    ->set("kernel", VIPS_KERNEL_LANCZOS3));
            void* jpeg = nullptr;
            size_t jpegSize = 0;
            smaller.write_to_buffer(".jpg", &jpeg, &jpegSize, vips::VImage::option()->set("Q", 85)->set("strip", true));
            std::string bytes(static_cast<const char*>(jpeg), jpegSize);
            g_free(jpeg);
            image.replaceStreamData(bytes, QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());
            dict.replaceKey("/Width", QPDFObjectHandle::newInteger(newWidth));
            dict.replaceKey("/Height", QPDFObjectHandle::newInteger(newHeight));
            changed = true;
        } catch (const vips::VError&) {
            vips_error_clear();
        }
    }
    return changed;
}

}

fs::path run(const fs::path& source)
{
    bool mended = false;
    auto pdf = PDFTools::open(source, &mended);
    const auto preferred = Tools::preferredOutput(source, Tool::pdfCompress, "pdf");
    FileSafety::NewFile file(preferred.parent_path());
    // qpdf cannot downsample: large images are made smaller first, into a scratch copy; a page
    // tree mended as it was read goes the same way, as qpdf's job would refuse the source's.
    std::optional<FileSafety::TempDir> scratch;
    fs::path input = source;
    if (downsampleImages(*pdf) || mended) {
        scratch.emplace();
        input = scratch->path() / "reduzido.pdf";
        FileSafety::NewFile staged(scratch->path());
        PDFTools::write(*pdf, staged);
        staged.publish(input);
    }
    pdf.reset();
    Task::checkCancelled();
    try {
        QPDFJob job;
        job.setMessagePrefix("brivlon");
        // The job's own messages would land on the command line's standard error.
        auto logger = QPDFLogger::create();
        logger->setInfo(logger->discard());
        logger->setWarn(logger->discard());
        logger->setError(logger->discard());
        job.setLogger(logger);
        job.config()
            ->inputFile(input.string())
            ->outputFile(file.writerPath().string())
            ->decrypt()
            ->optimizeImages()
            ->recompressFlate()
            ->objectStreams("generate")
            ->noWarn()
            ->checkConfiguration();
        job.run();
        if (job.getExitCode() == QPDFJob::EXIT_ERROR)
            throw ConversionError::writeFailed();
    } catch (const ConversionError&) {
        throw;
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
    return file.publish(preferred);
}

}
