// libvips first: GLib names a member "signals", which Qt's keyword macro would break.
#include <vips/vips8>

#include "core/engines/pdf_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <malloc.h>

namespace PDFEngine {

namespace {

// A bigger page would need gigabytes for one bitmap; such a page counts as one that cannot be
// drawn rather than taking the machine's memory down with it.
constexpr double maxPagePixels = double(1 << 28);

// Poppler lays a page's text out in the page's own drawing space (the crop box from its corner,
// the page's rotation applied), so a rectangle in the document's coordinates misses the text of
// turned or shifted pages; one far larger than any page takes everything it laid out.
const QRectF everywhere(-1e9, -1e9, 2e9, 2e9);

using ImageEngine::ImageType;

bool vipsReady() { return ImageLibrary::start(); }

QString qtPath(const fs::path& path) { return QFile::decodeName(QByteArray(path.c_str())); }

void quietPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, {});
    });
}

std::unique_ptr<Poppler::Document> openDocument(const fs::path& source)
{
    quietPoppler();
    auto document = Poppler::Document::load(qtPath(source));
    if (!document || document->isLocked())
        throw ConversionError::unreadable();
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    return document;
}

// Packs the opaque 0xffRRGGBB pixels of `image` tightly at the start of its own buffer, so the
// encoder gets them without a second page-sized allocation. While red, green and blue agree
// everywhere (black text on white, most scans) that is one grey byte per pixel: the same picture
// in a third of the bytes to compress. RGB otherwise. Returns the number of bands.
int packPixels(QImage& image, bool greyAllowed)
{
    const int width = image.width();
    uchar* out = image.bits();
    int bands = greyAllowed ? 1 : 3;
    size_t i = 0;  // pixels packed so far; the source pixel i lies at 4 i, at or after 3 i
    for (int y = 0; y < image.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x, ++i) {
            const QRgb pixel = src[x];
            if (bands == 1) {
                if (qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel)) {
                    out[i] = uchar(qRed(pixel));
                    continue;
                }
                // The first colour: the grey bytes so far become RGB, from the last one back, so
                // that none is overwritten before it is read.
                for (size_t j = i; j-- > 0;)
                    out[3 * j] = out[3 * j + 1] = out[3 * j + 2] = out[j];
                bands = 3;
            }
            uchar* dst = out + 3 * i;
            dst[0] = uchar(qRed(pixel));
            dst[1] = uchar(qGreen(pixel));
            dst[2] = uchar(qBlue(pixel));
        }
    }
    return bands;
}

std::string encodeWithQt(QImage& image, const char* format)
{
    constexpr double inchesPerMetre = 1 / 0.0254;
    image.setDotsPerMeterX(int(std::lround(renderDPI * inchesPerMetre)));
    image.setDotsPerMeterY(int(std::lround(renderDPI * inchesPerMetre)));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(int(std::lround(pageImageQuality * 100)));
    if (!writer.write(image))
        throw ConversionError::writeFailed();
    return bytes.toStdString();
}

// The page image as file bytes with the fixed page properties: 300 dpi both ways, quality 0.9.
std::string encode(QImage& image, ImageType type)
{
    // Qt writes the resolution into the JPEG's JFIF header, where readers look for it; it is
    // also the quicker JPEG encoder here.
    if (type == ImageType::jpeg)
        return encodeWithQt(image, "jpeg");
    if (type == ImageType::bmp)
        return encodeWithQt(image, "bmp");
    if (image.format() != QImage::Format_RGB32)
        image.convertTo(QImage::Format_RGB32);
    if (image.isNull() || !vipsReady())
        throw ConversionError::writeFailed();
    const int width = image.width();
    const int height = image.height();
    // Only PNG is sure to keep a grey image as it is; the other encoders may turn it to colour.
    const int bands = packPixels(image, type == ImageType::png);
    const size_t size = size_t(width) * size_t(height) * size_t(bands);
    try {
        auto view = vips::VImage::new_from_memory(image.bits(), size, width, height, bands, VIPS_FORMAT_UCHAR);
        VipsImage* header = view.get_image();
        header->Type = bands == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
        header->Xres = header->Yres = renderDPI / 25.4;  // pixels per millimetre
        const int quality = int(std::lround(pageImageQuality * 100));
        void* data = nullptr;
        size_t length = 0;
        switch (type) {
        case ImageType::png:
            // Pages are mostly flat colour: light deflate without row filters is several times
            // faster than the defaults for a file about a fifth larger.
            view.write_to_buffer(".png", &data, &length,
                vips::VImage::option()->set("compression", 3)->set("filter", VIPS_FOREIGN_PNG_FILTER_NONE));
            break;
        case ImageType::heic:
            view.write_to_buffer(".heic", &data, &length, vips::VImage::option()->set("Q", quality));
            break;
        case ImageType::avif:
            view.write_to_buffer(".avif", &data, &length, vips::VImage::option()->set("Q", quality));
            break;
        case ImageType::tiff: view.write_to_buffer(".tif", &data, &length); break;
        case ImageType::gif: view.write_to_buffer(".gif", &data, &length); break;
        case ImageType::jpeg:
        case ImageType::bmp: break;
        }
        std::string bytes(static_cast<const char*>(data), length);
        g_free(data);
        return bytes;
    } catch (const vips::VError&) {
        throw ConversionError::writeFailed();
    }
}

// Any failure to make or write the image file is the same failure to the user.
fs::path writePageImage(QImage& image, ImageType type, const FileSafety::NameFor& names)
{
    std::string bytes = encode(image, type);
    image = QImage();  // the pixels are not needed while the file is written
    try {
        return FileSafety::writeNew(names, bytes);
    } catch (const std::system_error& error) {
        throw ErrorCauses::writeFailure(error);
    }
}

// "base - página 007.png": the page number from 1, at least three digits.
std::string pageFileName(const std::string& base, int number, const std::string& ext)
{
    auto digits = std::to_string(number);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    return base + " - página " + digits + "." + ext;
}

// "base (PNG)", then "base (PNG) 2", … in the output folder, created here.
fs::path makePageFolder(const fs::path& source, const std::string& base, const std::string& label)
{
    return OutputPaths::makeCommonFolder(source, label + ")", base + " (");
}

fs::path exportSinglePage(const Poppler::Document& document, const fs::path& source, const std::string& ext,
    ImageType type, const Progress& progress)
{
    Task::checkCancelled();
    auto page = document.page(0);
    auto image = page ? render(*page, renderDPI) : std::nullopt;
    // Nothing to write must not look like success: the job's result would otherwise be the
    // source itself, which a cancelled job deletes. A page that cannot be drawn (past the pixel
    // bound, or damaged) is the source's fault.
    if (!image)
        throw ConversionError::unreadable();
    const auto written = writePageImage(*image, type, OutputPaths::names(source, ext));
    if (progress)
        progress(1.0);
    return written;
}

// A page bitmap (35 MB for A4 at 300 dpi) is above the size from which glibc maps fresh memory
// for every allocation and unmaps it on release, so each page would fault in and zero its pixels
// anew. While pages are exported, released bitmaps stay with the allocator for the next page;
// once no export runs, the allocator's usual ceilings come back and the memory is returned.
class ReusedPageMemory {
public:
    ReusedPageMemory()
    {
        std::lock_guard lock(mutex_);
        if (users_++ == 0) {
            mallopt(M_MMAP_THRESHOLD, 256 << 20);
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
        }
    }
    ~ReusedPageMemory()
    {
        std::lock_guard lock(mutex_);
        if (--users_ == 0) {
            mallopt(M_MMAP_THRESHOLD, 32 << 20);
            mallopt(M_TRIM_THRESHOLD, 64 << 20);
            malloc_trim(0);
        }
    }
    ReusedPageMemory(const ReusedPageMemory&) = delete;
    ReusedPageMemory& operator=(const ReusedPageMemory&) = delete;

private:
    static inline std::mutex mutex_;
    static inline int users_ = 0;
};

// Pages are drawn and written by several workers at once, each with a document of its own, as
// poppler's documents must not be shared between threads. The calling thread reports progress
// in page order and answers cancellation, so the caller sees what a page-by-page export shows.
class PageExport {
public:
    PageExport(std::unique_ptr<Poppler::Document> document, const fs::path& source, const fs::path& folder,
        const OutputFormat& format, ImageType type)
        : first_(std::move(document)), source_(source), folder_(folder), base_(source.stem().string()),
          ext_(format.ext), type_(type), count_(first_->numPages()), outcome_(size_t(count_), Outcome::pending)
    {
    }

    ~PageExport() { stop(); }

    // The number of pages written. Rethrows the first failure of any worker.
    int run(const Progress& progress)
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const int workers = std::min(count_, int(cores));
        const auto context = Task::current();
        for (int i = 0; i < workers; ++i)
            threads_.emplace_back([this, context, i] {
                Task::Binder binder(context);
                work(i == 0 ? std::move(first_) : nullptr);
            });
        int written = 0;
        for (int i = 0; i < count_; ++i) {
            Task::checkCancelled();
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return failure_ || outcome_[size_t(i)] != Outcome::pending;
            });
            if (failure_)
                std::rethrow_exception(failure_);
            if (outcome_[size_t(i)] == Outcome::skipped)
                continue;
            lock.unlock();
            ++written;
            if (progress)
                progress(double(i + 1) / count_);
        }
        return written;
    }

    // Waits for the workers to finish the pages they hold; nothing is written after this.
    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (auto& thread : threads_)
            if (thread.joinable())
                thread.join();
    }

private:
    enum class Outcome : char { pending, written, skipped };

    // At most this many pixels are drawn at once, so that a document of huge pages is drawn
    // a few pages at a time rather than running the machine out of memory; a page larger than
    // this is still drawn, alone.
    static constexpr double pixelBudget = double(1 << 28);

    void work(std::unique_ptr<Poppler::Document> document)
    {
        try {
            if (!document)
                document = openDocument(source_);
            for (int i = next_++; i < count_; i = next_++) {
                Task::checkCancelled();
                auto page = document->page(i);
                const double pixels = page ? pagePixels(*page) : 0;
                if (!reserve(pixels))
                    return;
                bool written = false;
                try {
                    auto image = page ? render(*page, renderDPI) : std::nullopt;
                    page.reset();
                    if (image) {
                        writePageImage(*image, type_, folder_ / pageFileName(base_, i + 1, ext_));
                        written = true;
                    }
                } catch (...) {
                    release(pixels);
                    throw;
                }
                release(pixels);
                std::lock_guard lock(mutex_);
                outcome_[size_t(i)] = written ? Outcome::written : Outcome::skipped;
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::current_exception();
            stopping_ = true;
            changed_.notify_all();
        }
    }

    static double pagePixels(const Poppler::Page& page)
    {
        const QSizeF box = page.pageSizeF() * (renderDPI / 72);
        return std::clamp(box.width() * box.height(), 0.0, pixelBudget);
    }

    // False when the export is stopping instead.
    bool reserve(double pixels)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return stopping_ || inFlight_ + pixels <= pixelBudget;
        });
        if (stopping_)
            return false;
        inFlight_ += pixels;
        return true;
    }

    void release(double pixels)
    {
        {
            std::lock_guard lock(mutex_);
            inFlight_ -= pixels;
        }
        changed_.notify_all();
    }

    std::unique_ptr<Poppler::Document> first_;
    const fs::path source_, folder_;
    const std::string base_, ext_;
    const ImageType type_;
    const int count_;
    std::atomic<int> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Outcome> outcome_;
    double inFlight_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

fs::path exportPages(std::unique_ptr<Poppler::Document> document, const fs::path& source, const OutputFormat& format,
    ImageType type, const Progress& progress)
{
    const auto folder = makePageFolder(source, source.stem().string(), format.label);
    try {
        ReusedPageMemory memory;
        PageExport pages(std::move(document), source, folder, format, type);
        // An empty folder is no output; reporting it as one would look like success. No page
        // could be drawn: the source is what failed.
        if (pages.run(progress) == 0)
            throw ConversionError::unreadable();
    } catch (...) {
        FileSafety::removeTree(folder);
        throw;
    }
    return folder;
}


}

std::optional<QImage> render(const Poppler::Page& page, double dpi)
{
    // The crop box in points, its sides already swapped for a quarter-turned page.
    const QSizeF box = page.pageSizeF();
    const double scale = dpi / 72;
    const double width = scale * box.width();
    const double height = scale * box.height();
    if (!(width >= 1 && height >= 1) || width * height > maxPagePixels)
        return {};
    const int pixelWidth = int(width);
    const int pixelHeight = int(height);
    // Poppler paints the crop box, page rotation applied, on its white paper; asking for exactly
    // this slice keeps the truncated size where a full render would round.
    QImage image = page.renderToImage(dpi, dpi, 0, 0, pixelWidth, pixelHeight);
    if (image.isNull() || image.width() != pixelWidth || image.height() != pixelHeight)
        return {};
    return image;
}

std::vector<std::string> pageTexts(const fs::path& source)
{
    const auto document = openDocument(source);
    std::vector<std::string> texts;
    for (int i = 0; i < document->numPages(); ++i) {
        Task::checkCancelled();
        auto page = document->page(i);
        texts.push_back(page ? page->text(everywhere).toStdString() : std::string());
    }
    return texts;
}

fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    if (format.ext == "txt") {
        // Pages follow each other after a line feed; a document without any text (a scan) gives
        // an empty file, not a line feed per page.
        const auto pages = pageTexts(source);
        std::string text;
        for (size_t i = 0; i < pages.size(); ++i)
            text += (i > 0 ? "\n" : "") + pages[i];
        if (text.find_first_not_of('\n') == std::string::npos)
            text.clear();
        return FileSafety::writeNew(OutputPaths::names(source, "txt"), text);
    }
    auto document = openDocument(source);
    const auto type = ImageEngine::utType(format.ext);
    if (!type)
        throw ConversionError::unsupported();
    const int count = document->numPages();
    if (count < 1)
        throw ConversionError::unreadable();
    if (count == 1)
        return exportSinglePage(*document, source, format.ext, *type, progress);
    return exportPages(std::move(document), source, format, *type, progress);
}


}
