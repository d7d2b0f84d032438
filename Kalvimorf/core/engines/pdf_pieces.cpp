// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

#include "core/engines/pdf_pieces.h"
#include "core/engines/qpdf_input.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <malloc.h>

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace PDFEngine {

namespace {

// The source is first written as parts of this many pages, read once from start to end; the
// pieces are then made from the parts. From a part qpdf never holds more than one part's pages.
constexpr int partPages = 256;

// While the parts are written the source is read afresh now and then: qpdf keeps every object it
// has read until the document is closed (besides the pages, their contents and resources of
// their own), and an opening costs a reading of the cross-reference table and of the nodes down
// to the page reached, some hundredths of a second for 10,000 pages. After this many pages, or
// a thirty-second of a longer document.
constexpr int pagesBetweenOpenings = 512;

[[noreturn]] void notAlike() { throw std::runtime_error("the source is not read alike"); }

// The pages of a document in order, found by walking its page tree one kid at a time. qpdf's own
// list of pages (which its page copying asks for too) reads every page's dictionary, some
// kilobytes each, and keeps them until the document is closed: here only the kids on the way
// are read, and the pages walked past are let go of once written (forget), so that what is held
// is a part's pages and the nodes' lists of kids rather than every page of the document.
// A tree that qpdf would mend, or that poppler could read otherwise (a loop, a node met twice,
// a page met twice in one reading, a kid that is no dictionary, a node or page of the wrong
// type), throws. (A page met again after a fresh reading is drawn again, as poppler does.)
class PageWalk {
public:
    explicit PageWalk(QPDF& pdf) : pdf_(&pdf) { enter(root(pdf), 0); }

    // Where the walk stands: each node from the root down, with the kids it has given.
    using Place = std::vector<std::pair<QPDFObjGen, int>>;

    // The place, and nothing held of this reading any more, which can then be closed.
    Place leave()
    {
        Place place;
        for (const auto& node : path_)
            place.emplace_back(node.node.getObjGen(), node.taken);
        path_.clear();
        return place;
    }

    // The walk goes on from `place` in `pdf`, another reading of the same file.
    void resume(QPDF& pdf, const Place& place)
    {
        pdf_ = &pdf;
        for (size_t i = 0; i < place.size(); ++i)
            descend(i == 0 ? root(pdf) : pdf.getObjectByObjGen(place[i].first), place[i].second);
    }

    // The next page with what it takes from the nodes above it (its boxes, turn and resources)
    // written on itself and no parent, a page of its own; none past the last. It is changed
    // where it is, in this reading of the source only: qpdf's means of handing every page its
    // inherited attributes, or of making a new object, read every object of the whole document.
    std::optional<QPDFObjectHandle> next()
    {
        while (!path_.empty()) {
            Node& at = path_.back();
            if (at.taken == at.count) {
                const QPDFObjGen done = at.node.getObjGen();
                path_.pop_back();
                // Its pages have taken what they inherit; their kids' list is all it holds.
                if (done.isIndirect() && !path_.empty())
                    pdf_->replaceObject(done, QPDFObjectHandle::newNull());
                continue;
            }
            QPDFObjectHandle kid = at.kids.getArrayItem(at.taken++);
            // A page forgotten is a null: it was met before.
            if (!kid.isIndirect() || !kid.isDictionary())
                notAlike();
            if (kid.hasKey("/Kids")) {
                enter(kid, 0);
                continue;
            }
            if (!kid.isDictionaryOfType("/Page"))
                notAlike();
            for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
                for (auto node = path_.rbegin(); !kid.hasKey(key) && node != path_.rend(); ++node)
                    if (node->node.hasKey(key))
                        kid.replaceKey(key, node->node.getKey(key));
            }
            kid.removeKey("/Parent");
            return kid;
        }
        return std::nullopt;
    }

    // Pages written are not read again: qpdf's copies of them go.
    void forget(const std::vector<QPDFObjectHandle>& pages)
    {
        for (const auto& page : pages)
            pdf_->replaceObject(page.getObjGen(), QPDFObjectHandle::newNull());
    }

private:
    struct Node {
        QPDFObjectHandle node, kids;
        int taken = 0, count = 0;
    };

    static QPDFObjectHandle root(QPDF& pdf)
    {
        QPDFObjectHandle node = pdf.getRoot().getKey("/Pages");
        // qpdf takes a root with a parent for a page and looks for the tree above it.
        if (!node.isDictionary() || node.hasKey("/Parent"))
            notAlike();
        return node;
    }

    void enter(QPDFObjectHandle node, int taken)
    {
        // A node met twice is a loop, or shared by two parents; qpdf refuses both.
        if (node.isIndirect() && !nodes_.insert(node.getObjGen()).second)
            notAlike();
        descend(std::move(node), taken);
    }

    void descend(QPDFObjectHandle node, int taken)
    {
        if (!node.isDictionaryOfType("/Pages"))
            notAlike();
        QPDFObjectHandle kids = node.getKey("/Kids");
        if (!kids.isArray() || taken > kids.getArrayNItems())
            notAlike();
        path_.push_back({node, kids, taken, kids.getArrayNItems()});
    }

    QPDF* pdf_;
    std::vector<Node> path_;
    std::set<QPDFObjGen> nodes_;
};

// The page tree `pdf` shows is `pages` alone, so that what qpdf reads of it when it copies (and
// the piece's writer asks for) is these pages and not the whole document's.
void showOnly(QPDF& pdf, const std::vector<QPDFObjectHandle>& pages)
{
    std::vector<QPDFObjGen> seen;
    for (const auto& page : pages)
        seen.push_back(page.getObjGen());
    std::sort(seen.begin(), seen.end());
    // qpdf mends a page met twice with a new object, which reads the whole document first.
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end())
        notAlike();
    auto node = QPDFObjectHandle::newDictionary();
    node.replaceKey("/Type", QPDFObjectHandle::newName("/Pages"));
    node.replaceKey("/Kids", QPDFObjectHandle::newArray(pages));
    node.replaceKey("/Count", QPDFObjectHandle::newInteger(int(pages.size())));
    pdf.getRoot().replaceKey("/Pages", node);
    pdf.updateAllPagesCache();
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

// The document at `path`, needing no mending.
std::unique_ptr<QPDF> open(const fs::path& path)
{
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processInputSource(std::make_shared<FileBlocks>(path));
    if (pdf->anyWarnings())
        notAlike();
    return pdf;
}

// `pages` of `from`, its catalog's layers and form with them, as a new document at `path`.
void writePages(QPDF& from, const std::vector<QPDFObjectHandle>& pages, const fs::path& path)
{
    QPDF piece;
    piece.setSuppressWarnings(true);
    piece.emptyPDF();
    for (const auto& page : pages)
        piece.addPage(piece.copyForeignObject(page), false);
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
    std::unique_ptr<QPDF> source = open(source_);
    PageWalk walk(*source);
    const int between = std::max(pagesBetweenOpenings, pages_ / 32);
    for (int first = 0, read = 0; first < pages_; first += partPages, read += partPages) {
        if (read >= between) {
            // One reading at a time: each holds the cross-reference table and the nodes.
            const auto place = walk.leave();
            source.reset();
            source = open(source_);
            walk.resume(*source, place);
            read = 0;
        }
        std::vector<QPDFObjectHandle> pages;
        for (int i = first; i < std::min(pages_, first + partPages); ++i)
            pages.push_back(walk.next().value_or(QPDFObjectHandle::newNull()));
        if (pages.back().isNull())
            notAlike();
        showOnly(*source, pages);
        parts_.push_back(folder_ / ("parte " + std::to_string(first / partPages + 1) + ".pdf"));
        left_.push_back(int(pages.size()));
        writePages(*source, pages, parts_.back());
        walk.forget(pages);
        if (source->anyWarnings())
            notAlike();
    }
    // Poppler counts the pages by the root's /Count: the tree must hold no more.
    if (walk.next())
        notAlike();
    source.reset();
    // What qpdf held of the source is freed on this thread's heap, where the drawing threads
    // would never use it again: back to the system before they start.
    ::malloc_trim(0);
}

fs::path PagePieces::make(int first, int count)
{
    if (unusable_)
        notAlike();
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
        pdf_ = open(parts_[size_t(part)]);
        if (pdf_->getAllPages().size() != size_t(std::min(partPages, pages_ - offset)))
            notAlike();
        openPart_ = part;
    }
    const auto& all = pdf_->getAllPages();
    const std::vector<QPDFObjectHandle> pages(all.begin() + (first - offset), all.begin() + (first - offset + count));
    const auto path = folder_ / ("páginas " + std::to_string(first + 1) + ".pdf");
    writePages(*pdf_, pages, path);
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
