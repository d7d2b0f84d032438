#include "core/engines/poppler_core.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"

#include <poppler/Catalog.h>
#include <poppler/ErrorCodes.h>
#include <poppler/Object.h>
#include <poppler/Page.h>
#include <poppler/Stream.h>
#include <poppler/XRef.h>

#include <poppler/GfxState.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/TextOutputDev.h>
#include <poppler/goo/GooString.h>
#include <poppler/splash/SplashBitmap.h>

#include <map>
#include <set>
#include <vector>

namespace PopplerCore {

namespace {

// What one page's content streams, and the forms they draw, may unpack to. A real page's
// drawing instructions stay in the tens of megabytes even for a detailed map; a few kilobytes
// of compressed zeros or letters unpack to gigabytes, which poppler would read and hold (2.4 GB
// for one string in the text layout) for minutes.
constexpr long long contentLimit = 256LL << 20;

// Poppler looks an inherited field attribute up in the parent for every field, reading the
// parent again each time: a parent of n kids costs n² reads of its kids' list. A form whose
// fields share an unnamed parent by the thousand takes it half a minute to open; this many
// reads take it a few seconds, and real forms of a few hundred fields a parent stay far below.
constexpr long long formReadLimit = 4'000'000;

const char* const pageTooLarge = "O conteúdo de uma página do PDF é grande demais para ser lido.";
const char* const formTooComplex = "O formulário do PDF é complexo demais para ser lido.";

// Adds what `stream` unpacks to, stopping at the limit.
void addDecoded(Stream* stream, long long& total)
{
    if (!stream)
        return;
    stream->reset();
    unsigned char buffer[65536];
    for (int got; total <= contentLimit && (got = stream->doGetChars(int(sizeof buffer), buffer)) > 0;)
        total += got;
    stream->close();
}

// The forms drawn through `resources`, each once however often it is named.
void addForms(XRef* xref, Dict* resources, std::set<Ref>& seen, long long& total, int depth)
{
    if (!resources || depth > 16 || total > contentLimit)
        return;
    const Object objects = resources->lookup("XObject");
    if (!objects.isDict())
        return;
    Dict* dict = objects.getDict();
    for (int i = 0; i < dict->getLength() && total <= contentLimit; ++i) {
        const Object& named = dict->getValNF(i);
        if (named.isRef() && !seen.insert(named.getRef()).second)
            continue;
        const Object form = named.fetch(xref);
        if (!form.isStream() || !form.streamGetDict()->lookup("Subtype").isName("Form"))
            continue;
        addDecoded(form.getStream(), total);
        const Object inner = form.streamGetDict()->lookup("Resources");
        addForms(xref, inner.isDict() ? inner.getDict() : nullptr, seen, total, depth + 1);
    }
}

// Whether `resources`, or those of the forms they name, hold an image.
bool holdsPictures(XRef* xref, Dict* resources, std::set<Ref>& seen, int depth)
{
    if (!resources || depth > 8)
        return false;
    const Object objects = resources->lookup("XObject");
    if (!objects.isDict())
        return false;
    Dict* dict = objects.getDict();
    for (int i = 0; i < dict->getLength(); ++i) {
        const Object& named = dict->getValNF(i);
        if (named.isRef() && !seen.insert(named.getRef()).second)
            continue;
        const Object object = named.fetch(xref);
        if (!object.isStream())
            continue;
        const Object subtype = object.streamGetDict()->lookup("Subtype");
        if (subtype.isName("Image"))
            return true;
        if (!subtype.isName("Form"))
            continue;
        const Object inner = object.streamGetDict()->lookup("Resources");
        if (holdsPictures(xref, inner.isDict() ? inner.getDict() : nullptr, seen, depth + 1))
            return true;
    }
    return false;
}

void requireBoundedContent(PDFDoc& document, int number)
{
    Page* page = document.getPage(number);
    if (!page)
        return;
    long long total = 0;
    const Object contents = page->getContents();
    if (contents.isStream()) {
        addDecoded(contents.getStream(), total);
    } else if (contents.isArray()) {
        for (int i = 0; i < contents.arrayGetLength() && total <= contentLimit; ++i) {
            const Object part = contents.arrayGet(i);
            if (part.isStream())
                addDecoded(part.getStream(), total);
        }
    }
    std::set<Ref> seen;
    addForms(document.getXRef(), page->getResourceDict(), seen, total, 0);
    if (total > contentLimit)
        throw ConversionError::ffmpeg(pageTooLarge);
}

// What opening the form costs poppler, counted before it is opened. Poppler builds a field for
// every place a field is listed, its kids again under each: a field listed twice by its parent,
// whose kid is listed twice, and so on down 25 levels, is 2.5 KB that poppler makes into 33
// million fields (a gigabyte, for minutes). And each field reads its parent's list of kids.
class FormCost {
public:
    explicit FormCost(XRef* xref) : xref_(xref) { }

    // Adds the field listed as `named` and what it holds, as often as poppler would build them.
    void add(const Object& named, int depth = 0)
    {
        if (depth > maxDepth)
            throw ConversionError::ffmpeg(formTooComplex);
        if (!named.isRef()) {
            const Object field = named.fetch(xref_);
            addField(field, depth);
            return;
        }
        const Ref ref = named.getRef();
        // A field met again: its cost is known, and poppler pays it again.
        if (const auto known = costs_.find(ref); known != costs_.end()) {
            addCost(known->second);
            return;
        }
        // Poppler leaves out a kid that is one of its own ancestors.
        if (!onPath_.insert(ref).second)
            return;
        const Cost before = total_;
        const Object field = named.fetch(xref_);
        addField(field, depth);
        onPath_.erase(ref);
        costs_[ref] = {total_.fields - before.fields, total_.reads - before.reads};
    }

private:
    struct Cost {
        long long fields = 0, reads = 0;
    };
    // No form nests so deep; poppler's walk of it is recursive.
    static constexpr int maxDepth = 64;
    // Real forms have some thousands of fields.
    static constexpr long long fieldLimit = 100'000;

    void addField(const Object& field, int depth)
    {
        if (!field.isDict())
            return;
        Cost own{1, 0};
        if (const Object& parent = field.dictLookupNF("Parent"); parent.isRef()) {
            auto [known, added] = kidsOf_.try_emplace(parent.getRef(), 0);
            if (added) {
                const Object parentField = parent.fetch(xref_);
                const Object parentKids = parentField.isDict() ? parentField.dictLookup("Kids") : Object();
                known->second = parentKids.isArray() ? parentKids.arrayGetLength() : 0;
            }
            own.reads = known->second;
        }
        addCost(own);
        const Object kids = field.dictLookup("Kids");
        for (int i = 0; kids.isArray() && i < kids.arrayGetLength(); ++i)
            add(kids.arrayGetNF(i), depth + 1);
    }

    void addCost(const Cost& cost)
    {
        total_.fields += cost.fields;
        total_.reads += cost.reads;
        if (total_.fields > fieldLimit || total_.reads > formReadLimit)
            throw ConversionError::ffmpeg(formTooComplex);
    }

    XRef* xref_;
    Cost total_;
    std::map<Ref, Cost> costs_;
    std::set<Ref> onPath_;
    std::map<Ref, long long> kidsOf_;
};

void requireReadableForm(PDFDoc& document)
{
    Object* form = document.getCatalog()->getAcroForm();
    if (!form || !form->isDict())
        return;
    const Object fields = form->dictLookup("Fields");
    FormCost cost(document.getXRef());
    for (int i = 0; fields.isArray() && i < fields.arrayGetLength(); ++i)
        cost.add(fields.arrayGetNF(i));
}
}

struct Document::Private {
    std::unique_ptr<PDFDoc> document;
    std::unique_ptr<SplashOutputDev> drawing;
    std::unique_ptr<TextOutputDev> layout;
    // The pages whose content has been measured; a page is drawn in many bands.
    std::set<int> measured;

    void requireBounded(int number)
    {
        if (measured.insert(number).second)
            requireBoundedContent(*document, number);
    }
};

Document::Document(const std::filesystem::path& source) : d(std::make_unique<Private>())
{
    // Poppler's settings live as long as the program.
    static const GlobalParamsIniter settings([](ErrorCategory, Goffset, const char*) {});
    // A page's drawing state makes the colour profiles that every state shares the first time one
    // is made, with no lock: pages started at once on several threads could each make them and
    // free the others', which ends the worker with a double free. One state made here, once,
    // before any page is drawn or read, leaves the later ones only reading them.
    static const bool profilesMade = [] {
        const PDFRectangle box(0, 0, 1, 1);
        const GfxState state(72, 72, &box, 0, true);
        return true;
    }();
    (void)profilesMade;
    d->document = std::make_unique<PDFDoc>(std::make_unique<GooString>(source.c_str()));
    if (!d->document->isOk() && d->document->getErrorCode() == errEncrypted)
        throw ConversionError::ffmpeg(ErrorCauses::password);
    if (!d->document->isOk())
        throw ConversionError::unreadable();
    requireReadableForm(*d->document);
}

Document::~Document() = default;

int Document::pageCount() const { return d->document->getNumPages(); }

std::string Document::text(int number)
{
    if (!d->document->getPage(number))
        return {};
    // Poppler lays a page's text out in the page's own drawing space (the crop box from its
    // corner, the page's rotation applied), so a rectangle in the document's coordinates misses
    // the text of turned or shifted pages; one far larger than any page takes everything.
    // One layout serves every page: each page starts it afresh.
    d->requireBounded(number);
    if (!d->layout)
        d->layout = std::make_unique<TextOutputDev>(nullptr, false, 0, false, false);
    d->document->displayPageSlice(d->layout.get(), number, 72, 72, 0, false, true, false, -1, -1, -1, -1);
    const std::unique_ptr<GooString> text(d->layout->getText(-1e9, -1e9, 1e9, 1e9));
    return text ? text->toStr() : std::string();
}

std::optional<std::pair<double, double>> Document::size(int number, double dpi)
{
    Page* page = d->document->getPage(number);
    if (!page)
        return std::nullopt;
    const bool turned = page->getRotate() % 180 != 0;
    const double scale = dpi / 72;
    const double width = scale * (turned ? page->getCropHeight() : page->getCropWidth());
    const double height = scale * (turned ? page->getCropWidth() : page->getCropHeight());
    return std::pair{width, height};
}

bool Document::drawsPictures(int number)
{
    Page* page = d->document->getPage(number);
    std::set<Ref> seen;
    return page && holdsPictures(d->document->getXRef(), page->getResourceDict(), seen, 0);
}

const unsigned char* Document::drawRows(int number, double dpi, int top, int width, int rows)
{
    d->requireBounded(number);
    if (!d->drawing) {
        SplashColor white = {255, 255, 255};
        d->drawing = std::make_unique<SplashOutputDev>(splashModeRGB8, 1, false, white);
        d->drawing->setFontAntialias(true);
        d->drawing->setVectorAntialias(true);
        d->drawing->setFreeTypeHinting(false, false);
        d->drawing->startDoc(d->document.get());
    }
    d->document->displayPageSlice(d->drawing.get(), number, dpi, dpi, 0, false, true, false, 0, top, width, rows);
    SplashBitmap* bitmap = d->drawing->getBitmap();
    if (!bitmap || bitmap->getWidth() != width || bitmap->getHeight() != rows || bitmap->getRowSize() != width * 3)
        return nullptr;
    return bitmap->getDataPtr();
}

}
