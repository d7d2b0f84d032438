#include "documents/print_font.h"

#include "documents/docx_fonts.h"
#include "documents/styled_text.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QtEndian>

#include <cstring>
#include <mutex>
#include <vector>

namespace PrintFont {

namespace {

quint16 u16(const QByteArray& bytes, qsizetype at) { return qFromBigEndian<quint16>(bytes.constData() + at); }

quint32 u32(const QByteArray& bytes, qsizetype at) { return qFromBigEndian<quint32>(bytes.constData() + at); }

void append16(QByteArray& bytes, quint32 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xff));
}

// Where a table's record sits in the font's directory, and the table's place in the file.
struct Table {
    qsizetype record = 0;
    qsizetype offset = 0;
    qsizetype length = 0;
};

std::optional<Table> table(const QByteArray& font, const char* tag)
{
    if (font.size() < 12)
        return std::nullopt;
    const qsizetype count = u16(font, 4);
    if (font.size() < 12 + 16 * count)
        return std::nullopt;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype record = 12 + 16 * i;
        if (std::memcmp(font.constData() + record, tag, 4) != 0)
            continue;
        const qsizetype offset = u32(font, record + 8), length = u32(font, record + 12);
        if (offset > font.size() || length > font.size() - offset)
            return std::nullopt;
        return Table{record, offset, length};
    }
    return std::nullopt;
}

// Shapers turn features on by their tags, so the feature renamed to one nobody asks for is off
// while its lookups stay where they were.
bool switchOffContextualAlternates(QByteArray& font)
{
    const auto gsub = table(font, "GSUB");
    if (!gsub)
        return true;
    if (gsub->length < 10)
        return false;
    const qsizetype end = gsub->offset + gsub->length;
    const qsizetype list = gsub->offset + u16(font, gsub->offset + 6);
    if (list + 2 > end)
        return false;
    const qsizetype count = u16(font, list);
    if (list + 2 + 6 * count > end)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        char* tag = font.data() + list + 2 + 6 * i;
        if (std::memcmp(tag, "calt", 4) == 0)
            std::memcpy(tag, "zalt", 4);
    }
    return true;
}

// A new name table with the family names (1, 16 and 21) renamed goes at the end of the file, and
// the directory points at it; the old one stays behind unread. The PostScript name stays, so a
// PDF still names the font Inter.
bool renameFamily(QByteArray& font, const QString& from, const QString& to)
{
    const auto name = table(font, "name");
    if (!name || name->length < 6)
        return false;
    const QByteArray old = font.mid(name->offset, name->length);
    const qsizetype count = u16(old, 2), storage = u16(old, 4);
    // Format 1 keeps language tags after the records; Inter has none.
    if (u16(old, 0) != 0 || old.size() < 6 + 12 * count || storage > old.size() || 6 + 12 * count > 0xffff)
        return false;
    QByteArray records, strings;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype at = 6 + 12 * i;
        const quint16 platform = u16(old, at), id = u16(old, at + 6);
        const qsizetype length = u16(old, at + 8), offset = u16(old, at + 10);
        if (storage + offset + length > old.size() || strings.size() > 0xffff)
            return false;
        QByteArray text = old.mid(storage + offset, length);
        if (id == 1 || id == 16 || id == 21) {
            // Unicode and Windows names are UTF-16; the Macintosh ones of a Latin family, ASCII.
            const bool wide = platform == 0 || platform == 3;
            QString value;
            for (qsizetype k = 0; wide && k + 1 < text.size(); k += 2)
                value += QChar(u16(text, k));
            if (!wide)
                value = QString::fromLatin1(text);
            if (value.startsWith(from)) {
                value = to + value.mid(from.size());
                text.clear();
                for (QChar c : value)
                    wide ? append16(text, c.unicode()) : void(text.append(char(c.unicode())));
            }
        }
        records += old.mid(at, 8);
        append16(records, quint32(text.size()));
        append16(records, quint32(strings.size()));
        strings += text;
    }
    QByteArray replacement;
    append16(replacement, 0);
    append16(replacement, quint32(count));
    append16(replacement, quint32(6 + 12 * count));
    replacement += records + strings;
    while (font.size() % 4 != 0)
        font.append('\0');
    qToBigEndian<quint32>(quint32(font.size()), font.data() + name->record + 8);
    qToBigEndian<quint32>(quint32(replacement.size()), font.data() + name->record + 12);
    font += replacement;
    return true;
}

// The registered family, or an empty text when Inter's faces could not all be registered.
const QString& family()
{
    static QString registered;
    static std::once_flag once;
    std::call_once(once, [] {
        const QString inter = StyledText::bodyFontFamily();
        const QString alias = "Brivlon " + inter;
        std::vector<int> ids;
        bool complete = true;
        for (const auto& path : DocxFonts::files(inter)) {
            QFile file(QString::fromStdString(path.string()));
            const auto patched
                = file.open(QIODevice::ReadOnly) ? withoutContextualForms(file.readAll(), inter, alias) : std::nullopt;
            const int id = patched ? QFontDatabase::addApplicationFontFromData(*patched) : -1;
            if (id >= 0)
                ids.push_back(id);
            // A face missing from the family would be drawn synthesised, or from another font.
            if (id < 0 || !QFontDatabase::applicationFontFamilies(id).contains(alias))
                complete = false;
        }
        if (complete && !ids.empty()) {
            registered = alias;
            return;
        }
        for (int id : ids)
            QFontDatabase::removeApplicationFont(id);
    });
    return registered;
}

QStringList retargeted(QStringList families, const QString& alias)
{
    for (auto& name : families)
        if (name.compare(StyledText::bodyFontFamily(), Qt::CaseInsensitive) == 0)
            name = alias;
    return families;
}

bool retarget(QTextCharFormat& format, const QString& alias)
{
    bool changed = false;
    if (format.hasProperty(QTextFormat::FontFamilies)) {
        const auto families = format.property(QTextFormat::FontFamilies).toStringList();
        const auto swapped = retargeted(families, alias);
        changed = swapped != families;
        format.setProperty(QTextFormat::FontFamilies, swapped);
    }
    if (format.hasProperty(QTextFormat::FontFamily)) {
        const auto single = format.property(QTextFormat::FontFamily).toString();
        const auto swapped = retargeted({single}, alias).front();
        changed = changed || swapped != single;
        format.setProperty(QTextFormat::FontFamily, swapped);
    }
    return changed;
}

}

std::optional<QByteArray> withoutContextualForms(const QByteArray& font, const QString& from, const QString& to)
{
    if (font.size() < 12)
        return std::nullopt;
    const quint32 version = u32(font, 0);
    if (version != 0x00010000 && version != 0x4f54544f /* OTTO */ && version != 0x74727565 /* true */)
        return std::nullopt;
    QByteArray result = font;
    if (!switchOffContextualAlternates(result) || !renameFamily(result, from, to))
        return std::nullopt;
    return result;
}

void apply(QTextDocument& document)
{
    const QString& alias = family();
    QFont font = document.defaultFont();
    if (alias.isEmpty()) {
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        return;
    }
    font.setFamilies(retargeted(font.families(), alias));
    document.setDefaultFont(font);
    // Formats are changed once every fragment has been looked at: a change may merge a fragment
    // with its neighbour under the iterator.
    struct Change {
        int from = 0;
        int to = 0;
        QTextCharFormat format;
        bool block = false;
    };
    std::vector<Change> changes;
    for (auto block = document.begin(); block != document.end(); block = block.next()) {
        // The block's own character format dresses its list marker.
        if (QTextCharFormat format = block.charFormat(); retarget(format, alias))
            changes.push_back({block.position(), block.position(), format, true});
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (QTextCharFormat format = fragment.charFormat(); retarget(format, alias))
                changes.push_back({fragment.position(), fragment.position() + fragment.length(), format});
        }
    }
    for (const auto& change : changes) {
        QTextCursor cursor(&document);
        cursor.setPosition(change.from);
        if (change.block) {
            cursor.setBlockCharFormat(change.format);
            continue;
        }
        cursor.setPosition(change.to, QTextCursor::KeepAnchor);
        cursor.setCharFormat(change.format);
    }
}

}
