#pragma once

#include "documents/budget.h"

#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QXmlStreamReader;

// A small element tree of an XML part, for the small parts of a package (the sheet list and
// its relationships); sheets and shared strings are read as a stream instead.
namespace XML {

struct Node {
    explicit Node(std::string name) : name(std::move(name)) { }
    // Takes the subtree apart without recursion, so a deeply nested crafted document cannot
    // exhaust the stack when its tree goes away.
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The local name: what follows the last ":" of the qualified name.
    const std::string name;
    // Qualified name ("r", "t", "r:id", "xml:space") and value, in document order; a
    // well-formed element never repeats a name. A flat list: a sheet has millions of these.
    std::vector<std::pair<std::string, std::string>> attrs;
    std::vector<std::shared_ptr<Node>> children;
    // Character data directly inside this element, CDATA sections and white space between
    // children included.
    std::string text;

    // The first descendant (depth first, in document order) with that name; not the node itself.
    const Node* find(std::string_view wanted) const;
    // This node's text when it has that name, then the same for each descendant in order.
    std::string allText(std::string_view wanted) const;
    const std::string* attr(const std::string& key) const;
};

// The tree of a well-formed document with a root element, or nullptr. Namespaces are not
// processed. Each element, attribute and text is paid for from `budget`.
std::shared_ptr<Node> parse(std::string_view bytes, Budget& budget);
std::shared_ptr<Node> parse(std::string_view bytes);

// What a stream reader reports of a document, each handler seeing the reader on its event; an
// event whose handler is left empty is passed over.
struct Handlers {
    std::function<void(const QXmlStreamReader&)> start;
    std::function<void(const QXmlStreamReader&)> characters;  // CDATA sections included
    std::function<void()> end;
};
// Reads the document as a stream, through a device so that only a few kilobytes are decoded at a
// time; namespaces are not processed. False when it is not well-formed.
bool walk(std::string_view bytes, const Handlers& handlers);
// The same for a document that arrives in pieces (a part as it is unpacked), read as each piece
// comes; what a handler throws passes on from add(). The reader holds a whole text, comment or
// tag before it reports it, so a run of bytes without "<" or ">" longer than `longestRun` is
// refused (ConversionError with ErrorCauses::archiveTooLarge): a few kilobytes of zip unpack to
// gigabytes of blanks.
class Feed {
public:
    explicit Feed(Handlers handlers, size_t longestRun = SIZE_MAX);
    ~Feed();
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;
    void add(std::string_view bytes);
    // Whether everything added was one well-formed document.
    bool finish();

private:
    void read();
    std::unique_ptr<QXmlStreamReader> reader_;
    Handlers handlers_;
    size_t longestRun_;
    size_t run_ = 0;
    bool failed_ = false;
    bool ended_ = false;
    std::string tail_;
    std::string head_;  // the document's first four bytes, which tell a wide encoding
    bool zeroForbidden_ = false;
    static constexpr size_t maxTail = 64 * 1024;
};
// The local name of the element the reader stands on: what follows the last ":".
QStringView localName(const QXmlStreamReader& reader);

}
