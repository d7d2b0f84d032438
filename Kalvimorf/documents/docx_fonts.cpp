#include "documents/docx_fonts.h"

#include "core/base/catalog.h"
#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "documents/zip_tools.h"

#include <QByteArrayView>
#include <QRegularExpression>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>

namespace DocxFonts {

namespace {

QString fcString(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(value));
}

struct FontList {
    FcFontSet* set = nullptr;
    ~FontList()
    {
        if (set)
            FcFontSetDestroy(set);
    }
};

// Every installed font with the given family (or all of them), with the objects asked for.
FontList list(const QString& family)
{
    FcPattern* pattern = FcPatternCreate();
    if (!family.isNull())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.toUtf8().constData()));
    FcObjectSet* objects
        = FcObjectSetBuild(FC_FAMILY, FC_FULLNAME, FC_POSTSCRIPT_NAME, FC_WEIGHT, FC_SLANT, FC_FILE, nullptr);
    FontList result;
    result.set = FcFontList(nullptr, pattern, objects);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return result;
}

const QRegularExpression& fontName()
{
    static const QRegularExpression rx(R"re((?:w:(?:ascii|hAnsi|cs|eastAsia)|typeface)="([^"]+)")re");
    return rx;
}

const QRegularExpression& runProperties()
{
    static const QRegularExpression rx("<w:rPr>(.*?)</w:rPr>", QRegularExpression::DotMatchesEverythingOption);
    return rx;
}

const QRegularExpression& fontAttribute()
{
    static const QRegularExpression rx(R"re((w:(?:ascii|hAnsi|cs|eastAsia))="([^"]+)")re");
    return rx;
}

// The parts that name fonts: the XML parts right in "word/" and the theme.
bool namesFonts(const std::string& entry)
{
    if (entry == "word/theme/theme1.xml")
        return true;
    return entry.starts_with("word/") && entry.ends_with(".xml") && entry.find('/', 5) == std::string::npos;
}

// Only those parts are unpacked, and no more of them in all than a package's bound: the rest of
// the package (its pictures above all) is copied through untouched when the parts are put back.
Prepared rewrite(const fs::path& source, const fs::path& work)
{
    const fs::path parts = work / "docx";
    std::vector<std::string> changed;
    std::set<QString> families;
    unsigned long long read = 0;
    for (const auto& entry : ZipTools::entries(source).value_or(std::vector<ZipTools::Entry>{})) {
        if (!namesFonts(entry.name))
            continue;
        const auto bytes = ZipTools::readEntry(source, entry.name);
        if (!bytes)
            continue;
        read += bytes->size();
        if (read > ZipTools::unpackedLimit)
            return {source, {}};
        if (!QByteArrayView(*bytes).isValidUtf8())
            continue;
        QString text = QString::fromStdString(*bytes);
        if (text.contains("w:rFonts")) {
            QString fixed = fix(text);
            if (fixed != text) {
                const fs::path part = parts / entry.name;
                fs::create_directories(part.parent_path());
                auto fd = FileSafety::createExclusive(part, 0644);
                FileSafety::writeAll(fd.get(), fixed.toStdString(), part);
                changed.push_back(entry.name);
                text = std::move(fixed);
            }
        }
        families.merge(names(text));
    }
    if (changed.empty())
        return {source, families};
    // zip replaces the entries of the copy that have the same names.
    const fs::path repacked = work / source.filename();
    fs::copy_file(source, repacked);
    std::vector<std::string> arguments = {"-X", "-q", repacked.string()};
    arguments.insert(arguments.end(), changed.begin(), changed.end());
    Commands::run("/usr/bin/zip", arguments, {.cwd = parts, .memoryLimit = ZipTools::archiverMemory()});
    return {repacked, families};
}

}

const Faces& faces()
{
    static const Faces table = [] {
        Faces result;
        if (!FcInit())
            return result;
        FontList all = list(QString());
        if (!all.set)
            return result;
        std::set<QString> families;
        for (int i = 0; i < all.set->nfont; ++i) {
            FcChar8* value = nullptr;
            for (int n = 0; FcPatternGetString(all.set->fonts[i], FC_FAMILY, n, &value) == FcResultMatch; ++n)
                families.insert(QString::fromUtf8(reinterpret_cast<const char*>(value)));
        }
        for (int i = 0; i < all.set->nfont; ++i) {
            FcPattern* font = all.set->fonts[i];
            const QString family = fcString(font, FC_FAMILY);
            if (family.isEmpty())
                continue;
            int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
            FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
            FcPatternGetInteger(font, FC_SLANT, 0, &slant);
            const Face face{family, weight >= FC_WEIGHT_BOLD, slant != FC_SLANT_ROMAN};
            for (const QString& key : {fcString(font, FC_FULLNAME), fcString(font, FC_POSTSCRIPT_NAME)}) {
                if (key.isEmpty() || families.count(key) || key == family)
                    continue;
                result[key] = face;
            }
        }
        return result;
    }();
    return table;
}

QString fix(const QString& xml, const Faces& known)
{
    QString out;
    qsizetype copied = 0;
    auto it = runProperties().globalMatch(xml);
    while (it.hasNext()) {
        const auto match = it.next();
        out += xml.mid(copied, match.capturedStart() - copied);
        const QString inner = match.captured(1);
        QString rewritten;
        bool replaced = false, addBold = false, addItalic = false;
        qsizetype innerCopied = 0;
        auto attributes = fontAttribute().globalMatch(inner);
        while (attributes.hasNext()) {
            const auto attribute = attributes.next();
            rewritten += inner.mid(innerCopied, attribute.capturedStart() - innerCopied);
            innerCopied = attribute.capturedEnd();
            const QString name = attribute.captured(1);
            auto face = known.find(attribute.captured(2));
            if (face == known.end()) {
                rewritten += attribute.captured();
                continue;
            }
            rewritten += name + "=\"" + face->second.family + "\"";
            replaced = true;
            if (name == "w:ascii" || name == "w:hAnsi") {
                addBold = addBold || face->second.bold;
                addItalic = addItalic || face->second.italic;
            }
        }
        rewritten += inner.mid(innerCopied);
        QString result = inner;
        if (replaced) {
            result = rewritten;
            if (addBold && !result.contains("<w:b/>") && !result.contains("<w:b "))
                result += "<w:b/><w:bCs/>";
            if (addItalic && !result.contains("<w:i/>") && !result.contains("<w:i "))
                result += "<w:i/><w:iCs/>";
        }
        out += "<w:rPr>" + result + "</w:rPr>";
        copied = match.capturedEnd();
    }
    out += xml.mid(copied);
    return out;
}

std::set<QString> names(const QString& xml)
{
    std::set<QString> result;
    auto it = fontName().globalMatch(xml);
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        if (!name.startsWith('+'))
            result.insert(name);
    }
    return result;
}

Prepared prepare(const fs::path& source, const fs::path& work)
{
    if (Catalog::normalizedExt(source) != "docx")
        return {source, {}};
    try {
        return rewrite(source, work);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        // Whatever went wrong, the suite still gets the document as it came.
        return {source, {}};
    }
}

void collectFonts(const std::set<QString>& families, const fs::path& target)
{
    FileSafety::removeTree(target);
    std::error_code error;
    fs::create_directories(target, error);
    std::set<fs::path> handled;
    int counter = 0;
    for (const QString& family : families) {
        for (const fs::path& file : files(family)) {
            // The distribution's fonts are what the suite sees without help.
            if (file.string().starts_with("/usr/share/fonts/") || !handled.insert(file).second)
                continue;
            ++counter;
            const std::string ext = file.extension().empty() ? "ttf" : file.extension().string().substr(1);
            fs::copy_file(file, target / ("fonte-" + std::to_string(counter) + "." + ext), error);
        }
    }
}

std::vector<fs::path> files(const QString& family)
{
    std::vector<fs::path> result;
    FontList members = list(family);
    if (!members.set)
        return result;
    for (int i = 0; i < members.set->nfont; ++i) {
        const std::string file = fcString(members.set->fonts[i], FC_FILE).toStdString();
        if (!file.empty() && std::find(result.begin(), result.end(), file) == result.end())
            result.emplace_back(file);
    }
    return result;
}
}
