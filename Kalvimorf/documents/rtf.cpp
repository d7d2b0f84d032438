#include "documents/rtf.h"

#include "documents/budget.h"

#include <QStringDecoder>

#include <cmath>
#include <set>
#include <unordered_map>
#include <utility>

namespace Rtf {

using namespace StyledText;

namespace {

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24;
    QString href;
};

struct Group {
    CharState chars;
    bool skip = false;
    bool instruction = false;  // inside a field instruction: its text is kept apart
    bool startsInstruction = false;
    // Inside the marker text of a list item ("1." and a tab, "•" and a tab).
    bool marker = false;
    bool startsMarker = false;
    int uc = 1;
};

const std::set<std::string_view>& skippedDestinations()
{
    static const std::set<std::string_view> names = {"fonttbl", "colortbl", "stylesheet", "info", "pict", "header",
        "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "object", "themedata",
        "colorschememapping", "datastore", "latentstyles", "listtable", "listoverridetable", "rsidtbl", "generator",
        "xmlnstbl", "mmathPr", "pntxta", "pntxtb", "bkmkstart", "bkmkend", "annotation", "atnid", "atnauthor",
        "nonshppict", "shpinst", "sp", "filetbl", "revtbl", "userprops", "template", "docvar", "private", "objdata",
        "blipuid", "fldtype", "wgrffmtfilter", "pgdsctbl"};
    return names;
}

class Reader {
public:
    Reader(std::string_view bytes, const Nesting& nesting) : in_(bytes), nesting_(nesting) { }

    Document run()
    {
        groups_.push_back({});
        while (pos_ < in_.size()) {
            const char c = in_[pos_++];
            if (c == '{') {
                flushBytes();
                budget_.spend(Budget::levelCost);
                nesting_.check(groups_.size(), 0);
                Group next = groups_.back();
                next.startsInstruction = false;
                next.startsMarker = false;
                groups_.push_back(next);
                // "{\*\dest" is a destination a reader may ignore when it does not know it.
                if (in_.substr(pos_, 2) == "\\*")
                    pendingIgnorable_ = true;
            } else if (c == '}') {
                flushBytes();
                endGroup();
            } else if (c == '\\') {
                controlWord();
            } else if (c == '\r' || c == '\n') {
                continue;
            } else {
                byte(c);
            }
        }
        flushBytes();
        if (!paragraph_.runs.empty())
            endParagraph();
        flushTable();
        return std::move(document_);
    }

private:
    Group& group() { return groups_.back(); }

    void endGroup()
    {
        if (groups_.size() <= 1)
            return;
        const Group ended = groups_.back();
        groups_.pop_back();
        budget_.refund(Budget::levelCost);
        if (ended.startsMarker) {
            // The item's marker tells a numbered list from a bulleted one.
            const QString marker = markerText_.trimmed();
            paragraph_.listLevel = std::max(paragraph_.listLevel, 1);
            paragraph_.ordered = !marker.isEmpty() && marker[0].isDigit();
            markerText_.clear();
        }
        if (ended.startsInstruction) {
            const auto start = instructionText_.indexOf("HYPERLINK");
            if (start >= 0) {
                QString rest = instructionText_.mid(start + 9).trimmed();
                QString target;
                if (rest.startsWith('"'))
                    target = rest.mid(1, rest.indexOf('"', 1) - 1);
                else
                    target = rest.section(' ', 0, 0);
                group().chars.href = target;
            }
            instructionText_.clear();
        }
    }

    void byte(char c)
    {
        if (skipCount_ > 0) {
            --skipCount_;
            return;
        }
        if (group().skip)
            return;
        bytes_ += c;
    }

    void flushBytes()
    {
        if (bytes_.isEmpty())
            return;
        const QString text = decoder_.isValid() ? decoder_.decode(bytes_) : QString::fromLatin1(bytes_);
        bytes_.clear();
        appendText(text);
    }

    void appendText(const QString& text)
    {
        if (group().skip || text.isEmpty())
            return;
        if (group().instruction) {
            instructionText_ += text;
            return;
        }
        if (group().marker) {
            markerText_ += text;
            return;
        }
        budget_.spend(Budget::runCost + size_t(text.size()) * sizeof(QChar) * 2);
        const CharState& c = group().chars;
        Run run;
        run.text = text;
        run.bold = c.bold;
        run.italic = c.italic;
        run.underline = c.underline;
        run.size = c.halfPoints == 24 ? 0 : c.halfPoints / 2.0;
        run.href = c.href;
        paragraph_.append(std::move(run));
    }

    void special(const QString& text)
    {
        flushBytes();
        if (skipCount_ > 0) {
            --skipCount_;
            return;
        }
        appendText(text);
    }

    void endParagraph()
    {
        flushBytes();
        budget_.spend(Budget::paragraphCost);
        if (inTable_) {
            cell_.push_back(std::move(paragraph_));
        } else {
            flushTable();
            document_.blocks.push_back({std::move(paragraph_), nullptr});
        }
        paragraph_ = {};
        paragraph_.listLevel = listLevel_;
        paragraph_.ordered = ordered_;
    }

    void flushTable()
    {
        if (!cell_.empty() || !row_.empty()) {
            if (!cell_.empty())
                row_.push_back(std::move(cell_));
            table_ = table_ ? table_ : std::make_shared<Table>();
            table_->rows.push_back(std::move(row_));
            cell_ = {};
            row_ = {};
        }
        if (table_)
            document_.blocks.push_back({{}, std::move(table_)});
        table_ = nullptr;
    }

    void controlWord()
    {
        if (pos_ >= in_.size())
            return;
        const char c = in_[pos_];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            switch (c) {
            case '\\':
            case '{':
            case '}':
                if (skipCount_ > 0) {
                    --skipCount_;
                    return;
                }
                byte(c);
                return;
            case '\'': {
                const auto hex = in_.substr(pos_, 2);
                pos_ += hex.size();
                bool ok = false;
                const int value = QString::fromLatin1(hex.data(), qsizetype(hex.size())).toInt(&ok, 16);
                if (ok)
                    byte(char(value));
                return;
            }
            case '~': special(QString(QChar(0xA0))); return;
            case '_': special(QString(QChar(0x2011))); return;
            case '*': return;
            case '\n':
            case '\r': paragraphMark(); return;
            case '\t': special("\t"); return;
            default: return;
            }
        }
        const size_t start = pos_;
        while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_])))
            ++pos_;
        const std::string_view word = in_.substr(start, pos_ - start);
        std::optional<int> param;
        const size_t numberStart = pos_;
        if (pos_ < in_.size() && in_[pos_] == '-')
            ++pos_;
        while (pos_ < in_.size() && std::isdigit(static_cast<unsigned char>(in_[pos_])) && pos_ - numberStart < 11)
            ++pos_;
        if (pos_ > numberStart && !(pos_ == numberStart + 1 && in_[numberStart] == '-')) {
            const long value
                = std::strtol(std::string(in_.substr(numberStart, pos_ - numberStart)).c_str(), nullptr, 10);
            param = int(std::clamp<long>(value, -2147483647L, 2147483647L));
        } else {
            pos_ = numberStart;
        }
        if (pos_ < in_.size() && in_[pos_] == ' ')
            ++pos_;
        // A paragraph's depth in tables nested in cells, which we flatten but the suite lays out.
        if (word == "itap" && param && *param > 0)
            nesting_.check(0, size_t(*param));
        apply(word, param);
    }

    void paragraphMark()
    {
        if (group().skip)
            return;
        endParagraph();
    }

    void apply(std::string_view word, std::optional<int> value)
    {
        if (std::exchange(pendingIgnorable_, false) && !readsIgnorable(word))
            return;
        if (skippedDestinations().count(word)) {
            group().skip = true;
            return;
        }
        if (const auto symbol = symbols().find(word); symbol != symbols().end()) {
            if (!group().skip)
                special(QString(QChar(symbol->second)));
            return;
        }
        const auto found = words().find(word);
        if (found == words().end())
            return;
        const Word& known = found->second;
        if ((known.needsValue && !value) || (group().skip && known.where == Where::shownText))
            return;
        act(known.control, value);
    }

    // After "\*": field instructions and results are read, the old-style numbering group describes
    // this paragraph, anything else is skipped whole.
    bool readsIgnorable(std::string_view word)
    {
        if (word == "fldinst" || word == "fldrslt")
            return true;
        if (word == "pn") {
            listLevel_ = std::max(listLevel_, 1);
            paragraph_.listLevel = listLevel_;
        }
        group().skip = true;
        return false;
    }

    // Words that stand for one character.
    static const std::unordered_map<std::string_view, char16_t>& symbols()
    {
        static const std::unordered_map<std::string_view, char16_t> table = {{"line", QChar::LineSeparator},
            {"tab", u'\t'}, {"emdash", 0x2014}, {"endash", 0x2013}, {"bullet", 0x2022}, {"lquote", 0x2018},
            {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D}};
        return table;
    }

    enum class Control {
        listMarker,
        fieldInstruction,
        bulleted,
        numbered,
        numberingLevel,
        unicode,
        paragraph,
        plainParagraph,
        plainCharacters,
        bold,
        italic,
        underline,
        noUnderline,
        fontSize,
        unicodeSkip,
        codePage,
        inTable,
        cell,
        row,
        listStyle,
        listLevel,
        paperWidth,
        paperHeight,
        marginLeft,
        marginRight,
        marginTop,
        marginBottom,
    };
    // Numbering properties, list markers and field instructions come inside groups whose own
    // text is skipped; the rest only counts in text that shows.
    enum class Where { shownText, anywhere };
    struct Word {
        Control control;
        Where where;
        bool needsValue;
    };

    static const std::unordered_map<std::string_view, Word>& words()
    {
        using enum Control;
        constexpr auto anywhere = Where::anywhere, shown = Where::shownText;
        static const std::unordered_map<std::string_view, Word> table = {
            {"listtext", {listMarker, anywhere, false}},
            {"pntext", {listMarker, anywhere, false}},
            {"fldinst", {fieldInstruction, anywhere, false}},
            {"pnlvlblt", {bulleted, anywhere, false}},
            {"pnlvlbody", {numbered, anywhere, false}},
            {"pndec", {numbered, anywhere, false}},
            {"pnlvl", {numberingLevel, anywhere, true}},
            {"u", {unicode, anywhere, true}},
            {"par", {paragraph, shown, false}},
            {"pard", {plainParagraph, shown, false}},
            {"plain", {plainCharacters, shown, false}},
            {"b", {bold, shown, false}},
            {"i", {italic, shown, false}},
            {"ul", {underline, shown, false}},
            {"ulnone", {noUnderline, shown, false}},
            {"fs", {fontSize, shown, true}},
            {"uc", {unicodeSkip, shown, true}},
            {"ansicpg", {codePage, shown, true}},
            {"intbl", {inTable, shown, false}},
            {"cell", {cell, shown, false}},
            {"row", {row, shown, false}},
            {"ls", {listStyle, shown, false}},
            {"ilvl", {listLevel, shown, false}},
            {"paperw", {paperWidth, shown, true}},
            {"paperh", {paperHeight, shown, true}},
            {"margl", {marginLeft, shown, true}},
            {"margr", {marginRight, shown, true}},
            {"margt", {marginTop, shown, true}},
            {"margb", {marginBottom, shown, true}},
        };
        return table;
    }

    // `value` is there for the words that need one.
    void act(Control control, std::optional<int> value)
    {
        switch (control) {
        case Control::listMarker: startMarker(); return;
        case Control::fieldInstruction: startInstruction(); return;
        case Control::bulleted: ordered_ = paragraph_.ordered = false; return;
        case Control::numbered: ordered_ = paragraph_.ordered = true; return;
        case Control::numberingLevel: listLevel_ = paragraph_.listLevel = std::clamp(*value, 1, 9); return;
        case Control::unicode: unicode(*value); return;
        case Control::paragraph: paragraphMark(); return;
        case Control::plainParagraph: plainParagraph(); return;
        case Control::plainCharacters: {
            CharState& chars = characters();
            chars = {.href = chars.href};
            return;
        }
        case Control::bold: characters().bold = isOn(value); return;
        case Control::italic: characters().italic = isOn(value); return;
        case Control::underline: characters().underline = isOn(value); return;
        case Control::noUnderline: characters().underline = false; return;
        case Control::fontSize:
            if (*value > 0)
                characters().halfPoints = std::min(*value, 3276);
            return;
        case Control::unicodeSkip: group().uc = std::clamp(*value, 0, 10); return;
        case Control::codePage: codePage(*value); return;
        case Control::inTable: inTable_ = true; return;
        case Control::cell: endCell(); return;
        case Control::row: endRow(); return;
        case Control::listStyle: setListLevel(std::max(listLevel_, 1)); return;
        case Control::listLevel: setListLevel(value ? std::clamp(*value + 1, 1, 9) : listLevel_); return;
        case Control::paperWidth: paper(&PageSetup::width, *value); return;
        case Control::paperHeight: paper(&PageSetup::height, *value); return;
        case Control::marginLeft: margin(&PageSetup::left, *value); return;
        case Control::marginRight: margin(&PageSetup::right, *value); return;
        case Control::marginTop: margin(&PageSetup::top, *value); return;
        case Control::marginBottom: margin(&PageSetup::bottom, *value); return;
        }
    }

    // A toggle word without a value, or with any but 0, turns its property on.
    static bool isOn(std::optional<int> value) { return !value || *value != 0; }

    // The current characters, once the text before the change is out.
    CharState& characters()
    {
        flushBytes();
        return group().chars;
    }

    void startMarker()
    {
        flushBytes();
        group().marker = group().startsMarker = true;
    }

    void startInstruction()
    {
        flushBytes();
        group().instruction = group().startsInstruction = true;
    }

    void unicode(int code)
    {
        flushBytes();
        if (!group().skip)
            appendText(QString(QChar(char16_t(code < 0 ? code + 65536 : code))));
        skipCount_ = group().uc;
    }

    void codePage(int number)
    {
        QStringDecoder decoder(QString("windows-%1").arg(number).toLatin1().constData());
        if (decoder.isValid())
            decoder_ = std::move(decoder);
    }

    void plainParagraph()
    {
        flushBytes();
        inTable_ = false;
        listLevel_ = 0;
        ordered_ = false;
        paragraph_.listLevel = 0;
        paragraph_.ordered = false;
    }

    void setListLevel(int level)
    {
        listLevel_ = level;
        paragraph_.listLevel = listLevel_;
    }

    void endCell()
    {
        flushBytes();
        budget_.spend(Budget::paragraphCost);
        if (!paragraph_.runs.empty() || cell_.empty())
            cell_.push_back(std::move(paragraph_));
        paragraph_ = {};
        row_.push_back(std::move(cell_));
        cell_ = {};
    }

    void endRow()
    {
        table_ = table_ ? table_ : std::make_shared<Table>();
        table_->rows.push_back(std::move(row_));
        row_ = {};
    }

    // Sizes come in twips.
    void paper(double PageSetup::*side, int twips)
    {
        page_.*side = twips / 20.0;
        hasPaper_ = true;
        document_.page = paperOrNothing();
    }

    void margin(double PageSetup::*side, int twips)
    {
        page_.*side = std::abs(twips) / 20.0;
        document_.page = paperOrNothing();
    }

    std::optional<PageSetup> paperOrNothing() const
    {
        if (!hasPaper_ || page_.width <= 100 || page_.height <= 100)
            return std::nullopt;
        return page_;
    }

    std::string_view in_;
    const Nesting nesting_;
    size_t pos_ = 0;
    // Each byte of RTF can open a group or end a paragraph, which cost far more once built.
    Budget budget_;
    std::vector<Group> groups_;
    QByteArray bytes_;
    QStringDecoder decoder_{"windows-1252"};
    int skipCount_ = 0;
    bool pendingIgnorable_ = false;
    QString instructionText_;
    QString markerText_;
    Paragraph paragraph_;
    int listLevel_ = 0;
    bool ordered_ = false;
    bool inTable_ = false;
    std::vector<Paragraph> cell_;
    std::vector<std::vector<Paragraph>> row_;
    std::shared_ptr<Table> table_;
    Document document_;
    PageSetup page_{0, 0};
    bool hasPaper_ = false;
};

QString twips(double points) { return QString::number(std::lround(points * 20)); }

QString escapeText(const QString& text)
{
    QString out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}')
            out += QString("\\") + c;
        else if (u == '\t')
            out += "\\tab ";
        else if (u == QChar::LineSeparator || u == '\n')
            out += "\\line ";
        else if (u == '\r' || (u < 0x20))
            continue;
        else if (u < 0x80)
            out += c;
        else
            out += "\\u" + QString::number(int16_t(u)) + "?";
    }
    return out;
}

// As RTF readers take a picture: its bytes in hexadecimal, with the size in pixels and the size
// shown in twips.
QString pictureText(const Picture& picture)
{
    const auto kept = stored(picture);
    if (!kept)
        return {};
    QString out = QString("{\\pict%1\\picw%2\\pich%3\\picwgoal%4\\pichgoal%5\n")
                      .arg(QString(kept->jpeg ? "\\jpegblip" : "\\pngblip"), QString::number(kept->pixelWidth),
                          QString::number(kept->pixelHeight), twips(kept->width), twips(kept->height));
    const QByteArray hex = kept->bytes.toHex();
    for (qsizetype at = 0; at < hex.size(); at += 128)
        out += QLatin1String(hex.mid(at, 128)) + "\n";
    return out + "}";
}

QString runText(const Run& run)
{
    if (run.picture)
        return pictureText(*run.picture);
    QString properties;
    if (run.bold)
        properties += "\\b";
    if (run.italic)
        properties += "\\i";
    if (run.underline)
        properties += "\\ul";
    if (run.size > 0)
        properties += "\\fs" + QString::number(std::lround(run.size * 2));
    if (properties.isEmpty())
        return escapeText(run.text);
    return "{" + properties + " " + escapeText(run.text) + "}";
}

QString paragraphContent(const Paragraph& paragraph)
{
    QString out;
    for (size_t i = 0; i < paragraph.runs.size();) {
        const QString href = paragraph.runs[i].href;
        if (href.isEmpty()) {
            out += runText(paragraph.runs[i++]);
            continue;
        }
        QString shown;
        for (; i < paragraph.runs.size() && paragraph.runs[i].href == href; ++i)
            shown += runText(paragraph.runs[i]);
        QString target = href;
        target.remove('"');
        out += "{\\field{\\*\\fldinst{HYPERLINK \"" + escapeText(target) + "\"}}{\\fldrslt{\\ul " + shown + "}}}";
    }
    return out;
}

QString paragraphText(const Paragraph& paragraph, int number)
{
    QString out = "\\pard\\plain\\f0\\fs24 ";
    if (paragraph.listLevel > 0) {
        const int level = std::min(paragraph.listLevel, 9);
        const QString marker = paragraph.ordered ? QString::number(number) + "." : "\\u8226?";
        out += QString("{\\pntext %1\\tab}{\\*\\pn%2\\pnindent360%3}\\ilvl%4\\fi-360\\li%5 ")
                   .arg(marker, paragraph.ordered ? "\\pnlvlbody\\pndec\\pnstart1" : "\\pnlvlblt",
                       paragraph.ordered ? "{\\pntxta .}" : "{\\pntxtb \\u8226?}", QString::number(level - 1),
                       QString::number(720 * level));
    }
    return out + paragraphContent(paragraph) + "\\par\n";
}

}

bool isRtf(std::string_view bytes) { return bytes.starts_with("{\\rtf"); }

Document read(std::string_view bytes, const Nesting& nesting) { return Reader(bytes, nesting).run(); }

std::string write(const Document& document)
{
    const PageSetup page = document.page.value_or(PageSetup{});
    QString out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss " + escapeText(bodyFontFamily())
        + ";}}\n\\paperw" + twips(page.width) + "\\paperh" + twips(page.height) + "\\margl" + twips(page.left)
        + "\\margr" + twips(page.right) + "\\margt" + twips(page.top) + "\\margb" + twips(page.bottom) + "\n";
    int number = 0;
    for (const auto& block : document.blocks) {
        if (!block.table) {
            number = block.paragraph.listLevel > 0 && block.paragraph.ordered ? number + 1 : 0;
            out += paragraphText(block.paragraph, number);
            continue;
        }
        number = 0;
        size_t columns = 1;
        for (const auto& row : block.table->rows)
            columns = std::max(columns, row.size());
        const double width = (page.width - page.left - page.right) / double(columns);
        for (const auto& row : block.table->rows) {
            out += "\\trowd\\trgaph108";
            for (size_t c = 0; c < columns; ++c)
                out += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx"
                    + twips(width * double(c + 1));
            out += "\n";
            for (size_t c = 0; c < columns; ++c) {
                out += "\\pard\\plain\\intbl\\f0\\fs24 ";
                if (c < row.size())
                    for (size_t p = 0; p < row[c].size(); ++p)
                        out += (p > 0 ? "\\par " : "") + paragraphContent(row[c][p]);
                out += "\\cell\n";
            }
            out += "\\row\n";
        }
        out += "\\pard\n";
    }
    out += "}\n";
    return out.toStdString();
}

}
