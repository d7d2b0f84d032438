// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

#include "core/engines/pdf_engine.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/pdf_tools.h"
#include "core/engines/qpdf_output.h"

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <memory>

// The merge stands on qpdf alone, apart from the drawing of pages: a worker that only merges
// never loads poppler or the image library.
namespace PDFEngine {

namespace {

// qpdf keeps every merged file open until the result is written; past this many it reopens them
// on demand instead, so a large merge stays within the open-file limit.
constexpr size_t maxOpenMergeSources = 200;

// Which of the merged files failed is what the user needs to know to fix it.
ConversionError unreadableSource(const fs::path& file)
{
    return ConversionError::because("Não foi possível ler o arquivo “" + file.filename().string() + "”.");
}

// The page tree is read here too, so a file whose pages cannot be found fails under its own name.
std::unique_ptr<QPDF> openForMerge(const fs::path& path, std::shared_ptr<ClosedFileInputSource>& input)
{
    padHeapForQpdf();
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        input = std::make_shared<ClosedFileInputSource>(path.c_str());
        input->stayOpen(true);
        pdf->processInputSource(input);
        // Walked first: qpdf's list of pages copies every page a tree lists twice, gigabytes
        // for a tree that lists one page a million times.
        std::error_code unknown;
        const auto size = fs::file_size(path, unknown);
        PDFTools::countPages(*pdf, unknown ? 0 : size);
        QPDFPageDocumentHelper(*pdf).getAllPages();
    } catch (const QPDFExc& error) {
        // Locked, not damaged: said as a conversion of it says it, under its name.
        if (error.getErrorCode() == qpdf_e_password)
            throw ConversionError::because("O arquivo “" + path.filename().string() + "” está protegido por senha.");
        throw unreadableSource(path);
    } catch (const std::exception&) {
        throw unreadableSource(path);
    }
    return pdf;
}

fs::path writeMerged(QPDF& pdf, const FileSafety::NameFor& names)
{
    try {
        FileSafety::NewFile file(names.folder());
        NewFilePipeline pipeline(file);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        // The first file's passwords and restrictions are its own; the merged file has none.
        writer.setPreserveEncryption(false);
        writer.write();
        pipeline.check();
        return file.publish(names);
    } catch (const std::system_error& error) {
        throw ErrorCauses::writeFailure(error);
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
}

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
    return writeMerged(*documents.front(), OutputPaths::names(placeholder, "pdf"));
}

}
