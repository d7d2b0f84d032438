// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

// libvips first: GLib names a member "signals", which Qt's keyword macro would break.
#include <vips/vips8>

#include "core/engines/pdf_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/job_budget.h"
#include "core/base/output_formats.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_flate.h"
#include "core/engines/image_library.h"
#include "core/engines/pdf_pieces.h"
#include "core/engines/pdf_text.h"
#include "core/engines/pdf_tools.h"
#include "core/engines/poppler_core.h"

#include <qpdf/QPDF.hh>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <sys/mman.h>

namespace PDFEngine {

namespace {

// A bigger page would need more than 600 MB for its bitmap in colour, gigabytes for a poster or
// a plan: such a page is drawn at the highest whole resolution that keeps it within this many
// pixels, and says so in its name.
constexpr double maxPagePixels = 200'000'000;

// A page is drawn in bands of about this many bytes (the rasteriser's four a pixel: colour and
// coverage), each packed into the page's own copy as soon as it is drawn, so that a page never
// holds its full bitmap beside its packed pixels. Each band passes over the whole page's content,
// so much thinner bands cost time.
constexpr size_t bandBytesPerPixel = 4;
constexpr size_t bandBytes = size_t(6) << 20;
constexpr size_t pictureBandBytes = size_t(32) << 20;
constexpr size_t scaledPictureBytesPerPixel = 4;

bool vipsReady() { return ImageLibrary::start(); }

// A page's pixels in memory mapped for them alone, returned to the system as soon as the page is
// written. From the C library's heap, every drawing thread's heap kept room for the largest pages
// it had held, and a long export grew by tens of MiB over its first hundred pages.
class PixelMemory {
public:
    PixelMemory() = default;
    explicit PixelMemory(size_t size) { map(size); }
    PixelMemory(PixelMemory&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0))
    {
    }
    PixelMemory& operator=(PixelMemory&& other) noexcept
    {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~PixelMemory() { reset(); }

    unsigned char* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

    // Keeps the bytes held so far; false, holding them still, when the system has no more.
    bool grow(size_t size)
    {
        void* moved = ::mremap(data_, size_, size, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            return false;
        data_ = static_cast<unsigned char*>(moved);
        size_ = size;
        return true;
    }

    void reset()
    {
        if (data_)
            ::munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }

private:
    // Made resident in one call: a fault for every 4 KiB of a page cost a tenth more system time.
    void map(size_t size)
    {
        void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (mapped != MAP_FAILED) {
            data_ = static_cast<unsigned char*>(mapped);
            size_ = size;
        }
    }

    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

// A drawn page, its pixels packed tightly: one grey byte per pixel while red, green and blue
// agree everywhere (black text on white, most scans), the same picture in a third of the bytes to
// keep and to compress; RGB otherwise.
struct PackedPage {
    PixelMemory bytes;
    int width = 0;
    int height = 0;
    int bands = 0;
    int dpi = int(renderDPI);

    size_t size() const { return size_t(width) * size_t(height) * size_t(bands); }
};

// A page's size in pixels at the resolution it is drawn at.
struct PagePixels {
    int width = 0, height = 0, dpi = 0;
};

// Draws the pages of one document at the export resolution, band by band, into their packed
// copies. It belongs to one thread, as does its document.
class PageDrawer {
public:
    explicit PageDrawer(PopplerCore::Document& document) : document_(document) {}

    // The page's size in pixels, its crop box truncated (never rounded), at the export
    // resolution or the one it keeps within the bound at; none when a side comes to less than
    // one pixel at the export resolution, or the page is damaged.
    std::optional<PagePixels> size(int number)
    {
        auto box = document_.size(number, renderDPI);
        if (!box || !(box->first >= 1 && box->second >= 1))
            return std::nullopt;
        int dpi = int(renderDPI);
        if (box->first * box->second > maxPagePixels) {
            // Truncating each side makes the bitmap no larger than the page at this resolution.
            dpi = int(renderDPI * std::sqrt(maxPagePixels / (box->first * box->second)));
            for (; dpi >= 1; --dpi)
                if (box = document_.size(number, dpi); box && box->first * box->second <= maxPagePixels)
                    break;
            if (dpi < 1 || !box || !(box->first >= 1 && box->second >= 1))
                return std::nullopt;
        }
        return PagePixels{int(box->first), int(box->second), dpi};
    }

    // The bytes page `number`, of `width` × `height`, holds while drawn: a band, its packed copy,
    // counted as grey when `greyAllowed` (the copy asks `widen` before it grows to RGB), and for
    // a page of pictures the copy of each that poppler scales to its drawn size, whole, whatever
    // the band (a scan's picture is the page's size, four bytes a pixel).
    size_t bytesWhileDrawn(int number, int width, int height, bool greyAllowed)
    {
        const size_t pixels = size_t(width) * size_t(height);
        return size_t(bandRows(number, width, height)) * size_t(width) * bandBytesPerPixel
            + pixels * (greyAllowed ? 1 : 3) + (pictures(number) ? pixels * scaledPictureBytesPerPixel : 0);
    }

    // Page `number` (from 1), packed; grey only when `greyAllowed`. `widen(extra)` is asked before
    // a grey copy grows to RGB by `extra` bytes; when it says no, the drawing stops. None when the
    // page cannot be drawn or was stopped.
    std::optional<PackedPage> draw(int number, bool greyAllowed, const std::function<bool(size_t)>& widen)
    {
        const auto pixels = size(number);
        if (!pixels)
            return std::nullopt;
        PackedPage packed;
        packed.width = pixels->width;
        packed.height = pixels->height;
        packed.dpi = pixels->dpi;
        packed.bands = greyAllowed ? 1 : 3;
        const size_t count = size_t(packed.width) * size_t(packed.height);
        packed.bytes = PixelMemory(count * size_t(packed.bands));
        if (!packed.bytes)
            return std::nullopt;
        const size_t row = size_t(packed.width) * 3;
        const int band = bandRows(number, packed.width, packed.height);
        for (int top = 0; top < packed.height; top += band) {
            Task::checkCancelled();
            // The last band is drawn as tall as the others, over rows already packed, so that the
            // rasteriser keeps one bitmap for every band of pages of one width.
            const int drawnTop = std::min(top, packed.height - band);
            const unsigned char* band0 = document_.drawRows(number, packed.dpi, drawnTop, packed.width, band);
            if (!band0)
                return std::nullopt;
            const unsigned char* drawn = band0 + size_t(top - drawnTop) * row;
            const int rows = std::min(band, packed.height - top);
            const size_t first = size_t(top) * size_t(packed.width);
            if (packed.bands == 1 && !packGrey(drawn, size_t(rows) * size_t(packed.width), packed.bytes.get() + first)) {
                if (!widen(count * 2))
                    return std::nullopt;
                if (!packed.bytes.grow(count * 3))
                    return std::nullopt;
                unsigned char* wider = packed.bytes.get();
                packed.bands = 3;
                // The grey bytes so far become RGB, from the last one back, so that none is
                // overwritten before it is read.
                for (size_t j = first; j-- > 0;)
                    wider[3 * j] = wider[3 * j + 1] = wider[3 * j + 2] = wider[j];
            }
            if (packed.bands == 3)
                std::memcpy(packed.bytes.get() + 3 * first, drawn, size_t(rows) * row);
        }
        return packed;
    }

private:
    // A page of pictures is drawn in one band as long as that stays within a few bands' bytes:
    // each band decodes and scales every picture of the page again, most of a scan's time.
    int bandRows(int number, int width, int height)
    {
        const size_t bytes = pictures(number) && size_t(width) * size_t(height) * bandBytesPerPixel <= pictureBandBytes
            ? pictureBandBytes
            : bandBytes;
        return std::min(height, int(std::max<size_t>(1, bytes / (size_t(width) * bandBytesPerPixel))));
    }

    bool pictures(int number)
    {
        if (picturesOf_.first != number)
            picturesOf_ = {number, document_.drawsPictures(number)};
        return picturesOf_.second;
    }

    // Writes the grey byte of each of the `count` RGB pixels of `band` to `out`; false as soon as
    // one is coloured.
    static bool packGrey(const unsigned char* band, size_t count, unsigned char* out)
    {
        for (size_t i = 0; i < count; ++i, band += 3) {
            if (band[0] != band[1] || band[1] != band[2])
                return false;
            out[i] = band[0];
        }
        return true;
    }

    PopplerCore::Document& document_;
    std::pair<int, bool> picturesOf_{0, false};
};

std::string encodeWithQt(const PackedPage& page, const char* format)
{
    QImage image(page.bytes.get(), page.width, page.height, page.width * page.bands,
        page.bands == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    constexpr double inchesPerMetre = 1 / 0.0254;
    image.setDotsPerMeterX(int(std::lround(page.dpi * inchesPerMetre)));
    image.setDotsPerMeterY(int(std::lround(page.dpi * inchesPerMetre)));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(int(std::lround(pageImageQuality * 100)));
    if (!writer.write(image))
        throw ConversionError::writeFailed();
    return bytes.toStdString();
}

// The page image as file bytes with the fixed page properties: its resolution (300 dpi but for a
// page too large for it) both ways, quality 0.9.
std::string encode(const PackedPage& page, ImageType type)
{
    // Qt writes the resolution into the JPEG's JFIF header, where readers look for it; it is
    // also the quicker JPEG encoder here.
    if (type == ImageType::jpeg)
        return encodeWithQt(page, "jpeg");
    if (type == ImageType::bmp)
        return encodeWithQt(page, "bmp");
    // Light deflate without row filters: pages are mostly flat colour, and it is several times
    // faster than the defaults for a file about a fifth larger. Written on this thread: each page
    // already has one, and libvips' saver would start a pool of its own for every page, whose
    // threads and their heaps stayed for the rest of the export.
    if (type == ImageType::png) {
        const ImageFlate::Samples samples{page.bytes.get(), page.width, page.height, page.bands, 1};
        return ImageFlate::plainPNG(samples, 3, uint32_t(std::lround(page.dpi / 0.0254)));
    }
    if (!vipsReady())
        throw ConversionError::writeFailed();
    try {
        auto view = vips::VImage::new_from_memory(
            page.bytes.get(), page.size(), page.width, page.height, page.bands, VIPS_FORMAT_UCHAR);
        VipsImage* header = view.get_image();
        header->Type = page.bands == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
        header->Xres = header->Yres = page.dpi / 25.4;  // pixels per millimetre
        const int quality = int(std::lround(pageImageQuality * 100));
        void* data = nullptr;
        size_t length = 0;
        switch (type) {
        case ImageType::heic:
            view.write_to_buffer(".heic", &data, &length, vips::VImage::option()->set("Q", quality));
            break;
        case ImageType::avif:
            view.write_to_buffer(".avif", &data, &length, vips::VImage::option()->set("Q", quality));
            break;
        case ImageType::tiff: view.write_to_buffer(".tif", &data, &length); break;
        case ImageType::gif: view.write_to_buffer(".gif", &data, &length); break;
        case ImageType::png:
        case ImageType::jpeg:
        case ImageType::bmp: break;
        // No page is offered as these (the formats' table), so none is ever drawn for them.
        case ImageType::webp:
        case ImageType::pdf: throw ConversionError::unsupported();
        }
        std::string bytes(static_cast<const char*>(data), length);
        g_free(data);
        return bytes;
    } catch (const vips::VError&) {
        throw ConversionError::writeFailed();
    }
}

// Only PNG is sure to keep a grey image as it is; the other encoders may turn it to colour.
bool greyAllowed(ImageType type) { return type == ImageType::png; }

// Any failure to make or write the image file is the same failure to the user.
fs::path writePageImage(PackedPage page, ImageType type, const FileSafety::NameFor& names)
{
    std::string bytes = encode(page, type);
    page.bytes.reset();  // the pixels are not needed while the file is written
    try {
        return FileSafety::writeNew(names, bytes);
    } catch (const std::system_error& error) {
        throw ErrorCauses::writeFailure(error);
    }
}

// What a page image's name says of a resolution other than the export's: " (147 dpi)".
std::string resolutionNote(int dpi) { return dpi == int(renderDPI) ? "" : " (" + std::to_string(dpi) + " dpi)"; }

// "base - página 007.png" in `folder`: the page number from 1, at least three digits, and the
// page's resolution when it is not the export's; a long base is shortened before the number,
// never through it.
fs::path pageFile(const fs::path& folder, const std::string& base, int number, int dpi, const std::string& ext)
{
    auto digits = std::to_string(number);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    const auto suffix = " - página " + digits + resolutionNote(dpi) + "." + ext;
    return folder / (FileSafety::fittedStem(folder, base, suffix) + suffix);
}

// "base (PNG)", then "base (PNG) 2", … in the output folder.
FileSafety::NameFor pageFolderNames(const fs::path& source, const std::string& base, const std::string& label)
{
    const auto folder = OutputPaths::directory(source);
    const auto suffix = " (" + label + ")";
    return FileSafety::numberedNames(folder, FileSafety::fittedStem(folder, base, suffix) + suffix, "");
}

fs::path exportSinglePage(PopplerCore::Document& document, const fs::path& source, const std::string& ext, ImageType type,
    const Progress& progress)
{
    Task::checkCancelled();
    PageDrawer drawer(document);
    auto page = drawer.draw(1, greyAllowed(type), [](size_t) { return true; });
    // Nothing to write must not look like success: the job's result would otherwise be the
    // source itself, which a cancelled job deletes. A page that cannot be drawn (smaller than
    // one pixel, or damaged) is the source's fault.
    if (!page)
        throw ConversionError::unreadable();
    const auto note = resolutionNote(page->dpi);
    const auto namedAs = note.empty() ? source : source.parent_path() / (source.stem().string() + note + ".pdf");
    const auto written = writePageImage(std::move(*page), type, OutputPaths::names(namedAs, ext));
    if (progress)
        progress(1.0);
    return written;
}

// Pages are drawn and written by several workers at once, each with a document of its own, as
// poppler's documents must not be shared between threads. The calling thread reports progress
// in page order and answers cancellation, so the caller sees what a page-by-page export shows.
class PageExport {
public:
    // `source` is read, the pages named after `namedAs`.
    PageExport(std::unique_ptr<PopplerCore::Document> document, const fs::path& source, const fs::path& namedAs,
        const fs::path& folder, const OutputFormat& format, ImageType type)
        : first_(std::move(document)), source_(source), folder_(folder), base_(namedAs.stem().string()),
          ext_(format.ext), type_(type), count_(first_->pageCount()), outcome_(size_t(count_), Outcome::pending)
    {
    }

    ~PageExport() { stop(); }

    // The number of pages written. Rethrows the first failure of any worker.
    int run(const Progress& progress)
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        int workers = std::min(count_, int(cores));
        // Each worker keeps its last band's bitmap between pages, and a page of pictures is drawn
        // in one band: as many workers as pages of the first one's size fit the budget.
        if (PageDrawer probe(*first_); const auto pixels = probe.size(1)) {
            const size_t need = probe.bytesWhileDrawn(1, pixels->width, pixels->height, greyAllowed(type_));
            workers = std::clamp(int(memoryBudget / std::max<size_t>(need, 1)), 1, workers);
        }
        if (count_ > pagesBeforePieces) {
            // Several pieces a worker, so that the last ones end close together.
            // A power of two, so that no piece straddles two of the source's parts.
            for (run_ = smallestPiece; run_ < largestPiece && run_ * 2 <= count_ / (workers * 4);)
                run_ *= 2;
            scratch_.emplace();
            pieces_.emplace(source_, scratch_->path(), count_);
            // The whole document, held open, would keep its cross-reference table for nothing.
            first_.reset();
        }
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

    // The pages being drawn and encoded hold at most this many bytes between them
    // (JobBudget::Limits::pagesDrawn).
    const size_t memoryBudget = JobBudget::limits().pagesDrawn;

    // Poppler keeps every page of a document up to the highest one drawn, in each worker's copy:
    // about 16 KiB a page across the workers. Past this many pages an export draws pieces of the
    // document, each holding a run of its pages only; below it what the pages hold is small beside
    // the pages in flight, and one document a worker is quicker.
    static constexpr int pagesBeforePieces = 256;
    static constexpr int smallestPiece = 16;
    static constexpr int largestPiece = 64;

    void work(std::unique_ptr<PopplerCore::Document> document)
    {
        try {
            for (int run = next_++; run * run_ < count_; run = next_++) {
                const int first = run * run_, last = std::min(count_, first + run_);
                Task::checkCancelled();
                // A piece that cannot be made is drawn from the whole source, as a short
                // document is.
                auto piece = pieces_ ? openPiece(first, last - first) : nullptr;
                if (!piece && !document)
                    document = std::make_unique<PopplerCore::Document>(source_);
                PageDrawer drawer(piece ? *piece : *document);
                const int offset = piece ? first : 0;
                for (int i = first; i < last; ++i)
                    if (!drawPage(drawer, i, i + 1 - offset))
                        return;
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::current_exception();
            stopping_ = true;
            changed_.notify_all();
        }
    }

    // Page `index` (from 0) of the export, page `number` of the drawer's document; false when the
    // export is stopping.
    bool drawPage(PageDrawer& drawer, int index, int number)
    {
        Task::checkCancelled();
        const bool grey = greyAllowed(type_);
        const auto pixels = drawer.size(number);
        size_t held = pixels ? drawer.bytesWhileDrawn(number, pixels->width, pixels->height, grey) : 0;
        if (!reserve(held))
            return false;
        bool written = false;
        try {
            // A page that turns out coloured gives back what it holds and waits for its wider
            // copy's share like a page of its own, so that no two pages wait on each other.
            auto page = pixels ? drawer.draw(number, grey, [&](size_t extra) {
                release(held);
                held += extra;
                return reserve(held) || (held = 0, false);
            })
                               : std::nullopt;
            if (page) {
                const auto file = pageFile(folder_, base_, index + 1, page->dpi, ext_);
                writePageImage(std::move(*page), type_, file);
                written = true;
            }
        } catch (...) {
            release(held);
            throw;
        }
        release(held);
        std::lock_guard lock(mutex_);
        if (stopping_ && !written)
            return false;
        outcome_[size_t(index)] = written ? Outcome::written : Outcome::skipped;
        changed_.notify_all();
        return true;
    }

    // The piece of pages first + 1 … first + count, or none when qpdf or poppler cannot make or
    // read it. Its file goes as soon as poppler has it open.
    std::unique_ptr<PopplerCore::Document> openPiece(int first, int count)
    {
        fs::path path;
        try {
            path = pieces_->write(first, count);
        } catch (const std::exception&) {
            return nullptr;
        }
        std::unique_ptr<PopplerCore::Document> piece;
        try {
            piece = std::make_unique<PopplerCore::Document>(path);
        } catch (const ConversionError&) {
        }
        std::error_code ignored;
        fs::remove(path, ignored);
        if (piece && piece->pageCount() != count)
            piece.reset();
        return piece;
    }

    // False when the export is stopping instead.
    bool reserve(size_t bytes)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return stopping_ || inFlight_ == 0 || inFlight_ + bytes <= memoryBudget;
        });
        if (stopping_)
            return false;
        inFlight_ += bytes;
        return true;
    }

    void release(size_t bytes)
    {
        {
            std::lock_guard lock(mutex_);
            inFlight_ -= bytes;
        }
        changed_.notify_all();
    }

    std::unique_ptr<PopplerCore::Document> first_;
    const fs::path source_, folder_;
    const std::string base_, ext_;
    const ImageType type_;
    const int count_;
    // Pages are taken in runs of this many; a long document's runs are drawn from pieces of it.
    int run_ = 1;
    std::optional<FileSafety::TempDir> scratch_;
    std::optional<PagePieces> pieces_;
    std::atomic<int> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Outcome> outcome_;
    size_t inFlight_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

fs::path exportPages(std::unique_ptr<PopplerCore::Document> document, const fs::path& source, const fs::path& namedAs,
    const OutputFormat& format, ImageType type, const Progress& progress)
{
    // The pages go into a hidden folder that gets its name once every page is in: a cancel, a
    // failure or a signal leaves no folder of some of the pages.
    const auto names = pageFolderNames(namedAs, namedAs.stem().string(), format.label);
    auto staged = FileSafety::StagedPath::folderFor(names);
    {
        PageExport pages(std::move(document), source, namedAs, staged.path(), format, type);
        // An empty folder is no output; reporting it as one would look like success. No page
        // could be drawn: the source is what failed.
        if (pages.run(progress) == 0)
            throw ConversionError::unreadable();
    }
    return staged.publish(names);
}

}

fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    const auto writer = OutputFormats::writer(MediaKind::pdf, format);
    if (writer == Writer::pdfText)
        return PDFText::convert(source);
    const auto type = ImageEngine::utType(format.ext);
    if (writer != Writer::pdfPages || !type)
        throw ConversionError::unsupported();
    const auto pages = [&](const fs::path& readFrom) {
        auto document = std::make_unique<PopplerCore::Document>(readFrom);
        const int count = document->pageCount();
        if (count < 1)
            throw ConversionError::unreadable();
        if (count == 1)
            return exportSinglePage(*document, source, format.ext, *type, progress);
        return exportPages(std::move(document), readFrom, source, format, *type, progress);
    };
    try {
        return pages(source);
    } catch (const ConversionError& error) {
        if (error.kind() != ConversionError::Kind::unreadable)
            throw;
        // Poppler found no page it could draw. qpdf reads page trees that poppler gives up on
        // (a kid that is null, a count that does not match, a tree lost with the end of a cut
        // file) and writes them anew: the pages are drawn from its copy, if it makes one.
        // Otherwise the source is what failed.
        FileSafety::TempDir scratch;
        const auto mended = scratch.path() / "reparado.pdf";
        try {
            auto pdf = PDFTools::open(source, nullptr, PDFTools::Unlisted::gathered);
            FileSafety::NewFile file(scratch.path());
            PDFTools::write(*pdf, file);
            file.publish(mended);
        } catch (const std::exception&) {
            throw error;
        }
        Task::checkCancelled();
        return pages(mended);
    }
}

}
