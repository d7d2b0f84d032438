#include "documents/markdown.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

#include <map>

namespace Markdown {

namespace {

using RX = QRegularExpression;

QString escaped(QString text) { return text.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;"); }

bool isLineBreak(QChar c)
{
    const auto u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// Every line-break character ends a line by itself, so "\r\n" leaves an empty line between.
QStringList lines(const QString& text)
{
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineBreak(text[i])) {
            result << text.mid(start, i - start);
            start = i + 1;
        }
    }
    result << text.mid(start);
    return result;
}

struct HTMLWriter {
    QString out;
    QStringList paragraph;
    QString list;  // "", "ul" or "ol"

    void flush()
    {
        if (paragraph.isEmpty())
            return;
        out += "<p>" + inlineMarkup(paragraph.join(' ')) + "</p>\n";
        paragraph.clear();
    }
    void closeList()
    {
        if (!list.isEmpty())
            out += "</" + list + ">\n";
        list.clear();
    }
    void openList(const QString& name)
    {
        if (list == name)
            return;
        closeList();
        out += "<" + name + ">\n";
        list = name;
    }
};

const RX& rx(const char* pattern)
{
    // Each pattern is compiled once per thread that uses it; the patterns are fixed texts.
    thread_local std::map<const char*, RX> cache;
    auto found = cache.find(pattern);
    if (found == cache.end())
        found = cache.emplace(pattern, RX(QString::fromUtf8(pattern), RX::UseUnicodePropertiesOption)).first;
    return found->second;
}

bool isBlank(const QString& text) { return text.trimmed().isEmpty(); }

// Styled text sizes: the size the importer recorded, else the document's.
double pointSize(const QTextCharFormat& format, const QTextDocument& document)
{
    if (format.hasProperty(QTextFormat::FontPointSize))
        return format.fontPointSize();
    const double fallback = document.defaultFont().pointSizeF();
    return fallback > 0 ? fallback : 12;
}

bool isBold(const QTextCharFormat& format) { return format.fontWeight() >= QFont::DemiBold; }

double mostCommonFontSize(const QTextDocument& document)
{
    std::map<double, qsizetype> lengths;
    for (auto block = document.begin(); block != document.end(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            lengths[pointSize(it.fragment().charFormat(), document)] += it.fragment().length();
    double best = 12;
    qsizetype bestLength = -1;
    for (const auto& [size, length] : lengths) {
        if (length > bestLength) {
            best = size;
            bestLength = length;
        }
    }
    return best;
}

// Whitespace as the source platform trims it: blanks and line breaks at both ends.
QString trimmedAll(const QString& text) { return text.trimmed(); }

// A link: its text, and its address, which may hold parentheses in pairs
// ("https://pt.wikipedia.org/wiki/Lua_(satélite)").
const char* const linkPattern = "\\[([^\\]]+)\\]\\(((?:[^()]|\\([^()]*\\))+)\\)";
// A picture is a link behind "!"; only its text is kept.
const char* const imagePattern = "!\\[([^\\]]*)\\]\\(((?:[^()]|\\([^()]*\\))+)\\)";

// Stands in for addresses while emphasis is applied: a private-use mark around the address's
// number, which no rule matches, and which nothing of the source can forge into a real address.
class AddressKeeper {
public:
    QString keepLinks(const QString& text)
    {
        return replaced(text, rx(linkPattern), [this](const QRegularExpressionMatch& match) {
            return "<a href=\"" + keep(match.captured(2)) + "\">" + match.captured(1) + "</a>";
        });
    }
    // A backslash before punctuation writes that character as it is (escaped by now).
    QString keepEscapes(const QString& text)
    {
        return replaced(
            text, rx("\\\\(&lt;|&gt;|&amp;|[!-/:-@\\[-`{-~])"), [this](const QRegularExpressionMatch& match) {
                return keep(match.captured(1));
            });
    }
    // Addresses in the text, an autolink's between "<" and ">" among them (escaped by now).
    QString keepBare(const QString& text)
    {
        return replaced(text, rx("\\b(?:https?|ftp)://(?:[^\\s\"&]|&amp;)+"), [this](const QRegularExpressionMatch& match) {
            return keep(match.captured(0));
        });
    }
    QString restore(const QString& text) const
    {
        return replaced(text, rx("\\x{E000}(\\d+)\\x{E001}"), [this](const QRegularExpressionMatch& match) {
            const qsizetype index = match.captured(1).toLongLong();
            return index < kept_.size() ? kept_[index] : match.captured(0);
        });
    }

private:
    QStringList kept_;

    QString keep(const QString& address)
    {
        kept_ << address;
        return QChar(0xE000) + QString::number(kept_.size() - 1) + QChar(0xE001);
    }
    template <typename Make> static QString replaced(const QString& text, const RX& pattern, const Make& make)
    {
        QString out;
        qsizetype at = 0;
        for (auto it = pattern.globalMatch(text); it.hasNext();) {
            const auto match = it.next();
            out += text.mid(at, match.capturedStart() - at) + make(match);
            at = match.capturedEnd();
        }
        return out + text.mid(at);
    }
};

}

QString inlineMarkup(const QString& text)
{
    AddressKeeper addresses;
    QString result = addresses.keepEscapes(escaped(text));
    result.replace(rx("`([^`]+)`"), "<code>\\1</code>");
    result.replace(rx(imagePattern), "\\1");
    // Addresses, a link's and those written out in the text, are set aside while emphasis is
    // applied: "https://example.org/_draft_/x" keeps its underscores.
    result = addresses.keepLinks(result);
    result = addresses.keepBare(result);
    result.replace(rx("\\*\\*([^*]+)\\*\\*"), "<b>\\1</b>");
    result.replace(rx("__([^_]+)__"), "<b>\\1</b>");
    result.replace(rx("(?<![\\w*])\\*([^*]+)\\*(?![\\w*])"), "<i>\\1</i>");
    result.replace(rx("(?<![\\w_])_([^_]+)_(?![\\w_])"), "<i>\\1</i>");
    result.replace(rx("~~([^~]+)~~"), "<s>\\1</s>");
    return addresses.restore(result);
}

QString toHTML(const QString& markdown)
{
    HTMLWriter w;
    bool inCode = false;
    for (const QString& line : lines(markdown)) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith("```")) {
            w.flush();
            w.closeList();
            w.out += inCode ? "</code></pre>\n" : "<pre><code>";
            inCode = !inCode;
            continue;
        }
        if (inCode) {
            w.out += escaped(line) + "\n";
            continue;
        }
        if (trimmed.isEmpty()) {
            w.flush();
            w.closeList();
            continue;
        }
        if (auto m = rx("^#{1,6} ").match(trimmed); m.hasMatch()) {
            w.flush();
            w.closeList();
            const QString level = QString::number(m.capturedLength() - 1);
            w.out += "<h" + level + ">" + inlineMarkup(trimmed.mid(m.capturedLength())) + "</h" + level + ">\n";
            continue;
        }
        if (rx("^(-{3,}|\\*{3,}|_{3,})$").match(trimmed).hasMatch()) {
            w.flush();
            w.closeList();
            w.out += "<hr>\n";
            continue;
        }
        if (trimmed.startsWith('>')) {
            w.flush();
            w.closeList();
            w.out += "<blockquote>" + inlineMarkup(trimmed.mid(1).trimmed()) + "</blockquote>\n";
            continue;
        }
        if (auto m = rx("^[-*+] ").match(trimmed); m.hasMatch()) {
            w.flush();
            w.openList("ul");
            w.out += "<li>" + inlineMarkup(trimmed.mid(m.capturedLength())) + "</li>\n";
            continue;
        }
        if (auto m = rx("^\\d+[.)] ").match(trimmed); m.hasMatch()) {
            w.flush();
            w.openList("ol");
            w.out += "<li>" + inlineMarkup(trimmed.mid(m.capturedLength())) + "</li>\n";
            continue;
        }
        w.closeList();
        w.paragraph << trimmed;
    }
    w.flush();
    w.closeList();
    if (inCode)
        w.out += "</code></pre>\n";
    return w.out;
}

QString fromAttributed(const QTextDocument& document)
{
    const double base = mostCommonFontSize(document);
    QString md;
    for (auto block = document.begin(); block != document.end(); block = block.next()) {
        const QString text = block.text();
        if (text.isEmpty() || isBlank(text)) {
            if (!md.isEmpty() && !md.endsWith("\n\n"))
                md += "\n";
            continue;
        }
        const QTextCharFormat first
            = block.begin().atEnd() ? block.charFormat() : block.begin().fragment().charFormat();
        const double size = pointSize(first, document);
        QString prefix;
        bool heading = false;
        bool listItem = false;
        if (const QTextList* list = block.textList()) {
            listItem = true;
            const int depth = std::max(1, list->format().indent());
            prefix = QString("  ").repeated(depth - 1)
                + (list->format().style() == QTextListFormat::ListDecimal ? "1. " : "- ");
        } else if (size >= 1.6 * base) {
            prefix = "# ";
            heading = true;
        } else if (size >= 1.3 * base) {
            prefix = "## ";
            heading = true;
        } else if (size >= 1.12 * base && isBold(first)) {
            prefix = "### ";
            heading = true;
        }

        QString body;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            // A picture stands in the text as one object character: Markdown has no place for it.
            // Markup characters in the text stay text.
            QString run
                = fragment.text().remove(QChar::ObjectReplacementCharacter).replace('<', "\\<").replace('>', "\\>");
            if (run.isEmpty())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const QString core = run.trimmed();
            if (!heading && !core.isEmpty()) {
                const bool bold = isBold(format);
                const bool italic = format.fontItalic();
                const QString marker = bold && italic ? "***" : bold ? "**" : italic ? "*" : "";
                if (!marker.isEmpty())
                    run.replace(core, marker + core + marker);
            }
            const QString href = format.isAnchor() ? format.anchorHref() : QString();
            if (!href.isEmpty())
                run = "[" + run + "](" + QString(href).replace('(', "%28").replace(')', "%29").replace(' ', "%20")
                    + ")";
            body += run;
        }

        if (listItem) {
            body.remove(rx("^\\t?[^\\t]{0,6}\\t"));
        } else if (auto m = rx("^\\t?[•◦▪‣⁃·\\-–]\\t").match(body); m.hasMatch()) {
            body.remove(0, m.capturedLength());
            prefix = "- ";
            listItem = true;
        } else if (auto n = rx("^\\t?\\d+[.)]?\\t").match(body); n.hasMatch()) {
            QString digits;
            for (QChar c : n.captured())
                if (c.isDigit())
                    digits += c;
            body.remove(0, n.capturedLength());
            prefix = digits + ". ";
            listItem = true;
        }

        // Consecutive items stand on consecutive lines.
        if (listItem && md.endsWith("\n\n") && md.size() >= 3) {
            const QStringList written = md.chopped(2).split('\n', Qt::SkipEmptyParts);
            const QString last = written.isEmpty() ? QString() : written.back();
            if (last.startsWith("- ") || (!last.isEmpty() && last[0].isDigit()))
                md.chop(1);
        }
        md += prefix + trimmedAll(body) + "\n\n";
    }
    return trimmedAll(md) + "\n";
}

}
