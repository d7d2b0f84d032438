// qpdf's headers warn unless told that no deprecated pointer holders are used.
#define POINTERHOLDER_TRANSITION 4

#include "core/engines/pdf_tools.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/qpdf_input.h"
#include "core/engines/qpdf_output.h"

#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <zlib.h>

namespace PDFTools {

namespace {

std::optional<long long> wholeNumber(std::string_view text)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> split(std::string_view text, std::string_view separators, bool keepEmpty)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const auto end = text.find_first_of(separators, start);
        const auto part = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (keepEmpty || !part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// The filters qpdf undoes without loss; it leaves pictures' own codings (JPEG, JBIG2, CCITT fax,
// JPEG 2000) as they are, and a stream with one of them is never decoded as a whole.
bool undone(QPDFObjectHandle filter)
{
    if (!filter.isName())
        return false;
    const auto name = filter.getName();
    return name == "/FlateDecode" || name == "/Fl" || name == "/LZWDecode" || name == "/LZW" || name == "/ASCII85Decode"
        || name == "/A85" || name == "/ASCIIHexDecode" || name == "/AHx" || name == "/RunLengthDecode" || name == "/RL";
}

// Whether the data of a stream qpdf did not decode gets through the filters in front of the
// picture's own coding (a JPEG inside deflate): a truncated deflate layer is damage all the same.
bool outerLayersDecode(QPDF& written, QPDFObjectHandle stream, Pipeline& sink)
{
    auto dict = stream.getDict();
    auto filters = dict.getKey("/Filter");
    if (!filters.isArray())
        return true;
    auto parameters = dict.getKey("/DecodeParms");
    auto outer = QPDFObjectHandle::newArray(), outerParameters = QPDFObjectHandle::newArray();
    for (int i = 0; i < filters.getArrayNItems() && undone(filters.getArrayItem(i)); ++i) {
        outer.appendItem(filters.getArrayItem(i));
        outerParameters.appendItem(parameters.isArray() ? parameters.getArrayItem(i)
                : i == 0                                ? parameters
                                                        : QPDFObjectHandle::newNull());
    }
    if (outer.getArrayNItems() == 0)
        return true;
    auto layers = QPDFObjectHandle::newStream(&written);
    layers.replaceStreamData(stream.getRawStreamData(), outer, outerParameters);
    return layers.pipeStreamData(&sink, 0, qpdf_dl_specialized);
}

// Whether a stream of deflate data alone is all there: its last block ends, only the checksum
// after it is missing or wrong, as some writers leave it. qpdf warns that the output "may still
// be valid"; every viewer draws the whole of it.
bool deflateComplete(QPDFObjectHandle stream)
{
    auto filter = stream.getDict().getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    if (!filter.isNameAndEquals("/FlateDecode") && !filter.isNameAndEquals("/Fl"))
        return false;
    const auto raw = stream.getRawStreamData();
    if (raw->getSize() < 2)
        return false;
    z_stream inflating{};
    // The two bytes of the header are left out: read raw, the end of the last block is the end.
    if (inflateInit2(&inflating, -MAX_WBITS) != Z_OK)
        return false;
    inflating.next_in = raw->getBuffer() + 2;
    inflating.avail_in = uInt(raw->getSize() - 2);
    unsigned char out[64 << 10];
    int result = Z_OK;
    while (result == Z_OK) {
        inflating.next_out = out;
        inflating.avail_out = sizeof out;
        result = inflate(&inflating, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR && inflating.avail_out == 0)
            result = Z_OK;  // the window was full: more to come
    }
    inflateEnd(&inflating);
    return result == Z_STREAM_END;
}

// What qpdf mended of a source as it read it, from its warnings, each of which goes to the error
// log: the objects whose stream length it found again.
class SourceRepairs {
public:
    void take(QPDF& source)
    {
        for (const auto& warning : source.getWarnings()) {
            ErrorLog::add(std::string("qpdf: ") + warning.what());
            // qpdf names the object whose length it found again by the "endstream" after its data.
            if (warning.getMessageDetail().starts_with("recovered stream length"))
                recoveredLengths_.insert(warning.getObject());
        }
    }

    bool excuses(const std::vector<QPDFExc>& warnings) const
    {
        if (warnings.empty())
            return false;
        for (const auto& warning : warnings) {
            // "error decoding stream data for object 367 0: …", the source's number.
            const auto& detail = warning.getMessageDetail();
            const auto at = detail.find("for object ");
            if (at == std::string::npos)
                return false;
            const auto end = detail.find(':', at);
            if (!recoveredLengths_.count(detail.substr(at + 4, end == std::string::npos ? end : end - at - 4)))
                return false;
        }
        return true;
    }

private:
    std::set<std::string> recoveredLengths_;
};

// qpdf writes what it read, damage included: a content stream that does not decode is copied as
// it is, and a viewer then fails on the output although the tool succeeded. So before a written
// file gets its name, every stream reachable from what was written is decoded as far as qpdf
// decodes it: the filters it undoes without loss, up to a picture's own coding, which it cannot
// read and copies untouched (a picture damaged inside its JPEG is drawn as far as it goes by a
// viewer, as it was from the source). The document is the one just written, its objects already
// read: walking it costs the decoding alone, where reading the file back parsed and wrote out
// every object again (half of a small job). What qpdf repaired as it read the source (a broken
// cross-reference table, a stream's length found again) was taken into `repairs` before this and
// is kept: a stream qpdf had to find the end of is copied as qpdf recovered it, and viewers draw
// what of it decodes from the output as from the source. So is a deflate stream that lacks only
// its checksum. Any other warning from here on is the source's damage.
void requireSound(QPDF& written, SourceRepairs& repairs)
{
    repairs.take(written);
    Pl_Discard discard;
    std::vector<QPDFObjectHandle> pending{written.getTrailer()};
    std::set<QPDFObjGen> seen;
    size_t visited = 0;
    while (!pending.empty()) {
        auto object = std::move(pending.back());
        pending.pop_back();
        if (object.isIndirect() && !seen.insert(object.getObjGen()).second)
            continue;
        if (++visited % 4096 == 0)
            Task::checkCancelled();
        bool sound = true;
        try {
            if (object.isStream()) {
                bool attempted = false;
                sound = object.pipeStreamData(&discard, &attempted, 0, qpdf_dl_specialized);
                if (sound && !attempted)
                    sound = outerLayersDecode(written, object, discard);
                if (!sound || written.anyWarnings()) {
                    const auto warnings = written.getWarnings();
                    for (const auto& warning : warnings)
                        ErrorLog::add(std::string("qpdf: ") + warning.what());
                    sound = repairs.excuses(warnings) || deflateComplete(object);
                }
                object = object.getDict();
            }
        } catch (const std::exception&) {
            sound = false;
        }
        if (!sound || written.anyWarnings())
            throw ConversionError::because(ErrorCauses::damaged);
        if (object.isDictionary()) {
            for (auto& [key, value] : object.ditems())
                pending.push_back(value);
        } else if (object.isArray()) {
            for (auto& item : object.aitems())
                pending.push_back(item);
        }
    }
}

// The page dictionaries among the objects of `pdf`, in the order the file holds them, made its
// page tree.
void gatherPages(QPDF& pdf)
{
    std::vector<std::pair<std::pair<qpdf_offset_t, int>, QPDFObjGen>> placed;
    std::map<int, qpdf_offset_t> streams;
    const auto table = pdf.getXRefTable();
    for (const auto& [id, entry] : table)
        if (entry.getType() == 1)
            streams[id.getObj()] = entry.getOffset();
    for (const auto& [id, entry] : table) {
        // An object inside an object stream lies where its stream does, by its place in it.
        if (entry.getType() == 1)
            placed.push_back({{entry.getOffset(), 0}, id});
        else if (entry.getType() == 2 && streams.count(entry.getObjStreamNumber()))
            placed.push_back({{streams[entry.getObjStreamNumber()], 1 + entry.getObjStreamIndex()}, id});
    }
    std::sort(placed.begin(), placed.end());
    std::vector<QPDFObjectHandle> pages;
    for (const auto& [where, id] : placed) {
        if (pages.size() % 4096 == 0)
            Task::checkCancelled();
        if (auto object = pdf.getObjectByObjGen(id); object.isDictionaryOfType("/Page") && !object.hasKey("/Kids"))
            pages.push_back(object);
    }
    auto root = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    root.replaceKey("/Type", QPDFObjectHandle::newName("/Pages"));
    root.replaceKey("/Kids", QPDFObjectHandle::newArray(pages));
    root.replaceKey("/Count", QPDFObjectHandle::newInteger(int(pages.size())));
    for (auto& page : pages)
        page.replaceKey("/Parent", root);
    pdf.getRoot().replaceKey("/Pages", root);
}

fs::path writeNew(QPDF& pdf, QPDF& source, const fs::path& preferred)
{
    FileSafety::NewFile file(preferred.parent_path());
    write(pdf, file);
    SourceRepairs repairs;
    repairs.take(source);
    requireSound(pdf, repairs);
    return file.publish(preferred);
}

fs::path extract(const fs::path& source, const ToolParams& params)
{
    auto pdf = open(source);
    auto pages = QPDFPageDocumentHelper(*pdf).getAllPages();
    const auto indices = pageIndices(params.pages, int(pages.size()));
    if (indices.empty())
        throw ToolError("Nenhuma página válida em \u201c" + params.pages + "\u201d.");
    QPDF out;
    out.emptyPDF();
    QPDFPageDocumentHelper result(out);
    for (int index : indices) {
        try {
            result.addPage(pages[size_t(index)], false);
        } catch (const std::exception&) {
            // A page that cannot be copied is left out.
        }
    }
    return writeNew(out, *pdf, Tools::preferredOutput(source, Tool::pdfExtract, "pdf"));
}

fs::path rotate(const fs::path& source)
{
    auto pdf = open(source);
    for (auto& page : QPDFPageDocumentHelper(*pdf).getAllPages())
        page.rotatePage(90, true);
    return writeNew(*pdf, *pdf, Tools::preferredOutput(source, Tool::pdfRotate, "pdf"));
}

fs::path splitPages(const fs::path& source)
{
    auto pdf = open(source);
    const auto folder = OutputPaths::directory(source);
    const auto label = " (" + Tools::suffix(Tool::pdfSplit) + ")";
    const auto names
        = FileSafety::numberedNames(folder, FileSafety::fittedStem(folder, source.stem().string(), label) + label, "");
    // The pages are written into a hidden folder that gets its name only once every page is in.
    auto staged = FileSafety::StagedPath::folderFor(names);
    const auto pages = QPDFPageDocumentHelper(*pdf).getAllPages();
    SourceRepairs repairs;
    for (size_t i = 0; i < pages.size(); ++i) {
        Task::checkCancelled();
        QPDF one;
        one.emptyPDF();
        QPDFPageDocumentHelper(one).addPage(pages[i], false);
        char name[64];
        std::snprintf(name, sizeof name, " - página %03zu.pdf", i + 1);
        // A long name is shortened before the page's number, never through it.
        const auto path = staged.path() / (FileSafety::fittedStem(staged.path(), source.stem().string(), name) + name);
        try {
            FileSafety::NewFile file(staged.path());
            write(one, file);
            repairs.take(*pdf);
            requireSound(one, repairs);
            file.publish(path);
        } catch (const ConversionError&) {
            throw;
        } catch (const std::exception&) {
            throw ConversionError::writeFailed();
        }
    }
    return staged.publish(names);
}

}

std::unique_ptr<QPDF> open(const fs::path& source, bool* mended, Unlisted unlisted)
{
    FileSafety::requireRegularFile(source);
    padHeapForQpdf();
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        pdf->processInputSource(std::make_shared<FileBlocks>(source));
        if (unlisted == Unlisted::gathered && !pdf->getRoot().getKey("/Pages").isDictionary())
            gatherPages(*pdf);
        std::error_code unknown;
        const auto size = fs::file_size(source, unknown);
        // Nothing a tool could write without a page: refused as the conversions refuse it.
        bool mendedTree = false;
        if (countPages(*pdf, unknown ? 0 : size, &mendedTree) == 0)
            throw ConversionError::unreadable();
        if (mended)
            *mended = mendedTree;
        QPDFPageDocumentHelper(*pdf).getAllPages();
    } catch (const ConversionError&) {
        throw;
    } catch (const QPDFExc& error) {
        if (error.getErrorCode() == qpdf_e_password)
            throw ConversionError::because(ErrorCauses::password);
        throw ConversionError::unreadable();
    } catch (const std::exception&) {
        throw ConversionError::unreadable();
    }
    return pdf;
}

int countPages(QPDF& pdf, uintmax_t fileSize, bool* mendedAny)
{
    // qpdf's own list of pages mends a page listed twice with a copy of it: a tree of 6 MB that
    // lists one page a million times became a million pages, gigabytes, and a split into a million
    // files. So the tree is walked first, a kid at a time, holding the nodes on the way and which
    // pages were met. A page listed again now and then (a blank between chapters) is kept; listed
    // more often than the tree has pages of its own, and more than a document ever repeats one,
    // the tree is damaged. So is a tree deeper than any writer makes. What qpdf mends as it reads
    // is mended here, where it would stop at it: a node met again (its own kid, or one listed by
    // two parents) is left out, so that every page reached is kept once; kids that are no
    // dictionary (a null where a page was) are taken out; a catalog pointing at a page of the
    // tree rather than its root has the root above it.
    constexpr size_t repeatsAllowed = 1024;
    constexpr size_t deepest = 256;
    struct Node {
        QPDFObjectHandle node, kids;
        int taken = 0, count = 0;
        int parent = -1;  // in `nodes`
    };
    std::vector<Node> nodes;
    std::vector<int> path;
    // Each page with the node it was listed by.
    std::vector<std::pair<QPDFObjectHandle, int>> found;
    std::set<QPDFObjGen> met, pages;
    size_t repeats = 0;
    bool mended = false;
    const auto damaged = [] {
        return ConversionError::because(ErrorCauses::damaged);
    };
    const auto enter = [&](QPDFObjectHandle node) {
        if (node.isIndirect() && !met.insert(node.getObjGen()).second) {
            mended = true;
            return;
        }
        if (path.size() >= deepest)
            throw damaged();
        auto kids = node.getKey("/Kids");
        nodes.push_back({node, kids, 0, kids.isArray() ? kids.getArrayNItems() : 0, path.empty() ? -1 : path.back()});
        path.push_back(int(nodes.size()) - 1);
    };
    // As qpdf reads it: a page that lists kids is a node typed wrong.
    const auto isNode = [](QPDFObjectHandle object) {
        auto kids = object.getKey("/Kids");
        return kids.isArray() && (kids.getArrayNItems() > 0 || !object.isDictionaryOfType("/Page"));
    };
    auto root = pdf.getRoot().getKey("/Pages");
    for (size_t up = 0; root.isDictionary() && root.getKey("/Parent").isDictionary() && up < deepest; ++up) {
        root = root.getKey("/Parent");
        mended = true;
    }
    if (!root.isDictionary())
        return 0;
    if (isNode(root)) {
        enter(root);
    } else if (root.isDictionaryOfType("/Page")) {
        // The catalog names its one page as the tree.
        found.emplace_back(root, -1);
        root = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        mended = true;
    }
    while (!path.empty()) {
        Node& at = nodes[size_t(path.back())];
        if (at.taken == at.count) {
            path.pop_back();
            continue;
        }
        auto kid = at.kids.getArrayItem(at.taken++);
        if (!kid.isDictionary()) {
            mended = true;
            continue;
        }
        if (isNode(kid)) {
            enter(kid);
            continue;
        }
        if ((found.size() + 1) % 4096 == 0)
            Task::checkCancelled();
        // A page's own object takes some tens of bytes however the file is packed; a repeated
        // reference a few. A count past the file's bytes is a count of references alone.
        if (kid.isIndirect() && !pages.insert(kid.getObjGen()).second
            && (++repeats > repeatsAllowed && repeats > pages.size()))
            throw damaged();
        if (fileSize && found.size() >= fileSize)
            throw damaged();
        found.emplace_back(kid, path.back());
    }
    // Readers count the pages by the root's /Count: a tree that says otherwise is written anew.
    auto declared = root.getKey("/Count");
    if (!declared.isInteger() || declared.getIntValue() != static_cast<long long>(found.size()))
        mended = true;
    if (mended && !found.empty()) {
        // Written flat, each page with what it took from the nodes above it: qpdf would
        // otherwise copy the nodes as they are, the damage with them.
        std::vector<QPDFObjectHandle> kids;
        for (auto& [page, node] : found) {
            for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"})
                for (int n = node; !page.hasKey(key) && n >= 0; n = nodes[size_t(n)].parent)
                    if (nodes[size_t(n)].node.hasKey(key))
                        page.replaceKey(key, nodes[size_t(n)].node.getKey(key));
            page.replaceKey("/Parent", root);
            kids.push_back(page);
        }
        root.replaceKey("/Type", QPDFObjectHandle::newName("/Pages"));
        root.replaceKey("/Kids", QPDFObjectHandle::newArray(kids));
        root.replaceKey("/Count", QPDFObjectHandle::newInteger(int(kids.size())));
        root.removeKey("/Parent");
        pdf.getRoot().replaceKey("/Pages", root);
        pdf.updateAllPagesCache();
    }
    if (mendedAny)
        *mendedAny = mended;
    return int(std::min<size_t>(found.size(), size_t(std::numeric_limits<int>::max())));
}

void write(QPDF& pdf, FileSafety::NewFile& file, bool objectStreams)
{
    try {
        NewFilePipeline pipeline(file);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        writer.setPreserveEncryption(false);
        if (objectStreams)
            writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
        pipeline.check();
    } catch (const std::exception&) {
        throw ConversionError::writeFailed();
    }
}

std::vector<int> pageIndices(const std::string& pages, int count)
{
    std::vector<int> result;
    for (auto piece : split(pages, ",;", false)) {
        piece = trimmed(piece);
        if (piece.empty())
            continue;
        const auto parts = split(piece, "-", true);
        if (parts.size() == 1) {
            if (auto n = wholeNumber(parts[0]); n && *n >= 1 && *n <= count)
                result.push_back(int(*n - 1));
        } else if (parts.size() == 2) {
            const long long start = wholeNumber(parts[0]).value_or(1);
            const long long end = wholeNumber(parts[1]).value_or(count);
            // Clamped before expanding: "1-99999999999" is the whole document, at once.
            for (long long n = std::max(start, 1LL); n <= std::min(end, (long long)count); ++n)
                result.push_back(int(n - 1));
        }
    }
    return result;
}

fs::path run(Tool tool, const fs::path& source, const ToolParams& params)
{
    Task::checkCancelled();
    if (tool == Tool::pdfSplit)
        return splitPages(source);
    if (tool == Tool::pdfRotate)
        return rotate(source);
    if (tool == Tool::pdfExtract)
        return extract(source, params);
    throw ConversionError::unsupported();
}

}
