#include "documents/styled_text.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>

#include <cmath>
#include <map>

namespace StyledText {

QString bodyFontFamily() { return QStringLiteral("Inter"); }

QString Paragraph::text() const
{
    QString result;
    for (const auto& run : runs)
        result += run.text;
    return result;
}

void Paragraph::append(Run run)
{
    if (run.text.isEmpty())
        return;
    if (!runs.empty()) {
        Run probe = runs.back();
        probe.text = run.text;
        if (probe == run) {
            runs.back().text += run.text;
            return;
        }
    }
    runs.push_back(std::move(run));
}

void CharacterStyle::over(const CharacterStyle& other)
{
    if (other.bold)
        bold = other.bold;
    if (other.italic)
        italic = other.italic;
    if (other.underline)
        underline = other.underline;
    if (other.size)
        size = other.size;
}

bool isActiveLink(const QString& href)
{
    QString scheme;
    for (QChar c : href) {
        if (c == ':')
            return scheme == "javascript" || scheme == "vbscript" || scheme == "data";
        if (c.unicode() <= 0x20)
            continue;
        scheme += c.toLower();
        if (scheme.size() > 10)
            return false;
    }
    return false;
}

Run CharacterStyle::run(const QString& text, double body, const QString& href) const
{
    Run result;
    result.text = text;
    result.bold = bold.value_or(false);
    result.italic = italic.value_or(false);
    result.underline = underline.value_or(false);
    const double points = size.value_or(body);
    result.size = std::abs(points - body) > 0.01 ? points : 0;
    result.href = href;
    return result;
}

QString Document::plainText() const
{
    QStringList lines;
    for (const auto& block : blocks) {
        if (!block.table) {
            lines << block.paragraph.text();
            continue;
        }
        // A row is a line, its cells apart by tabs, as a spreadsheet pastes it; a cell of several
        // paragraphs keeps them on its line.
        for (const auto& row : block.table->rows) {
            QStringList cells;
            for (const auto& cell : row) {
                QStringList paragraphs;
                for (const auto& paragraph : cell)
                    paragraphs << QString(paragraph.text()).replace('\t', ' ').replace(QChar::LineSeparator, ' ');
                cells << paragraphs.join(' ');
            }
            lines << cells.join('\t');
        }
    }
    return lines.join('\n');
}

namespace {

QTextCharFormat charFormat(const Run& run)
{
    QTextCharFormat format;
    if (run.bold)
        format.setFontWeight(QFont::Bold);
    if (run.italic)
        format.setFontItalic(true);
    if (run.underline)
        format.setFontUnderline(true);
    if (run.size > 0)
        format.setFontPointSize(run.size);
    if (!run.href.isEmpty()) {
        format.setAnchor(true);
        format.setAnchorHref(run.href);
    }
    return format;
}

void insertRuns(QTextCursor& cursor, const Paragraph& paragraph)
{
    for (const auto& run : paragraph.runs)
        cursor.insertText(run.text, charFormat(run));
}

// Lists open while consecutive list paragraphs follow each other, one per level and kind.
class ListKeeper {
public:
    void place(QTextCursor& cursor, const Paragraph& paragraph)
    {
        if (paragraph.listLevel == 0) {
            lists_.clear();
            return;
        }
        // Deeper levels end when a shallower item comes.
        lists_.erase(lists_.upper_bound(paragraph.listLevel), lists_.end());
        auto& slot = lists_[paragraph.listLevel];
        if (slot.list && slot.ordered == paragraph.ordered) {
            slot.list->add(cursor.block());
            return;
        }
        QTextListFormat format;
        format.setIndent(paragraph.listLevel);
        format.setStyle(paragraph.ordered ? QTextListFormat::ListDecimal : QTextListFormat::ListDisc);
        slot = {cursor.createList(format), paragraph.ordered};
    }
    void reset() { lists_.clear(); }

private:
    struct Open {
        QTextList* list = nullptr;
        bool ordered = false;
    };
    std::map<int, Open> lists_;
};

Run runOf(const QTextFragment& fragment)
{
    const QTextCharFormat format = fragment.charFormat();
    Run run;
    run.text = fragment.text();
    run.bold = format.fontWeight() >= QFont::DemiBold;
    run.italic = format.fontItalic();
    run.underline = format.fontUnderline() || format.underlineStyle() != QTextCharFormat::NoUnderline;
    // The body size is what every writer starts from; only other sizes are written.
    if (format.hasProperty(QTextFormat::FontPointSize) && std::abs(format.fontPointSize() - bodySize) > 0.01)
        run.size = format.fontPointSize();
    if (format.isAnchor())
        run.href = format.anchorHref();
    return run;
}

// Qt keeps object replacement characters for images; a conversion of text drops them.
void appendRun(Paragraph& paragraph, Run run)
{
    run.text.remove(QChar::ObjectReplacementCharacter);
    run.text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
    paragraph.append(std::move(run));
}

Paragraph paragraphOf(const QTextBlock& block)
{
    Paragraph paragraph;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        appendRun(paragraph, runOf(it.fragment()));
    if (const QTextList* list = block.textList()) {
        paragraph.listLevel = std::max(1, list->format().indent());
        switch (list->format().style()) {
        case QTextListFormat::ListDecimal:
        case QTextListFormat::ListLowerAlpha:
        case QTextListFormat::ListUpperAlpha:
        case QTextListFormat::ListLowerRoman:
        case QTextListFormat::ListUpperRoman: paragraph.ordered = true; break;
        case QTextListFormat::ListDisc:
        case QTextListFormat::ListCircle:
        case QTextListFormat::ListSquare:
        case QTextListFormat::ListStyleUndefined: paragraph.ordered = false; break;
        }
    }
    return paragraph;
}

// The model has no tables inside cells: a table nested in a cell (pages lay themselves out so)
// gives its cells' paragraphs in reading order, so none of its text is lost.
void appendParagraphs(QTextFrame::iterator it, std::vector<Paragraph>& paragraphs)
{
    for (; !it.atEnd(); ++it) {
        if (auto* table = qobject_cast<QTextTable*>(it.currentFrame())) {
            for (int r = 0; r < table->rows(); ++r)
                for (int c = 0; c < table->columns(); ++c) {
                    const auto cell = table->cellAt(r, c);
                    // A cell spanning several columns is met once, at its first.
                    if (cell.row() == r && cell.column() == c)
                        appendParagraphs(cell.begin(), paragraphs);
                }
        } else if (QTextFrame* frame = it.currentFrame())
            appendParagraphs(frame->begin(), paragraphs);
        else if (it.currentBlock().isValid())
            paragraphs.push_back(paragraphOf(it.currentBlock()));
    }
}

std::vector<Paragraph> paragraphsOf(const QTextTableCell& cell)
{
    std::vector<Paragraph> paragraphs;
    appendParagraphs(cell.begin(), paragraphs);
    return paragraphs;
}

}

std::unique_ptr<QTextDocument> toQt(const Document& document)
{
    auto result = std::make_unique<QTextDocument>();
    QFont font(bodyFontFamily());
    font.setPointSizeF(bodySize);
    result->setDefaultFont(font);
    QTextCursor cursor(result.get());
    ListKeeper lists;
    bool first = true;
    for (const auto& block : document.blocks) {
        if (!first)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        first = false;
        if (!block.table) {
            lists.place(cursor, block.paragraph);
            insertRuns(cursor, block.paragraph);
            continue;
        }
        lists.reset();
        const auto& rows = block.table->rows;
        size_t columns = 0;
        for (const auto& row : rows)
            columns = std::max(columns, row.size());
        if (rows.empty() || columns == 0)
            continue;
        QTextTable* table = cursor.insertTable(int(rows.size()), int(columns));
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t c = 0; c < rows[r].size(); ++c) {
                QTextCursor inCell = table->cellAt(int(r), int(c)).firstCursorPosition();
                bool firstInCell = true;
                for (const auto& paragraph : rows[r][c]) {
                    if (!firstInCell)
                        inCell.insertBlock();
                    firstInCell = false;
                    insertRuns(inCell, paragraph);
                }
            }
        }
        // Qt keeps a paragraph after every table; the next block goes there.
        cursor.movePosition(QTextCursor::End);
        first = true;
    }
    return result;
}

Document fromQt(const QTextDocument& document)
{
    Document result;
    for (auto it = document.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (auto* table = qobject_cast<QTextTable*>(it.currentFrame())) {
            auto content = std::make_shared<Table>();
            for (int r = 0; r < table->rows(); ++r) {
                auto& row = content->rows.emplace_back();
                for (int c = 0; c < table->columns(); ++c)
                    row.push_back(paragraphsOf(table->cellAt(r, c)));
            }
            result.blocks.push_back({{}, std::move(content)});
            continue;
        }
        if (it.currentBlock().isValid())
            result.blocks.push_back({paragraphOf(it.currentBlock()), nullptr});
    }
    return result;
}

}
