// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

// libvips first: GLib names a member "signals", which Qt's keyword macro would break.
#include <vips/vips8>

#include "core/pdf_engine.h"

#include "core/conversion_error.h"
#include "core/file_safety.h"
#include "core/image_engine.h"
#include "core/image_library.h"
#include "core/output_paths.h"
#include "core/task.h"

#include <poppler-qt6.h>
#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <cmath>
#include <memory>
#include <mutex>
#include <system_error>

namespace PDFEngine {

namespace {

// A bigger page would need gigabytes for one bitmap; such a page counts as one that cannot be
// drawn rather than taking the machine's memory down with it.
constexpr double maxPagePixels = double(1 << 28);

// qpdf keeps every merged file open until the result is written; past this many it reopens them
// on demand instead, so a large merge stays within the open-file limit.
constexpr size_t maxOpenMergeSources = 200;

// Poppler lays a page's text out in the page's own drawing space (the crop box from its corner,
// the page's rotation applied), so a rectangle in the document's coordinates misses the text of
// turned or shifted pages; one far larger than any page takes everything it laid out.
const QRectF everywhere(-1e9, -1e9, 2e9, 2e9);

using ImageEngine::ImageType;

bool vipsReady()
{
    return ImageLibrary::start();
}

QString qtPath(const fs::path& path)
{
    return QFile::decodeName(QByteArray(path.c_str()));
}

void quietPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] { Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, {}); });
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

// Which of the merged files failed is what the user needs to know to fix it.
ConversionError unreadableSource(const fs::path& file)
{
    return ConversionError::ffmpeg("Não foi possível ler o arquivo “" + file.filename().string() + "”.");
}

// Packs the opaque 0xffRRGGBB pixels of `image` into tight RGB bytes at the start of its own
// buffer, so the encoder gets them without a second page-sized allocation.
uchar* packRGB(QImage& image)
{
    const int width = image.width();
    uchar* out = image.bits();
    uchar* dst = out;
    for (int y = 0; y < image.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x, dst += 3) {
            const QRgb pixel = src[x];
            dst[0] = uchar(qRed(pixel));
            dst[1] = uchar(qGreen(pixel));
            dst[2] = uchar(qBlue(pixel));
        }
    }
    return out;
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
    const size_t size = size_t(width) * size_t(height) * 3;
    try {
        auto view = vips::VImage::new_from_memory(packRGB(image), size, width, height, 3, VIPS_FORMAT_UCHAR);
        VipsImage* header = view.get_image();
        header->Type = VIPS_INTERPRETATION_sRGB;
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
        case ImageType::tiff:
            view.write_to_buffer(".tif", &data, &length);
            break;
        case ImageType::gif:
            view.write_to_buffer(".gif", &data, &length);
            break;
        case ImageType::jpeg:
        case ImageType::bmp:
            break;
        }
        std::string bytes(static_cast<const char*>(data), length);
        g_free(data);
        return bytes;
    } catch (const vips::VError&) {
        throw ConversionError::writeFailed();
    }
}

// Any failure to make or write the image file is the same failure to the user.
fs::path writePageImage(QImage& image, ImageType type, const fs::path& target)
{
    std::string bytes = encode(image, type);
    image = QImage();  // only one page's pixels are alive at a time
    try {
        return FileSafety::writeNew(target, bytes);
    } catch (const std::system_error&) {
        throw ConversionError::writeFailed();
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
    // source itself, which a cancelled job deletes.
    if (!image)
        throw ConversionError::writeFailed();
    const auto written = writePageImage(*image, type, OutputPaths::destination(source, ext));
    if (progress)
        progress(1.0);
    return written;
}

fs::path exportPages(const Poppler::Document& document, const fs::path& source, const OutputFormat& format,
                     ImageType type, const Progress& progress)
{
    const int count = document.numPages();
    const auto base = source.stem().string();
    const auto folder = makePageFolder(source, base, format.label);
    int written = 0;
    try {
        for (int i = 0; i < count; ++i) {
            Task::checkCancelled();
            auto page = document.page(i);
            auto image = page ? render(*page, renderDPI) : std::nullopt;
            if (!image)
                continue;
            page.reset();
            writePageImage(*image, type, folder / pageFileName(base, i + 1, format.ext));
            ++written;
            if (progress)
                progress(double(i + 1) / count);
        }
        // An empty folder is no output; reporting it as one would look like success.
        if (written == 0)
            throw ConversionError::writeFailed();
    } catch (...) {
        FileSafety::removeTree(folder);
        throw;
    }
    return folder;
}

// The page tree is read here too, so a file whose pages cannot be found fails under its own name.
std::unique_ptr<QPDF> openForMerge(const fs::path& path, std::shared_ptr<ClosedFileInputSource>& input)
{
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        input = std::make_shared<ClosedFileInputSource>(path.c_str());
        input->stayOpen(true);
        pdf->processInputSource(input);
        QPDFPageDocumentHelper(*pdf).getAllPages();
    } catch (const std::exception&) {
        throw unreadableSource(path);
    }
    return pdf;
}

// qpdf's output, gathered into large writes to a file that has no name until it is complete.
class NewFilePipeline final : public Pipeline {
public:
    explicit NewFilePipeline(FileSafety::NewFile& file) : Pipeline("merged PDF", nullptr), file_(file) {}
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

fs::path writeMerged(QPDF& pdf, const fs::path& out)
{
    try {
        FileSafety::NewFile file(out.parent_path());
        NewFilePipeline pipeline(file);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        // The first file's passwords and restrictions are its own; the merged file has none.
        writer.setPreserveEncryption(false);
        writer.write();
        return file.publish(out);
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
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
        return FileSafety::writeNew(OutputPaths::destination(source, "txt"), text);
    }
    const auto document = openDocument(source);
    const auto type = ImageEngine::utType(format.ext);
    if (!type)
        throw ConversionError::unsupported();
    const int count = document->numPages();
    if (count < 1)
        throw ConversionError::unreadable();
    if (count == 1)
        return exportSinglePage(*document, source, format.ext, *type, progress);
    return exportPages(*document, source, format, *type, progress);
}

fs::path merge(const std::vector<fs::path>& sources)
{
    if (sources.empty())
        throw ConversionError::unreadable();
    std::vector<std::shared_ptr<ClosedFileInputSource>> inputs(sources.size());
    // Copied pages read their content from the other files only when the result is written, so
    // every file stays loaded until then.
    std::vector<std::unique_ptr<QPDF>> documents;
    documents.push_back(openForMerge(sources.front(), inputs.front()));
    QPDFPageDocumentHelper result(*documents.front());
    for (size_t i = 1; i < sources.size(); ++i) {
        Task::checkCancelled();
        documents.push_back(openForMerge(sources[i], inputs[i]));
        try {
            for (auto& page : QPDFPageDocumentHelper(*documents.back()).getAllPages())
                result.addPage(page, false);
        } catch (const std::exception&) {
            throw unreadableSource(sources[i]);
        }
        if (sources.size() > maxOpenMergeSources)
            inputs[i]->stayOpen(false);
    }
    Task::checkCancelled();

    const auto first = sources.front();
    const auto placeholder = OutputPaths::directory(first) / (first.stem().string() + " – combinado.pdf");
    return writeMerged(*documents.front(), OutputPaths::destination(placeholder, "pdf"));
}

}
