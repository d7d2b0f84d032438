#include "core/image_flate.h"

#include "core/conversion_error.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

using vips::VImage;

namespace ImageFlate {

namespace {

// The compressed size barely moves above this level; the time does.
constexpr int flateLevel = 4;

// Rows are compressed in
// parallel slices: each slice is a raw deflate run ending on a byte boundary, so that the
// slices joined under one zlib header and one combined checksum make a single valid stream.
class Plane {
public:
    Plane(const Samples& samples, int first, int count)
        : pixels_(samples.data), width_(samples.width), height_(samples.height), bands_(samples.bands),
          sampleBytes_(samples.sampleBytes), first_(first), count_(count),
          pixelBytes_(count * samples.sampleBytes), rowBytes_(size_t(samples.width) * pixelBytes_)
    {
    }

    std::string compress() const
    {
        const size_t rawBytes = rowBytes_ * height_;
        unsigned workers = std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
        int slices = int(std::clamp<size_t>(rawBytes / (1u << 20), 1, workers));
        slices = std::min(slices, std::max(1, height_));
        std::vector<Slice> parts(slices);
        std::vector<std::thread> threads;
        for (int i = 0; i < slices; ++i) {
            int from = int(int64_t(height_) * i / slices), to = int(int64_t(height_) * (i + 1) / slices);
            auto work = [this, &parts, i, from, to, slices] { parts[i] = slice(from, to, i == slices - 1); };
            if (i + 1 < slices)
                threads.emplace_back(work);
            else
                work();
        }
        for (auto& thread : threads)
            thread.join();

        std::string out("\x78\x9c", 2);
        uLong adler = adler32(0, nullptr, 0);
        for (const auto& part : parts) {
            if (!part.ok)
                throw ConversionError::writeFailed();
            out += part.data;
            adler = adler32_combine(adler, part.adler, z_off_t(part.length));
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(char((adler >> shift) & 0xff));
        return out;
    }

private:
    struct Slice {
        std::string data;
        uLong adler = 0;
        size_t length = 0;
        bool ok = false;
    };

    // Row y of the chosen samples, 16-bit samples big-endian as PDF wants them.
    void gather(int y, unsigned char* out) const
    {
        const size_t pixelBytes = size_t(bands_) * sampleBytes_;
        const unsigned char* row = pixels_ + size_t(y) * width_ * pixelBytes;
        if (count_ == bands_ && sampleBytes_ == 1) {
            std::memcpy(out, row, rowBytes_);
            return;
        }
        for (int x = 0; x < width_; ++x) {
            const unsigned char* pixel = row + x * pixelBytes + size_t(first_) * sampleBytes_;
            if (sampleBytes_ == 1) {
                std::memcpy(out, pixel, count_);
                out += count_;
            } else {
                for (int c = 0; c < count_; ++c) {
                    uint16_t sample;
                    std::memcpy(&sample, pixel + c * 2, 2);
                    *out++ = static_cast<unsigned char>(sample >> 8);
                    *out++ = static_cast<unsigned char>(sample & 0xff);
                }
            }
        }
    }

    Slice slice(int from, int to, bool last) const
    {
        Slice result;
        std::vector<unsigned char> filtered(size_t(to - from) * (rowBytes_ + 1));
        std::vector<unsigned char> previous(rowBytes_, 0), current(rowBytes_), up(rowBytes_);
        if (from > 0)
            gather(from - 1, previous.data());
        unsigned char* out = filtered.data();
        for (int y = from; y < to; ++y) {
            gather(y, current.data());
            // libpng's rule of thumb: the filter whose bytes, read as signed, sum smallest.
            unsigned long upCost = 0, paethCost = 0;
            for (size_t i = 0; i < rowBytes_; ++i) {
                up[i] = static_cast<unsigned char>(current[i] - previous[i]);
                upCost += std::abs(static_cast<signed char>(up[i]));
            }
            paeth(current.data(), previous.data(), out + 1);
            for (size_t i = 0; i < rowBytes_; ++i)
                paethCost += std::abs(static_cast<signed char>(out[1 + i]));
            if (upCost <= paethCost) {
                *out = 2;
                std::memcpy(out + 1, up.data(), rowBytes_);
            } else {
                *out = 4;
            }
            out += 1 + rowBytes_;
            std::swap(previous, current);
        }
        result.length = filtered.size();
        result.adler = adler32(adler32(0, nullptr, 0), filtered.data(), uInt(filtered.size()));

        z_stream stream{};
        if (deflateInit2(&stream, flateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return result;
        result.data.resize(deflateBound(&stream, uLong(filtered.size())) + 64);
        stream.next_in = filtered.data();
        stream.avail_in = uInt(filtered.size());
        size_t produced = 0;
        int status = Z_OK;
        do {
            if (produced == result.data.size())
                result.data.resize(result.data.size() * 2);
            stream.next_out = reinterpret_cast<Bytef*>(result.data.data() + produced);
            stream.avail_out = uInt(result.data.size() - produced);
            status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
            produced = result.data.size() - stream.avail_out;
        } while (status == Z_OK && (stream.avail_out == 0 || stream.avail_in > 0));
        deflateEnd(&stream);
        result.data.resize(produced);
        result.ok = last ? status == Z_STREAM_END : status == Z_OK;
        return result;
    }

    // PNG's Paeth filter: each byte less the nearest of left, up and up-left (or their blend).
    void paeth(const unsigned char* row, const unsigned char* up, unsigned char* out) const
    {
        const size_t step = size_t(pixelBytes_);
        for (size_t i = 0; i < step && i < rowBytes_; ++i)
            out[i] = static_cast<unsigned char>(row[i] - up[i]);
        for (size_t i = step; i < rowBytes_; ++i) {
            int a = row[i - step], b = up[i], c = up[i - step];
            int p = a + b - c;
            int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            out[i] = static_cast<unsigned char>(row[i] - predictor);
        }
    }

    const unsigned char* pixels_;
    int width_, height_, bands_, sampleBytes_, first_, count_, pixelBytes_;
    size_t rowBytes_;
};

void putU32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char((value >> shift) & 0xff));
}

// A whole chunk: length, type, data and the checksum of type and data.
std::string chunk(const char* type, std::string_view data)
{
    std::string out;
    out.reserve(data.size() + 12);
    putU32(out, uint32_t(data.size()));
    out.append(type, 4);
    out.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()));
    putU32(out, uint32_t(crc));
    return out;
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
    bool grey = (interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16)
        && bands <= 2;
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
    return Plane(samples, first, count).compress();
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

void writePNG(const VImage& image, const std::optional<std::string>& exif, FileSafety::NewFile& file)
{
    const int bands = image.bands();
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    const bool colour = bands >= 3;
    const bool alpha = bands == 2 || bands == 4;
    size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    auto data = compress({static_cast<const unsigned char*>(memory), image.width(), image.height(), bands, sampleBytes},
                         0, bands);

    std::string header;
    putU32(header, uint32_t(image.width()));
    putU32(header, uint32_t(image.height()));
    header.push_back(char(sampleBytes * 8));
    header.push_back(char((colour ? 2 : 0) | (alpha ? 4 : 0)));
    header.append(3, '\0');  // deflate, adaptive filtering, no interlace
    std::string head = "\x89PNG\r\n\x1a\n" + chunk("IHDR", header);
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
    constexpr size_t piece = 1 << 20;
    for (size_t at = 0; at < data.size(); at += piece)
        file.write(chunk("IDAT", std::string_view(data).substr(at, piece)));
    file.write(chunk("IEND", {}));
}

}
