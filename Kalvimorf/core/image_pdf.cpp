#include "core/image_pdf.h"

#include "core/conversion_error.h"
#include "core/task.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

using ImageEngine::Picture;
using vips::VImage;

namespace ImagePDF {

namespace {

// Deflate level for pixel streams: the compressed size barely moves above it, the time does.
constexpr int flateLevel = 4;

std::string number(double value)
{
    char buffer[48];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4).ptr;
    std::string text(buffer, end);
    while (!text.empty() && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}

std::string integer(long long value)
{
    char buffer[24];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

std::string ref(int object)
{
    return integer(object) + " 0 R";
}

// One plane of an image (its colour samples, or its alpha) as a zlib stream of PNG rows with
// the Up filter, which a PDF reader undoes through /Predictor 15. Rows are compressed in
// parallel slices: each slice is a raw deflate run ending on a byte boundary, so that the
// slices joined under one zlib header and one combined checksum make a single valid stream.
class Plane {
public:
    Plane(const unsigned char* pixels, int width, int height, int bands, int sampleBytes, int first, int count)
        : pixels_(pixels), width_(width), height_(height), bands_(bands), sampleBytes_(sampleBytes), first_(first),
          count_(count), rowBytes_(size_t(width) * count * sampleBytes)
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
        std::vector<unsigned char> previous(rowBytes_, 0), current(rowBytes_);
        if (from > 0)
            gather(from - 1, previous.data());
        unsigned char* out = filtered.data();
        for (int y = from; y < to; ++y) {
            gather(y, current.data());
            *out++ = 2;  // Up
            for (size_t i = 0; i < rowBytes_; ++i)
                out[i] = static_cast<unsigned char>(current[i] - previous[i]);
            out += rowBytes_;
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

    const unsigned char* pixels_;
    int width_, height_, bands_, sampleBytes_, first_, count_;
    size_t rowBytes_;
};

std::string deflateBytes(const std::string& data)
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

class Document {
public:
    explicit Document(const fs::path& path) : file_(std::fopen(path.c_str(), "wb"))
    {
        if (!file_)
            throw ConversionError::writeFailed();
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
        put("%PDF-1.7\n%\xe2\xe3\xcf\xd3\n");
        offsets_.assign(3, 0);  // 0 unused, 1 catalog, 2 page tree
    }

    ~Document()
    {
        if (file_)
            std::fclose(file_);
    }

    int reserve()
    {
        offsets_.push_back(0);
        return int(offsets_.size()) - 1;
    }

    void object(int number, const std::string& body)
    {
        begin(number);
        put(body);
        put("\nendobj\n");
    }

    void stream(int number, std::string dictionary, const std::string& data)
    {
        begin(number);
        put("<< " + dictionary + " /Length " + integer(static_cast<long long>(data.size())) + " >>\nstream\n");
        put(data);
        put("\nendstream\nendobj\n");
    }

    void finish(const std::vector<int>& pages)
    {
        object(1, "<< /Type /Catalog /Pages 2 0 R >>");
        std::string kids;
        for (int page : pages)
            kids += (kids.empty() ? "" : " ") + ref(page);
        object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + integer(static_cast<long long>(pages.size())) + " >>");
        const auto xref = offset_;
        put("xref\n0 " + integer(static_cast<long long>(offsets_.size())) + "\n0000000000 65535 f \n");
        for (size_t i = 1; i < offsets_.size(); ++i) {
            char entry[24];
            std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offsets_[i]));
            put(entry);
        }
        put("trailer\n<< /Size " + integer(static_cast<long long>(offsets_.size())) + " /Root 1 0 R >>\nstartxref\n"
            + integer(static_cast<long long>(xref)) + "\n%%EOF\n");
        bool failed = std::fflush(file_) != 0 || std::ferror(file_);
        failed = std::fclose(file_) != 0 || failed;
        file_ = nullptr;
        if (failed)
            throw ConversionError::writeFailed();
    }

private:
    void begin(int number)
    {
        offsets_[number] = offset_;
        put(integer(number) + " 0 obj\n");
    }

    void put(const std::string& text)
    {
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size())
            throw ConversionError::writeFailed();
        offset_ += text.size();
    }

    std::FILE* file_;
    uint64_t offset_ = 0;
    std::vector<uint64_t> offsets_;
};

std::optional<std::string> iccOf(const VImage& image)
{
    if (!image.get_typeof(VIPS_META_ICC_NAME))
        return std::nullopt;
    size_t length = 0;
    auto data = static_cast<const char*>(image.get_blob(VIPS_META_ICC_NAME, &length));
    return std::string(data, length);
}

// The colour space entry: the image's own profile when it fits the samples, else the device
// space of that many components.
std::string colourSpace(Document& pdf, int components, const std::optional<std::string>& icc)
{
    const char* device = components == 1 ? "/DeviceGray" : components == 4 ? "/DeviceCMYK" : "/DeviceRGB";
    const char* signature = components == 1 ? "GRAY" : components == 4 ? "CMYK" : "RGB ";
    if (!icc || icc->size() < 132 || icc->compare(16, 4, signature) != 0)
        return device;
    int object = pdf.reserve();
    pdf.stream(object,
               "/N " + integer(components) + " /Alternate " + device + " /Filter /FlateDecode",
               deflateBytes(*icc));
    return "[/ICCBased " + ref(object) + "]";
}

// Maps the unit square of a stored JPEG onto a w × h page so that it shows upright, for each
// Exif orientation.
std::string placement(int orientation, double w, double h)
{
    auto matrix = [](double a, double b, double c, double d, double e, double f) {
        return number(a) + " " + number(b) + " " + number(c) + " " + number(d) + " " + number(e) + " " + number(f);
    };
    switch (orientation) {
    case 2: return matrix(-w, 0, 0, h, w, 0);
    case 3: return matrix(-w, 0, 0, -h, w, h);
    case 4: return matrix(w, 0, 0, -h, 0, h);
    case 5: return matrix(0, -h, -w, 0, w, h);
    case 6: return matrix(0, -h, w, 0, 0, h);
    case 7: return matrix(0, h, w, 0, 0, 0);
    case 8: return matrix(0, h, -w, 0, w, 0);
    default: return matrix(w, 0, 0, h, 0, 0);
    }
}

bool embedsAsJpeg(const Picture& picture)
{
    return !picture.jpegFile.empty() && picture.jpegImage == picture.image.get_image();
}

std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw ConversionError::unreadable();
    return data;
}

// Writes the image object of one picture; returns its number.
int jpegImage(Document& pdf, const Picture& picture)
{
    auto data = readWhole(picture.jpegFile);
    if (data.size() < 4 || static_cast<unsigned char>(data[0]) != 0xff || static_cast<unsigned char>(data[1]) != 0xd8)
        throw ConversionError::unreadable();
    const auto& image = picture.image;
    int orientation = picture.props.orientation.value_or(1);
    bool turned = orientation >= 5 && orientation <= 8;
    int width = turned ? image.height() : image.width();
    int height = turned ? image.width() : image.height();
    int components = image.bands();
    auto space = colourSpace(pdf, components, iccOf(image));
    int object = pdf.reserve();
    pdf.stream(object,
               "/Type /XObject /Subtype /Image /Width " + integer(width) + " /Height " + integer(height)
                   + " /ColorSpace " + space + " /BitsPerComponent 8 /Filter /DCTDecode",
               data);
    return object;
}

int losslessImage(Document& pdf, const Picture& picture)
{
    VImage image = picture.image;
    auto interpretation = image.interpretation();
    auto format = image.format();
    bool plainFormat = format == VIPS_FORMAT_UCHAR || format == VIPS_FORMAT_USHORT;
    bool cmyk = interpretation == VIPS_INTERPRETATION_CMYK && format == VIPS_FORMAT_UCHAR;
    bool grey = (interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16)
        && image.bands() <= 2;
    bool rgb = (interpretation == VIPS_INTERPRETATION_sRGB || interpretation == VIPS_INTERPRETATION_RGB16)
        && (image.bands() == 3 || image.bands() == 4);
    auto icc = iccOf(image);
    if (!plainFormat || !(cmyk || grey || rgb)) {
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.format() != VIPS_FORMAT_UCHAR)
            image = image.cast(VIPS_FORMAT_UCHAR);
        icc.reset();
    }
    const int bands = image.bands();
    const bool alpha = image.has_alpha();
    const int components = alpha ? bands - 1 : bands;
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    const int width = image.width(), height = image.height();

    size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    auto pixels = static_cast<const unsigned char*>(memory);
    const std::string bits = integer(sampleBytes * 8);
    auto dictionary = [&](const std::string& space, int colours) {
        return "/Type /XObject /Subtype /Image /Width " + integer(width) + " /Height " + integer(height)
            + " /ColorSpace " + space + " /BitsPerComponent " + bits
            + " /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " + integer(colours)
            + " /BitsPerComponent " + bits + " /Columns " + integer(width) + " >>";
    };

    std::string mask;
    if (alpha) {
        int maskObject = pdf.reserve();
        pdf.stream(maskObject, dictionary("/DeviceGray", 1),
                   Plane(pixels, width, height, bands, sampleBytes, bands - 1, 1).compress());
        mask = " /SMask " + ref(maskObject);
    }
    auto space = colourSpace(pdf, components, icc);
    int object = pdf.reserve();
    pdf.stream(object, dictionary(space, components) + mask,
               Plane(pixels, width, height, bands, sampleBytes, 0, components).compress());
    return object;
}

}

std::pair<double, double> pageSize(const Picture& picture)
{
    double dpi = picture.props.dpi.value_or(72.0);
    if (!(dpi > 1))
        dpi = 1;
    double scale = 72.0 / dpi;
    return {picture.image.width() * scale, picture.image.height() * scale};
}

void write(const std::vector<Picture>& pictures, const fs::path& destination)
{
    Document pdf(destination);
    std::vector<int> pages;
    for (const auto& picture : pictures) {
        Task::checkCancelled();
        auto [w, h] = pageSize(picture);
        bool asJpeg = embedsAsJpeg(picture);
        int image = asJpeg ? jpegImage(pdf, picture) : losslessImage(pdf, picture);
        int contents = pdf.reserve();
        pdf.stream(contents, "",
                   "q " + placement(asJpeg ? picture.props.orientation.value_or(1) : 1, w, h) + " cm /Im0 Do Q");
        int page = pdf.reserve();
        pdf.object(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(w) + " " + number(h)
                             + "] /Resources << /XObject << /Im0 " + ref(image) + " >> >> /Contents " + ref(contents)
                             + " >>");
        pages.push_back(page);
    }
    pdf.finish(pages);
}

}
