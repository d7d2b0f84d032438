// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4
#include "core/engines/image_pdf.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/job_budget.h"
#include "core/base/task.h"
#include "core/engines/image_flate.h"
#include "core/engines/qpdf_output.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

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

QPDFObjectHandle name(const char* text) { return QPDFObjectHandle::newName(text); }

QPDFObjectHandle integer(long long value) { return QPDFObjectHandle::newInteger(value); }

// A stream holding `data` as it is, already encoded with `filter`.
QPDFObjectHandle encoded(
    QPDF& pdf, std::string data, const char* filter, QPDFObjectHandle parameters = QPDFObjectHandle::newNull())
{
    auto stream = pdf.newStream();
    stream.replaceStreamData(data, name(filter), parameters);
    return stream;
}

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
QPDFObjectHandle colourSpace(QPDF& pdf, int components, const std::optional<std::string>& icc)
{
    const char* device = components == 1 ? "/DeviceGray" : components == 4 ? "/DeviceCMYK" : "/DeviceRGB";
    const char* signature = components == 1 ? "GRAY" : components == 4 ? "CMYK" : "RGB ";
    if (!icc || icc->size() < 132 || icc->compare(16, 4, signature) != 0)
        return name(device);
    auto profile = encoded(pdf, ImageFlate::deflate(*icc), "/FlateDecode");
    profile.getDict().replaceKey("/N", integer(components));
    profile.getDict().replaceKey("/Alternate", name(device));
    return QPDFObjectHandle::newArray({name("/ICCBased"), profile});
}

// The dictionary entries every image object has.
void describeImage(QPDFObjectHandle& image, int width, int height, QPDFObjectHandle space, int bits)
{
    auto dictionary = image.getDict();
    dictionary.replaceKey("/Type", name("/XObject"));
    dictionary.replaceKey("/Subtype", name("/Image"));
    dictionary.replaceKey("/Width", integer(width));
    dictionary.replaceKey("/Height", integer(height));
    dictionary.replaceKey("/ColorSpace", space);
    dictionary.replaceKey("/BitsPerComponent", integer(bits));
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

// Whether the JPEG's marker segments and entropy-coded scans run on to its end-of-image marker.
// Embedded as it is, a file cut short would never be decoded here and the reader would show the
// missing part grey; anything after the end marker is left alone, as decoders ignore it. The
// segments are skipped by their lengths, so a thumbnail inside the Exif block, with its own end
// marker, does not count.
bool reachesEnd(std::string_view data)
{
    const auto byte = [&](size_t at) {
        return static_cast<unsigned char>(data[at]);
    };
    size_t at = 2;
    while (at < data.size()) {
        // Stray bytes between segments are skipped, as decoders do.
        const void* mark = std::memchr(data.data() + at, 0xff, data.size() - at);
        if (!mark)
            return false;
        at = size_t(static_cast<const char*>(mark) - data.data());
        while (at < data.size() && byte(at) == 0xff)
            ++at;
        if (at >= data.size())
            return false;
        const unsigned char marker = byte(at++);
        if (marker == 0xd9)
            return true;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8))
            continue;
        if (data.size() - at < 2)
            return false;
        const size_t length = size_t(byte(at)) << 8 | byte(at + 1);
        if (length < 2 || data.size() - at < length)
            return false;
        at += length;
        if (marker != 0xda)
            continue;
        // The scan's data: 0xFF is stuffed as FF 00, restart markers belong to it; any other
        // marker ends it.
        for (;;) {
            const void* found = std::memchr(data.data() + at, 0xff, data.size() - at);
            if (!found)
                return false;
            at = size_t(static_cast<const char*>(found) - data.data());
            if (at + 1 >= data.size())
                return false;
            const unsigned char next = byte(at + 1);
            if (next == 0x00 || (next >= 0xd0 && next <= 0xd7))
                at += 2;
            else if (next == 0xff)
                ++at;
            else
                break;
        }
    }
    return false;
}

// The image object of a JPEG file embedded as it is.
QPDFObjectHandle jpegImage(QPDF& pdf, const Picture& picture)
{
    auto data = readWhole(picture.jpegFile);
    if (data.size() < 4 || static_cast<unsigned char>(data[0]) != 0xff || static_cast<unsigned char>(data[1]) != 0xd8)
        throw ConversionError::unreadable();
    if (!reachesEnd(data))
        throw ConversionError::because(ErrorCauses::damaged);
    const auto& image = picture.image;
    int orientation = picture.props.orientation.value_or(1);
    bool turned = orientation >= 5 && orientation <= 8;
    auto object = encoded(pdf, std::move(data), "/DCTDecode");
    describeImage(object, turned ? image.height() : image.width(), turned ? image.width() : image.height(),
        colourSpace(pdf, image.bands(), iccOf(image)), 8);
    return object;
}

// The image object of any other picture: its samples Flate-compressed, alpha as a soft mask.
QPDFObjectHandle losslessImage(QPDF& pdf, const Picture& picture)
{
    VImage image = ImageFlate::storable(picture.image, true);
    const int bands = image.bands();
    const bool alpha = image.has_alpha();
    const int components = alpha ? bands - 1 : bands;
    const int sampleBytes = image.format() == VIPS_FORMAT_USHORT ? 2 : 1;
    const int width = image.width(), height = image.height();

    size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::unique_ptr<void, decltype(&g_free)> owner(memory, g_free);
    const ImageFlate::Samples samples{static_cast<const unsigned char*>(memory), width, height, bands, sampleBytes};
    auto flate = [&](int first, int count, QPDFObjectHandle space) {
        auto parameters = QPDFObjectHandle::newDictionary();
        parameters.replaceKey("/Predictor", integer(15));
        parameters.replaceKey("/Colors", integer(count));
        parameters.replaceKey("/BitsPerComponent", integer(sampleBytes * 8));
        parameters.replaceKey("/Columns", integer(width));
        auto object = encoded(pdf, ImageFlate::compress(samples, first, count), "/FlateDecode", parameters);
        describeImage(object, width, height, space, sampleBytes * 8);
        return object;
    };
    auto object = flate(0, components, colourSpace(pdf, components, iccOf(image)));
    if (alpha)
        object.getDict().replaceKey("/SMask", flate(bands - 1, 1, name("/DeviceGray")));
    return object;
}

// Whether the one picture of a PDF is written by writeStreamed: one without alpha (a soft mask
// would be a second pass over pixels that decode once) whose samples and compressed copy would
// take more than a picture written from memory may (JobBudget::Limits::pictureInPDF).
bool streams(const std::vector<Picture>& pictures)
{
    if (pictures.size() != 1 || embedsAsJpeg(pictures.front()))
        return false;
    const auto image = ImageFlate::storable(pictures.front().image, true);
    if (image.has_alpha())
        return false;
    return double(image.width()) * image.height() * (image.bands() + 4) > double(JobBudget::limits().pictureInPDF);
}

// The PDF of one picture too large to hold, written here object by object: its samples are
// deflated as they decode and go straight into the file, and the stream's length follows it as
// an object of its own.
void writeStreamed(const Picture& picture, FileSafety::NewFile& file)
{
    const VImage image = ImageFlate::storable(picture.image, true);
    const int bands = image.bands();
    const int bits = image.format() == VIPS_FORMAT_USHORT ? 16 : 8;
    const auto [w, h] = pageSize(picture);
    size_t written = 0;
    std::vector<size_t> offsets(1, 0);
    const auto put = [&](std::string_view bytes) {
        file.write(bytes);
        written += bytes.size();
    };
    const auto begin = [&] {
        offsets.push_back(written);
        put(std::to_string(offsets.size() - 1) + " 0 obj\n");
    };
    const auto object = [&](const std::string& body) {
        begin();
        put(body + "\nendobj\n");
    };
    const char* device = bands == 1 ? "/DeviceGray" : bands == 4 ? "/DeviceCMYK" : "/DeviceRGB";
    const char* signature = bands == 1 ? "GRAY" : bands == 4 ? "CMYK" : "RGB ";
    const auto icc = iccOf(image);
    const bool profiled = icc && icc->size() >= 132 && icc->compare(16, 4, signature) == 0;
    const std::string draw = "q " + placement(1, w, h) + " cm /Im0 Do Q";

    put("%PDF-1.7\n%\xe2\xe3\xcf\xd3\n");
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(w) + " " + number(h)
        + "] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>");
    object("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream");
    begin();
    put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.width()) + " /Height "
        + std::to_string(image.height()) + " /ColorSpace " + (profiled ? std::string("[/ICCBased 7 0 R]") : device)
        + " /BitsPerComponent " + std::to_string(bits) + " /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors "
        + std::to_string(bands) + " /BitsPerComponent " + std::to_string(bits) + " /Columns "
        + std::to_string(image.width()) + " >> /Length 6 0 R >>\nstream\n");
    const size_t start = written;
    ImageFlate::streamFlate(image, put);
    const size_t length = written - start;
    put("\nendstream\nendobj\n");
    object(std::to_string(length));
    if (profiled) {
        const auto packed = ImageFlate::deflate(*icc);
        object("<< /N " + std::to_string(bands) + " /Alternate " + device + " /Filter /FlateDecode /Length "
            + std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream");
    }
    const size_t table = written;
    std::string xref = "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i < offsets.size(); ++i) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[i]);
        xref += entry;
    }
    put(xref + "trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root 1 0 R >>\nstartxref\n"
        + std::to_string(table) + "\n%%EOF\n");
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
    if (streams(pictures)) {
        writeStreamed(pictures.front(), file);
        return;
    }
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    for (const auto& picture : pictures) {
        Task::checkCancelled();
        auto [w, h] = pageSize(picture);
        bool asJpeg = embedsAsJpeg(picture);
        auto image = asJpeg ? jpegImage(pdf, picture) : losslessImage(pdf, picture);
        auto draw = "q " + placement(asJpeg ? picture.props.orientation.value_or(1) : 1, w, h) + " cm /Im0 Do Q";
        auto page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", name("/Page"));
        page.replaceKey("/MediaBox",
            QPDFObjectHandle::newArray(
                {integer(0), integer(0), QPDFObjectHandle::newReal(number(w)), QPDFObjectHandle::newReal(number(h))}));
        auto objects = QPDFObjectHandle::newDictionary();
        objects.replaceKey("/Im0", image);
        auto resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", objects);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", pdf.newStream(draw));
        pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    NewFilePipeline out(file);
    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&out);
    // The image streams are written as they were encoded here.
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setMinimumPDFVersion("1.7");
    writer.write();
    out.check();
}

}
