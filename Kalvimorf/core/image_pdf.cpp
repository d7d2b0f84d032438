#include "core/image_pdf.h"

#include "core/conversion_error.h"
#include "core/image_flate.h"
#include "core/task.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

using ImageEngine::Picture;
using vips::VImage;

namespace ImagePDF {

namespace {

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

class Document {
public:
    explicit Document(FileSafety::NewFile& file) : file_(file)
    {
        put("%PDF-1.7\n%\xe2\xe3\xcf\xd3\n");
        offsets_.assign(3, 0);  // 0 unused, 1 catalog, 2 page tree
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
        flush();
    }

private:
    void begin(int number)
    {
        offsets_[number] = offset_;
        put(integer(number) + " 0 obj\n");
    }

    void put(const std::string& text)
    {
        if (text.size() >= bufferBytes) {
            flush();
            file_.write(text);
        } else {
            buffer_ += text;
            if (buffer_.size() >= bufferBytes)
                flush();
        }
        offset_ += text.size();
    }

    void flush()
    {
        file_.write(buffer_);
        buffer_.clear();
    }

    static constexpr size_t bufferBytes = 1 << 20;
    FileSafety::NewFile& file_;
    std::string buffer_;
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
               ImageFlate::deflate(*icc));
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
    VImage image = ImageFlate::storable(picture.image, true);
    auto icc = iccOf(image);
    const int bands = image.bands();
    const bool alpha = image.has_alpha();
    const int components = alpha ? bands - 1 : bands;
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    const int width = image.width(), height = image.height();

    size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const ImageFlate::Samples samples{static_cast<const unsigned char*>(memory), width, height, bands, sampleBytes};
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
                   ImageFlate::compress(samples, bands - 1, 1));
        mask = " /SMask " + ref(maskObject);
    }
    auto space = colourSpace(pdf, components, icc);
    int object = pdf.reserve();
    pdf.stream(object, dictionary(space, components) + mask,
               ImageFlate::compress(samples, 0, components));
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

void write(const std::vector<Picture>& pictures, FileSafety::NewFile& file)
{
    Document pdf(file);
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
