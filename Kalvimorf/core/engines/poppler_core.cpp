#include "core/engines/poppler_core.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/job_budget.h"

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

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace PopplerCore {

namespace {

// What one page's content streams, and the forms they draw, may unpack to, each form counted
// once (JobBudget::Limits::pageContent).
const long long contentLimit = (long long)JobBudget::limits().pageContent;

// What drawing one page may cost (JobBudget::pageWork, JobBudget::pageFormWork).
constexpr long long workLimit = JobBudget::pageWork;
constexpr long long perForm = JobBudget::pageFormWork;
// Deeper than any program nests its forms; poppler draws them recursively.
constexpr int deepestForm = 64;

// Poppler looks an inherited field attribute up in the parent for every field, reading the
// parent again each time: a parent of n kids costs n² reads of its kids' list. A form whose
// fields share an unnamed parent by the thousand takes it half a minute to open; this many
// reads take it a few seconds, and real forms of a few hundred fields a parent stay far below.
constexpr long long formReadLimit = 4'000'000;

// What poppler says when a picture's decoder could not start on its data: it then draws nothing
// where the picture stands, and the page would pass for drawn. Set on the thread that draws.
const char* const pictureNotDecoded[] = {"Did no succeed opening JPX Stream.",
    "Could not find start of jpeg data"};
thread_local bool pictureFailed = false;

const char* const pageTooLarge = "O conteúdo de uma página do PDF é grande demais para ser lido.";
const char* const formTooComplex = "O formulário do PDF é complexo demais para ser lido.";

// `a + b` and `a × b` for counts of work, held just past the limit rather than overflowing.
long long plus(long long a, long long b) { return std::min(a + b, workLimit + 1); }
long long times(long long count, long long each)
{
    return each > 0 && count > (workLimit + 1) / each ? workLimit + 1 : std::min(count * each, workLimit + 1);
}

// The names a content stream draws ("/Name Do") and how often, read as poppler reads the
// stream: strings, comments and an inline picture's data hide what looks like an operator.
class DrawnNames {
public:
    void add(const unsigned char* data, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            const unsigned char c = data[i];
            switch (state_) {
            case State::comment:
                if (c == '\n' || c == '\r')
                    state_ = State::normal;
                break;
            case State::string:
                if (escaped_)
                    escaped_ = false;
                else if (c == '\\')
                    escaped_ = true;
                else if (c == '(')
                    ++depth_;
                else if (c == ')' && --depth_ == 0)
                    state_ = State::normal;
                break;
            case State::angle:  // "<<" opens a dictionary, "<" a string in hexadecimal
                state_ = c == '<' || c == '>' ? State::normal : State::hex;
                break;
            case State::hex:
                if (c == '>')
                    state_ = State::normal;
                break;
            case State::picture:
                // The data ends at "EI" between white space.
                if (tail_ == 3 && (space(c) || delimiter(c))) {
                    state_ = State::normal;
                    normal(c);
                    break;
                }
                tail_ = space(c) ? 1 : tail_ == 1 && c == 'E' ? 2 : tail_ == 2 && c == 'I' ? 3 : 0;
                break;
            case State::normal: normal(c); break;
            }
        }
    }

    std::map<std::string, long long> finish()
    {
        endToken();
        return std::move(drawn_);
    }

private:
    enum class State { normal, comment, string, angle, hex, picture };

    static bool space(unsigned char c)
    {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0;
    }
    static bool delimiter(unsigned char c) { return std::strchr("()<>[]{}/%", c) && c; }

    void normal(unsigned char c)
    {
        if (space(c)) {
            endToken();
            return;
        }
        if (!delimiter(c)) {
            // No operator or name a resource is looked up by is this long.
            if (token_.size() < 256)
                token_ += char(c);
            return;
        }
        endToken();
        if (c == '%')
            state_ = State::comment;
        else if (c == '(') {
            state_ = State::string;
            depth_ = 1;
            escaped_ = false;
        } else if (c == '<')
            state_ = State::angle;
        else if (c == '/')
            token_ = "/";
    }

    void endToken()
    {
        if (token_.empty())
            return;
        if (token_[0] == '/') {
            lastName_ = name(token_);
        } else {
            if (token_ == "Do" && lastName_)
                ++drawn_[*lastName_];
            if (token_ == "ID") {
                state_ = State::picture;
                tail_ = 1;
            }
            lastName_.reset();
        }
        token_.clear();
    }

    // A name token as the key it is looked up by: "#xx" is the byte xx.
    static std::string name(const std::string& token)
    {
        std::string key;
        for (size_t i = 1; i < token.size(); ++i) {
            if (token[i] == '#' && i + 2 < token.size() && std::isxdigit((unsigned char)token[i + 1])
                && std::isxdigit((unsigned char)token[i + 2])) {
                key += char(std::stoi(token.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                key += token[i];
            }
        }
        return key;
    }

    State state_ = State::normal;
    std::string token_;
    std::optional<std::string> lastName_;
    std::map<std::string, long long> drawn_;
    int depth_ = 0, tail_ = 0;
    bool escaped_ = false;
};

uint32_t bigEndian(const unsigned char* at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | at[i];
    return value;
}

// The first bytes of a picture's data as its file holds them, when its own coding is its only
// filter: enough for the sizes its headers declare.
std::vector<unsigned char> leadingBytes(Stream* picture)
{
    // The headers a JBIG2 or JPEG 2000 stream starts with before the first picture data.
    constexpr int headerBytes = 4096;
    std::vector<unsigned char> bytes;
    Stream* raw = picture->getNextStream();
    if (!raw || raw != picture->getBaseStream())
        return bytes;
    raw->reset();
    bytes.resize(headerBytes);
    const int got = raw->doGetChars(headerBytes, bytes.data());
    raw->close();
    bytes.resize(size_t(std::max(got, 0)));
    return bytes;
}

// The largest bitmap a JBIG2 stream declares: its page, or a region drawn on it. Each is held
// whole, a bit a pixel. None when poppler would draw nothing of it: its first segment on a page
// is not the page's information (nor are its sizes then to be believed).
std::optional<double> jbig2Pixels(const std::vector<unsigned char>& data)
{
    double largest = 0;
    size_t at = 0;
    bool paged = false;
    // The bytes read hold a few segments' headers; each takes at least eleven.
    while (at + 11 <= data.size()) {
        const uint32_t number = bigEndian(&data[at], 4);
        const unsigned flags = data[at + 4];
        at += 5;
        size_t referred = data[at] >> 5;
        if (referred == 7) {
            if (at + 4 > data.size())
                break;
            referred = bigEndian(&data[at], 4) & 0x1fffffff;
            at += 4 + (referred + 1 + 7) / 8;
        } else {
            at += 1;
        }
        at += referred * (number <= 256 ? 1 : number <= 65536 ? 2 : 4);
        const int pageBytes = (flags & 0x40) ? 4 : 1;
        if (at + size_t(pageBytes) + 4 > data.size())
            break;
        const uint32_t page = bigEndian(&data[at], pageBytes);
        at += size_t(pageBytes);
        const uint32_t length = bigEndian(&data[at], 4);
        at += 4;
        const unsigned type = flags & 0x3f;
        if (page != 0 && !paged && type != 48)
            return std::nullopt;
        paged = paged || page != 0;
        // The page's information, and the regions (text, halftone, generic, refinement), open
        // with a width and a height.
        const bool sized = type == 48 || (type >= 4 && type <= 7) || (type >= 20 && type <= 23)
            || (type >= 36 && type <= 43);
        if (sized && at + 8 <= data.size())
            largest = std::max(largest, double(bigEndian(&data[at], 4)) * bigEndian(&data[at + 4], 4));
        if (length == 0xffffffff || at + length < at)
            break;
        at += length;
    }
    return largest;
}

// The pixels and components a JPEG 2000 codestream declares (its SIZ marker), in a JP2 file or
// bare.
std::pair<double, int> jpxSize(const std::vector<unsigned char>& data)
{
    static const unsigned char siz[] = {0xff, 0x4f, 0xff, 0x51};
    const auto found = std::search(data.begin(), data.end(), std::begin(siz), std::end(siz));
    const size_t at = size_t(found - data.begin()) + 4;
    if (found == data.end() || at + 38 > data.size())
        return {0, 0};
    const double width = double(bigEndian(&data[at + 4], 4)) - bigEndian(&data[at + 12], 4);
    const double height = double(bigEndian(&data[at + 8], 4)) - bigEndian(&data[at + 16], 4);
    return {std::max(width, 0.0) * std::max(height, 0.0), int(bigEndian(&data[at + 36], 2))};
}

// What poppler holds to draw the picture `stream` once: the decoders of JBIG2 and JPEG 2000
// decode it whole before a row is drawn (JBIG2's page and region a bit a pixel each, OpenJPEG
// four bytes a pixel and component), by the sizes the data declares whatever the dictionary
// says; none for a JBIG2 picture poppler would draw nothing of. The other codings are read row
// by row.
std::optional<double> heldToDraw(Stream* stream)
{
    const StreamKind kind = stream->getKind();
    if (kind != strJBIG2 && kind != strJPX)
        return 0;
    Dict* dict = stream->getDict();
    const Object width = dict->lookup("Width"), height = dict->lookup("Height");
    const double declared = width.isInt() && height.isInt() ? double(width.getInt()) * height.getInt() : 0;
    const auto data = leadingBytes(stream);
    if (kind == strJBIG2) {
        const auto pixels = jbig2Pixels(data);
        return pixels ? std::optional(std::max(declared, *pixels) * 2 / 8) : std::nullopt;
    }
    const auto [pixels, components] = jpxSize(data);
    return std::max(declared, pixels) * 4 * std::max(components, 1);
}

// What drawing a page costs poppler, counted before it draws it: what its content streams and
// forms unpack to (each form once: what poppler holds at a time) and the work of drawing them
// (each form as often as it is drawn). Throws the too-large sentence past either limit.
class DrawingWork {
public:
    // `drawing`: the page is to be drawn, its pictures decoded (laying its text out decodes none).
    DrawingWork(XRef* xref, bool drawing) : xref_(xref), drawing_(drawing) { }

    // Whether every picture drawn can be decoded; throws the too-large sentence for a page past
    // the limits.
    bool require(Page& page)
    {
        std::vector<Dict*> resources;
        if (Dict* own = page.getResourceDict())
            resources.push_back(own);
        // Poppler reads the parts of an array of contents as one stream.
        Scan scan;
        DrawnNames names;
        const Object contents = page.getContents();
        if (contents.isStream())
            read(contents.getStream(), names, scan);
        for (int i = 0; contents.isArray() && i < contents.arrayGetLength(); ++i)
            if (const Object part = contents.arrayGet(i); part.isStream())
                read(part.getStream(), names, scan);
        scan.drawn = names.finish();
        const Ref origin = page.getRef();
        long long work = plus(scan.bytes, drawnWork(scan.drawn, resources, origin, 0));
        // Annotations are drawn with the page, each from its appearance (one of its states).
        const Object annotations = page.getAnnotsObject(xref_);
        for (int i = 0; annotations.isArray() && i < annotations.arrayGetLength() && work <= workLimit; ++i) {
            const Object annotation = annotations.arrayGet(i);
            const Object appearance = annotation.isDict() ? annotation.dictLookup("AP") : Object();
            const Object normal = appearance.isDict() ? appearance.dictLookup("N") : Object();
            if (normal.isStream())
                work = plus(work, formWork(appearance.dictLookupNF("N"), resources, origin, 0));
            for (int j = 0; normal.isDict() && j < normal.dictGetLength(); ++j)
                work = plus(work, formWork(normal.dictGetValNF(j), resources, origin, 0));
        }
        if (work > workLimit)
            throw ConversionError::because(pageTooLarge);
        return !blank_;
    }

private:
    struct Scan {
        long long bytes = 0;
        std::map<std::string, long long> drawn;
    };

    void read(Stream* stream, DrawnNames& names, Scan& scan)
    {
        stream->reset();
        unsigned char buffer[65536];
        for (int got; (got = stream->doGetChars(int(sizeof buffer), buffer)) > 0;) {
            names.add(buffer, size_t(got));
            scan.bytes += got;
            if ((decoded_ += got) > contentLimit) {
                stream->close();
                throw ConversionError::because(pageTooLarge);
            }
        }
        stream->close();
    }

    // The work of the names drawn, looked up as poppler looks them up: in the innermost
    // resources first.
    long long drawnWork(
        const std::map<std::string, long long>& drawn, std::vector<Dict*>& resources, Ref origin, int depth)
    {
        long long work = 0;
        for (const auto& [name, count] : drawn) {
            Object named(objNull);
            for (auto it = resources.rbegin(); it != resources.rend() && named.isNull(); ++it)
                if (const Object objects = (*it)->lookup("XObject"); objects.isDict())
                    named = objects.getDict()->lookupNF(name.c_str()).copy();
            work = plus(work, times(count, formWork(named, resources, origin, depth)));
            if (work > workLimit)
                throw ConversionError::because(pageTooLarge);
        }
        return work;
    }

    // Drawing the form `named` once, within `resources` (those of `origin`, the page or the
    // innermost form with resources of its own); nothing for what is no form, and a
    // picture too large to draw throws.
    long long formWork(const Object& named, std::vector<Dict*>& resources, Ref origin, int depth)
    {
        if (!named.isRef())
            return 0;
        const Ref ref = named.getRef();
        // Poppler does not draw a form within itself.
        if (onPath_.count(ref))
            return 0;
        const auto key = std::pair{ref, origin};
        if (const auto known = costs_.find(key); known != costs_.end())
            return known->second;
        if (depth > deepestForm)
            throw ConversionError::because(pageTooLarge);
        const Object form = named.fetch(xref_);
        long long work = 0;
        if (drawing_ && form.isStream() && form.streamGetDict()->lookup("Subtype").isName("Image")) {
            // Poppler draws the page's pictures one at a time: each must fit a picture held whole.
            const auto held = heldToDraw(form.getStream());
            if (!held)
                blank_ = true;
            else if (*held > double(JobBudget::limits().wholePicture))
                throw ConversionError::because(pageTooLarge);
        } else if (form.isStream() && form.streamGetDict()->lookup("Subtype").isName("Form")) {
            auto scan = scans_.find(ref);
            if (scan == scans_.end()) {
                Scan read;
                DrawnNames names;
                this->read(form.getStream(), names, read);
                read.drawn = names.finish();
                scan = scans_.emplace(ref, std::move(read)).first;
            }
            const Object own = form.streamGetDict()->lookup("Resources");
            if (own.isDict())
                resources.push_back(own.getDict());
            onPath_.insert(ref);
            work = plus(perForm + scan->second.bytes,
                drawnWork(scan->second.drawn, resources, own.isDict() ? ref : origin, depth + 1));
            onPath_.erase(ref);
            if (own.isDict())
                resources.pop_back();
        }
        costs_.emplace(key, work);
        return work;
    }

    XRef* xref_;
    const bool drawing_;
    bool blank_ = false;
    long long decoded_ = 0;
    std::map<Ref, Scan> scans_;
    std::map<std::pair<Ref, Ref>, long long> costs_;
    std::set<Ref> onPath_;
};

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

// Whether the page's pictures can all be decoded.
bool requireBoundedContent(PDFDoc& document, int number, bool drawing)
{
    Page* page = document.getPage(number);
    return !page || DrawingWork(document.getXRef(), drawing).require(*page);
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
            throw ConversionError::because(formTooComplex);
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
            throw ConversionError::because(formTooComplex);
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
    // The pages whose content has been measured, for their text and for drawing; a page is drawn
    // in many bands.
    std::set<std::pair<int, bool>> measured;
    // The pages drawing a picture poppler would leave blank.
    std::set<int> blank;

    void requireBounded(int number, bool drawing)
    {
        if (measured.insert({number, drawing}).second && !requireBoundedContent(*document, number, drawing))
            blank.insert(number);
    }
};

Document::Document(const std::filesystem::path& source) : d(std::make_unique<Private>())
{
    // Poppler's settings live as long as the program.
    static const GlobalParamsIniter settings([](ErrorCategory, Goffset, const char* message) {
        for (const char* failed : pictureNotDecoded)
            if (message && std::strcmp(message, failed) == 0)
                pictureFailed = true;
    });
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
        throw ConversionError::because(ErrorCauses::password);
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
    d->requireBounded(number, false);
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
    d->requireBounded(number, true);
    if (d->blank.count(number))
        return nullptr;
    if (!d->drawing) {
        SplashColor white = {255, 255, 255};
        d->drawing = std::make_unique<SplashOutputDev>(splashModeRGB8, 1, false, white);
        d->drawing->setFontAntialias(true);
        d->drawing->setVectorAntialias(true);
        d->drawing->setFreeTypeHinting(false, false);
        d->drawing->startDoc(d->document.get());
    }
    pictureFailed = false;
    d->document->displayPageSlice(d->drawing.get(), number, dpi, dpi, 0, false, true, false, 0, top, width, rows);
    SplashBitmap* bitmap = d->drawing->getBitmap();
    if (pictureFailed || !bitmap || bitmap->getWidth() != width || bitmap->getHeight() != rows || bitmap->getRowSize() != width * 3)
        return nullptr;
    return bitmap->getDataPtr();
}

}
