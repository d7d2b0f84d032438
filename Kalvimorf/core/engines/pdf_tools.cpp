// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

// libvips first: GLib names a member "signals", which Qt's keyword macro would break.
#include <vips/vips8>

#include "core/engines/pdf_tools.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/qpdf_output.h"
#include "core/engines/tool_engines.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFJob.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <qpdf/QPDFLogger.hh>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>

namespace PDFTools {

namespace {

std::optional<long long> wholeNumber(std::string_view text)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> split(std::string_view text, std::string_view separators, bool keepEmpty)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const auto end = text.find_first_of(separators, start);
        const auto part = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (keepEmpty || !part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A document that opened, or unreadable: a damaged file and one that needs a password alike.
std::unique_ptr<QPDF> open(const fs::path& source)
{
    FileSafety::requireRegularFile(source);
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        pdf->processFile(source.c_str());
        QPDFPageDocumentHelper(*pdf).getAllPages();
    } catch (const std::exception&) {
        throw ConversionError::unreadable();
    }
    return pdf;
}

// Written beside the output into a file without a name, then named; never encrypted.
void write(QPDF& pdf, FileSafety::NewFile& file, bool objectStreams = false)
{
    try {
        NewFilePipeline pipeline(file);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        writer.setPreserveEncryption(false);
        if (objectStreams)
            writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
        pipeline.check();
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
}

fs::path writeNew(QPDF& pdf, const fs::path& preferred)
{
    FileSafety::NewFile file(preferred.parent_path());
    write(pdf, file);
    return file.publish(preferred);
}

fs::path extract(const fs::path& source, const ToolParams& params)
{
    auto pdf = open(source);
    auto pages = QPDFPageDocumentHelper(*pdf).getAllPages();
    const auto indices = pageIndices(params.pages, int(pages.size()));
    if (indices.empty())
        throw ToolError("Nenhuma página válida em \u201c" + params.pages + "\u201d.");
    QPDF out;
    out.emptyPDF();
    QPDFPageDocumentHelper result(out);
    for (int index : indices) {
        try {
            result.addPage(pages[size_t(index)], false);
        } catch (const std::exception&) {
            // A page that cannot be copied is left out.
        }
    }
    return writeNew(out, ToolEngines::preferredOutput(source, Tool::pdfExtract, "pdf"));
}

fs::path rotate(const fs::path& source)
{
    auto pdf = open(source);
    for (auto& page : QPDFPageDocumentHelper(*pdf).getAllPages())
        page.rotatePage(90, true);
    return writeNew(*pdf, ToolEngines::preferredOutput(source, Tool::pdfRotate, "pdf"));
}

fs::path splitPages(const fs::path& source)
{
    auto pdf = open(source);
    const auto stem = source.stem().string();
    const auto folder = OutputPaths::directory(source);
    fs::create_directories(folder);
    // The pages are written into a hidden folder that gets its name only once every page is in.
    FileSafety::StagedPath staged(folder);
    fs::create_directory(staged.path());
    const auto pages = QPDFPageDocumentHelper(*pdf).getAllPages();
    for (size_t i = 0; i < pages.size(); ++i) {
        Task::checkCancelled();
        QPDF one;
        one.emptyPDF();
        QPDFPageDocumentHelper(one).addPage(pages[i], false);
        char name[64];
        std::snprintf(name, sizeof name, " - página %03zu.pdf", i + 1);
        const auto path = staged.path() / (stem + name);
        try {
            FileSafety::NewFile file(staged.path());
            write(one, file);
            file.publish(path);
        } catch (const ConversionError&) {
            throw;
        } catch (const std::exception&) {
            throw ConversionError::writeFailed();
        }
    }
    return staged.publish(FileSafety::numberedNames(folder, stem + " (" + Tools::suffix(Tool::pdfSplit) + ")", ""));
}

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

// Pages' images that are larger than the page at compressPPI become JPEGs of that size. Returns
// whether any image changed.
bool downsampleImages(QPDF& pdf)
{
    // The smallest factor each image needs over all pages that draw it.
    std::map<QPDFObjGen, std::pair<QPDFObjectHandle, double>> wanted;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        const auto box = page.getMediaBox().getArrayAsRectangle();
        const double pageWidth = std::abs(box.urx - box.llx) / 72 * compressPPI;
        const double pageHeight = std::abs(box.ury - box.lly) / 72 * compressPPI;
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
    bool changed = false;
    for (auto& [id, entry] : wanted) {
        Task::checkCancelled();
        auto& [image, factor] = entry;
        auto dict = image.getDict();
        const int width = int(dict.getKey("/Width").getIntValue());
        const int height = int(dict.getKey("/Height").getIntValue());
        const int bands = *resampledBands(dict);
        std::shared_ptr<Buffer> data;
        try {
            data = image.getStreamData(qpdf_dl_all);
        } catch (const std::exception&) {
            continue;  // a filter qpdf cannot undo: left as it is
        }
        if (data->getSize() != size_t(width) * height * bands)
            continue;
        try {
            auto picture = vips::VImage::new_from_memory(
                data->getBuffer(), data->getSize(), width, height, bands, VIPS_FORMAT_UCHAR);
            const int newWidth = std::max(1, int(width * factor + 0.5)),
                      newHeight = std::max(1, int(height * factor + 0.5));
            auto smaller = picture.resize(double(newWidth) / width,
                vips::VImage::option()->set("vscale", double(newHeight) / height)->set("kernel", VIPS_KERNEL_LANCZOS3));
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

fs::path compress(const fs::path& source)
{
    auto pdf = open(source);
    const auto preferred = ToolEngines::preferredOutput(source, Tool::pdfCompress, "pdf");
    FileSafety::NewFile file(preferred.parent_path());
    // qpdf cannot downsample: large images are made smaller first, into a scratch copy.
    std::optional<FileSafety::TempDir> scratch;
    fs::path input = source;
    if (downsampleImages(*pdf)) {
        scratch.emplace();
        input = scratch->path() / "reduzido.pdf";
        FileSafety::NewFile staged(scratch->path());
        write(*pdf, staged);
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

std::vector<int> pageIndices(const std::string& pages, int count)
{
    std::vector<int> result;
    for (auto piece : split(pages, ",;", false)) {
        piece = trimmed(piece);
        if (piece.empty())
            continue;
        const auto parts = split(piece, "-", true);
        if (parts.size() == 1) {
            if (auto n = wholeNumber(parts[0]); n && *n >= 1 && *n <= count)
                result.push_back(int(*n - 1));
        } else if (parts.size() == 2) {
            const long long start = wholeNumber(parts[0]).value_or(1);
            const long long end = wholeNumber(parts[1]).value_or(count);
            // Clamped before expanding: "1-99999999999" is the whole document, at once.
            for (long long n = std::max(start, 1LL); n <= std::min(end, (long long)count); ++n)
                result.push_back(int(n - 1));
        }
    }
    return result;
}

fs::path run(Tool tool, const fs::path& source, const ToolParams& params)
{
    Task::checkCancelled();
    if (tool == Tool::pdfCompress)
        return compress(source);
    if (tool == Tool::pdfSplit)
        return splitPages(source);
    if (tool == Tool::pdfRotate)
        return rotate(source);
    if (tool == Tool::pdfExtract)
        return extract(source, params);
    throw ConversionError::unsupported();
}

}
