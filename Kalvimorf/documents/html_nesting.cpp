#include "documents/html_nesting.h"

#include <QSet>

#include <vector>

namespace HtmlNesting {

namespace {

bool isVoid(const QString& name)
{
    static const QSet<QString> names = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "param", "source", "track", "wbr", "basefont", "frame", "isindex"};
    return names.contains(name);
}

// Elements whose end tag HTML lets a page leave out: a new one of the same kind (td and th for
// each other) ends the open one inside the same list, table or paragraph's container, as Qt's
// import does, so a page of unclosed paragraphs, items or cells does not pile up.
QString family(const QString& name)
{
    if (name == "th")
        return "td";
    if (name == "dt")
        return "dd";
    return name;
}
bool endsItself(const QString& name)
{
    static const QSet<QString> names = {"p", "li", "dd", "dt", "tr", "td", "th", "option"};
    return names.contains(name);
}
// What the search for the open one of the same kind does not cross.
bool bounds(const QString& family, const QString& name)
{
    static const QSet<QString> containers = {"ul", "ol", "dl", "table", "div", "blockquote", "select", "body", "html"};
    if (containers.contains(name))
        return true;
    if (family == "td")
        return name == "tr";
    if (family == "p")
        return name == "li" || name == "td" || name == "th";
    return false;
}

bool isTablePart(const QString& name)
{
    static const QSet<QString> names = {"tr", "td", "th", "thead", "tbody", "tfoot", "caption", "colgroup", "col"};
    return names.contains(name);
}

// Text whose content is not markup: it runs to its own end tag.
bool isRawText(const QString& name) { return name == "script" || name == "style" || name == "textarea" || name == "title"; }

struct Open {
    QString name;
    bool dropped = false;
};

// How far down the stack an end tag or a self-ending element looks for its match: far enough
// for real mistakes, and a constant, so that a page of stray end tags stays linear.
constexpr size_t reach = 8;

}

QString bounded(const QString& html, int depth, bool* text)
{
    if (text)
        *text = false;
    const auto markText = [text](QStringView piece) {
        if (text && !*text)
            *text = !piece.trimmed().isEmpty();
    };
    QString out;
    out.reserve(html.size());
    std::vector<Open> stack;
    int tables = 0;  // tables open and kept
    int droppedTables = 0;
    const auto popTo = [&](size_t kept) {
        for (size_t i = kept; i < stack.size(); ++i)
            if (stack[i].name == "table")
                --(stack[i].dropped ? droppedTables : tables);
        stack.resize(kept);
    };
    const qsizetype size = html.size();
    qsizetype at = 0;
    while (at < size) {
        const qsizetype lt = html.indexOf('<', at);
        if (lt < 0) {
            out += QStringView(html).mid(at);
            markText(QStringView(html).mid(at));
            break;
        }
        out += QStringView(html).mid(at, lt - at);
        markText(QStringView(html).mid(at, lt - at));
        // Comments, declarations and processing instructions pass as they are.
        if (html.mid(lt, 4) == "<!--") {
            const qsizetype end = html.indexOf("-->", lt + 4);
            const qsizetype stop = end < 0 ? size : end + 3;
            out += QStringView(html).mid(lt, stop - lt);
            at = stop;
            continue;
        }
        qsizetype nameStart = lt + 1;
        const bool closing = nameStart < size && html[nameStart] == '/';
        if (closing)
            ++nameStart;
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && (html[nameEnd].isLetterOrNumber() || html[nameEnd] == '-' || html[nameEnd] == ':'))
            ++nameEnd;
        if (nameEnd == nameStart || !html[nameStart].isLetter()) {
            // "<" that starts no tag, or "<!DOCTYPE", "<?xml": up to its ">" unchanged.
            const bool declaration = !closing && nameStart < size && (html[nameStart] == '!' || html[nameStart] == '?');
            if (!declaration) {
                out += '<';
                markText(u"<");
                at = lt + 1;
                continue;
            }
        }
        // The tag's end, quotes respected.
        qsizetype end = nameEnd;
        QChar quote;
        for (; end < size; ++end) {
            const QChar c = html[end];
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        const qsizetype stop = end < size ? end + 1 : size;
        const QStringView tag = QStringView(html).mid(lt, stop - lt);
        const QString name = html.mid(nameStart, nameEnd - nameStart).toLower();
        at = stop;
        if (name.isEmpty()) {
            out += tag;
            continue;
        }
        if (closing) {
            // The nearest open element of that name within reach ends, with any inside it; an
            // end tag that ends nothing is Qt's to ignore.
            bool dropped = false;
            for (size_t back = 0; back < std::min(reach, stack.size()); ++back) {
                const Open& open = stack[stack.size() - 1 - back];
                if (open.name != name)
                    continue;
                dropped = open.dropped;
                popTo(stack.size() - 1 - back);
                break;
            }
            if (!dropped)
                out += tag;
            continue;
        }
        if (endsItself(name)) {
            const QString kind = family(name);
            for (size_t back = 0; back < std::min(reach, stack.size()); ++back) {
                const QString& open = stack[stack.size() - 1 - back].name;
                if (family(open) == kind) {
                    popTo(stack.size() - 1 - back);
                    break;
                }
                if (bounds(kind, open))
                    break;
            }
        }
        // Inside a table left out, its rows and cells go too.
        const bool partOfDropped = droppedTables > 0 && isTablePart(name);
        const bool selfClosed = tag.size() >= 2 && tag[tag.size() - 2] == '/';
        if (isVoid(name) || selfClosed) {
            if (!partOfDropped)
                out += tag;
            continue;
        }
        const bool dropped = partOfDropped || stack.size() >= size_t(depth) || (name == "table" && tables >= deepestTables);
        stack.push_back({name, dropped});
        // The text of cells left out stays apart.
        if (partOfDropped)
            out += ' ';
        if (name == "table")
            ++(dropped ? droppedTables : tables);
        if (!dropped)
            out += tag;
        if (isRawText(name)) {
            // Its content up to its end tag, which the next round reads.
            const qsizetype close = html.indexOf("</" + name, at, Qt::CaseInsensitive);
            const qsizetype contentEnd = close < 0 ? size : close;
            // Qt's import reads a "<" inside a script or a style sheet in the body as a tag, which
            // swallowed the rest of the page. A script is never text; in a style sheet "<" can
            // only stand in a string or a comment, where CSS's own escape means the same.
            if (name == "style")
                out += QStringView(html).mid(at, contentEnd - at).toString().replace('<', "\\3c ");
            else if (name != "script")
                out += QStringView(html).mid(at, contentEnd - at);
            at = contentEnd;
        }
    }
    return out;
}

}
