#include "documents/odt.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "documents/office_xml.h"
#include "documents/text_file.h"
#include "documents/xml_tree.h"
#include "documents/zip_tools.h"

#include <QBuffer>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentWriter>
#include <QXmlStreamReader>

#include <map>
#include <set>

namespace Odt {

using namespace StyledText;

namespace {

// Styles name the style they build on.
struct TextStyle : CharacterStyle {
    QString parent;
};

template <typename Attributes> QString value(const Attributes& attributes, const char* name)
{
    return attributes.value(QLatin1String(name)).toString();
}

void readTextProperties(const QXmlStreamAttributes& attributes, TextStyle& style)
{
    if (const QString weight = value(attributes, "fo:font-weight"); !weight.isEmpty())
        style.bold = weight == "bold" || weight.toInt() >= 600;
    if (const QString slant = value(attributes, "fo:font-style"); !slant.isEmpty())
        style.italic = slant == "italic" || slant == "oblique";
    if (const QString line = value(attributes, "style:text-underline-style"); !line.isEmpty())
        style.underline = line != "none";
    if (auto size = OfficeXML::points(value(attributes, "fo:font-size")); size && *size > 0)
        style.size = size;
}

struct Styles {
    std::map<QString, TextStyle> text;
    std::map<QString, std::map<int, bool>> lists;  // list style → level → numbered
    std::map<QString, PageSetup> layouts;
    QString masterLayout;
    bool masterSeen = false;
    double bodySize = StyledText::bodySize;

    TextStyle resolved(const QString& name) const
    {
        std::vector<const TextStyle*> chain;
        QString next = name;
        for (int depth = 0; depth < 8; ++depth) {
            auto found = text.find(next);
            if (found == text.end())
                break;
            chain.push_back(&found->second);
            next = found->second.parent;
        }
        TextStyle result;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            result.over(**it);
        return result;
    }
};

// Style definitions wherever they stand: styles.xml and content.xml's automatic styles.
class StyleCollector {
public:
    StyleCollector(Styles& styles, Budget& budget) : styles_(styles), budget_(budget) { }

    void start(const QXmlStreamReader& reader)
    {
        const auto name = XML::localName(reader);
        const auto attributes = reader.attributes();
        // Each definition may add an entry to a table, named by the document.
        if (name == u"style" || name == u"default-style" || name == u"list-level-style-bullet"
            || name == u"list-level-style-number" || name == u"page-layout" || name == u"list-style")
            budget_.spend(entryCost);
        if (name == u"style" || name == u"default-style") {
            current_ = name == u"default-style" ? QStringLiteral("#default") : value(attributes, "style:name");
            styles_.text[current_].parent = value(attributes, "style:parent-style-name");
            isDefaultParagraph_ = name == u"default-style" && value(attributes, "style:family") == "paragraph";
        } else if (name == u"text-properties" && !current_.isNull()) {
            readTextProperties(attributes, styles_.text[current_]);
            if (isDefaultParagraph_ && styles_.text[current_].size)
                styles_.bodySize = *styles_.text[current_].size;
        } else if (name == u"list-style") {
            list_ = value(attributes, "style:name");
        } else if ((name == u"list-level-style-bullet" || name == u"list-level-style-number") && !list_.isNull()) {
            styles_.lists[list_][value(attributes, "text:level").toInt()] = name == u"list-level-style-number";
        } else if (name == u"page-layout") {
            layout_ = value(attributes, "style:name");
        } else if (name == u"page-layout-properties" && !layout_.isNull()) {
            const auto width = OfficeXML::points(value(attributes, "fo:page-width"));
            const auto height = OfficeXML::points(value(attributes, "fo:page-height"));
            if (width && height && *width > 100 && *height > 100) {
                const auto margin = [&](const char* side) {
                    return OfficeXML::points(value(attributes, side)).value_or(56);
                };
                styles_.layouts[layout_] = {*width, *height, margin("fo:margin-top"), margin("fo:margin-left"),
                    margin("fo:margin-bottom"), margin("fo:margin-right")};
            }
        } else if (name == u"master-page" && !styles_.masterSeen) {
            styles_.masterSeen = true;
            styles_.masterLayout = value(attributes, "style:page-layout-name");
        }
    }

    void end(QStringView name)
    {
        if (name == u"style" || name == u"default-style")
            current_ = QString();
        else if (name == u"list-style")
            list_ = QString();
        else if (name == u"page-layout")
            layout_ = QString();
    }

private:
    static constexpr size_t entryCost = sizeof(TextStyle) + sizeof(PageSetup) + 128;
    Styles& styles_;
    Budget& budget_;
    QString current_, list_, layout_;
    bool isDefaultParagraph_ = false;
};

class BodyReader {
public:
    BodyReader(Styles& styles, Budget& budget, const Nesting& nesting)
        : styles_(styles), budget_(budget), nesting_(nesting), collector_(styles, budget)
    {
    }

    void start(const QXmlStreamReader& reader)
    {
        const QString name = XML::localName(reader).toString();
        // What every open element holds until it ends.
        budget_.spend(Budget::levelCost);
        names_.push_back(name);
        nesting_.check(names_.size(), 0);
        collector_.start(reader);
        if (skipDepth_ > 0) {
            ++skipDepth_;
            return;
        }
        const auto attributes = reader.attributes();
        Frame frame = frames_.empty() ? Frame{} : frames_.back();
        if (name == "note" || name == "annotation" || name == "tracked-changes") {
            skipDepth_ = 1;
        } else if (name == "list") {
            ++listDepth_;
            const QString style = value(attributes, "text:style-name");
            listStyles_.push_back(style.isEmpty() && !listStyles_.empty() ? listStyles_.back() : style);
        } else if (name == "table") {
            if (tableDepth_++ == 0)
                table_ = std::make_shared<Table>();
            nesting_.check(names_.size(), size_t(tableDepth_));
        } else if (name == "table-row" && tableDepth_ == 1) {
            budget_.spend(Budget::levelCost);
            table_->rows.emplace_back();
        } else if ((name == "table-cell" || name == "covered-table-cell") && tableDepth_ == 1
            && !table_->rows.empty()) {
            budget_.spend(Budget::paragraphCost);
            table_->rows.back().emplace_back();
        } else if (name == "p" || name == "h") {
            ++paragraphDepth_;
            if (paragraphDepth_ == 1) {
                paragraph_ = {};
                if (listDepth_ > 0) {
                    paragraph_.listLevel = std::min(listDepth_, 9);
                    const auto& levels = styles_.lists[listStyles_.back()];
                    auto found = levels.find(listDepth_);
                    paragraph_.ordered = found != levels.end() && found->second;
                }
            }
            frame.style.over(styles_.resolved(value(attributes, "text:style-name")));
        } else if (name == "span") {
            frame.style.over(styles_.resolved(value(attributes, "text:style-name")));
        } else if (name == "a") {
            frame.href = value(attributes, "xlink:href");
        } else if (paragraphDepth_ > 0 && name == "s") {
            const int count = std::clamp(value(attributes, "text:c").toInt(), 1, 1000);
            text(QString(count, ' '), frame);
        } else if (paragraphDepth_ > 0 && name == "tab") {
            text("\t", frame);
        } else if (paragraphDepth_ > 0 && name == "line-break") {
            text(QString(QChar::LineSeparator), frame);
        }
        frames_.push_back(frame);
    }

    void characters(const QXmlStreamReader& reader)
    {
        if (skipDepth_ > 0 || paragraphDepth_ == 0 || frames_.empty())
            return;
        // Runs of blanks count as one in OpenDocument text; text:s stands for more.
        QString content = reader.text().toString();
        content.replace(QRegularExpression("[ \\n\\r\\t]+"), " ");
        text(content, frames_.back());
    }

    void end()
    {
        const QString name = names_.back();
        names_.pop_back();
        budget_.refund(Budget::levelCost);
        collector_.end(name);
        if (skipDepth_ > 0) {
            --skipDepth_;
            if (skipDepth_ > 0)
                return;
        }
        if (!frames_.empty())
            frames_.pop_back();
        if (name == "list") {
            --listDepth_;
            listStyles_.pop_back();
        } else if (name == "table" && --tableDepth_ == 0) {
            blocks_.push_back({{}, std::move(table_)});
            table_ = nullptr;
        } else if ((name == "p" || name == "h") && --paragraphDepth_ == 0) {
            budget_.spend(Budget::paragraphCost);
            if (tableDepth_ > 0 && table_ && !table_->rows.empty() && !table_->rows.back().empty())
                table_->rows.back().back().push_back(std::move(paragraph_));
            else if (tableDepth_ == 0)
                blocks_.push_back({std::move(paragraph_), nullptr});
            paragraph_ = {};
        }
    }

    std::vector<Block> blocks_;

private:
    struct Frame {
        TextStyle style;
        QString href;
    };

    void text(const QString& content, const Frame& frame)
    {
        budget_.spend(Budget::runCost + size_t(content.size()) * sizeof(QChar) * 2);
        paragraph_.append(frame.style.run(content, styles_.bodySize, frame.href));
    }

    Styles& styles_;
    Budget& budget_;
    const Nesting nesting_;
    StyleCollector collector_;
    std::vector<QString> names_;
    std::vector<Frame> frames_;
    std::vector<QString> listStyles_;
    int skipDepth_ = 0;
    int listDepth_ = 0;
    int tableDepth_ = 0;
    int paragraphDepth_ = 0;
    Paragraph paragraph_;
    std::shared_ptr<Table> table_;
};

bool collectStyles(const std::string& bytes, Styles& styles, Budget& budget)
{
    StyleCollector collector(styles, budget);
    std::vector<QString> names;
    return XML::walk(bytes,
        {[&](const QXmlStreamReader& reader) {
             names.push_back(XML::localName(reader).toString());
             collector.start(reader);
         },
            {},
            [&] {
                collector.end(names.back());
                names.pop_back();
            }});
}

QString pt(double points) { return QString::number(points, 'f', 2) + "pt"; }

// Qt's writer passes text and link addresses on as they are, though XML holds only some
// characters, and names a picture's frame by the picture's name, which is a data: address as long
// as the picture. It is given a copy with text fit for XML and its pictures under short names,
// each with its bytes; a picture without bytes is left out.
std::unique_ptr<QTextDocument> forWriter(const QTextDocument& document)
{
    std::unique_ptr<QTextDocument> copy(document.clone());
    struct Change {
        int position;
        int length;
        std::optional<QString> text;
        QTextCharFormat format;
    };
    std::vector<Change> changes;
    std::map<QString, QString> names;  // picture's name → short name
    std::set<QString> jpegs;  // short names
    for (auto block = copy->begin(); block != copy->end(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            Change change{fragment.position(), fragment.length(), std::nullopt, format};
            if (const QString fit = OfficeXML::xmlText(fragment.text()); fit != fragment.text())
                change.text = fit;
            if (format.isAnchor() && OfficeXML::xmlText(format.anchorHref()) != format.anchorHref())
                change.format.setAnchorHref(OfficeXML::xmlText(format.anchorHref()));
            if (format.isImageFormat()) {
                QTextImageFormat image = format.toImageFormat();
                auto& name = names[image.name()];
                if (name.isEmpty()) {
                    const auto bytes = StyledText::pictureBytes(document, image);
                    name = bytes ? "imagem" + QString::number(names.size()) : QStringLiteral("-");
                    if (bytes)
                        copy->addResource(QTextDocument::ImageResource, QUrl(name), *bytes);
                    if (bytes && QMimeDatabase().mimeTypeForData(*bytes).name() == "image/jpeg")
                        jpegs.insert(name);
                }
                if (name == "-")
                    change.text = QString();
                // Qt keeps a PNG's bytes but draws any other picture again, as PNG unless given a
                // quality: a photo stays a JPEG.
                if (jpegs.count(name))
                    image.setQuality(92);
                image.setName(name);
                change.format = image;
            }
            if (change.text || change.format != format)
                changes.push_back(std::move(change));
        }
    }
    // From the end, so that the positions before each change still hold.
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        QTextCursor cursor(copy.get());
        cursor.setPosition(it->position);
        cursor.setPosition(it->position + it->length, QTextCursor::KeepAnchor);
        if (it->text)
            cursor.insertText(*it->text, it->format);
        else
            cursor.setCharFormat(it->format);
    }
    return copy;
}

}

bool isOdt(const fs::path& path)
{
    if (!OfficeXML::isZip(path))
        return false;
    const auto type = ZipTools::readEntry(path, "mimetype");
    return type && type->starts_with("application/vnd.oasis.opendocument.text");
}

Document read(const fs::path& path, const Nesting& nesting)
{
    const auto content = ZipTools::readEntry(path, "content.xml");
    if (!content)
        throw ConversionError::unreadable();
    return parse(*content, ZipTools::readEntry(path, "styles.xml"), nesting);
}

Document parse(std::string_view content, const std::optional<std::string>& namedStyles, const Nesting& nesting)
{
    Styles styles;
    Budget budget;
    if (namedStyles)
        collectStyles(*namedStyles, styles, budget);
    BodyReader reader(styles, budget, nesting);
    const bool wellFormed = XML::walk(content,
        {[&](const QXmlStreamReader& r) {
             reader.start(r);
         },
            [&](const QXmlStreamReader& r) {
                reader.characters(r);
            },
            [&] {
                reader.end();
            }});
    if (!wellFormed)
        throw ConversionError::unreadable();
    Document document;
    document.blocks = std::move(reader.blocks_);
    if (auto layout = styles.layouts.find(styles.masterLayout); layout != styles.layouts.end())
        document.page = layout->second;
    else if (!styles.masterSeen && styles.layouts.size() == 1)
        document.page = styles.layouts.begin()->second;
    return document;
}

void write(const QTextDocument& document, const PageSetup& page, const fs::path& destination)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QTextDocumentWriter writer(&buffer, "ODF");
    if (!writer.write(forWriter(document).get()))
        throw ConversionError::writeFailed();
    buffer.close();

    // Qt writes no page layout: the package gets a styles part with one, named by its manifest.
    FileSafety::TempDir work;
    const fs::path qtPackage = work.path() / "qt.odt";
    {
        auto fd = FileSafety::createExclusive(qtPackage, 0600);
        FileSafety::writeAll(
            fd.get(), std::string_view(buffer.data().constData(), size_t(buffer.data().size())), qtPackage);
    }
    const fs::path root = work.path() / "odt";
    ZipTools::unpack(qtPackage, root);
    const QString styles
        = QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-styles xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.2"><office:automatic-styles><style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="%1" fo:page-height="%2" fo:margin-top="%3" fo:margin-left="%4" fo:margin-bottom="%5" fo:margin-right="%6"/></style:page-layout></office:automatic-styles><office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"/></office:master-styles></office:document-styles>)")
              .arg(pt(page.width), pt(page.height), pt(page.top), pt(page.left), pt(page.bottom), pt(page.right));
    {
        const fs::path part = root / "styles.xml";
        FileSafety::removeTree(part);
        auto fd = FileSafety::createExclusive(part, 0644);
        FileSafety::writeAll(fd.get(), styles.toStdString(), part);
    }
    const fs::path manifestPath = root / "META-INF" / "manifest.xml";
    std::string manifest;
    try {
        manifest = TextFile::readUtf8(manifestPath);
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
    if (manifest.find("\"styles.xml\"") == std::string::npos) {
        const auto close = manifest.rfind("</manifest:manifest>");
        if (close == std::string::npos)
            throw ConversionError::writeFailed();
        manifest.insert(
            close, R"(<manifest:file-entry manifest:media-type="text/xml" manifest:full-path="styles.xml"/>)");
        FileSafety::removeTree(manifestPath);
        auto fd = FileSafety::createExclusive(manifestPath, 0644);
        FileSafety::writeAll(fd.get(), manifest, manifestPath);
    }
    // The mimetype entry goes first, as readers that sniff the package expect.
    ZipTools::packNames(destination, root, {"mimetype"});
    std::vector<std::string> rest;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.path().filename() != "mimetype")
            rest.push_back(entry.path().filename().string());
    ZipTools::packNames(destination, root, rest);
}

}
