#include "core/engines/image_flate.h"

#include "core/base/conversion_error.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

using vips::VImage;

namespace ImageFlate {

namespace {

// The compressed size barely moves above this level; the time does.
constexpr int flateLevel = 4;

// Rows are deflated in slices of about this many bytes, one per core at a time. Each slice is a
// raw deflate run ending on a byte boundary, so that the slices in order under one zlib header
// and one combined checksum make a single valid stream. Each starts with an empty dictionary,
// not the previous slice's end: on a smooth 24-megapixel image, 128 KiB slices made the file
// 0.2% larger than 1 MiB ones, and the writer held 20 MiB less.
constexpr size_t sliceBytes = size_t(128) << 10;

// Rows of this many bytes and more are read without the library's sink (see streamRows).
constexpr size_t wideRow = size_t(1) << 20;

unsigned workerCount() { return std::max(1u, std::min(std::thread::hardware_concurrency(), 16u)); }

// One slice's compressed bytes and what the joined stream's checksum needs.
struct Slice {
    std::string data;
    uLong adler = 0;
    size_t length = 0;
    bool ok = false;
};

// A deflate state, made once per thread and reset for each slice.
struct Deflater {
    z_stream stream{};
    bool ready = false;

    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater()
    {
        if (ready)
            deflateEnd(&stream);
    }

    bool start()
    {
        if (ready)
            return deflateReset(&stream) == Z_OK;
        ready = deflateInit2(&stream, flateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return ready;
    }
};

// PNG's Paeth filter: each byte less the nearest of left, up and up-left (or their blend).
void paeth(const unsigned char* row, const unsigned char* up, unsigned char* out, size_t rowBytes, size_t step)
{
    for (size_t i = 0; i < step && i < rowBytes; ++i)
        out[i] = static_cast<unsigned char>(row[i] - up[i]);
    for (size_t i = step; i < rowBytes; ++i) {
        int a = row[i - step], b = up[i], c = up[i - step];
        int p = a + b - c;
        int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        out[i] = static_cast<unsigned char>(row[i] - predictor);
    }
}

// Filters rows from … to - 1 and deflates them as they are filtered, so that no filtered copy
// of the slice is ever held. `row(y, out)` puts row y, in stored byte order, into `out`.
// The row above `from` is read when `above`, else taken as zeros, as for an image's first row.
template <class Row>
void deflateRows(Deflater& deflater, Slice& result, const Row& row, int from, int to, bool above, size_t rowBytes,
    size_t pixelBytes, bool last)
{
    result.ok = false;
    if (!deflater.start())
        return;
    z_stream& stream = deflater.stream;
    result.length = size_t(to - from) * (rowBytes + 1);
    result.data.resize(deflateBound(&stream, uLong(result.length)) + 64);
    result.adler = adler32(0, nullptr, 0);
    std::vector<unsigned char> previous(rowBytes, 0), current(rowBytes), up(rowBytes + 1), best(rowBytes + 1);
    if (above)
        row(from - 1, previous.data());
    size_t produced = 0;
    int status = Z_OK;
    auto feed = [&](const unsigned char* bytes, size_t length, int flush) {
        stream.next_in = const_cast<unsigned char*>(bytes);
        stream.avail_in = uInt(length);
        do {
            if (produced == result.data.size())
                result.data.resize(result.data.size() * 2);
            stream.next_out = reinterpret_cast<Bytef*>(result.data.data() + produced);
            stream.avail_out = uInt(result.data.size() - produced);
            status = deflate(&stream, flush);
            produced = result.data.size() - stream.avail_out;
            // "No progress possible" only says the output had no room left, which the next
            // turn gives it.
            if (status == Z_BUF_ERROR)
                status = Z_OK;
        } while (status == Z_OK && (stream.avail_out == 0 || stream.avail_in > 0 || flush == Z_FINISH));
    };
    for (int y = from; y < to && status == Z_OK; ++y) {
        row(y, current.data());
        // libpng's rule of thumb: the filter whose bytes, read as signed, sum smallest.
        unsigned long upCost = 0, paethCost = 0;
        up[0] = 2;
        for (size_t i = 0; i < rowBytes; ++i) {
            up[1 + i] = static_cast<unsigned char>(current[i] - previous[i]);
            upCost += std::abs(static_cast<signed char>(up[1 + i]));
        }
        best[0] = 4;
        paeth(current.data(), previous.data(), best.data() + 1, rowBytes, pixelBytes);
        for (size_t i = 0; i < rowBytes; ++i)
            paethCost += std::abs(static_cast<signed char>(best[1 + i]));
        const auto& chosen = upCost <= paethCost ? up : best;
        result.adler = adler32(result.adler, chosen.data(), uInt(chosen.size()));
        feed(chosen.data(), chosen.size(), Z_NO_FLUSH);
        std::swap(previous, current);
    }
    if (status == Z_OK)
        feed(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH);
    result.data.resize(produced);
    result.ok = last ? status == Z_STREAM_END : status == Z_OK;
}

// Runs `work(i)` for i in 0 … count - 1 on threads of their own and waits for all of them.
template <class Work> void inParallel(int count, const Work& work)
{
    std::vector<std::thread> threads;
    threads.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&work, i] {
            work(i);
        });
    for (auto& thread : threads)
        thread.join();
}

// Row y of samples first … first + count - 1, 16-bit samples big-endian as PNG and PDF want them.
void gather(const Samples& samples, int first, int count, int y, unsigned char* out)
{
    const size_t pixelBytes = size_t(samples.bands) * samples.sampleBytes;
    const unsigned char* row = samples.data + size_t(y) * samples.width * pixelBytes;
    if (count == samples.bands && samples.sampleBytes == 1) {
        std::memcpy(out, row, size_t(samples.width) * pixelBytes);
        return;
    }
    for (int x = 0; x < samples.width; ++x) {
        const unsigned char* pixel = row + x * pixelBytes + size_t(first) * samples.sampleBytes;
        if (samples.sampleBytes == 1) {
            std::memcpy(out, pixel, size_t(count));
            out += count;
        } else {
            for (int c = 0; c < count; ++c) {
                uint16_t sample;
                std::memcpy(&sample, pixel + c * 2, 2);
                *out++ = static_cast<unsigned char>(sample >> 8);
                *out++ = static_cast<unsigned char>(sample & 0xff);
            }
        }
    }
}

const std::string_view zlibHeader("\x78\x9c", 2);

void appendU32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char((value >> shift) & 0xff));
}

std::string u32(uint32_t value)
{
    std::string out;
    appendU32(out, value);
    return out;
}

// A chunk's checksum of its type and data. Empty pieces are skipped: zlib reads a null buffer
// (an empty view's) as a request for the initial value and would restart the sum.
uLong checksum(const char* type, std::initializer_list<std::string_view> pieces)
{
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    for (auto piece : pieces) {
        if (!piece.empty())
            crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), uInt(piece.size()));
    }
    return crc;
}

// A whole chunk: length, type, data and the checksum of type and data.
std::string chunk(const char* type, std::string_view data)
{
    std::string out;
    out.reserve(data.size() + 12);
    appendU32(out, uint32_t(data.size()));
    out.append(type, 4);
    out.append(data);
    appendU32(out, uint32_t(checksum(type, {data})));
    return out;
}

// The PNG signature and its IHDR chunk: grey or RGB by the number of bands, alpha when it is even.
std::string signatureAndHeader(int width, int height, int bands, int sampleBytes)
{
    const bool colour = bands >= 3;
    const bool alpha = bands == 2 || bands == 4;
    std::string header = u32(uint32_t(width)) + u32(uint32_t(height));
    header.push_back(char(sampleBytes * 8));
    header.push_back(char((colour ? 2 : 0) | (alpha ? 4 : 0)));
    header.append(3, '\0');  // deflate, adaptive filtering, no interlace
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header);
}

// A chunk written in pieces, so that large data is not copied to be framed.
void writeChunk(FileSafety::NewFile& file, const char* type, std::initializer_list<std::string_view> pieces)
{
    size_t length = 0;
    for (auto piece : pieces)
        length += piece.size();
    file.write(u32(uint32_t(length)) + std::string(type, 4));
    for (auto piece : pieces)
        file.write(piece);
    file.write(u32(uint32_t(checksum(type, pieces))));
}

// The PNG's image data as the pixels arrive, top to bottom. Rows gather into slices; a pool
// of one thread per core filters and deflates each slice while the next ones fill, and the
// finished slices go into the file in order, each as its own IDAT chunk. Slots for half as many
// slices again as cores bound what is held, whatever the size of the image, and let a slow core
// fall behind without stopping the others (on a busy machine, waiting for a whole round of
// slices made the writer slower than the one it replaced).
// `put` takes each finished piece of the zlib stream (its header, a slice, the checksum) in
// order: PNG frames them as IDAT chunks, a PDF stream writes them as they are.
using Pieces = std::function<void(std::initializer_list<std::string_view>)>;

class IdatStream {
public:
    IdatStream(Pieces put, int width, int height, int bands, int sampleBytes)
        : put_(std::move(put)), height_(height), sampleBytes_(sampleBytes), pixelBytes_(size_t(bands) * sampleBytes),
          rowBytes_(size_t(width) * pixelBytes_),
          sliceRows_(int(std::clamp<size_t>(sliceBytes / std::max<size_t>(rowBytes_, 1), 1, size_t(height)))),
          slots_(workerCount() * 3 / 2 + 1), adler_(adler32(0, nullptr, 0))
    {
        for (auto& slot : slots_)
            slot.rows.resize(rowBytes_ * (size_t(sliceRows_) + 1));
        for (unsigned i = 0; i < workerCount(); ++i)
            workers_.emplace_back([this] {
                work();
            });
    }

    ~IdatStream()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& worker : workers_)
            worker.join();
    }

    // `count` rows in the machine's byte order, `stride` bytes apart.
    void take(const unsigned char* rows, int count, size_t stride)
    {
        for (int i = 0; i < count; ++i, rows += stride) {
            auto& slot = slots_[current_ % slots_.size()];
            if (filled_ == 0) {
                while (next_ + slots_.size() <= current_)
                    writeNext(true);
                // Row 0 holds the row above the slice: the previous slice's last.
                if (current_ > 0)
                    std::memcpy(slot.rows.data(),
                        slots_[(current_ - 1) % slots_.size()].rows.data() + rowBytes_ * size_t(sliceRows_), rowBytes_);
            }
            unsigned char* out = slot.rows.data() + rowBytes_ * (size_t(filled_) + 1);
            if (sampleBytes_ == 1) {
                std::memcpy(out, rows, rowBytes_);
            } else {
                for (size_t at = 0; at < rowBytes_; at += 2) {
                    uint16_t sample;
                    std::memcpy(&sample, rows + at, 2);
                    out[at] = static_cast<unsigned char>(sample >> 8);
                    out[at + 1] = static_cast<unsigned char>(sample & 0xff);
                }
            }
            ++filled_;
            ++seen_;
            if (filled_ == sliceRows_ || seen_ == height_)
                submit(slot);
        }
    }

    // Writes what is still being compressed; throws when rows are missing or deflate failed.
    void finish()
    {
        while (writeNext(true)) { }
        if (seen_ != height_ || !finished_)
            throw ConversionError::writeFailed();
    }

private:
    enum class State { free, queued, done };

    struct Slot {
        std::vector<unsigned char> rows;  // the row above, then the slice's rows
        Slice out;
        int count = 0;
        bool first = false, last = false;
        State state = State::free;
    };

    void submit(Slot& slot)
    {
        {
            std::lock_guard lock(mutex_);
            slot.count = filled_;
            slot.first = current_ == 0;
            slot.last = seen_ == height_;
            slot.state = State::queued;
            queue_.push_back(current_ % slots_.size());
        }
        wake_.notify_one();
        ++current_;
        filled_ = 0;
        while (writeNext(false)) { }
    }

    void work()
    {
        Deflater deflater;
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] {
                    return stopping_ || !queue_.empty();
                });
                if (stopping_)
                    return;
                index = queue_.front();
                queue_.pop_front();
            }
            auto& slot = slots_[index];
            auto row = [&](int y, unsigned char* out) {
                std::memcpy(out, slot.rows.data() + rowBytes_ * size_t(y + 1), rowBytes_);
            };
            try {
                deflateRows(deflater, slot.out, row, 0, slot.count, !slot.first, rowBytes_, pixelBytes_, slot.last);
            } catch (const std::bad_alloc&) {
                slot.out.ok = false;
            }
            {
                std::lock_guard lock(mutex_);
                slot.state = State::done;
            }
            done_.notify_all();
        }
    }

    // Writes the next slice in order once it is done (waiting for it when `wait`); false when
    // there is none, or it is not done and `wait` is not set.
    bool writeNext(bool wait)
    {
        if (next_ == current_)
            return false;
        auto& slot = slots_[next_ % slots_.size()];
        {
            std::unique_lock lock(mutex_);
            if (wait)
                done_.wait(lock, [&] {
                    return slot.state == State::done;
                });
            else if (slot.state != State::done)
                return false;
        }
        if (!slot.out.ok)
            throw ConversionError::writeFailed();
        std::string_view head = next_ == 0 ? zlibHeader : std::string_view();
        adler_ = adler32_combine(adler_, slot.out.adler, z_off_t(slot.out.length));
        std::string tail;
        if (slot.last) {
            appendU32(tail, uint32_t(adler_));
            finished_ = true;
        }
        put_({head, slot.out.data, tail});
        {
            std::lock_guard lock(mutex_);
            slot.state = State::free;
        }
        ++next_;
        return true;
    }

    const Pieces put_;
    const int height_, sampleBytes_;
    const size_t pixelBytes_, rowBytes_;
    const int sliceRows_;
    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<size_t> queue_;
    bool stopping_ = false;
    size_t current_ = 0, next_ = 0;  // the slice filling, the next slice to write
    int filled_ = 0, seen_ = 0;
    bool finished_ = false;
    uLong adler_;
};

// Hands the rows vips computes, in order, to the stream; vips' own threads decode meanwhile.
int takeRows(VipsRegion* region, VipsRect* area, void* stream)
{
    auto& out = *static_cast<std::pair<IdatStream*, std::exception_ptr>*>(stream);
    try {
        out.first->take(reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(region, area->left, area->top)),
            area->height, size_t(VIPS_REGION_LSKIP(region)));
        return 0;
    } catch (...) {
        out.second = std::current_exception();
        return -1;
    }
}

}

VImage storable(const VImage& image, bool cmykAllowed)
{
    auto interpretation = image.interpretation();
    auto format = image.format();
    int bands = image.bands();
    bool plainFormat = format == VIPS_FORMAT_UCHAR || format == VIPS_FORMAT_USHORT;
    bool cmyk = cmykAllowed && interpretation == VIPS_INTERPRETATION_CMYK && format == VIPS_FORMAT_UCHAR
        && (bands == 4 || bands == 5);
    bool grey
        = (interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16) && bands <= 2;
    bool rgb = (interpretation == VIPS_INTERPRETATION_sRGB || interpretation == VIPS_INTERPRETATION_RGB16)
        && (bands == 3 || bands == 4);
    if (plainFormat && (cmyk || grey || rgb))
        return image;
    auto converted = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (converted.format() != VIPS_FORMAT_UCHAR)
        converted = converted.cast(VIPS_FORMAT_UCHAR);
    if (converted.bands() > 4)
        converted = converted.extract_band(0, VImage::option()->set("n", 4));
    converted = converted.copy();
    converted.remove(VIPS_META_ICC_NAME);
    return converted;
}

std::string compress(const Samples& samples, int first, int count)
{
    const size_t rowBytes = size_t(samples.width) * count * samples.sampleBytes;
    const size_t pixelBytes = size_t(count) * samples.sampleBytes;
    const int height = samples.height;
    int slices = int(std::clamp<size_t>(rowBytes * height / sliceBytes, 1, workerCount()));
    slices = std::min(slices, std::max(1, height));
    auto row = [&](int y, unsigned char* out) {
        gather(samples, first, count, y, out);
    };
    std::vector<Slice> parts(static_cast<size_t>(slices));
    inParallel(slices, [&](int i) {
        const int from = int(int64_t(height) * i / slices), to = int(int64_t(height) * (i + 1) / slices);
        try {
            Deflater deflater;
            deflateRows(deflater, parts[size_t(i)], row, from, to, from > 0, rowBytes, pixelBytes, i == slices - 1);
        } catch (const std::bad_alloc&) {
            parts[size_t(i)].ok = false;
        }
    });
    std::string out(zlibHeader);
    uLong adler = adler32(0, nullptr, 0);
    for (auto& part : parts) {
        if (!part.ok)
            throw ConversionError::writeFailed();
        out += part.data;
        adler = adler32_combine(adler, part.adler, z_off_t(part.length));
        std::string().swap(part.data);
    }
    appendU32(out, uint32_t(adler));
    return out;
}

std::string deflate(const std::string& data)
{
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
            uLong(data.size()), 6)
        != Z_OK)
        throw ConversionError::writeFailed();
    out.resize(size);
    return out;
}

namespace {

// The pixels are never held whole: vips computes them strip by strip, in order, and each strip
// joins the stream at once.
void streamRows(const VImage& image, Pieces put)
{
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    IdatStream stream(std::move(put), image.width(), image.height(), image.bands(), sampleBytes);
    const size_t rowBytes = size_t(image.width()) * size_t(image.bands()) * size_t(sampleBytes);
    if (rowBytes >= wideRow) {
        // The library's sink computes strips a hundred rows and more high for each of its
        // threads, twice over: for rows of megabytes (a 1,000,000 × 600 panorama took 3.5 GB)
        // they are read here a few at a time, as the decoder gives them anyway.
        const int step = int(std::max<size_t>(1, (size_t(16) << 20) / rowBytes));
        std::unique_ptr<VipsRegion, decltype(&g_object_unref)> region(
            vips_region_new(image.get_image()), g_object_unref);
        for (int top = 0; top < image.height(); top += step) {
            VipsRect strip{0, top, image.width(), std::min(step, image.height() - top)};
            if (vips_region_prepare(region.get(), &strip) != 0)
                throw vips::VError();
            stream.take(reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(region.get(), 0, top)), strip.height,
                size_t(VIPS_REGION_LSKIP(region.get())));
        }
    } else {
        std::pair<IdatStream*, std::exception_ptr> target(&stream, nullptr);
        if (vips_sink_disc(image.get_image(), takeRows, &target) != 0) {
            if (target.second)
                std::rethrow_exception(target.second);
            throw vips::VError();
        }
    }
    stream.finish();
}

}

void writePNG(const VImage& image, const std::optional<std::string>& exif, FileSafety::NewFile& file)
{
    const int bands = image.bands();
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    std::string head = signatureAndHeader(image.width(), image.height(), bands, sampleBytes);
    if (image.get_typeof(VIPS_META_ICC_NAME)) {
        size_t length = 0;
        auto icc = static_cast<const char*>(image.get_blob(VIPS_META_ICC_NAME, &length));
        head += chunk("iCCP", std::string("icc\0\0", 5) + deflate(std::string(icc, length)));
    }
    if (exif && !exif->empty()) {
        // eXIf holds the TIFF structure alone, without the "Exif\0\0" of JPEG's APP1.
        std::string_view tiff(*exif);
        if (tiff.substr(0, 6) == std::string_view("Exif\0\0", 6))
            tiff.remove_prefix(6);
        head += chunk("eXIf", tiff);
    }
    file.write(head);

    streamRows(image, [&](std::initializer_list<std::string_view> pieces) {
        writeChunk(file, "IDAT", pieces);
    });
    file.write(chunk("IEND", {}));
}

void streamFlate(const VImage& image, const std::function<void(std::string_view)>& put)
{
    streamRows(image, [&](std::initializer_list<std::string_view> pieces) {
        for (auto piece : pieces)
            put(piece);
    });
}

std::string plainPNG(const Samples& samples, int level, uint32_t pixelsPerMetre)
{
    std::string out = signatureAndHeader(samples.width, samples.height, samples.bands, samples.sampleBytes)
        + chunk("pHYs", u32(pixelsPerMetre) + u32(pixelsPerMetre) + std::string(1, '\1'));

    // libpng's way: a whole zlib stream with its defaults, cut into IDAT chunks of 8 KiB as it
    // fills them, so that a page is the same file as libpng makes of it.
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ConversionError::writeFailed();
    const std::unique_ptr<z_stream, int (*)(z_stream*)> ending(&stream, deflateEnd);
    const size_t rowBytes = size_t(samples.width) * samples.bands * samples.sampleBytes;
    std::vector<unsigned char> row(rowBytes + 1, 0);  // filter type 0 (none), then the row
    std::vector<unsigned char> idat(size_t(8) << 10);
    stream.next_out = idat.data();
    stream.avail_out = uInt(idat.size());
    int status = Z_OK;
    for (int y = 0; y <= samples.height && status == Z_OK; ++y) {
        const bool last = y == samples.height;
        if (!last)
            gather(samples, 0, samples.bands, y, row.data() + 1);
        stream.next_in = last ? nullptr : row.data();
        stream.avail_in = last ? 0 : uInt(row.size());
        do {
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_BUF_ERROR)
                status = Z_OK;
            if (stream.avail_out == 0 || status == Z_STREAM_END) {
                out += chunk("IDAT",
                    std::string_view(reinterpret_cast<const char*>(idat.data()), idat.size() - stream.avail_out));
                stream.next_out = idat.data();
                stream.avail_out = uInt(idat.size());
            }
        } while (status == Z_OK && (stream.avail_in > 0 || last));
    }
    if (status != Z_STREAM_END)
        throw ConversionError::writeFailed();
    return out + chunk("IEND", {});
}

}
