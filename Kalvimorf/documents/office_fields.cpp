#include "documents/office_fields.h"

#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "documents/text_file.h"
#include "documents/zip_tools.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace OfficeFields {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isOneOf(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A control word at `at` (just past its backslash): its letters, and where it ends with its
// number and the one space that may close it.
struct ControlWord {
    std::string_view name;
    long long number = 0;
    size_t end = 0;
};

ControlWord controlWord(std::string_view rtf, size_t at)
{
    ControlWord word;
    size_t i = at;
    while (i < rtf.size() && isLetter(rtf[i]))
        ++i;
    word.name = rtf.substr(at, i - at);
    bool negative = false;
    if (i < rtf.size() && rtf[i] == '-' && i + 1 < rtf.size() && isDigit(rtf[i + 1])) {
        negative = true;
        ++i;
    }
    for (; i < rtf.size() && isDigit(rtf[i]); ++i)
        word.number = std::min(word.number * 10 + (rtf[i] - '0'), 1LL << 40);
    if (negative)
        word.number = -word.number;
    if (i < rtf.size() && rtf[i] == ' ')
        ++i;
    word.end = i;
    return word;
}

// Where the group opened at `open` closes (the index of its "}"), or the text's end; the plain
// text it holds goes to `text` when given.
size_t groupEnd(std::string_view rtf, size_t open, std::string* text)
{
    int depth = 0;
    for (size_t i = open; i < rtf.size();) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth, ++i;
        } else if (c == '}') {
            if (--depth == 0)
                return i;
            ++i;
        } else if (c == '\\' && i + 1 < rtf.size()) {
            const char next = rtf[i + 1];
            if (isLetter(next)) {
                const auto word = controlWord(rtf, i + 1);
                i = word.end;
                // Binary data is skipped whole: its bytes are no braces.
                if (word.name == "bin" && word.number > 0)
                    i = std::min(rtf.size(), i + size_t(word.number));
                // A Unicode character and the one stand-in after it for readers that lack it.
                else if (word.name == "u") {
                    if (text)
                        text->push_back(word.number >= 0 && word.number < 128 ? char(word.number) : '?');
                    if (i < rtf.size() && rtf[i] != '\\' && rtf[i] != '{' && rtf[i] != '}')
                        ++i;
                }
            } else if (next == '\'' && i + 3 < rtf.size() && hexValue(rtf[i + 2]) >= 0 && hexValue(rtf[i + 3]) >= 0) {
                if (text)
                    text->push_back(char(hexValue(rtf[i + 2]) * 16 + hexValue(rtf[i + 3])));
                i += 4;
            } else {
                if (text && (next == '\\' || next == '{' || next == '}'))
                    text->push_back(next);
                i += 2;
            }
        } else {
            if (text && c != '\r' && c != '\n')
                text->push_back(c);
            ++i;
        }
    }
    return rtf.size();
}


// The character references of an XML text decoded, as far as a field's name goes ("&#73;NCLUDE…").
std::string decodedXml(std::string_view text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (semicolon == std::string_view::npos || semicolon - i > 10) {
            result.push_back(text[i]);
            continue;
        }
        const auto entity = text.substr(i + 1, semicolon - i - 1);
        long code = -1;
        if (entity.starts_with("#x") || entity.starts_with("#X"))
            code = std::strtol(std::string(entity.substr(2)).c_str(), nullptr, 16);
        else if (entity.starts_with("#"))
            code = std::strtol(std::string(entity.substr(1)).c_str(), nullptr, 10);
        const std::array<std::pair<std::string_view, char>, 5> named
            = {{{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
        for (const auto& [name, c] : named)
            if (entity == name)
                code = c;
        result.push_back(code > 0 && code < 128 ? char(code) : '?');
        i = semicolon;
    }
    return result;
}

// One tag of a part: its element's name without prefix, and where its attributes lie.
struct Tag {
    std::string_view local;
    bool closing = false;
    size_t end = 0;  // the index of its ">"
    std::string_view attributes;
    size_t attributesAt = 0;
};

std::optional<Tag> tagAt(std::string_view xml, size_t at)
{
    Tag tag;
    size_t i = at + 1;
    if (i < xml.size() && xml[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const size_t name = i;
    while (i < xml.size() && !isOneOf(" \t\r\n/>", xml[i]))
        ++i;
    const auto qualified = xml.substr(name, i - name);
    tag.local = qualified.substr(qualified.find(':') == std::string_view::npos ? 0 : qualified.find(':') + 1);
    // Attribute values may hold ">" only escaped in what Word writes; quotes are followed anyway.
    char quote = 0;
    for (tag.end = i; tag.end < xml.size(); ++tag.end) {
        const char c = xml[tag.end];
        if (quote)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '>')
            break;
    }
    if (tag.end >= xml.size())
        return std::nullopt;
    tag.attributesAt = i;
    tag.attributes = xml.substr(i, tag.end - i);
    return tag;
}

// Where the value of the attribute of that local name lies in the part, if the tag has one.
std::optional<std::pair<size_t, size_t>> attributeValue(const Tag& tag, std::string_view local)
{
    const auto text = tag.attributes;
    for (size_t i = 0; i < text.size();) {
        const auto equals = text.find('=', i);
        if (equals == std::string_view::npos)
            return std::nullopt;
        auto name = text.substr(i, equals - i);
        while (!name.empty() && isOneOf(" \t\r\n/", name.front()))
            name.remove_prefix(1);
        while (!name.empty() && isOneOf(" \t\r\n", name.back()))
            name.remove_suffix(1);
        if (const auto colon = name.find(':'); colon != std::string_view::npos)
            name.remove_prefix(colon + 1);
        size_t open = equals + 1;
        while (open < text.size() && isOneOf(" \t\r\n", text[open]))
            ++open;
        if (open >= text.size() || (text[open] != '"' && text[open] != '\''))
            return std::nullopt;
        const auto close = text.find(text[open], open + 1);
        if (close == std::string_view::npos)
            return std::nullopt;
        if (name == local)
            return std::pair{tag.attributesAt + open + 1, tag.attributesAt + close};
        i = close + 1;
    }
    return std::nullopt;
}

// A Word part with the instruction of every field that reaches outside emptied: a simple
// field's "instr", and the instruction pieces of a complex one between its "begin" and its
// "separate" or "end" marks.
std::string neutralisedWordXml(std::string_view xml)
{
    struct Field {
        std::string instruction;
        std::vector<std::pair<size_t, size_t>> pieces;
        bool collecting = true;
    };
    std::vector<Field> open;
    std::vector<std::pair<size_t, size_t>> emptied;
    const auto settle = [&](Field& field) {
        if (reachesOutside(field.instruction))
            emptied.insert(emptied.end(), field.pieces.begin(), field.pieces.end());
        field.pieces.clear();
        field.collecting = false;
    };
    for (size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        if (at + 1 < xml.size() && (xml[at + 1] == '?' || xml[at + 1] == '!'))
            continue;
        const auto tag = tagAt(xml, at);
        if (!tag)
            break;
        if (!tag->closing && tag->local == "fldSimple") {
            if (const auto value = attributeValue(*tag, "instr"))
                if (reachesOutside(decodedXml(xml.substr(value->first, value->second - value->first))))
                    emptied.push_back(*value);
        } else if (!tag->closing && tag->local == "fldChar") {
            const auto value = attributeValue(*tag, "fldCharType");
            const auto type = value ? xml.substr(value->first, value->second - value->first) : std::string_view();
            if (type == "begin") {
                open.emplace_back();
            } else if (type == "separate" && !open.empty()) {
                settle(open.back());
            } else if (type == "end" && !open.empty()) {
                settle(open.back());
                open.pop_back();
            }
        } else if (!tag->closing && tag->local == "instrText" && !open.empty() && open.back().collecting
            && xml[tag->end - 1] != '/') {
            const size_t start = tag->end + 1;
            const size_t end = std::min(xml.find('<', start), xml.size());
            open.back().instruction += decodedXml(xml.substr(start, end - start));
            open.back().pieces.emplace_back(start, end);
        }
        at = tag->end;
    }
    for (auto& field : open)
        settle(field);
    if (emptied.empty())
        return std::string(xml);
    std::sort(emptied.begin(), emptied.end());
    std::string result;
    size_t copied = 0;
    for (const auto& [start, end] : emptied) {
        if (start < copied)
            continue;
        result.append(xml.substr(copied, start - copied));
        copied = end;
    }
    return result.append(xml.substr(copied));
}

fs::path copyBeside(const fs::path& input, const fs::path& work)
{
    const fs::path folder = work / "campos";
    fs::create_directories(folder);
    const fs::path copy = folder / input.filename();
    fs::copy_file(input, copy);
    return copy;
}

// A Word package whose parts hold such fields, as a copy with those parts rewritten.
fs::path prepareDocx(const fs::path& input, const fs::path& work)
{
    const auto entries = ZipTools::entries(input);
    if (!entries)
        return input;
    std::vector<std::pair<std::string, std::string>> rewritten;
    for (const auto& entry : *entries) {
        if (!entry.name.ends_with(".xml") || entry.name.front() == '-' || entry.name.find("..") != std::string::npos)
            continue;
        const auto xml = ZipTools::readEntry(input, entry.name);
        if (!xml)
            continue;
        auto neutral = neutralisedWordXml(*xml);
        if (neutral != *xml)
            rewritten.emplace_back(entry.name, std::move(neutral));
    }
    if (rewritten.empty())
        return input;
    const fs::path copy = copyBeside(input, work);
    const fs::path parts = work / "partes-com-campos";
    std::vector<std::string> names;
    for (const auto& [name, xml] : rewritten) {
        fs::create_directories((parts / name).parent_path());
        FileSafety::writeNew(parts / name, xml);
        names.push_back(name);
    }
    ZipTools::packNames(copy, parts, names);
    return copy;
}
}

bool reachesOutside(std::string_view instruction)
{
    const auto start = instruction.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return false;
    std::string name;
    for (size_t i = start; i < instruction.size() && isLetter(instruction[i]); ++i)
        name.push_back(char(instruction[i] & ~0x20));
    static constexpr std::array<std::string_view, 7> reaching
        = {"INCLUDEPICTURE", "INCLUDETEXT", "INCLUDE", "IMPORT", "LINK", "DDE", "DDEAUTO"};
    return std::find(reaching.begin(), reaching.end(), name) != reaching.end();
}

std::string neutralisedRtf(std::string_view rtf)
{
    std::string result;
    std::vector<size_t> opens;  // the groups open where the scan is, by where they open
    size_t copied = 0;
    for (size_t i = 0; i < rtf.size();) {
        const char c = rtf[i];
        if (c == '{') {
            opens.push_back(i++);
            continue;
        }
        if (c == '}') {
            if (!opens.empty())
                opens.pop_back();
            ++i;
            continue;
        }
        if (c != '\\' || i + 1 >= rtf.size()) {
            ++i;
            continue;
        }
        if (!isLetter(rtf[i + 1])) {
            i += rtf[i + 1] == '\'' ? 4 : 2;
            continue;
        }
        const auto word = controlWord(rtf, i + 1);
        if (word.name == "bin" && word.number > 0) {
            i = std::min(rtf.size(), word.end + size_t(word.number));
            continue;
        }
        if (word.name != "fldinst" || opens.empty()) {
            i = word.end;
            continue;
        }
        // The instruction is the rest of the group the control word opens.
        const size_t open = opens.back();
        const size_t end = groupEnd(rtf, open, nullptr);
        std::string plain;
        groupEnd("{" + std::string(rtf.substr(word.end, end - word.end)) + "}", 0, &plain);
        if (!reachesOutside(plain)) {
            i = word.end;
            continue;
        }
        result.append(rtf.substr(copied, open - copied));
        result.append("{\\*\\fldinst }");
        copied = std::min(rtf.size(), end + 1);
        opens.pop_back();
        i = copied;
    }
    if (copied == 0)
        return std::string(rtf);
    result.append(rtf.substr(copied));
    return result;
}

std::string neutralisedWordPart(std::string_view xml) { return neutralisedWordXml(xml); }

fs::path prepare(const fs::path& input, const fs::path& work)
{
    const auto ext = Catalog::normalizedExt(input);
    if (ext == "docx")
        return prepareDocx(input, work);
    if (ext != "rtf")
        return input;
    const std::string text = TextFile::readBytes(input);
    const std::string neutral = neutralisedRtf(text);
    if (neutral == text)
        return input;
    const fs::path folder = work / "campos";
    fs::create_directories(folder);
    return FileSafety::writeNew(folder / input.filename(), neutral);
}

}
