#include "documents/docx.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "documents/office_xml.h"
#include "documents/xml_tree.h"
#include "documents/zip_tools.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>

namespace Docx {

using namespace StyledText;
using OfficeXML::escape;

namespace {

using RunStyle = CharacterStyle;

const std::string* attr(const XML::Node& node, const char* name) { return node.attr(name); }

// w:b, w:i and friends: present means on unless w:val says otherwise.
bool onOff(const XML::Node& node)
{
    const auto* value = attr(node, "w:val");
    return !value || !(*value == "0" || *value == "false" || *value == "off");
}

std::optional<double> number(const XML::Node& node, const char* name)
{
    const auto* value = attr(node, name);
    if (!value)
        return std::nullopt;
    bool ok = false;
    const double result = QString::fromStdString(*value).toDouble(&ok);
    return ok && std::isfinite(result) ? std::optional(result) : std::nullopt;
}

RunStyle runStyle(const XML::Node* rPr)
{
    RunStyle style;
    if (!rPr)
        return style;
    for (const auto& child : rPr->children) {
        if (child->name == "b")
            style.bold = onOff(*child);
        else if (child->name == "i")
            style.italic = onOff(*child);
        else if (child->name == "u") {
            const auto* value = attr(*child, "w:val");
            style.underline = !value || *value != "none";
        } else if (child->name == "sz") {
            if (auto halfPoints = number(*child, "w:val"); halfPoints && *halfPoints > 0)
                style.size = *halfPoints / 2;
        }
    }
    return style;
}

const XML::Node* child(const XML::Node& node, std::string_view name)
{
    for (const auto& c : node.children)
        if (c->name == name)
            return c.get();
    return nullptr;
}

// A picture's extent in EMU (12,700 to the point); nothing past a few metres, which is no page's.
std::optional<double> extentPoints(const XML::Node& extent, const char* name)
{
    const auto emu = number(extent, name);
    if (!emu || *emu <= 0 || *emu / 12700 > 14400)
        return std::nullopt;
    return *emu / 12700;
}

struct Reader {
    static constexpr int maxNesting = 64;
    static constexpr size_t mostPictures = 2000;
    // One for the parts' trees and what is made of them.
    Budget budget;
    std::map<std::string, std::string> links;  // relationship id → target
    std::string documentPart;
    std::function<std::optional<std::string>(const std::string&)> readPart;
    // A part met again (a logo on every page) is read once; empty bytes for one that is missing.
    std::map<std::string, QByteArray> pictures;  // part → bytes
    size_t picturesRead = 0;
    std::map<std::string, bool> orderedLists;  // numId + "/" + level → decimal
    std::map<std::string, RunStyle> styles;  // style id → character properties
    double bodySize = StyledText::bodySize;
    Document document;

    void loadRelationships(const std::optional<std::string>& bytes)
    {
        auto root = bytes ? XML::parse(*bytes, budget) : nullptr;
        if (!root)
            return;
        for (const auto& rel : root->children)
            if (const auto* id = attr(*rel, "Id"), *target = attr(*rel, "Target"); id && target)
                links[*id] = *target;
    }

    void loadNumbering(const std::optional<std::string>& bytes)
    {
        auto root = bytes ? XML::parse(*bytes, budget) : nullptr;
        if (!root)
            return;
        std::map<std::string, std::map<std::string, bool>> abstract;
        for (const auto& node : root->children) {
            if (node->name != "abstractNum")
                continue;
            const auto* id = attr(*node, "w:abstractNumId");
            if (!id)
                continue;
            for (const auto& level : node->children) {
                const auto* ilvl = attr(*level, "w:ilvl");
                const auto* format = level->name == "lvl" ? child(*level, "numFmt") : nullptr;
                const auto* value = format ? attr(*format, "w:val") : nullptr;
                if (ilvl && value)
                    abstract[*id][*ilvl] = *value != "bullet" && *value != "none";
            }
        }
        for (const auto& node : root->children) {
            const auto* id = node->name == "num" ? attr(*node, "w:numId") : nullptr;
            const auto* ref = id ? child(*node, "abstractNumId") : nullptr;
            const auto* abstractId = ref ? attr(*ref, "w:val") : nullptr;
            if (!abstractId || !abstract.count(*abstractId))
                continue;
            for (const auto& [level, ordered] : abstract[*abstractId])
                orderedLists[*id + "/" + level] = ordered;
        }
    }

    void loadStyles(const std::optional<std::string>& bytes)
    {
        auto root = bytes ? XML::parse(*bytes, budget) : nullptr;
        if (!root)
            return;
        if (const auto* defaults = root->find("rPrDefault"))
            if (auto size = runStyle(defaults->find("rPr")).size)
                bodySize = *size;
        std::map<std::string, std::pair<std::string, RunStyle>> raw;  // id → (based on, own)
        for (const auto& node : root->children) {
            const auto* id = node->name == "style" ? attr(*node, "w:styleId") : nullptr;
            if (!id)
                continue;
            const auto* basedOn = child(*node, "basedOn");
            const auto* base = basedOn ? attr(*basedOn, "w:val") : nullptr;
            raw[*id] = {base ? *base : std::string(), runStyle(child(*node, "rPr"))};
        }
        for (const auto& [id, entry] : raw) {
            // The chain from the root style down, at most a few links deep.
            std::vector<const RunStyle*> chain{&entry.second};
            std::string next = entry.first;
            for (int depth = 0; depth < 8 && raw.count(next); ++depth) {
                chain.push_back(&raw[next].second);
                next = raw[next].first;
            }
            RunStyle resolved;
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                resolved.over(**it);
            styles[id] = resolved;
        }
    }

    // The text boxes in a run's drawing, in document order. Word writes each box twice, as a
    // drawing for itself and as a picture for older readers, inside one AlternateContent: only
    // the first of its branches that holds a box is read.
    void textBoxes(const XML::Node& node, std::vector<const XML::Node*>& into, int depth) const
    {
        if (depth > maxNesting)
            return;
        if (node.name == "txbxContent") {
            into.push_back(&node);
            return;
        }
        if (node.name == "AlternateContent") {
            for (const auto& branch : node.children) {
                const size_t before = into.size();
                textBoxes(*branch, into, depth + 1);
                if (into.size() != before)
                    return;
            }
            return;
        }
        for (const auto& c : node.children)
            textBoxes(*c, into, depth + 1);
    }

    // A paragraph as blocks. A text box anchored among its runs ends the text before it, and the
    // box's own paragraphs and tables stand there, so its text reads where the box was put.
    struct Pieces {
        std::vector<Block> blocks;
        Paragraph current;
        bool split = false;

        void flush()
        {
            if (current.runs.empty())
                return;
            blocks.push_back({std::move(current), nullptr});
            current = Paragraph{};
        }
    };

    // Whether the drawing held a box.
    bool addBoxes(const XML::Node& node, Pieces& pieces, int depth)
    {
        std::vector<const XML::Node*> boxes;
        textBoxes(node, boxes, depth);
        for (const auto* box : boxes) {
            pieces.flush();
            pieces.split = true;
            blocks(*box, pieces.blocks, depth + 1);
        }
        return !boxes.empty();
    }

    QByteArray pictureBytes(const std::string& id)
    {
        auto link = links.find(id);
        if (link == links.end() || !readPart)
            return {};
        const std::string name = OfficeXML::resolvePart(documentPart, link->second);
        if (auto known = pictures.find(name); known != pictures.end())
            return known->second;
        // Each picture is a run of the unpacker, some milliseconds: a crafted document of a hundred
        // thousand would hold the job for many minutes, where real ones hold hundreds.
        if (picturesRead >= mostPictures)
            throw ConversionError::because(Budget::documentTooLarge);
        std::optional<std::string> bytes;
        try {
            bytes = readPart(name);
        } catch (const ConversionError&) {
            // A part past what is unpacked whole (hundreds of megabytes) is no picture a page shows,
            // and the text is still worth having.
        }
        if (bytes) {
            budget.spend(bytes->size());
            ++picturesRead;
        }
        return pictures[name] = bytes ? QByteArray(bytes->data(), qsizetype(bytes->size())) : QByteArray();
    }

    // The picture a drawing shows: DrawingML's, or the first branch's of an AlternateContent,
    // else VML's, as older Word wrote it.
    std::shared_ptr<const Picture> picture(const XML::Node& drawing)
    {
        const auto* blip = drawing.find("blip");
        const std::string* id = blip ? attr(*blip, "r:embed") : nullptr;
        if (!id) {
            const auto* data = drawing.find("imagedata");
            id = data ? attr(*data, "r:id") : nullptr;
        }
        const QByteArray bytes = id ? pictureBytes(*id) : QByteArray();
        if (bytes.isEmpty())
            return nullptr;
        auto result = std::make_shared<Picture>();
        result->bytes = bytes;
        if (const auto* extent = drawing.find("extent")) {
            const auto width = extentPoints(*extent, "cx"), height = extentPoints(*extent, "cy");
            if (width && height) {
                result->width = *width;
                result->height = *height;
            }
        }
        if (const auto* properties = drawing.find("docPr"))
            if (const auto* description = attr(*properties, "descr"))
                result->description = QString::fromStdString(*description);
        return result;
    }

    void addRuns(
        const XML::Node& parent, const RunStyle& paragraphStyle, const QString& href, Pieces& pieces, int depth = 0)
    {
        // Wrappers nest a few levels in real documents; a crafted one must not exhaust the stack.
        if (depth > maxNesting)
            return;
        for (const auto& node : parent.children) {
            if (node->name == "r") {
                RunStyle style = paragraphStyle;
                const auto* rPr = child(*node, "rPr");
                if (const auto* rStyle = rPr ? child(*rPr, "rStyle") : nullptr)
                    if (const auto* id = attr(*rStyle, "w:val"); id && styles.count(*id))
                        style.over(styles[*id]);
                style.over(runStyle(rPr));
                Run run = style.run({}, bodySize, href);
                budget.spend(Budget::runCost);
                for (const auto& part : node->children) {
                    if (part->name == "t") {
                        budget.spend(part->text.size() * sizeof(QChar));
                        run.text += QString::fromStdString(part->text);
                    } else if (part->name == "tab") {
                        run.text += '\t';
                    } else if (part->name == "br" || part->name == "cr") {
                        run.text += QChar::LineSeparator;
                    } else if (part->name == "noBreakHyphen") {
                        run.text += QChar(0x2011);
                    } else if (part->name == "ruby") {
                        // Phonetic guides over the base text: the base is the text.
                        if (const auto* base = child(*part, "rubyBase")) {
                            if (!run.text.isEmpty())
                                pieces.current.runs.push_back(run);
                            run.text.clear();
                            addRuns(*base, paragraphStyle, href, pieces, depth + 1);
                        }
                    } else if (part->name == "drawing" || part->name == "pict" || part->name == "AlternateContent") {
                        if (!run.text.isEmpty())
                            pieces.current.runs.push_back(run);
                        run.text.clear();
                        if (addBoxes(*part, pieces, depth + 1))
                            continue;
                        if (auto shown = picture(*part)) {
                            budget.spend(Budget::runCost);
                            Run pictureRun = run;
                            pictureRun.picture = std::move(shown);
                            pieces.current.runs.push_back(std::move(pictureRun));
                        }
                    }
                }
                if (!run.text.isEmpty())
                    pieces.current.runs.push_back(std::move(run));
            } else if (node->name == "hyperlink") {
                QString target = href;
                if (const auto* id = attr(*node, "r:id"); id && links.count(*id))
                    target = QString::fromStdString(links[*id]);
                else if (const auto* anchor = attr(*node, "w:anchor"))
                    target = "#" + QString::fromStdString(*anchor);
                addRuns(*node, paragraphStyle, target, pieces, depth + 1);
            } else if (node->name == "ins" || node->name == "moveTo" || node->name == "smartTag"
                || node->name == "fldSimple" || node->name == "sdt" || node->name == "sdtContent"
                || node->name == "customXml" || node->name == "dir" || node->name == "bdo") {
                addRuns(*node, paragraphStyle, href, pieces, depth + 1);
            } else if (node->name == "AlternateContent") {
                // Between runs it holds runs of its own; the first branch is the one Word reads.
                if (!node->children.empty())
                    addRuns(*node->children.front(), paragraphStyle, href, pieces, depth + 1);
            }
        }
    }

    void paragraph(const XML::Node& node, std::vector<Block>& into, int depth)
    {
        budget.spend(Budget::paragraphCost);
        Paragraph result;
        RunStyle style;
        if (styles.count("Normal"))
            style = styles["Normal"];
        if (const auto* pPr = child(node, "pPr")) {
            if (const auto* pStyle = child(*pPr, "pStyle"))
                if (const auto* id = attr(*pStyle, "w:val"); id && styles.count(*id))
                    style = styles[*id];
            if (const auto* numPr = child(*pPr, "numPr")) {
                const auto* ilvl = child(*numPr, "ilvl");
                const auto* numId = child(*numPr, "numId");
                const std::string level = ilvl && attr(*ilvl, "w:val") ? *attr(*ilvl, "w:val") : "0";
                const std::string id = numId && attr(*numId, "w:val") ? *attr(*numId, "w:val") : "0";
                if (id != "0") {
                    result.listLevel = std::clamp(QString::fromStdString(level).toInt() + 1, 1, 9);
                    result.ordered = orderedLists[id + "/" + level];
                }
            }
        }
        Pieces pieces{{}, std::move(result)};
        addRuns(node, style, {}, pieces, depth);
        // An empty paragraph is a blank line of its own, unless a box was all it held.
        if (!pieces.current.runs.empty() || !pieces.split)
            pieces.blocks.push_back({std::move(pieces.current), nullptr});
        std::move(pieces.blocks.begin(), pieces.blocks.end(), std::back_inserter(into));
    }

    static void flatten(const Block& block, std::vector<Paragraph>& into)
    {
        if (!block.table) {
            into.push_back(block.paragraph);
            return;
        }
        for (const auto& row : block.table->rows)
            for (const auto& cell : row)
                into.insert(into.end(), cell.begin(), cell.end());
    }

    // A cell's paragraphs, nested tables (and tables of text boxes) flattened into it.
    void cellParagraphs(const XML::Node& node, std::vector<Paragraph>& into, int depth = 0)
    {
        if (depth > maxNesting)
            return;
        for (const auto& c : node.children) {
            if (c->name == "p") {
                std::vector<Block> pieces;
                paragraph(*c, pieces, depth + 1);
                for (const auto& block : pieces)
                    flatten(block, into);
            } else if (c->name == "tbl" || c->name == "tr" || c->name == "tc" || isWrapper(c->name)) {
                cellParagraphs(*c, into, depth + 1);
            }
        }
    }

    // Content controls and custom XML wrap a table's rows and cells (form templates put a control
    // in every cell) as they wrap paragraphs and runs.
    static bool isWrapper(const std::string& name)
    {
        return name == "sdt" || name == "sdtContent" || name == "customXml";
    }

    // The children of that name, and those standing in wrappers, in document order.
    static std::vector<const XML::Node*> unwrapped(const XML::Node& parent, std::string_view name)
    {
        std::vector<const XML::Node*> found;
        std::vector<std::pair<const XML::Node*, size_t>> stack{{&parent, 0}};
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next == node->children.size() || stack.size() > size_t(maxNesting)) {
                stack.pop_back();
                continue;
            }
            const XML::Node* c = node->children[next++].get();
            if (c->name == name)
                found.push_back(c);
            else if (isWrapper(c->name))
                stack.emplace_back(c, 0);
        }
        return found;
    }

    void blocks(const XML::Node& parent, std::vector<Block>& into, int depth = 0)
    {
        if (depth > maxNesting)
            return;
        for (const auto& node : parent.children) {
            if (node->name == "p") {
                paragraph(*node, into, depth + 1);
            } else if (node->name == "tbl") {
                auto table = std::make_shared<Table>();
                for (const auto* row : unwrapped(*node, "tr")) {
                    auto& cells = table->rows.emplace_back();
                    for (const auto* cell : unwrapped(*row, "tc")) {
                        budget.spend(Budget::paragraphCost);
                        cellParagraphs(*cell, cells.emplace_back(), depth + 1);
                    }
                }
                into.push_back({{}, std::move(table)});
            } else if (isWrapper(node->name)) {
                blocks(*node, into, depth + 1);
            } else if (node->name == "sectPr") {
                page(*node);
            }
        }
    }

    void page(const XML::Node& sectPr)
    {
        const auto* size = child(sectPr, "pgSz");
        const auto width = size ? number(*size, "w:w") : std::nullopt;
        const auto height = size ? number(*size, "w:h") : std::nullopt;
        if (!width || !height || *width / 20 <= 100 || *height / 20 <= 100)
            return;
        PageSetup setup{*width / 20, *height / 20};
        if (const auto* margins = child(sectPr, "pgMar")) {
            const auto side = [&](const char* name) {
                auto twips = number(*margins, name);
                return twips ? std::abs(*twips) / 20 : 56.0;
            };
            setup.top = side("w:top");
            setup.left = side("w:left");
            setup.bottom = side("w:bottom");
            setup.right = side("w:right");
        }
        document.page = setup;
    }
};

QString twips(double points) { return QString::number(std::lround(points * 20)); }

struct Writer {
    QStringList links;  // targets; relationship ids are "rIdL" + index
    // Parts word/media/imagemN; relationship ids are "rIdP" + N.
    std::vector<StoredPicture> pictures;
    QString body;

    // A picture in the line, as Word writes one.
    QString picture(const Picture& shown)
    {
        auto kept = stored(shown);
        if (!kept)
            return {};
        pictures.push_back(std::move(*kept));
        const StoredPicture& picture = pictures.back();
        const QString n = QString::number(pictures.size());
        const QString cx = QString::number(std::lround(picture.width * 12700));
        const QString cy = QString::number(std::lround(picture.height * 12700));
        const QString name = "Imagem " + n;
        return QString(R"(<w:r><w:drawing><wp:inline distT="0" distB="0" distL="0" distR="0"><wp:extent cx="%1" cy="%2"/><wp:docPr id="%3" name="%4" descr="%5"/><a:graphic xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:pic xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:nvPicPr><pic:cNvPr id="%3" name="%4"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:embed="rIdP%3"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="%1" cy="%2"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r>)")
            .arg(cx, cy, n, name, escape(shown.description));
    }

    void runs(const Paragraph& paragraph)
    {
        for (size_t i = 0; i < paragraph.runs.size();) {
            const QString href = paragraph.runs[i].href;
            if (paragraph.runs[i].picture) {
                body += picture(*paragraph.runs[i++].picture);
                continue;
            }
            if (href.isEmpty()) {
                body += run(paragraph.runs[i++]);
                continue;
            }
            links << href;
            body += "<w:hyperlink r:id=\"rIdL" + QString::number(links.size()) + "\">";
            for (; i < paragraph.runs.size() && paragraph.runs[i].href == href; ++i)
                body += paragraph.runs[i].picture ? picture(*paragraph.runs[i].picture) : run(paragraph.runs[i], true);
            body += "</w:hyperlink>";
        }
    }

    static QString run(const Run& r, bool link = false)
    {
        QString properties;
        if (link)
            properties += "<w:color w:val=\"0563C1\"/>";
        if (r.bold)
            properties += "<w:b/><w:bCs/>";
        if (r.italic)
            properties += "<w:i/><w:iCs/>";
        if (r.underline || link)
            properties += "<w:u w:val=\"single\"/>";
        if (r.size > 0)
            properties += "<w:sz w:val=\"" + QString::number(std::lround(r.size * 2)) + "\"/><w:szCs w:val=\""
                + QString::number(std::lround(r.size * 2)) + "\"/>";
        QString result = "<w:r>";
        if (!properties.isEmpty())
            result += "<w:rPr>" + properties + "</w:rPr>";
        QString text;
        const auto flush = [&] {
            if (!text.isEmpty())
                result += "<w:t xml:space=\"preserve\">" + escape(text) + "</w:t>";
            text.clear();
        };
        for (QChar c : r.text) {
            if (c == '\t') {
                flush();
                result += "<w:tab/>";
            } else if (c == QChar::LineSeparator || c == '\n') {
                flush();
                result += "<w:br/>";
            } else {
                text += c;
            }
        }
        flush();
        return result + "</w:r>";
    }

    void paragraph(const Paragraph& p)
    {
        body += "<w:p>";
        if (p.listLevel > 0)
            body += "<w:pPr><w:numPr><w:ilvl w:val=\"" + QString::number(std::min(p.listLevel, 9) - 1)
                + "\"/><w:numId w:val=\"" + (p.ordered ? "2" : "1") + "\"/></w:numPr></w:pPr>";
        runs(p);
        body += "</w:p>";
    }

    void table(const Table& t, double textWidth)
    {
        size_t columns = 1;
        for (const auto& row : t.rows)
            columns = std::max(columns, row.size());
        const QString width = twips(textWidth / double(columns));
        body += "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/><w:tblBorders>";
        for (const char* side : {"top", "left", "bottom", "right", "insideH", "insideV"})
            body += QString("<w:%1 w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>").arg(side);
        body += "</w:tblBorders></w:tblPr><w:tblGrid>";
        for (size_t c = 0; c < columns; ++c)
            body += "<w:gridCol w:w=\"" + width + "\"/>";
        body += "</w:tblGrid>";
        for (const auto& row : t.rows) {
            body += "<w:tr>";
            for (size_t c = 0; c < columns; ++c) {
                body += "<w:tc><w:tcPr><w:tcW w:w=\"" + width + "\" w:type=\"dxa\"/></w:tcPr>";
                if (c >= row.size() || row[c].empty())
                    body += "<w:p/>";
                else
                    for (const auto& p : row[c])
                        paragraph(p);
                body += "</w:tc>";
            }
            body += "</w:tr>";
        }
        body += "</w:tbl>";
    }
};

const char* contentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/><Default Extension="jpeg" ContentType="image/jpeg"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/><Override PartName="/word/numbering.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml"/></Types>)";

const char* packageRelationships = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";

const char* mainNamespaces
    = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing")";

QString stylesPart()
{
    return QString(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:styles %1><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="%2" w:hAnsi="%2" w:cs="%2" w:eastAsia="%2"/><w:sz w:val="%3"/><w:szCs w:val="%3"/></w:rPr></w:rPrDefault><w:pPrDefault><w:pPr><w:spacing w:after="120"/></w:pPr></w:pPrDefault></w:docDefaults><w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/></w:style></w:styles>)")
        .arg(mainNamespaces, escape(bodyFontFamily()), QString::number(std::lround(bodySize * 2)));
}

QString numberingPart()
{
    QString levels[2];
    for (int kind = 0; kind < 2; ++kind) {
        for (int level = 0; level < 9; ++level) {
            const QString text = kind == 0 ? QString::fromUtf8("\xE2\x80\xA2") : "%" + QString::number(level + 1) + ".";
            levels[kind] += QString(
                R"(<w:lvl w:ilvl="%1"><w:start w:val="1"/><w:numFmt w:val="%2"/><w:lvlText w:val="%3"/><w:lvlJc w:val="left"/><w:pPr><w:ind w:left="%4" w:hanging="360"/></w:pPr></w:lvl>)")
                                .arg(QString::number(level), kind == 0 ? "bullet" : "decimal", text,
                                    QString::number(720 * (level + 1)));
        }
    }
    return QString(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:numbering %1><w:abstractNum w:abstractNumId="0"><w:multiLevelType w:val="hybridMultilevel"/>%2</w:abstractNum><w:abstractNum w:abstractNumId="1"><w:multiLevelType w:val="hybridMultilevel"/>%3</w:abstractNum><w:num w:numId="1"><w:abstractNumId w:val="0"/></w:num><w:num w:numId="2"><w:abstractNumId w:val="1"/></w:num></w:numbering>)")
        .arg(mainNamespaces, levels[0], levels[1]);
}

void writeBytes(const fs::path& root, const std::string& name, std::string_view bytes)
{
    const fs::path path = root / name;
    fs::create_directories(path.parent_path());
    auto fd = FileSafety::createExclusive(path, 0644);
    FileSafety::writeAll(fd.get(), bytes, path);
}

void writePart(const fs::path& root, const std::string& name, const QString& text)
{
    writeBytes(root, name, text.toStdString());
}

// A picture's part name in word/ by its place in the writer's list.
std::string mediaName(const StoredPicture& picture, size_t index)
{
    return "media/imagem" + std::to_string(index + 1) + (picture.jpeg ? ".jpeg" : ".png");
}

}

namespace {

const std::string wordMain = "word/document.xml";

// The whole tree is measured, where the reader itself stops at the depth it reads to.
void checkNesting(const XML::Node& root, const Nesting& nesting)
{
    if (nesting.levels == SIZE_MAX && nesting.tables == SIZE_MAX)
        return;
    struct Open {
        const XML::Node* node;
        size_t level;
        size_t tables;  // this one included
    };
    std::vector<Open> stack{{&root, 1, 0}};
    while (!stack.empty()) {
        const Open open = stack.back();
        stack.pop_back();
        nesting.check(open.level, open.tables);
        for (const auto& c : open.node->children)
            stack.push_back({c.get(), open.level + 1, open.tables + (c->name == "tbl" ? 1 : 0)});
    }
}

// A part of the package; nothing for a name the unpacker would read as an option.
std::optional<std::string> packagePart(const fs::path& path, const std::string& name)
{
    if (name.empty() || name.front() == '-')
        return std::nullopt;
    return ZipTools::readEntry(path, name);
}

// The first bytes of a part: a picture's header (a JPEG's may follow 64 KiB of Exif), without
// unpacking the rest of it.
std::optional<std::string> packageHead(const fs::path& path, const std::string& name)
{
    constexpr size_t enough = 256 * 1024;
    struct Enough { };
    std::string head;
    try {
        if (name.empty() || name.front() == '-' || !ZipTools::streamEntry(path, name, [&](std::string_view bytes) {
                head.append(bytes.substr(0, enough - head.size()));
                if (head.size() >= enough)
                    throw Enough{};
            }))
            return std::nullopt;
    } catch (const Enough&) {
    }
    return head;
}

std::string mainPart(const fs::path& path)
{
    const auto relationships = packagePart(path, "_rels/.rels");
    const auto target = relationships
        ? OfficeXML::targetOfType(OfficeXML::relationships(*relationships), "officeDocument")
        : std::nullopt;
    return target ? OfficeXML::resolvePart("", *target) : wordMain;
}

// Whether the package's content types call the part a word processing document (or template),
// as they call a workbook a spreadsheet: the main part's relationship is the same for both.
bool isWordPart(const fs::path& path, const std::string& part)
{
    const auto types = packagePart(path, "[Content_Types].xml");
    const auto root = types ? XML::parse(*types) : nullptr;
    if (!root)
        return false;
    for (const auto& entry : root->children) {
        const auto* name = attr(*entry, "PartName");
        const auto* type = attr(*entry, "ContentType");
        if (entry->name == "Override" && name && type
            && QString::fromStdString(*name).compare(QString::fromStdString("/" + part), Qt::CaseInsensitive) == 0)
            return type->find("wordprocessingml") != std::string::npos || type->find("ms-word") != std::string::npos;
    }
    return false;
}

}

bool isDocx(const fs::path& path)
{
    if (!OfficeXML::isZip(path))
        return false;
    const std::string main = mainPart(path);
    if (main != wordMain && !isWordPart(path, main))
        return false;
    return ZipTools::contains(path, main);
}

Document read(const fs::path& path, Pictures pictures, const Nesting& nesting)
{
    const std::string part = mainPart(path);
    const auto main = packagePart(path, part);
    if (!main)
        throw ConversionError::unreadable();
    const auto relationships = packagePart(path, OfficeXML::relationshipsPartOf(part));
    const auto listed = OfficeXML::relationships(relationships.value_or(""));
    const auto related = [&](std::string_view kind, const char* usual) {
        const auto target = OfficeXML::targetOfType(listed, kind);
        return packagePart(path, OfficeXML::resolvePart(part, target.value_or(usual)));
    };
    Parts parts{*main, relationships, related("numbering", "numbering.xml"), related("styles", "styles.xml"), part};
    switch (pictures) {
    case Pictures::none: break;
    case Pictures::heads:
        parts.part = [&path](const std::string& name) {
            return packageHead(path, name);
        };
        break;
    case Pictures::whole:
        parts.part = [&path](const std::string& name) {
            return packagePart(path, name);
        };
        break;
    }
    return parse(parts, nesting);
}

Document parse(const Parts& parts, const Nesting& nesting)
{
    Reader reader;
    reader.documentPart = parts.documentPart;
    reader.readPart = parts.part;
    auto root = XML::parse(parts.document, reader.budget);
    const auto* body = root ? root->find("body") : nullptr;
    if (!body)
        throw ConversionError::unreadable();
    checkNesting(*root, nesting);
    reader.loadRelationships(parts.relationships);
    reader.loadNumbering(parts.numbering);
    reader.loadStyles(parts.styles);
    reader.blocks(*body, reader.document.blocks);
    // Text that stood where the reader does not look would otherwise pass for an empty document.
    if (reader.document.plainText().trimmed().isEmpty()
        && !QString::fromStdString(body->allText("t")).trimmed().isEmpty())
        throw ConversionError::unreadable();
    return std::move(reader.document);
}

void write(const Document& document, const fs::path& destination)
{
    const PageSetup page = document.page.value_or(PageSetup{});
    Writer writer;
    for (const auto& block : document.blocks) {
        if (block.table)
            writer.table(*block.table, page.width - page.left - page.right);
        else
            writer.paragraph(block.paragraph);
    }
    writer.body += "<w:sectPr><w:pgSz w:w=\"" + twips(page.width) + "\" w:h=\"" + twips(page.height) + "\"/>"
        + "<w:pgMar w:top=\"" + twips(page.top) + "\" w:right=\"" + twips(page.right) + "\" w:bottom=\""
        + twips(page.bottom) + "\" w:left=\"" + twips(page.left)
        + "\" w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>";

    QString relationships = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rIdS" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/><Relationship Id="rIdN" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/numbering" Target="numbering.xml"/>)";
    for (int i = 0; i < writer.links.size(); ++i)
        relationships += "<Relationship Id=\"rIdL" + QString::number(i + 1)
            + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\" Target=\""
            + escape(writer.links[i]) + "\" TargetMode=\"External\"/>";
    for (size_t i = 0; i < writer.pictures.size(); ++i)
        relationships += "<Relationship Id=\"rIdP" + QString::number(i + 1)
            + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" Target=\""
            + QString::fromStdString(mediaName(writer.pictures[i], i)) + "\"/>";
    relationships += "</Relationships>";

    FileSafety::TempDir work;
    const fs::path root = work.path() / "docx";
    writePart(root, "[Content_Types].xml", contentTypes);
    writePart(root, "_rels/.rels", packageRelationships);
    writePart(root, "word/_rels/document.xml.rels", relationships);
    writePart(root, "word/styles.xml", stylesPart());
    writePart(root, "word/numbering.xml", numberingPart());
    for (size_t i = 0; i < writer.pictures.size(); ++i) {
        const QByteArray& bytes = writer.pictures[i].bytes;
        writeBytes(root, "word/" + mediaName(writer.pictures[i], i), std::string_view(bytes.constData(), size_t(bytes.size())));
    }
    writePart(root, "word/document.xml",
        QString("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document ") + mainNamespaces
            + "><w:body>" + writer.body + "</w:body></w:document>");
    ZipTools::packContents(destination, root);
}

}
