// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

#include "core/engines/pdf_pieces.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

namespace PDFEngine {

namespace {

// The source is first written as parts of this many pages, read once from start to end; the
// pieces are then made from the parts. qpdf reads every page's own dictionary of a document it
// opens, some kilobytes a page, and keeps every object it has read until it is closed: from
// the parts it never holds more than one part's.
constexpr int partPages = 256;

// While the parts are written the source is read afresh now and then, so that what qpdf keeps
// of it stays bounded: after this many pages, or an eighth of a longer document, since each
// opening reads the whole page tree again (a quarter second for 10,000 pages).
constexpr int pagesBetweenOpenings = 512;

// The page with what it takes from the page tree written on itself, and no parent: a page of its
// own. It is changed where it is, in this reading of the source only: qpdf's means of making a
// new object, or of handing every page its inherited attributes, first read every object of the
// whole document, hundreds of megabytes for some.
QPDFObjectHandle standalone(QPDFObjectHandle page)
{
    for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
        if (page.hasKey(key))
            continue;
        QPDFObjectHandle node = page.getKey("/Parent");
        for (int depth = 0; node.isDictionary() && depth < 64; ++depth, node = node.getKey("/Parent")) {
            if (node.hasKey(key)) {
                page.replaceKey(key, node.getKey(key));
                break;
            }
        }
    }
    page.removeKey("/Parent");
    return page;
}

// `object` of another document as one of `into`, what it refers to copied with it.
QPDFObjectHandle copied(QPDF& into, QPDFObjectHandle object)
{
    if (object.isIndirect())
        return into.copyForeignObject(object);
    if (object.isArray()) {
        auto array = QPDFObjectHandle::newArray();
        for (auto& item : object.aitems())
            array.appendItem(copied(into, item));
        return array;
    }
    if (object.isDictionary()) {
        auto dictionary = QPDFObjectHandle::newDictionary();
        for (auto& [key, value] : object.ditems())
            dictionary.replaceKey(key, copied(into, value));
        return dictionary;
    }
    return QPDFObjectHandle::parse(object.unparse());
}

// The form of the piece: the source's settings (appearances to be made afresh, default fonts)
// over the fields of the piece's pages. A field's appearance is made from its own and the
// form's settings, so a field left out would be drawn differently. (qpdf's own field copying
// reads every object of the source first.)
QPDFObjectHandle pieceForm(QPDF& piece, QPDFObjectHandle form)
{
    auto result = QPDFObjectHandle::newDictionary();
    for (auto& [key, value] : form.ditems())
        if (key != "/Fields" && key != "/CO" && key != "/XFA")
            result.replaceKey(key, copied(piece, value));
    auto fields = QPDFObjectHandle::newArray();
    std::set<QPDFObjGen> seen;
    for (QPDFObjectHandle page : piece.getAllPages()) {
        for (auto& annotation : page.getKey("/Annots").aitems()) {
            if (!annotation.isDictionary() || !annotation.getKey("/Subtype").isNameAndEquals("/Widget"))
                continue;
            QPDFObjectHandle field = annotation;
            for (int depth = 0; depth < 64 && field.getKey("/Parent").isDictionary(); ++depth)
                field = field.getKey("/Parent");
            if (field.isIndirect() && seen.insert(field.getObjGen()).second)
                fields.appendItem(field);
        }
    }
    result.replaceKey("/Fields", fields);
    return result;
}

// The document at `path`, which must have `pages` pages and need no mending: pages are found by
// their number, so qpdf and poppler must see the same pages in the same order.
std::unique_ptr<QPDF> read(const fs::path& path, int pages)
{
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processFile(path.c_str());
    if (pdf->getAllPages().size() != size_t(pages) || pdf->anyWarnings())
        throw std::runtime_error("the source is not read alike");
    return pdf;
}

// Pages first + 1 … first + count of `from`, its catalog's layers and form with them, as a new
// document at `path`.
void writePages(QPDF& from, int first, int count, const fs::path& path)
{
    const auto& pages = from.getAllPages();
    QPDF piece;
    piece.setSuppressWarnings(true);
    piece.emptyPDF();
    for (int i = first; i < first + count; ++i)
        piece.addPage(piece.copyForeignObject(standalone(pages[size_t(i)])), false);
    QPDFObjectHandle root = from.getRoot();
    // Layers hidden by the document's settings stay hidden.
    if (QPDFObjectHandle layers = root.getKey("/OCProperties"); layers.isDictionary())
        piece.getRoot().replaceKey("/OCProperties", copied(piece, layers));
    if (QPDFObjectHandle form = root.getKey("/AcroForm"); form.isDictionary())
        piece.getRoot().replaceKey("/AcroForm", pieceForm(piece, form));
    QPDFWriter writer(piece, path.c_str());
    writer.setPreserveEncryption(false);
    // The streams go over as they are: nothing to gain from packing them again for one reading.
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.write();
}

}

PagePieces::PagePieces(const fs::path& source, const fs::path& folder, int pages)
    : source_(source), folder_(folder), pages_(pages), thread_([this] { serve(); })
{
}

PagePieces::~PagePieces()
{
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

fs::path PagePieces::write(int first, int count)
{
    std::lock_guard turn(callers_);
    std::unique_lock lock(mutex_);
    request_.emplace(first, count);
    made_.reset();
    failure_ = nullptr;
    changed_.notify_all();
    changed_.wait(lock, [&] { return made_ || failure_; });
    if (failure_)
        std::rethrow_exception(failure_);
    return *made_;
}

void PagePieces::serve()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return request_ || quitting_; });
        if (quitting_)
            break;
        const auto [first, count] = *request_;
        request_.reset();
        lock.unlock();
        std::optional<fs::path> made;
        std::exception_ptr failure;
        try {
            made = make(first, count);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        made_ = std::move(made);
        failure_ = failure;
        changed_.notify_all();
    }
    pdf_.reset();
}

void PagePieces::split()
{
    std::unique_ptr<QPDF> source;
    const int between = std::max(pagesBetweenOpenings, pages_ / 8);
    for (int first = 0, read = between; first < pages_; first += partPages, read += partPages) {
        if (read >= between) {
            source.reset();
            source = PDFEngine::read(source_, pages_);
            read = 0;
        }
        parts_.push_back(folder_ / ("parte " + std::to_string(first / partPages + 1) + ".pdf"));
        left_.push_back(std::min(partPages, pages_ - first));
        writePages(*source, first, left_.back(), parts_.back());
    }
}

fs::path PagePieces::make(int first, int count)
{
    if (unusable_)
        throw std::runtime_error("the source is not read alike");
    if (parts_.empty()) {
        // Once refused, for good: reading a damaged file again can take long.
        unusable_ = true;
        split();
        unusable_ = false;
    }
    const int part = first / partPages, offset = part * partPages;
    if (first < 0 || count < 1 || first + count > std::min(pages_, offset + partPages))
        throw std::out_of_range("pages outside one part");
    if (part != openPart_) {
        pdf_.reset();
        openPart_ = -1;
        pdf_ = read(parts_[size_t(part)], std::min(partPages, pages_ - offset));
        openPart_ = part;
    }
    const auto path = folder_ / ("páginas " + std::to_string(first + 1) + ".pdf");
    writePages(*pdf_, first - offset, count, path);
    // A part goes once its pages are all out.
    if ((left_[size_t(part)] -= count) <= 0) {
        pdf_.reset();
        openPart_ = -1;
        std::error_code ignored;
        fs::remove(parts_[size_t(part)], ignored);
    }
    return path;
}

}
