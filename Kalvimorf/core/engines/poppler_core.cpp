#include "core/engines/poppler_core.h"

#include "core/base/conversion_error.h"

#include <poppler/GfxState.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/TextOutputDev.h>
#include <poppler/goo/GooString.h>
#include <poppler/splash/SplashBitmap.h>

namespace PopplerCore {

struct Document::Private {
    std::unique_ptr<PDFDoc> document;
    std::unique_ptr<SplashOutputDev> drawing;
    std::unique_ptr<TextOutputDev> layout;
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
    if (!d->document->isOk())
        throw ConversionError::unreadable();
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

const unsigned char* Document::drawRows(int number, double dpi, int top, int width, int rows)
{
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
