#include "documents/styled_text.h"

#include "core/base/references.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
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
    if (run.picture) {
        runs.push_back(std::move(run));
        return;
    }
    if (run.text.isEmpty())
        return;
    if (!runs.empty() && !runs.back().picture) {
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

std::optional<StoredPicture> stored(const Picture& picture)
{
    StoredPicture result;
    result.bytes = picture.bytes;
    QBuffer buffer(&result.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format().toLower();
    const QSize pixels = reader.size();
    result.jpeg = format == "jpeg" || format == "jpg";
    if (format != "png" && !result.jpeg) {
        const QImage image = reader.read();
        QByteArray png;
        QBuffer written(&png);
        if (image.isNull() || !written.open(QIODevice::WriteOnly) || !image.save(&written, "PNG"))
            return std::nullopt;
        buffer.close();
        result.bytes = png;
    }
    if (!pixels.isValid() || pixels.isEmpty())
        return std::nullopt;
    result.pixelWidth = pixels.width();
    result.pixelHeight = pixels.height();
    result.width = picture.width > 0 ? picture.width : pixels.width() * 0.75;
    result.height = picture.height > 0 ? picture.height : pixels.height() * 0.75;
    return result;
}

void forEachPicture(const Document& document, const std::function<void(const Picture&)>& visit)
{
    const auto paragraph = [&](const Paragraph& p) {
        for (const auto& run : p.runs)
            if (run.picture)
                visit(*run.picture);
    };
    for (const auto& block : document.blocks) {
        paragraph(block.paragraph);
        if (block.table)
            for (const auto& row : block.table->rows)
                for (const auto& cell : row)
                    for (const auto& p : cell)
                        paragraph(p);
    }
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

// Qt lays out and writes a picture's size in pixels of 96 to the inch.
constexpr double pixelsPerPoint = 96.0 / 72.0;

QTextImageFormat imageFormat(const Run& run)
{
    QTextImageFormat format;
    format.merge(charFormat(run));
    const Picture& picture = *run.picture;
    const QString type = QMimeDatabase().mimeTypeForData(picture.bytes).name();
    format.setName("data:" + type + ";base64," + QString::fromLatin1(picture.bytes.toBase64()));
    if (picture.width > 0 && picture.height > 0) {
        format.setWidth(picture.width * pixelsPerPoint);
        format.setHeight(picture.height * pixelsPerPoint);
    }
    if (!picture.description.isEmpty())
        format.setProperty(QTextFormat::ImageAltText, picture.description);
    return format;
}

void insertRuns(QTextCursor& cursor, const Paragraph& paragraph)
{
    for (const auto& run : paragraph.runs) {
        if (run.picture)
            cursor.insertImage(imageFormat(run));
        else
            cursor.insertText(run.text, charFormat(run));
    }
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

}

// What its data: address carries, else what the document was given for it, which a page's
// picture is by the time it is converted. The empty picture that stands for one that may not be
// read is no picture.
std::optional<QByteArray> pictureBytes(const QTextDocument& document, const QTextImageFormat& format)
{
    const QUrl url = document.baseUrl().resolved(QUrl(format.name()));
    if (auto data = References::dataAddress(url))
        return data;
    const QVariant resource = document.resource(QTextDocument::ImageResource, url);
    if (resource.userType() == QMetaType::QByteArray)
        return resource.toByteArray();
    const QImage image = resource.value<QImage>();
    if (image.isNull() || (image.size() == QSize(1, 1) && qAlpha(image.pixel(0, 0)) == 0))
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return std::nullopt;
    return png;
}

namespace {

// Every picture of the fragment (Qt holds pictures of one format in one fragment, a character
// each), as runs.
void appendPictures(Paragraph& paragraph, const QTextDocument& document, const QTextFragment& fragment, const Run& style)
{
    const QTextImageFormat format = fragment.charFormat().toImageFormat();
    const auto bytes = pictureBytes(document, format);
    if (!bytes || bytes->isEmpty())
        return;
    auto picture = std::make_shared<Picture>();
    picture->bytes = *bytes;
    if (format.width() > 0 && format.height() > 0) {
        picture->width = format.width() / pixelsPerPoint;
        picture->height = format.height() / pixelsPerPoint;
    }
    picture->description = format.property(QTextFormat::ImageAltText).toString();
    Run run = style;
    run.text.clear();
    run.picture = std::move(picture);
    for (QChar c : fragment.text())
        if (c == QChar::ObjectReplacementCharacter)
            paragraph.append(run);
}

void appendRun(Paragraph& paragraph, Run run)
{
    // Qt keeps object replacement characters for pictures and other objects, which are no text.
    run.text.remove(QChar::ObjectReplacementCharacter);
    run.text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
    paragraph.append(std::move(run));
}

Paragraph paragraphOf(const QTextBlock& block)
{
    Paragraph paragraph;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.charFormat().isImageFormat())
            appendPictures(paragraph, *block.document(), fragment, runOf(fragment));
        else
            appendRun(paragraph, runOf(fragment));
    }
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
